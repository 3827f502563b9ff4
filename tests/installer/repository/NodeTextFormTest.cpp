#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>

#include "logger.h"
#include "nodetextform.h"
#include "repositorykey.h"

#include "RepositoryTestSupport.h"

namespace {

std::wstring textValue(const RepositoryKey* key, const std::wstring& name)
{
    std::wstring text = L"<missing>";
    key->getStringValue(name, text);
    return text;
}

size_t depthOf(const RepositoryKey* key)
{
    size_t depth = 0;
    for (; !key->subKeys().empty(); key = key->subKeys().front())
        ++depth;
    return depth;
}

std::string fileBytes(const std::wstring& path)
{
    std::ifstream in(path.c_str(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFileBytes(const std::wstring& path, const std::string& bytes)
{
    std::ofstream out(path.c_str(), std::ios::binary);
    out << bytes;
}

// Whether two trees hold the same names, values and child order.
void expectSameTree(const RepositoryKey* expected, const RepositoryKey* actual)
{
    ASSERT_TRUE(actual);
    EXPECT_EQ(expected->name(), actual->name());
    EXPECT_EQ(expected->values(), actual->values()) << expected->getPath();
    ASSERT_EQ(expected->subKeys().size(), actual->subKeys().size()) << expected->getPath();
    for (size_t i = 0; i < expected->subKeys().size(); ++i)
        expectSameTree(expected->subKeys()[i], actual->subKeys()[i]);
}

// A root holding pieces, each made by piece(i), until the text has at least size characters.
template <class Piece>
std::wstring rootOfPieces(size_t size, Piece piece)
{
    std::wstring text = L"<_R_>\r\n";
    for (size_t i = 0; text.size() < size; ++i)
        text += piece(i);
    return text;
}

// Seconds that one load of text from a file takes.
double loadSeconds(const ScratchFolder& folder, const std::wstring& text)
{
    writeFileBytes(folder.path + L"\\timed.xml",
                   std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t)));
    auto start = std::chrono::steady_clock::now();
    TreeGuard loaded(loadKeyFromFile(L"timed.xml", folder.path));
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_TRUE(loaded.get());
    return seconds;
}

} // namespace

TEST(NodeTextForm, WritesTheExactLayout)
{
    TreeGuard kito(RepositoryKey::create(L"Kito"));
    kito->setStringValue(L"Version", L"4.3");
    kito->createSubKey(L"Solutions");
    EXPECT_EQ(L"<_Kito_\r\n\t_Version_=\"4.3\"\r\n>\r\n\t<_Solutions_>\r\n\t</_Solutions_>\r\n</_Kito_>",
              writeKey(kito.get()));

    // Values in map order, each line indented one deeper than its element.
    RepositoryKey* s1 = kito->createSubKey(L"Solutions\\S1");
    s1->setStringValue(L"b", L"2");
    s1->setStringValue(L"a", L"1");
    EXPECT_EQ(L"\t\t<_S1_\r\n\t\t\t_a_=\"1\"\r\n\t\t\t_b_=\"2\"\r\n\t\t>\r\n\t\t</_S1_>", writeKey(s1, 2));
    EXPECT_EQ(L"<_S1_\r\n\t_a_=\"1\"\r\n\t_b_=\"2\"\r\n>\r\n</_S1_>", writeKey(s1, -3));
    EXPECT_EQ(L"", writeKey(nullptr));
}

TEST(NodeTextForm, RoundTripKeepsNamesValuesAndOrder)
{
    TreeGuard root(RepositoryKey::create(L"Kito"));
    root->setStringValue(L"Version", L"4.3");
    root->setStringValue(L"Quote", L"say \"hi\" now");
    root->setStringValue(L"Empty", L"");
    root->setStringValue(L"Under_score", L"a_b");
    RepositoryKey* zeta = root->createSubKey(L"Zeta");
    zeta->setIntValue(L"Order", -5);
    root->createSubKey(L"Alpha\\Inner\\Leaf")->setStringValue(L"Path", L"C:\\Program Files\\Kito");
    root->createSubKey(L"Middle_Name");
    root->createSubKey(L"");

    TreeGuard parsed(parseText(writeKey(root.get())));
    expectSameTree(root.get(), parsed.get());
    EXPECT_EQ(writeKey(root.get()), writeKey(parsed.get()));
}

TEST(NodeTextForm, ValueNamesDifferingInCaseSurviveDumpAndReload)
{
    TreeGuard key(RepositoryKey::create(L"K"));
    key->setIntValue(L"Selected", 1);
    key->setIntValue(L"selected", 0);
    std::wstring text = writeKey(key.get());
    EXPECT_NE(std::wstring::npos, text.find(L"_Selected_=\"1\""));
    EXPECT_NE(std::wstring::npos, text.find(L"_selected_=\"0\""));
    TreeGuard parsed(parseText(text));
    expectSameTree(key.get(), parsed.get());
}

TEST(NodeTextForm, ParsesCompactAndLooseText)
{
    TreeGuard compact(parseText(L"<_A_><_B_></_B_></_A_>"));
    ASSERT_TRUE(compact.get());
    EXPECT_EQ(L"A", compact->getName());
    ASSERT_EQ(1u, compact->subKeys().size());
    EXPECT_EQ(L"B", compact->subKeys()[0]->getName());

    // Closing names play no part; text between elements and a leading byte-order mark are passed over.
    TreeGuard loose(parseText(L"\uFEFFjunk <_A_ _v_ = \"1\" ><_B_></_X_> text <_C_></_Y_></_Z_> <_D_></_D_>"));
    ASSERT_TRUE(loose.get());
    EXPECT_EQ(L"1", textValue(loose.get(), L"v"));
    ASSERT_EQ(2u, loose->subKeys().size());
    EXPECT_EQ(L"B", loose->subKeys()[0]->getName());
    EXPECT_EQ(L"C", loose->subKeys()[1]->getName());

    size_t position = 0;
    std::wstring two = L"<_A_></_A_><_B_></_B_>";
    TreeGuard first(parseKey(two, position));
    TreeGuard second(parseKey(two, position));
    ASSERT_TRUE(second.get());
    EXPECT_EQ(L"B", second->getName());
    EXPECT_EQ(two.size(), position);
    EXPECT_EQ(nullptr, parseKey(two, position));
}

TEST(NodeTextForm, NamesakeSiblingsAreMerged)
{
    TreeGuard root(parseText(
        L"<_R_>\r\n"
        L"\t<_Files_\r\n\t\t_a_=\"1\"\r\n\t\t_b_=\"1\"\r\n\t>\r\n\t\t<_Dir_>\r\n\t\t</_Dir_>\r\n\t</_Files_>\r\n"
        L"\t<_FILES_\r\n\t\t_b_=\"2\"\r\n\t>\r\n\t\t<_DIR_ _c_=\"3\">\r\n\t\t</_DIR_>\r\n"
        L"\t\t<_Other_></_Other_>\r\n\t</_FILES_>\r\n</_R_>"));
    ASSERT_TRUE(root.get());
    ASSERT_EQ(1u, root->subKeys().size());
    RepositoryKey* files = root->subKeys()[0];
    EXPECT_EQ(L"Files", files->getName());
    EXPECT_EQ(L"1", textValue(files, L"a"));
    EXPECT_EQ(L"2", textValue(files, L"b"));
    ASSERT_EQ(2u, files->subKeys().size());
    EXPECT_EQ(L"Dir", files->subKeys()[0]->getName());
    EXPECT_EQ(L"3", textValue(files->subKeys()[0], L"c"));
}

TEST(NodeTextForm, MalformedAndTruncatedTextYieldsWhatWasRead)
{
    EXPECT_EQ(nullptr, parseText(L""));
    EXPECT_EQ(nullptr, parseText(L"no element"));
    EXPECT_EQ(nullptr, parseText(L"<"));
    EXPECT_EQ(nullptr, parseText(L"<_"));
    EXPECT_EQ(nullptr, parseText(L"<_Name"));

    TreeGuard bare(parseText(L"<_Name_"));
    ASSERT_TRUE(bare.get());
    EXPECT_EQ(L"Name", bare->getName());
    EXPECT_TRUE(bare->values().empty());

    TreeGuard inValues(parseText(L"<_K_ _a_=\"1\" _b_=\"2\"   "));
    ASSERT_TRUE(inValues.get());
    EXPECT_EQ(L"1", textValue(inValues.get(), L"a"));
    EXPECT_EQ(L"2", textValue(inValues.get(), L"b"));
    EXPECT_TRUE(inValues->subKeys().empty());

    TreeGuard halfValue(parseText(L"<_K_ _a_=\"1"));
    ASSERT_TRUE(halfValue.get());
    EXPECT_EQ(L"", textValue(halfValue.get(), L"a"));

    TreeGuard openClose(parseText(L"<_A_><_B_></_B_></_A"));
    ASSERT_TRUE(openClose.get());
    EXPECT_EQ(1u, openClose->subKeys().size());

    // Every cut of a well-formed text parses to a prefix of it, never a crash or a hang.
    TreeGuard full(RepositoryKey::create(L"Kito"));
    full->setStringValue(L"Version", L"4.3");
    full->createSubKey(L"Solutions\\S1")->setStringValue(L"Guid", L"{A}");
    full->createSubKey(L"Solutions\\S2");
    std::wstring text = writeKey(full.get());
    for (size_t cut = 0; cut <= text.size(); ++cut) {
        RepositoryKey* part = parseText(text.substr(0, cut));
        if (cut >= 7) {
            ASSERT_TRUE(part) << cut;
            EXPECT_EQ(L"Kito", part->getName());
        }
        RepositoryKey::releaseTree(part);
    }
}

TEST(NodeTextForm, NestingBeyondTheCapEndsTheParse)
{
    std::wstring text;
    const size_t levels = 20000;
    for (size_t i = 0; i < levels; ++i)
        text += L"<_L_>";
    for (size_t i = 0; i < levels; ++i)
        text += L"</_L_>";
    TreeGuard parsed(parseText(text));
    ASSERT_TRUE(parsed.get());
    EXPECT_EQ(MaxNodeTextDepth - 1, depthOf(parsed.get()));

    std::wstring fits;
    for (size_t i = 0; i < MaxNodeTextDepth; ++i)
        fits += L"<_L_>";
    TreeGuard allRead(parseText(fits));
    EXPECT_EQ(MaxNodeTextDepth - 1, depthOf(allRead.get()));
}

TEST(NodeTextForm, FilesHoldTheTextAsUtf16WithoutByteOrderMark)
{
    ScratchFolder folder;
    TreeGuard key(RepositoryKey::create(L"K"));
    key->setStringValue(L"Name", L"\u00C4rger");
    ASSERT_EQ(0u, saveKeyToFile(key.get(), L"tree.xml", folder.path));
    std::wstring text = writeKey(key.get());
    std::string expected(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
    EXPECT_EQ(expected, fileBytes(folder.path + L"\\tree.xml"));

    TreeGuard loaded(loadKeyFromFile(L"tree.xml", folder.path + L"\\"));
    expectSameTree(key.get(), loaded.get());

    // A shorter save truncates the old content.
    TreeGuard small(RepositoryKey::create(L"S"));
    ASSERT_EQ(0u, saveKeyToFile(small.get(), L"tree.xml", folder.path));
    TreeGuard reloaded(loadKeyFromFile(L"tree.xml", folder.path));
    ASSERT_TRUE(reloaded.get());
    EXPECT_EQ(L"S", reloaded->getName());
    EXPECT_TRUE(reloaded->values().empty());

    // A file written elsewhere with a byte-order mark loads as well.
    writeFileBytes(folder.path + L"\\bom.xml", std::string("\xFF\xFE<\0_\0B\0_\0>\0", 12));
    TreeGuard withMark(loadKeyFromFile(L"bom.xml", folder.path));
    ASSERT_TRUE(withMark.get());
    EXPECT_EQ(L"B", withMark->getName());
}

TEST(NodeTextForm, FileFailures)
{
    ScratchFolder folder;
    TreeGuard key(RepositoryKey::create(L"K"));
    EXPECT_EQ(nullptr, loadKeyFromFile(L"missing.xml", folder.path));
    EXPECT_EQ(E_KITO_FAILED, saveKeyToFile(key.get(), L"x.xml", folder.path + L"\\no\\such\\dir"));
    EXPECT_EQ(E_KITO_INVALIDARG, saveKeyToFile(nullptr, L"x.xml", folder.path));
}

TEST(NodeTextForm, EmptyDirectoryMeansTheProgramsFolder)
{
    TreeGuard key(RepositoryKey::create(L"InProgramFolder"));
    std::wstring name = L"kito-nodetext-" + std::to_wstring(GetCurrentProcessId()) + L".xml";
    ASSERT_EQ(0u, saveKeyToFile(key.get(), name, L""));
    TreeGuard loaded(loadKeyFromFile(name, L""));
    ASSERT_TRUE(loaded.get());
    EXPECT_EQ(L"InProgramFolder", loaded->getName());
    // Tests run in the program's folder.
    EXPECT_TRUE(DeleteFileW(name.c_str()));
}

TEST(NodeTextForm, FileFailuresAreTracedInTheLog)
{
    ScratchFolder folder;
    ASSERT_EQ(0u, g_logger.init(L"trace.log", 13, folder.path.c_str(), LOG_DBG_10));
    EXPECT_EQ(nullptr, loadKeyFromFile(L"missing.xml", folder.path));
    std::string bytes = fileBytes(folder.path + L"\\trace.log");
    std::wstring log(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
    size_t entering = log.find(L">> Entering loadKeyFromFile");
    size_t failure = log.find(L"cannot open " + folder.path + L"\\missing.xml");
    size_t exiting = log.find(L"<< Exiting loadKeyFromFile");
    ASSERT_NE(std::wstring::npos, entering) << log;
    ASSERT_NE(std::wstring::npos, failure) << log;
    ASSERT_NE(std::wstring::npos, exiting) << log;
    EXPECT_LT(entering, failure);
    EXPECT_LT(failure, exiting);
    g_logger.init(L"", 13, L"", 5);
}

TEST(NodeTextForm, DamagedTextOfMillionsOfCharactersLoadsWithinSeconds)
{
    // An attribute name that never ends, a value that never ends, a start tag without values written
    // with a blank: each search for their end runs to the end of the text and fails. Searched anew from
    // each element, three million characters of each take two and a half to five minutes to load (quadratic
    // time); searched once, under a second, seconds under emulation. The bound lies far from both.
    const std::function<std::wstring(size_t)> damaged[] = {
        [](size_t i) { return L"<_E" + std::to_wstring(i) + L"_ _a" + std::to_wstring(i) + L" "; },
        [](size_t i) { return L"<_E" + std::to_wstring(i) + L"_ _a_=\"v "; },
        [](size_t i) { return L"<_E" + std::to_wstring(i) + L"_ _>\r\n</_E" + std::to_wstring(i) + L"_>\r\n"; },
    };
    ScratchFolder folder;
    for (size_t shape = 0; shape < std::size(damaged); ++shape)
        EXPECT_LT(loadSeconds(folder, rootOfPieces(3000000, damaged[shape])), 60.0) << "shape " << shape;
}
