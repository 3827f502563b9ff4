#include <gtest/gtest.h>
#include <windows.h>
#include <aclapi.h>
#include <tlhelp32.h>

#include <string>
#include <vector>

#include "LibOwners.h"
#include "LibProcess.h"
#include "ProcessTesting.h"

namespace {

using QLibProcessTest = TracedTest;

// The SID of the account this test runs under, from its own token.
std::vector<BYTE> OwnUserSid()
{
    HANDLE token = nullptr;
    OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token);
    BYTE buffer[256];
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, buffer, sizeof(buffer), &size);
    CloseHandle(token);
    PSID sid = reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid;
    auto* bytes = static_cast<BYTE*>(sid);
    return std::vector<BYTE>(bytes, bytes + GetLengthSid(sid));
}

FILETIME CreatedAt(HANDLE process)
{
    FILETIME created = {}, unused[3];
    GetProcessTimes(process, &created, &unused[0], &unused[1], &unused[2]);
    return created;
}

FILETIME CreatedAt(DWORD pid)
{
    QLibHandleOwner process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    return process ? CreatedAt(process.get()) : FILETIME{};
}

// A process the given child started. Ids come back, so the snapshot may also name a process whose long-gone
// parent had the child's id: only one created after the child counts.
DWORD ChildOf(const TestChild& parent)
{
    FILETIME born = CreatedAt(parent.Process());
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    DWORD found = 0;
    for (BOOL more = Process32FirstW(snapshot, &entry); more && found == 0; more = Process32NextW(snapshot, &entry)) {
        if (entry.th32ParentProcessID != parent.Pid())
            continue;
        FILETIME created = CreatedAt(entry.th32ProcessID);
        if (CompareFileTime(&created, &born) >= 0)
            found = entry.th32ProcessID;
    }
    CloseHandle(snapshot);
    return found;
}

TEST_F(QLibProcessTest, OpenReadsWhatTheChildIs)
{
    TestChild child(Running(L"OpenReadsWhatTheChildIs_7f3a"));
    QLibProcess process(child.Pid(), FALSE, PROCESS_QUERY_INFORMATION | PROCESS_VM_READ);
    ASSERT_TRUE(process.IsValid());
    EXPECT_EQ(child.Pid(), process.GetPid());

    wchar_t* raw = nullptr;
    ASSERT_TRUE(process.GetExeName(&raw).IsOK());
    HeapText exeName(raw);
    EXPECT_EQ(0, _wcsicmp(TestChild::Path().c_str(), exeName.get())) << exeName.get();

    ASSERT_TRUE(process.GetCmdLine(&raw).IsOK());
    HeapText cmdLine(raw);
    EXPECT_EQ(child.CommandLine(), cmdLine.get());

    uint32_t parent = 0;
    ASSERT_TRUE(process.GetParentPid(&parent).IsOK());
    EXPECT_EQ(GetCurrentProcessId(), parent);

    BOOL alive = FALSE;
    ASSERT_TRUE(process.IsAlive(&alive).IsOK());
    EXPECT_TRUE(alive);
}

TEST_F(QLibProcessTest, QueriesAnswerFromCacheAfterTheProcessHasGone)
{
    TestChild child(Running(L"Cached_91c2"));
    QLibProcess process(child.Pid(), FALSE, PROCESS_QUERY_INFORMATION | PROCESS_VM_READ);
    wchar_t* raw = nullptr;
    ASSERT_TRUE(process.GetExeName(&raw).IsOK());
    HeapText exeName(raw);
    ASSERT_TRUE(process.GetCmdLine(&raw).IsOK());
    HeapText cmdLine(raw);
    uint32_t parent = 0;
    ASSERT_TRUE(process.GetParentPid(&parent).IsOK());

    TerminateProcess(child.Process(), 0);
    child.WaitExit();

    ASSERT_TRUE(process.GetExeName(&raw).IsOK());
    HeapText exeAgain(raw);
    EXPECT_STREQ(exeName.get(), exeAgain.get());
    // WMI cannot see another process's command line here, so only the cache can answer.
    ASSERT_TRUE(process.GetWMICmdLine(&raw).IsOK());
    HeapText wmiCmdLine(raw);
    EXPECT_STREQ(cmdLine.get(), wmiCmdLine.get());
    EXPECT_TRUE(process.GetParentPid(&parent).IsOK());
    EXPECT_EQ(GetCurrentProcessId(), parent);
}

TEST_F(QLibProcessTest, CmdLineOfGrandchildAndItsParent)
{
    std::wstring grandReady = TestChild::UniqueName(L"GrandReady");
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, grandReady.c_str());
    TestChild child(L"--spawn \"--signal " + grandReady + L" --tag grand_5e1 --sleep 60000\" "
                    + Running(L"parent_5e1"));
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(event, 10000));
    CloseHandle(event);
    DWORD grandchild = ChildOf(child);
    ASSERT_NE(0u, grandchild);
    HANDLE grandHandle = OpenProcess(PROCESS_TERMINATE, FALSE, grandchild);

    uint32_t parent = 0;
    EXPECT_TRUE(QLibProcess::GetParentPid(grandchild, &parent).IsOK());
    EXPECT_EQ(child.Pid(), parent);
    wchar_t* raw = nullptr;
    ASSERT_TRUE(QLibProcess::GetCmdLine(grandchild, &raw).IsOK());
    HeapText cmdLine(raw);
    EXPECT_NE(nullptr, wcsstr(cmdLine.get(), L"--tag grand_5e1")) << cmdLine.get();

    TerminateProcess(grandHandle, 0);
    CloseHandle(grandHandle);
}

TEST_F(QLibProcessTest, WMICmdLineOfOwnProcess)
{
    wchar_t* raw = nullptr;
    ASSERT_TRUE(QLibProcess::GetWMICmdLine(GetCurrentProcessId(), &raw).IsOK());
    HeapText cmdLine(raw);
    EXPECT_STREQ(GetCommandLineW(), cmdLine.get());
}

TEST_F(QLibProcessTest, IsAliveReadsExitCodeAndTakes259ForRunning)
{
    TestChild still(L"--exit 259", false);
    TestChild ended(L"--exit 5", false);
    EXPECT_EQ(259u, still.WaitExit());
    EXPECT_EQ(5u, ended.WaitExit());
    BOOL alive = FALSE;
    EXPECT_TRUE(QLibProcess::IsAlive(still.Pid(), &alive).IsOK());
    EXPECT_TRUE(alive) << "an exit code of 259 reads as still active";
    alive = TRUE;
    EXPECT_TRUE(QLibProcess::IsAlive(ended.Pid(), &alive).IsOK());
    EXPECT_FALSE(alive);
}

TEST_F(QLibProcessTest, ByPidOnVanishedProcessFailsWithOpenStatus)
{
    DWORD pid = UnusedPid();
    wchar_t* text = reinterpret_cast<wchar_t*>(1);
    QLibStatus status = QLibProcess::GetExeName(pid, &text);
    EXPECT_TRUE(status.Is(QLIB_ERR_WIN32, ERROR_INVALID_PARAMETER)) << status.GetType() << " " << status.GetCode();
    EXPECT_TRUE(Traced("QLibProcess::Open", L"(87) Failed to open the process " + std::to_wstring(pid) + L"."));
    BOOL alive = TRUE;
    EXPECT_TRUE(QLibProcess::IsAlive(pid, &alive).Is(QLIB_ERR_WIN32, ERROR_INVALID_PARAMETER));
    wchar_t* domain = nullptr;
    EXPECT_TRUE(QLibProcess::GetUserName(pid, &domain, &text).IsFailed());
    EXPECT_TRUE(QLibProcess::EnablePrivilege(pid, L"SeDebugPrivilege", TRUE).IsFailed());
}

TEST_F(QLibProcessTest, ParentPidOfEndedProcessIsNotFound)
{
    TestChild child(Running(L"ParentGone"));
    QLibProcess process(child.Pid(), FALSE, PROCESS_QUERY_INFORMATION);
    TerminateProcess(child.Process(), 0);
    child.WaitExit();
    uint32_t parent = 0;
    QLibStatus status = process.GetParentPid(&parent);
    EXPECT_TRUE(status.Is(QLIB_ERR_WIN32, ERROR_FILE_NOT_FOUND));
    EXPECT_TRUE(Traced("QLibProcess::GetParentPid",
                       L"Could not find pid entry for " + std::to_wstring(child.Pid()) + L" in the task list."));
}

TEST_F(QLibProcessTest, AttachFillsIdsAndParentWithoutSnapshot)
{
    TestChild child(Running(L"Attach"));
    HANDLE handle = nullptr;
    DuplicateHandle(GetCurrentProcess(), child.Process(), GetCurrentProcess(), &handle, 0, FALSE,
                    DUPLICATE_SAME_ACCESS);
    QLibProcess process;
    ASSERT_TRUE(process.Attach(handle).IsOK());
    TerminateProcess(child.Process(), 0);
    child.WaitExit();
    EXPECT_EQ(child.Pid(), process.GetPid());
    uint32_t parent = 0;
    EXPECT_TRUE(process.GetParentPid(&parent).IsOK()) << "a gone process is only known from the cache";
    EXPECT_EQ(GetCurrentProcessId(), parent);
    EXPECT_EQ(handle, process.Detach());
    EXPECT_FALSE(process.IsValid());
    CloseHandle(handle);
}

TEST_F(QLibProcessTest, FailedAttachLeavesHandleWithCaller)
{
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    QLibProcess process;
    QLibStatus status = process.Attach(event);
    EXPECT_TRUE(status.IsFailed());
    EXPECT_EQ(QLIB_ERR_WIN32, status.GetType());
    EXPECT_FALSE(process.IsValid());
    EXPECT_TRUE(
        Traced("QLibProcess::Attach", L"(" + std::to_wstring(status.GetCode()) + L") GetProcessInformation failed."));
    DWORD flags = 0;
    EXPECT_TRUE(GetHandleInformation(event, &flags)) << "the handle must stay open";
    CloseHandle(event);
}

TEST_F(QLibProcessTest, UserSidAndNameOfChildAreOwnAccount)
{
    TestChild child(Running(L"Owner"));
    PSID sid = nullptr;
    ASSERT_TRUE(QLibProcess::GetUserSid(child.Pid(), &sid).IsOK());
    std::vector<BYTE> own = OwnUserSid();
    ASSERT_EQ(own.size(), GetLengthSid(sid));
    EXPECT_TRUE(EqualSid(sid, own.data()));
    HeapFree(GetProcessHeap(), 0, sid);

    wchar_t* domain = nullptr;
    wchar_t* user = nullptr;
    ASSERT_TRUE(QLibProcess::GetUserName(child.Pid(), &domain, &user).IsOK());
    HeapText domainText(domain);
    HeapText userText(user);
    wchar_t expected[256];
    DWORD size = 256;
    GetUserNameW(expected, &size);
    EXPECT_EQ(0, _wcsicmp(expected, user)) << user;
    EXPECT_NE(L'\0', domain[0]);
}

DWORD g_TokenError;

BOOL WINAPI FailingOpenProcessToken(HANDLE, DWORD, HANDLE*)
{
    SetLastError(g_TokenError);
    return FALSE;
}

// Wine never denies a token, so the denial is the test's: the SID then comes from the process object.
TEST_F(QLibProcessTest, UserSidFallsBackToProcessGroupWhenTokenIsDenied)
{
    TestChild child(Running(L"Denied"));
    QLibProcess process(child.Pid(), FALSE, PROCESS_QUERY_INFORMATION | READ_CONTROL);
    ASSERT_TRUE(process.IsValid());
    g_TokenError = ERROR_ACCESS_DENIED;
    ImportRedirect denied("advapi32.dll", "OpenProcessToken", reinterpret_cast<const void*>(FailingOpenProcessToken));

    PSID sid = nullptr;
    ASSERT_TRUE(process.GetUserSid(&sid).IsOK());
    PSID group = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_EQ(0u,
              GetSecurityInfo(child.Process(), SE_KERNEL_OBJECT, GROUP_SECURITY_INFORMATION, nullptr, &group, nullptr,
                              nullptr, &descriptor));
    EXPECT_TRUE(EqualSid(sid, group));
    LocalFree(descriptor);
    HeapFree(GetProcessHeap(), 0, sid);
}

TEST_F(QLibProcessTest, UserSidFailsOnOtherTokenErrors)
{
    g_TokenError = ERROR_INVALID_HANDLE;
    ImportRedirect broken("advapi32.dll", "OpenProcessToken", reinterpret_cast<const void*>(FailingOpenProcessToken));
    QLibProcess self(GetCurrentProcessId(), FALSE, PROCESS_QUERY_INFORMATION);
    PSID sid = reinterpret_cast<PSID>(1);
    EXPECT_TRUE(self.GetUserSid(&sid).Is(QLIB_ERR_WIN32, ERROR_INVALID_HANDLE));
    EXPECT_EQ(nullptr, sid);
    EXPECT_TRUE(
        Traced("QLibProcess::GetUserSid", L"(6) GetToken failed. pid=" + std::to_wstring(GetCurrentProcessId())));
    wchar_t* domain = nullptr;
    wchar_t* user = nullptr;
    EXPECT_TRUE(self.GetUserName(&domain, &user).IsFailed());
    EXPECT_EQ(nullptr, user);
}

TEST_F(QLibProcessTest, EnablePrivilegeByPid)
{
    EXPECT_TRUE(QLibProcess::EnablePrivilege(GetCurrentProcessId(), L"SeDebugPrivilege", TRUE).IsOK());
    QLibStatus status = QLibProcess::EnablePrivilege(GetCurrentProcessId(), L"SeNoSuchPrivilege", TRUE);
    EXPECT_TRUE(status.Is(QLIB_ERR_WIN32, ERROR_NO_SUCH_PRIVILEGE));
}

DWORD WINAPI ReportThreadId(void* slot)
{
    *static_cast<DWORD*>(slot) = GetCurrentThreadId();
    return 0;
}

TEST_F(QLibProcessTest, CreateRemoteThreadFillsTheThreadObject)
{
    QLibProcess self(GetCurrentProcessId(), FALSE, PROCESS_ALL_ACCESS);
    QLibThread thread;
    DWORD seen = 0;
    ASSERT_TRUE(self.CreateRemoteThread(nullptr, 0, ReportThreadId, &seen, 0, thread).IsOK());
    EXPECT_TRUE(thread.Wait(5000).IsOK());
    EXPECT_EQ(seen, thread.GetThreadId());
    uint32_t pid = 0;
    EXPECT_TRUE(thread.GetProcessId(&pid).IsOK());
    EXPECT_EQ(GetCurrentProcessId(), pid);
}

} // namespace
