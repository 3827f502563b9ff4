// The test bed itself: what the namespaces, the test DNS server and the import hooks make Wine show.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "LogonHook.h"
#include "TestBed.h"

using ::testing::ElementsAre;

namespace {

std::wstring ProgramPath(const wchar_t* name)
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH - 1);
    std::wstring folder = path;
    return folder.substr(0, folder.rfind(L'\\') + 1) + name;
}

DWORD RunAs(HANDLE token, const std::wstring& arguments)
{
    std::wstring program = ProgramPath(L"testchild.exe");
    std::wstring commandLine = L"\"" + program + L"\" " + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION started = {};
    if (!CreateProcessAsUserW(token, program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                              &startup, &started))
        return GetLastError() | 0x80000000;
    WaitForSingleObject(started.hProcess, 10000);
    DWORD code = 0;
    GetExitCodeProcess(started.hProcess, &code);
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
    return code;
}

} // namespace

TEST(TestBedSmoke, LogonHookStartsAChildForTheAccountAndRefusesAWrongPassword)
{
    LogonHook hook(GetModuleHandleW(nullptr), L"prdadm", L"NODE1", L"Secret1");
    ASSERT_TRUE(hook.Active());
    HANDLE token = nullptr;
    EXPECT_FALSE(LogonUserW(L"prdadm", L"NODE1", L"secret1", LOGON32_LOGON_SERVICE, LOGON32_PROVIDER_DEFAULT, &token));
    EXPECT_EQ(static_cast<DWORD>(ERROR_LOGON_FAILURE), GetLastError());
    ASSERT_TRUE(
        LogonUserW(L"PRDADM", L"node1", L"Secret1", LOGON32_LOGON_INTERACTIVE, LOGON32_PROVIDER_DEFAULT, &token));
    EXPECT_EQ(7u, RunAs(token, L"--exit 7"));
    CloseHandle(token);
    EXPECT_THAT(hook.Journal(), ElementsAre(L"user=prdadm domain=NODE1 type=5", L"user=PRDADM domain=node1 type=2"));
}
