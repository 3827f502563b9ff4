#include "dumpform.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "InstallerTestSupport.h"
#include "RepositoryTestSupport.h"
#include "kitoresult.h"
#include "logger.h"
#include "nodetextform.h"
#include "repositorykey.h"

using installertest::readUtf16;
using installertest::ScratchDir;

namespace {

RepositoryKey* element(const wchar_t* tag)
{
    RepositoryKey* key = RepositoryKey::create(L"k");
    key->setStringValue(L"TAG", tag);
    return key;
}

TEST(DumpForm, WhereTheClosingBracketStands)
{
    TreeGuard bare(element(L"Item"));
    EXPECT_EQ(L"<Item>\r\n</Item>", writeDumpKey(bare.get()));

    TreeGuard one(element(L"Item"));
    one->setStringValue(L"name", L"x");
    EXPECT_EQ(L"<Item\r\n\tname=x>\r\n</Item>", writeDumpKey(one.get()));

    TreeGuard three(element(L"Item"));
    three->setStringValue(L"SubKeyCounter", L"2");
    three->setStringValue(L"name", L"x");
    EXPECT_EQ(L"\t<Item\r\n\t\tname=x\r\n\t>\r\n\t</Item>", writeDumpKey(three.get(), 1));
}

TEST(DumpForm, ChildrenAsTextElementsOrEmptyLines)
{
    TreeGuard root(element(L"doc"));
    RepositoryKey* text = root->addSubKey(RepositoryKey::create(L"t"));
    text->setStringValue(L"VAL", L"abc");
    text->setStringValue(L"TAG", L"ignored");
    root->addSubKey(RepositoryKey::create(L"untagged"));
    RepositoryKey* section = root->addSubKey(element(L"section"));
    section->setStringValue(L"id", L"7");
    RepositoryKey* inner = RepositoryKey::create(L"inner");
    inner->setStringValue(L"tag", L"p");
    section->addSubKey(inner);
    EXPECT_EQ(L"<doc>\r\n"
              L"abc\r\n"
              L"\r\n"
              L"\t<section\r\n\t\tid=7>\r\n"
              L"\t\t<p>\r\n\t\t</p>\r\n"
              L"\t</section>\r\n"
              L"</doc>",
              writeDumpKey(root.get()));
    TreeGuard untagged(RepositoryKey::create(L"plain"));
    EXPECT_EQ(L"", writeDumpKey(untagged.get()));
}

TEST(DumpForm, SavedWithByteOrderMark)
{
    ScratchDir dir;
    TreeGuard root(element(L"doc"));
    EXPECT_EQ(0u, saveDumpToFile(root.get(), L"dump.txt", dir.path()));
    EXPECT_EQ(L"\xFEFF<doc>\r\n</doc>", readUtf16(dir.file(L"dump.txt")));
    EXPECT_EQ(E_KITO_FAILED, saveDumpToFile(root.get(), L"dump.txt", dir.file(L"missing")));
}

TEST(DumpForm, KeySavedToUniqueFile)
{
    ScratchDir dir;
    TreeGuard root(RepositoryKey::create(L"Release"));
    root->setStringValue(L"Guid", L"{1}");
    root->addSubKey(RepositoryKey::create(L"Solutions"));
    std::wstring first;
    std::wstring second;
    ASSERT_EQ(0u, saveKeyToUniqueFile(g_logger, root.get(), first, dir.path() + L"\\"));
    ASSERT_EQ(0u, saveKeyToUniqueFile(g_logger, root.get(), second, dir.path()));
    EXPECT_NE(first, second);
    const std::wstring prefix = dir.path() + L"\\Release.";
    EXPECT_EQ(prefix, first.substr(0, prefix.size()));
    EXPECT_EQ(prefix.size() + 36 + 4, first.size()) << "name, dot, UUID text and .txt";
    EXPECT_EQ(L".txt", first.substr(first.size() - 4));
    EXPECT_EQ(writeKey(root.get()) + L"\r\n", readUtf16(first));
    EXPECT_EQ(E_KITO_INVALIDARG, saveKeyToUniqueFile(g_logger, nullptr, first, dir.path()));
}

TEST(DumpForm, KeyNameThatIsNoFileNameIsRefused)
{
    ScratchDir dir;
    const std::wstring inner = dir.file(L"inner");
    ASSERT_TRUE(CreateDirectoryW(inner.c_str(), nullptr));
    for (const wchar_t* name : {L"..\\Up", L"../Up", L"Down\\Deeper", L"Data:Stream", L"Ask?", L"Line\nBreak"}) {
        TreeGuard root(RepositoryKey::create(name));
        std::wstring path = L"unchanged";
        EXPECT_EQ(E_KITO_INVALIDARG, saveKeyToUniqueFile(g_logger, root.get(), path, inner)) << name;
        EXPECT_EQ(L"unchanged", path) << name;
    }
    size_t entries = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir.path()))
        entries += entry.path() != inner;
    EXPECT_EQ(0u, entries) << "nothing written beside, above or below the folder";
}

} // namespace
