#include <gtest/gtest.h>

#include <windows.h>

#include "kitoresult.h"
#include "registryhelper.h"
#include "registrytree.h"
#include "repositorykey.h"

namespace {

constexpr REGSAM AllAccess = KEY_ALL_ACCESS;

// A key of the test's own below HKEY_CURRENT_USER, deleted with everything below it at the end.
class RegistryHelperTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        base = L"Software\\KitoRepositoryTest\\" + std::to_wstring(GetCurrentProcessId());
        ASSERT_EQ(0u, helper.Reg_WriteStringItem(HKEY_CURRENT_USER, REG_SZ, base, L"Marker", L"1", AllAccess));
    }
    void TearDown() override { RegDeleteTreeW(HKEY_CURRENT_USER, base.c_str()); }

    std::wstring path(const std::wstring& below) const { return base + L"\\" + below; }
    bool exists(const std::wstring& below) const
    {
        HKEY key;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, path(below).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
            return false;
        RegCloseKey(key);
        return true;
    }
    void writeRaw(const std::wstring& name, DWORD type, const void* data, DWORD bytes)
    {
        ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_CURRENT_USER, base.c_str(), name.c_str(), type, data, bytes));
    }

    RegistryHelper helper;
    std::wstring base;
};

} // namespace

TEST_F(RegistryHelperTest, WriteStoresTextWithoutTerminator)
{
    // Wine pads string types with a terminator of its own; a binary type shows the count as passed.
    ASSERT_EQ(0u, helper.Reg_WriteStringItem(HKEY_CURRENT_USER, REG_BINARY, path(L"A\\B"), L"Name", L"abc", AllAccess));
    ASSERT_EQ(0u,
              helper.Reg_WriteStringItem(HKEY_CURRENT_USER, REG_EXPAND_SZ, path(L"A\\B"), L"Empty", L"", AllAccess));
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, path(L"A\\B").c_str(), 0, KEY_READ, &key));
    DWORD type = 0, bytes = 0;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(key, L"Name", nullptr, &type, nullptr, &bytes));
    EXPECT_EQ(6u, bytes);
    EXPECT_EQ(static_cast<DWORD>(REG_BINARY), type);
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(key, L"Empty", nullptr, &type, nullptr, &bytes));
    EXPECT_EQ(0u, bytes);
    EXPECT_EQ(static_cast<DWORD>(REG_EXPAND_SZ), type);
    RegCloseKey(key);
    // Key names are limited to 255 characters.
    EXPECT_EQ(E_KITO_REGCREATE,
              helper.Reg_WriteStringItem(HKEY_CURRENT_USER, REG_SZ, path(std::wstring(300, L'n')), L"V", L"x",
                                         AllAccess));
}

TEST_F(RegistryHelperTest, ReadStringItemTerminatesAndRespectsCapacity)
{
    helper.Reg_WriteStringItem(HKEY_CURRENT_USER, REG_SZ, base, L"Path", L"C:\\Kito", AllAccess);
    wchar_t buffer[16];
    std::fill(std::begin(buffer), std::end(buffer), L'#');
    ASSERT_EQ(0u, helper.Reg_ReadStringItem(HKEY_CURRENT_USER, base, L"Path", buffer, 16, AllAccess));
    EXPECT_STREQ(L"C:\\Kito", buffer);

    // Seven characters and the terminator fill a buffer of eight exactly.
    wchar_t exact[9];
    std::fill(std::begin(exact), std::end(exact), L'#');
    ASSERT_EQ(0u, helper.Reg_ReadStringItem(HKEY_CURRENT_USER, base, L"Path", exact, 8, KEY_READ));
    EXPECT_STREQ(L"C:\\Kito", exact);
    EXPECT_EQ(L'#', exact[8]);

    // One character short: refused, terminated, and nothing written past the capacity.
    wchar_t small[9];
    std::fill(std::begin(small), std::end(small), L'#');
    EXPECT_EQ(E_KITO_REGQUERY, helper.Reg_ReadStringItem(HKEY_CURRENT_USER, base, L"Path", small, 7, AllAccess));
    EXPECT_EQ(L'\0', small[0]);
    EXPECT_EQ(L'#', small[7]);
    EXPECT_EQ(L'#', small[8]);
}

TEST_F(RegistryHelperTest, ReadStringItemTerminatesDataStoredWithoutTerminator)
{
    writeRaw(L"Raw", REG_SZ, L"xyz", 6);
    wchar_t buffer[4] = {L'#', L'#', L'#', L'#'};
    ASSERT_EQ(0u, helper.Reg_ReadStringItem(HKEY_CURRENT_USER, base, L"Raw", buffer, 4, AllAccess));
    EXPECT_STREQ(L"xyz", buffer);
    // Three characters without terminator do not fit three places.
    EXPECT_EQ(E_KITO_REGQUERY, helper.Reg_ReadStringItem(HKEY_CURRENT_USER, base, L"Raw", buffer, 3, AllAccess));
}

TEST_F(RegistryHelperTest, ReadStringItemRefusesOtherTypesAndMissingItems)
{
    DWORD number = 3;
    writeRaw(L"Number", REG_DWORD, &number, sizeof number);
    wchar_t buffer[64] = {};
    EXPECT_EQ(E_KITO_REGQUERY, helper.Reg_ReadStringItem(HKEY_CURRENT_USER, base, L"Number", buffer, 64, AllAccess));
    EXPECT_EQ(E_KITO_REGQUERY, helper.Reg_ReadStringItem(HKEY_CURRENT_USER, base, L"Missing", buffer, 64, AllAccess));
    EXPECT_EQ(E_KITO_REGOPEN,
              helper.Reg_ReadStringItem(HKEY_CURRENT_USER, path(L"Missing"), L"Marker", buffer, 64, AllAccess));
    EXPECT_EQ(E_KITO_REGQUERY, helper.Reg_ReadStringItem(HKEY_CURRENT_USER, base, L"Marker", nullptr, 64, AllAccess));
}

TEST_F(RegistryHelperTest, KeyAndValueExistence)
{
    HKEY root;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, base.c_str(), 0, KEY_ALL_ACCESS, &root));
    helper.Reg_WriteStringItem(root, REG_SZ, L"Child", L"V", L"x", AllAccess);
    EXPECT_EQ(0u, helper.Reg_KeyExists(root, L"Child", KEY_READ));
    EXPECT_EQ(E_KITO_REGOPEN, helper.Reg_KeyExists(root, L"Nothing", KEY_READ));
    // The open's own result tells an absent key from one that cannot be opened.
    LONG openResult = -1;
    EXPECT_EQ(E_KITO_REGOPEN, helper.Reg_KeyExists(root, L"Nothing", KEY_READ, &openResult));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, openResult);
    EXPECT_EQ(0u, helper.Reg_KeyExists(root, L"Child", KEY_READ, &openResult));
    EXPECT_EQ(ERROR_SUCCESS, openResult);
    // The caller's handle stays open and usable.
    DWORD values = 0;
    EXPECT_EQ(ERROR_SUCCESS,
              RegQueryInfoKeyW(root, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr,
                               nullptr, nullptr));
    EXPECT_EQ(1u, values);
    RegCloseKey(root);

    EXPECT_EQ(0u, helper.valueExists(HKEY_CURRENT_USER, base, L"Marker", KEY_READ));
    EXPECT_EQ(E_KITO_REGQUERY, helper.valueExists(HKEY_CURRENT_USER, base, L"Missing", KEY_READ));
    EXPECT_EQ(E_KITO_REGOPEN, helper.valueExists(HKEY_CURRENT_USER, path(L"Nothing"), L"Marker", KEY_READ));
    std::wstring big(1100, L'b');
    helper.Reg_WriteStringItem(HKEY_CURRENT_USER, REG_SZ, base, L"Big", big, AllAccess);
    EXPECT_EQ(E_KITO_REGQUERY, helper.valueExists(HKEY_CURRENT_USER, base, L"Big", KEY_READ));
}

TEST_F(RegistryHelperTest, RemoveKeyEmptyOnlyUnlessTreeFlag)
{
    helper.Reg_WriteStringItem(HKEY_CURRENT_USER, REG_SZ, path(L"Doomed\\Inner"), L"V", L"x", AllAccess);
    EXPECT_EQ(E_KITO_REGDELETE, helper.Reg_RemoveRegKey(HKEY_CURRENT_USER, base, L"Doomed", AllAccess, 0));
    EXPECT_TRUE(exists(L"Doomed\\Inner"));
    EXPECT_EQ(0u, helper.Reg_RemoveRegKey(HKEY_CURRENT_USER, base, L"Doomed", AllAccess, RegistryHelper::RemoveTree));
    EXPECT_FALSE(exists(L"Doomed"));
    EXPECT_EQ(E_KITO_REGOPEN, helper.Reg_RemoveRegKey(HKEY_CURRENT_USER, path(L"Gone"), L"X", AllAccess, 2));

    helper.Reg_WriteStringItem(HKEY_CURRENT_USER, REG_SZ, path(L"Leaf"), L"V", L"x", AllAccess);
    EXPECT_EQ(0u, helper.Reg_RemoveRegKey(HKEY_CURRENT_USER, base, L"Leaf", AllAccess, 0));
    EXPECT_FALSE(exists(L"Leaf"));
}

TEST_F(RegistryHelperTest, RemoveValue)
{
    EXPECT_EQ(0u, helper.Reg_RemoveValue(HKEY_CURRENT_USER, base, L"Marker"));
    EXPECT_EQ(E_KITO_REGQUERY, helper.valueExists(HKEY_CURRENT_USER, base, L"Marker", KEY_READ));
    EXPECT_EQ(E_KITO_REGDELETE, helper.Reg_RemoveValue(HKEY_CURRENT_USER, base, L"Marker"));
}

TEST_F(RegistryHelperTest, WritesKeyTreeWithTextValues)
{
    RepositoryKey* tree = RepositoryKey::create(L"Release");
    tree->setIntValue(L"InstallStatus", -1);
    tree->setStringValue(L"Version", L"4.3");
    tree->createSubKey(L"Solutions\\S1")->setStringValue(L"Guid", L"{1}");
    tree->createSubKey(L"Solutions\\S2");
    ASSERT_EQ(0u, createKeyFromTree(helper, HKEY_CURRENT_USER, base.c_str(), tree, AllAccess));
    RepositoryKey::releaseTree(tree);

    wchar_t buffer[64];
    ASSERT_EQ(0u,
              helper.Reg_ReadStringItem(HKEY_CURRENT_USER, path(L"Release"), L"InstallStatus", buffer, 64, KEY_READ));
    EXPECT_STREQ(L"-1", buffer);
    ASSERT_EQ(0u,
              helper.Reg_ReadStringItem(HKEY_CURRENT_USER, path(L"Release\\Solutions\\S1"), L"Guid", buffer, 64,
                                        KEY_READ));
    EXPECT_STREQ(L"{1}", buffer);
    EXPECT_TRUE(exists(L"Release\\Solutions\\S2"));

    EXPECT_EQ(E_KITO_INVALIDARG, createKeyFromTree(helper, HKEY_CURRENT_USER, base.c_str(), nullptr, AllAccess));
}

TEST_F(RegistryHelperTest, WritesTreeDirectlyBelowAnOpenKey)
{
    RepositoryKey* tree = RepositoryKey::create(L"Direct");
    tree->createSubKey(L"Child")->setStringValue(L"V", L"1");
    HKEY root;
    ASSERT_EQ(0u, helper.Reg_OpenKey(&root, HKEY_CURRENT_USER, base, AllAccess));
    EXPECT_EQ(0u, createKeyFromTree(helper, root, nullptr, tree, AllAccess));
    RegCloseKey(root);
    RepositoryKey::releaseTree(tree);
    EXPECT_TRUE(exists(L"Direct\\Child"));
}

TEST_F(RegistryHelperTest, MachineNameRedirectsOnlyMachineAndUsersRoots)
{
    helper.setMachine(L"node1", L"example.org");
    EXPECT_EQ(L"\\\\node1.example.org", helper.getMachine());
    helper.setMachine(nullptr, L"example.org");
    EXPECT_EQ(L".example.org", helper.getMachine());
    helper.setMachine(nullptr, nullptr);
    EXPECT_EQ(L"", helper.getMachine());

    HKEY out = nullptr;
    EXPECT_EQ(0u, helper.getRootKey(HKEY_LOCAL_MACHINE, &out));
    EXPECT_EQ(HKEY_LOCAL_MACHINE, out);

    // A machine that cannot be reached: the machine-wide roots fail, the current user's stays local.
    helper.setMachine(L"kito-unreachable-host", nullptr);
    EXPECT_EQ(E_KITO_REGCONNECT, helper.getRootKey(HKEY_LOCAL_MACHINE, &out));
    EXPECT_EQ(E_KITO_REGCONNECT, helper.Reg_KeyExists(HKEY_USERS, L".DEFAULT", KEY_READ));
    EXPECT_EQ(0u, helper.getRootKey(HKEY_CURRENT_USER, &out));
    EXPECT_EQ(HKEY_CURRENT_USER, out);
    EXPECT_EQ(0u, helper.Reg_KeyExists(HKEY_CURRENT_USER, base, KEY_READ));
}

TEST_F(RegistryHelperTest, NamedOwnMachineIsReachedThroughConnect)
{
    wchar_t computer[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    ASSERT_TRUE(GetComputerNameW(computer, &size));
    helper.setMachine(computer, nullptr);
    HKEY remote = nullptr;
    ASSERT_EQ(0u, helper.getRootKey(HKEY_LOCAL_MACHINE, &remote));
    // Wine hands back the predefined root itself for its own name; a real connection is closed.
    if (remote != HKEY_LOCAL_MACHINE)
        RegCloseKey(remote);
    EXPECT_EQ(0u, helper.Reg_KeyExists(HKEY_LOCAL_MACHINE, L"SOFTWARE", KEY_READ));
}
