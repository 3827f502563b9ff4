// The service object on Windows 2000, where the virtual-name environment starts from the default block
// and the configured account's own variables. The outer case runs this program again with the version
// that the Wine prefix reports for it set to Windows 2000 (a program of its own, so that no other test
// program sees that version).

#include <gtest/gtest.h>

#include <windows.h>

#include <sddl.h>

#include <set>

#include "LibService.h"
#include "ServiceTestSupport.h"

namespace {

const wchar_t* const AppDefaults = L"Software\\Wine\\AppDefaults\\qlib_service_legacy_tests.exe";

bool IsWindows2000()
{
    OSVERSIONINFOW version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    GetVersionExW(&version);
    return version.dwMajorVersion == 5 && version.dwMinorVersion == 0;
}

// Elsewhere the inner cases are skipped, unless the outer case started them and the version did not take.
#define ONLY_UNDER_WINDOWS2000()                                                                                       \
    if (!IsWindows2000()) {                                                                                            \
        ASSERT_EQ(0u, GetEnvironmentVariableW(L"QLIB_INNER_WINDOWS2000", nullptr, 0)) << "not Windows 2000";           \
        GTEST_SKIP() << "runs only under Windows 2000";                                                                \
    }

std::set<std::wstring> StoredEnvironment(const wchar_t* service)
{
    std::wstring key = std::wstring(L"System\\CurrentControlSet\\Services\\") + service;
    std::wstring data(16384, L'\0');
    DWORD bytes = static_cast<DWORD>((data.size() - 2) * sizeof(wchar_t));
    std::set<std::wstring> strings;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), L"Environment", RRF_RT_REG_MULTI_SZ, nullptr, &data[0], &bytes)
        == ERROR_SUCCESS)
        for (const wchar_t* entry = data.c_str(); *entry; entry += wcslen(entry) + 1)
            strings.insert(entry);
    return strings;
}

TEST(QLibServiceWindows2000, RunsTheLegacyCasesUnderThatVersion)
{
    if (IsWindows2000())
        GTEST_SKIP() << "already the inner run";
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS,
              RegCreateKeyExW(HKEY_CURRENT_USER, AppDefaults, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr));
    RegSetValueExW(key, L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"win2k"), 12);
    RegCloseKey(key);

    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH - 1);
    std::wstring command = std::wstring(L"\"") + self + L"\" --gtest_filter=QLibServiceWindows2000.Inner*";
    SetEnvironmentVariableW(L"QLIB_INNER_WINDOWS2000", L"1");
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    BOOL started = CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                  &process);
    // Only the program started here is the inner run: the inner cases of this one, run whole, skip.
    SetEnvironmentVariableW(L"QLIB_INNER_WINDOWS2000", nullptr);
    ASSERT_TRUE(started);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process.hProcess, 60000));
    DWORD exitCode = 1;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    RegDeleteTreeW(HKEY_CURRENT_USER, AppDefaults);
    EXPECT_EQ(0u, exitCode) << "the cases under Windows 2000 failed (their output is above)";
}

TEST(QLibServiceWindows2000, InnerServiceAccountsKeepTheirDomain)
{
    ONLY_UNDER_WINDOWS2000();
    TestService service;
    QLibService object(service.Name(), SERVICE_ALL_ACCESS, nullptr);
    ASSERT_TRUE(IsOK(object.ChangeUserAccount(nullptr, L"NetworkService", nullptr)));
    QUERY_SERVICE_CONFIGW* config = nullptr;
    ASSERT_TRUE(IsOK(object.QueryConfig(&config)));
    EXPECT_STREQ(L".\\NetworkService", config->lpServiceStartName);
    HeapFree(GetProcessHeap(), 0, config);
}

TEST(QLibServiceWindows2000, InnerEnvironmentCarriesTheAccountsVariables)
{
    ONLY_UNDER_WINDOWS2000();
    TestService service;
    QLibService object(service.Name(), SERVICE_ALL_ACCESS, nullptr);
    ASSERT_TRUE(IsOK(object.ChangeUserAccount(L"NT AUTHORITY", L"NetworkService", nullptr)));

    PSID sid = nullptr;
    ASSERT_TRUE(IsOK(object.QueryUserSIDFromSCM(&sid)));
    wchar_t* sidText = nullptr;
    ASSERT_TRUE(ConvertSidToStringSidW(sid, &sidText));
    std::wstring userKey = std::wstring(sidText) + L"\\Environment";
    LocalFree(sidText);
    HeapFree(GetProcessHeap(), 0, sid);
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS,
              RegCreateKeyExW(HKEY_USERS, userKey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr));
    const wchar_t plain[] = L"plain value";
    const wchar_t expand[] = L"%SystemRoot%\\qlib";
    RegSetValueExW(key, L"QLIBPLAIN", 0, REG_SZ, reinterpret_cast<const BYTE*>(plain), sizeof(plain));
    RegSetValueExW(key, L"QLIBEXPAND", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(expand), sizeof(expand));
    DWORD number = 7;
    RegSetValueExW(key, L"QLIBNUMBER", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof(number));
    RegCloseKey(key);

    ASSERT_TRUE(IsOK(object.SetVirtualNameEnvironment(L"VHOST2K")));
    RegDeleteTreeW(HKEY_USERS, userKey.c_str());
    std::set<std::wstring> stored = StoredEnvironment(service.Name());
    wchar_t systemRoot[MAX_PATH] = {};
    GetEnvironmentVariableW(L"SystemRoot", systemRoot, MAX_PATH);
    EXPECT_EQ(1u, stored.count(L"QLIBPLAIN=plain value"));
    EXPECT_EQ(1u, stored.count(std::wstring(L"QLIBEXPAND=") + systemRoot + L"\\qlib"));
    for (const auto& entry : stored)
        EXPECT_NE(0u, entry.rfind(L"QLIBNUMBER=", 0)) << "a number is no variable";
    EXPECT_EQ(1u, stored.count(L"COMPUTERNAME=VHOST2K"));
    EXPECT_GT(stored.size(), 5u) << "the default environment is kept";
    EXPECT_EQ(1u, object.VNameMatched(L"vhost2k"));
}

} // namespace
