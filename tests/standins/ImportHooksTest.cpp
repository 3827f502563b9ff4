// The hooks that tests put on a module's imports, shown on this test program's own imports.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <windows.h>
#include <tlhelp32.h>

#include <string>

#include "ClockHook.h"
#include "FaultHook.h"
#include "LedgerHook.h"
#include "LogonHook.h"
#include "OwnerHook.h"
#include "SapFixture.h"
#include "VersionHook.h"

using testing::ElementsAre;

namespace {

HMODULE Self()
{
    return GetModuleHandleW(nullptr);
}

// A child that sleeps until it is ended.
PROCESS_INFORMATION StartSleeper()
{
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    std::wstring line = L"testchild.exe --sleep 60000";
    CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process);
    return process;
}

std::wstring OwnerOf(DWORD pid)
{
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, pid);
    HANDLE token = nullptr;
    OpenProcessToken(process, TOKEN_QUERY, &token);
    BYTE buffer[512];
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, buffer, sizeof(buffer), &size);
    CloseHandle(token);
    CloseHandle(process);
    PSID sid = reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid;
    DWORD nameChars = 0, domainChars = 0;
    SID_NAME_USE use;
    LookupAccountSidW(nullptr, sid, nullptr, &nameChars, nullptr, &domainChars, &use);
    std::wstring name(nameChars, L'\0'), domain(domainChars, L'\0');
    if (!LookupAccountSidW(nullptr, sid, &name[0], &nameChars, &domain[0], &domainChars, &use))
        return L"failed";
    return domain.substr(0, domainChars) + L"\\" + name.substr(0, nameChars);
}

TEST(ImportHooks, OwnerAndVersionAnswerForTheChosenProcessAndVersion)
{
    PROCESS_INFORMATION child = StartSleeper();
    ASSERT_NE(nullptr, child.hProcess);
    std::wstring own = OwnerOf(GetCurrentProcessId());
    {
        OwnerHook owner(Self());
        VersionHook version(Self(), 5, 0, 2195);
        ASSERT_TRUE(owner.Active() && version.Active());
        owner.Set(child.dwProcessId, L"CORP", L"otheradm");
        EXPECT_EQ(L"CORP\\otheradm", OwnerOf(child.dwProcessId));
        EXPECT_EQ(own, OwnerOf(GetCurrentProcessId()));
        OSVERSIONINFOW info{};
        info.dwOSVersionInfoSize = sizeof(info);
        ASSERT_TRUE(GetVersionExW(&info));
        EXPECT_EQ(5u, info.dwMajorVersion);
        EXPECT_EQ(0u, info.dwMinorVersion);
        EXPECT_EQ(2195u, info.dwBuildNumber);
    }
    EXPECT_EQ(own, OwnerOf(child.dwProcessId));
    TerminateProcess(child.hProcess, 0);
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
}

TEST(ImportHooks, FaultsFailTheChosenCallsOnly)
{
    PROCESS_INFORMATION child = StartSleeper();
    ASSERT_NE(nullptr, child.hProcess);
    FaultHook faults(Self());
    faults.Fail("TerminateProcess", ERROR_ACCESS_DENIED, 1, child.dwProcessId);
    faults.Fail("Process32NextW", ERROR_NOT_ENOUGH_MEMORY, 2);
    faults.Fail("CreatePipe", ERROR_TOO_MANY_OPEN_FILES, 0);

    EXPECT_FALSE(TerminateProcess(child.hProcess, 0));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
    EXPECT_TRUE(TerminateProcess(child.hProcess, 0)) << "only the first call";
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    int walked = 0;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
        ++walked;
    EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY), GetLastError());
    EXPECT_EQ(2, walked);
    CloseHandle(snapshot);
    HANDLE read = nullptr, write = nullptr;
    EXPECT_FALSE(CreatePipe(&read, &write, nullptr, 0));
    EXPECT_FALSE(CreatePipe(&read, &write, nullptr, 0)) << "every call";
    EXPECT_THAT(faults.Journal(),
                ElementsAre(L"TerminateProcess #1 error=5", L"Process32NextW #2 error=8", L"CreatePipe #1 error=4",
                            L"CreatePipe #2 error=4"));
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
}

TEST(ImportHooks, ClockMovesOnBySleepsAndTheWallClockAloneCanGoBack)
{
    ClockHook clock(Self());
    ASSERT_TRUE(clock.Active());
    ULONGLONG tick = GetTickCount64();
    FILETIME before, after;
    GetSystemTimeAsFileTime(&before);
    Sleep(3600000);
    EXPECT_GE(GetTickCount64() - tick, 3600000u);
    EXPECT_LT(GetTickCount64() - tick, 3660000u) << "no real hour went by";
    clock.ShiftWallClock(-2 * 3600000);
    GetSystemTimeAsFileTime(&after);
    auto value = [](const FILETIME& t) { return (static_cast<int64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
    EXPECT_LT(value(after), value(before) - 3000000LL * 10000);
    EXPECT_GE(GetTickCount64() - tick, 3600000u) << "the elapsed-time clock did not go back";
    // Set forward by a day as the third sleep is made: the time of day moves, in both its forms.
    clock.ShiftWallClockAtSleep(3, 24 * 3600000LL);
    SYSTEMTIME day;
    GetSystemTime(&day);
    Sleep(1000);
    GetSystemTimeAsFileTime(&after);
    EXPECT_LT(value(after), value(before) - 3000000LL * 10000) << "one sleep: not moved yet";
    Sleep(1000);
    SYSTEMTIME nextDay;
    GetSystemTime(&nextDay);
    EXPECT_NE(day.wDay, nextDay.wDay);
    EXPECT_LT(GetTickCount64() - tick, 3660000u) << "the forward clock moved only by the sleeps";
    EXPECT_THAT(clock.Journal(), ElementsAre(L"Sleep 3600000", L"Sleep 1000", L"Sleep 1000"));
}

TEST(ImportHooks, LedgerListsWhatWasNotReleased)
{
    HANDLE earlier = CreateMutexW(nullptr, FALSE, nullptr);
    LedgerHook ledger(Self());
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, GetCurrentProcessId());
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    void* block = HeapAlloc(GetProcessHeap(), 0, 64);
    void* kept = HeapAlloc(GetProcessHeap(), 0, 64);
    CloseHandle(event);
    HeapFree(GetProcessHeap(), 0, block);
    CloseHandle(earlier);
    EXPECT_THAT(ledger.Outstanding(), ElementsAre(L"handle by OpenProcess #1", L"heap by HeapAlloc #4"));
    EXPECT_THAT(ledger.Unmatched(), ElementsAre(L"handle by CloseHandle"));
    CloseHandle(process);
    HeapFree(GetProcessHeap(), 0, kept);
    EXPECT_TRUE(ledger.Outstanding().empty());
}

// A SAP tool run as the SAP administrator the way the agent runs it: logon, then a process for the token.
TEST(ImportHooks, LogonLetsAToolRunAsTheSapAdministrator)
{
    SapFixture sap(SapInstanceType::Dialog, "QS5", "11");
    ASSERT_TRUE(sap.Ok()) << sap.Error();
    std::wstring user(sap.user.begin(), sap.user.end()), domain(sap.domain.begin(), sap.domain.end());
    LogonHook logon(Self(), user, domain, L"Adm1n!");
    HANDLE token = nullptr;
    ASSERT_TRUE(LogonUserW(user.c_str(), domain.c_str(), L"Adm1n!", LOGON32_LOGON_INTERACTIVE, LOGON32_PROVIDER_DEFAULT,
                           &token));
    std::string line = sap.sapHome + "\\sapinfo.exe ashost=" + sap.host + " sysnr=11";
    std::wstring command(line.begin(), line.end()), folder(sap.sapHome.begin(), sap.sapHome.end());
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(CreateProcessAsUserW(token, nullptr, &command[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                                     folder.c_str(), &startup, &process));
    WaitForSingleObject(process.hProcess, 30000);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    CloseHandle(token);
    std::vector<SapRun> runs = sap.Runs("sapinfo");
    ASSERT_EQ(1u, runs.size());
    EXPECT_EQ(line, runs[0].commandLine);
    EXPECT_EQ(sap.domain + "\\" + sap.user, runs[0].user);
    EXPECT_EQ(2, runs[0].exitCode) << "the instance is not running";
    EXPECT_THAT(logon.Journal(), ElementsAre(L"user=" + user + L" domain=" + domain + L" type=2"));
}

} // namespace
