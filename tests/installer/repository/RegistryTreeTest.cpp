#include "registrytree.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "RepositoryTestSupport.h"
#include "repositorykey.h"

namespace {

std::wstring textOf(const RepositoryKey* key, const wchar_t* name)
{
    std::wstring text = L"<missing>";
    key->getStringValue(name, text);
    return text;
}

std::vector<std::wstring> childNames(const RepositoryKey* key)
{
    std::vector<std::wstring> names;
    for (const RepositoryKey* child : key->subKeys()) {
        names.push_back(child->getName());
    }
    return names;
}

// A registry key of the test's own below HKEY_CURRENT_USER, deleted with everything below it.
class RegistryTree : public ::testing::Test {
protected:
    void SetUp() override
    {
        path = L"Software\\KitoTest\\tree-" + std::to_wstring(GetCurrentProcessId());
        ASSERT_EQ(ERROR_SUCCESS,
                  RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &root,
                                  nullptr));
    }
    void TearDown() override
    {
        RegCloseKey(root);
        RegDeleteTreeW(HKEY_CURRENT_USER, path.c_str());
    }

    HKEY createKey(const wchar_t* subKey)
    {
        HKEY key = nullptr;
        EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyExW(root, subKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr));
        return key;
    }
    void setValue(const wchar_t* subKey, const wchar_t* name, DWORD type, const void* data, DWORD size)
    {
        HKEY key = createKey(subKey);
        EXPECT_EQ(ERROR_SUCCESS, RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size));
        RegCloseKey(key);
    }
    void setText(const wchar_t* subKey, const wchar_t* name, const std::wstring& text, DWORD type = REG_SZ)
    {
        setValue(subKey, name, type, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    }
    std::vector<std::wstring> registryOrder()
    {
        std::vector<std::wstring> names;
        wchar_t name[260];
        DWORD length = 260;
        for (DWORD i = 0; RegEnumKeyExW(root, i, name, &length, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
             ++i, length = 260) {
            names.push_back(name);
        }
        return names;
    }
    // A sub-key that the registry lists but nobody can open: a link to nowhere.
    void createBrokenLink(const wchar_t* name)
    {
        HKEY link = nullptr;
        ASSERT_EQ(ERROR_SUCCESS,
                  RegCreateKeyExW(root, name, 0, nullptr, REG_OPTION_CREATE_LINK | REG_OPTION_VOLATILE,
                                  KEY_ALL_ACCESS | KEY_CREATE_LINK, nullptr, &link, nullptr));
        const std::wstring target = L"\\Registry\\User\\KitoTestNowhere\\Missing";
        RegSetValueExW(link, L"SymbolicLinkValue", 0, REG_LINK, reinterpret_cast<const BYTE*>(target.c_str()),
                       static_cast<DWORD>(target.size() * sizeof(wchar_t)));
        RegCloseKey(link);
    }
    void deleteLink(const wchar_t* name)
    {
        typedef LONG(WINAPI * DeleteKeyFn)(HANDLE);
        DeleteKeyFn deleteKey = reinterpret_cast<DeleteKeyFn>(
            reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll"), "NtDeleteKey")));
        HKEY link = nullptr;
        if (deleteKey && RegOpenKeyExW(root, name, REG_OPTION_OPEN_LINK, KEY_ALL_ACCESS, &link) == ERROR_SUCCESS) {
            deleteKey(link);
            RegCloseKey(link);
        }
    }

    std::wstring path;
    HKEY root = nullptr;
};

TEST_F(RegistryTree, ValuesByTypeAndSubKeysInRegistryOrder)
{
    DWORD three = 3;
    DWORD allBits = 0xFFFFFFFF;
    setValue(L"", L"InstallStatus", REG_DWORD, &three, sizeof(three));
    setValue(L"", L"AllBits", REG_DWORD, &allBits, sizeof(allBits));
    setText(L"", L"Name", L"a rather long solution name");
    // Two characters without a terminator, enumerated after a longer text: only its own bytes count.
    setValue(L"", L"Short", REG_SZ, L"ab", 2 * sizeof(wchar_t));
    setText(L"", L"Fits", std::wstring(1023, L'f'));
    setText(L"", L"TooLong", std::wstring(1024, L't'));
    setText(L"", L"Expand", L"%TEMP%", REG_EXPAND_SZ);
    setValue(L"", L"Multi", REG_MULTI_SZ, L"a\0b\0", 5 * sizeof(wchar_t));
    setValue(L"", L"Binary", REG_BINARY, "\x01\x02", 2);
    RegCloseKey(createKey(L"Zeta"));
    RegCloseKey(createKey(L"alpha"));
    setText(L"Mid\\Inner", L"Location", L"C:\\Kito");

    bool complete = false;
    TreeGuard tree(loadKeyFromRegistry(root, L"{guid}", KEY_READ, &complete));
    ASSERT_NE(nullptr, tree.get());
    EXPECT_TRUE(complete);
    EXPECT_EQ(L"{guid}", tree->getName());
    EXPECT_EQ(L"3", textOf(tree.get(), L"InstallStatus"));
    EXPECT_EQ(L"-1", textOf(tree.get(), L"AllBits"));
    EXPECT_EQ(L"a rather long solution name", textOf(tree.get(), L"Name"));
    EXPECT_EQ(L"ab", textOf(tree.get(), L"Short"));
    EXPECT_EQ(std::wstring(1023, L'f'), textOf(tree.get(), L"Fits"));
    for (const wchar_t* skipped : {L"TooLong", L"Expand", L"Multi", L"Binary"}) {
        EXPECT_FALSE(tree->hasValue(skipped)) << testing::PrintToString(std::wstring(skipped));
    }
    EXPECT_EQ(registryOrder(), childNames(tree.get()));
    EXPECT_EQ(L"C:\\Kito", textOf(tree->getSubKey(L"mid\\inner"), L"Location"));
}

TEST_F(RegistryTree, EmptyKeyGivesOneNamedKey)
{
    bool complete = false;
    TreeGuard tree(loadKeyFromRegistry(root, L"Solutions", KEY_READ, &complete));
    ASSERT_NE(nullptr, tree.get());
    EXPECT_TRUE(complete);
    EXPECT_EQ(L"Solutions", tree->getName());
    EXPECT_TRUE(tree->values().empty());
    EXPECT_TRUE(tree->subKeys().empty());
}

TEST_F(RegistryTree, SubKeyThatCannotBeOpenedStaysEmptyAndMarksTreeIncomplete)
{
    RegCloseKey(createKey(L"Solutions\\first"));
    createBrokenLink(L"Solutions\\broken");
    setText(L"Solutions\\zlast", L"SolutionID", L"S3");

    bool complete = true;
    TreeGuard tree(loadKeyFromRegistry(root, L"Release", KEY_READ, &complete));
    deleteLink(L"Solutions\\broken");
    ASSERT_NE(nullptr, tree.get());
    EXPECT_FALSE(complete);
    RepositoryKey* loaded = tree->getSubKey(L"Solutions");
    ASSERT_NE(nullptr, loaded);
    EXPECT_EQ((std::vector<std::wstring>{L"broken", L"first", L"zlast"}), childNames(loaded));
    RepositoryKey* broken = loaded->getSubKey(L"broken");
    EXPECT_TRUE(broken->values().empty());
    EXPECT_TRUE(broken->subKeys().empty());
    EXPECT_EQ(L"S3", textOf(loaded->getSubKey(L"zlast"), L"SolutionID"));
}

TEST_F(RegistryTree, EverySubKeyHandleIsClosed)
{
    for (int i = 0; i < 40; ++i) {
        RegCloseKey(createKey((L"Solutions\\S" + std::to_wstring(i) + L"\\Options").c_str()));
    }
    DWORD before = 0;
    ASSERT_TRUE(GetProcessHandleCount(GetCurrentProcess(), &before));
    RepositoryKey::releaseTree(loadKeyFromRegistry(root, L"Release", KEY_READ));
    DWORD after = 0;
    ASSERT_TRUE(GetProcessHandleCount(GetCurrentProcess(), &after));
    EXPECT_EQ(before, after);
    EXPECT_EQ(ERROR_SUCCESS,
              RegQueryInfoKeyW(root, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                               nullptr, nullptr))
        << "the caller's handle stays open";
}

} // namespace
