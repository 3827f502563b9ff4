#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "ImportHook.h"
#include "LibAccessToken.h"
#include "LibThread.h"
#include "ProcessTesting.h"

namespace {

using QLibThreadTest = TracedTest;
using QLibAccessTokenTest = TracedTest;

unsigned __stdcall EndWith(void* code)
{
    return static_cast<unsigned>(reinterpret_cast<uintptr_t>(code));
}

TEST_F(QLibThreadTest, CreateFillsIdsAndExitCode259ReadsAsAlive)
{
    QLibThread thread;
    ASSERT_TRUE(QLibThread::Create(nullptr, 0, EndWith, reinterpret_cast<void*>(259), 0, thread).IsOK());
    ASSERT_TRUE(thread.Wait(5000).IsOK());
    uint32_t pid = 0;
    EXPECT_TRUE(thread.GetProcessId(&pid).IsOK());
    EXPECT_EQ(GetCurrentProcessId(), pid);
    EXPECT_EQ(GetThreadId(thread.GetHandle()), thread.GetThreadId());
    BOOL alive = FALSE;
    EXPECT_TRUE(thread.IsAlive(&alive).IsOK());
    EXPECT_TRUE(alive) << "an exit code of 259 reads as still active";

    QLibThread ended;
    ASSERT_TRUE(QLibThread::Create(nullptr, 0, EndWith, nullptr, 0, ended).IsOK());
    ASSERT_TRUE(ended.Wait(5000).IsOK());
    EXPECT_TRUE(ended.IsAlive(&alive).IsOK());
    EXPECT_FALSE(alive);
}

// Opened by id, the owner is looked up in a snapshot on every call, so its end shows at once.
TEST_F(QLibThreadTest, ProcessIdOfOpenedThreadIsLookedUpEachTime)
{
    TestChild child(Running(L"ThreadOwner"));
    QLibThread thread(THREAD_QUERY_INFORMATION, FALSE, child.Tid());
    ASSERT_TRUE(thread.IsValid());
    uint32_t pid = 0;
    ASSERT_TRUE(thread.GetProcessId(&pid).IsOK());
    EXPECT_EQ(child.Pid(), pid);

    TerminateProcess(child.Process(), 0);
    child.WaitExit();
    QLibStatus status = thread.GetProcessId(&pid);
    EXPECT_TRUE(status.Is(QLIB_ERR_WIN32, ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(0xFFFFFFFFu, pid);
    EXPECT_TRUE(Traced("QLibThread::GetProcessId", L"Cannot find the process for tid=" + std::to_wstring(child.Tid())));
}

TEST_F(QLibThreadTest, AttachReadsIdsOrLeavesObjectAsItWas)
{
    TestChild child(Running(L"ThreadAttach"));
    HANDLE handle = OpenThread(THREAD_QUERY_INFORMATION, FALSE, child.Tid());
    QLibThread thread;
    ASSERT_TRUE(thread.Attach(handle).IsOK());
    EXPECT_EQ(child.Tid(), thread.GetThreadId());
    uint32_t pid = 0;
    EXPECT_TRUE(thread.GetProcessId(&pid).IsOK());
    EXPECT_EQ(child.Pid(), pid);

    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    QLibStatus status = thread.Attach(event);
    EXPECT_EQ(QLIB_ERR_WIN32, status.GetType());
    EXPECT_EQ(handle, thread.GetHandle()) << "a handle that is no thread is not taken";
    EXPECT_EQ(child.Tid(), thread.GetThreadId());
    EXPECT_TRUE(
        Traced("QLibThread::Attach", L"(" + std::to_wstring(status.GetCode()) + L") GetThreadInformation failed."));
    CloseHandle(event);
}

TEST_F(QLibThreadTest, OpenOfUnknownThreadFails)
{
    DWORD tid = UnusedPid();
    QLibThread thread;
    QLibStatus status = thread.Open(THREAD_QUERY_INFORMATION, FALSE, tid);
    EXPECT_TRUE(status.Is(QLIB_ERR_WIN32, ERROR_INVALID_PARAMETER)) << status.GetCode();
    EXPECT_FALSE(thread.IsValid());
    EXPECT_TRUE(Traced("QLibThread::Open", L"(87) OpenThread failed. Tid=" + std::to_wstring(tid) + L", Access=64"));
}

TEST_F(QLibThreadTest, OpenTokenIsTheCallingThreadsToken)
{
    TestChild child(Running(L"ThreadToken"));
    QLibThread other(THREAD_QUERY_INFORMATION, FALSE, child.Tid());
    QLibThreadToken token;
    EXPECT_TRUE(other.OpenToken(TOKEN_QUERY, TRUE, token).Is(QLIB_ERR_WIN32, ERROR_NO_TOKEN))
        << "the calling thread impersonates nobody";
    ASSERT_TRUE(ImpersonateSelf(SecurityImpersonation));
    EXPECT_TRUE(other.OpenToken(TOKEN_QUERY, TRUE, token).IsOK());
    RevertToSelf();
}

TEST_F(QLibAccessTokenTest, TokenUserPointsIntoTheSameBuffer)
{
    QLibProcessToken token(GetCurrentProcess(), TOKEN_QUERY);
    ASSERT_TRUE(token.IsValid());
    void* buffer = nullptr;
    ASSERT_TRUE(token.GetInformation(TokenUser, &buffer).IsOK());
    auto* user = static_cast<TOKEN_USER*>(buffer);
    auto* start = static_cast<BYTE*>(buffer);
    auto* sid = static_cast<BYTE*>(user->User.Sid);
    size_t size = HeapSize(GetProcessHeap(), 0, buffer);
    EXPECT_GE(sid, start + sizeof(TOKEN_USER));
    EXPECT_LE(sid + GetLengthSid(user->User.Sid), start + size);
    EXPECT_TRUE(IsValidSid(user->User.Sid));
    HeapFree(GetProcessHeap(), 0, buffer);
}

TEST_F(QLibAccessTokenTest, GetInformationWithoutQueryRightFails)
{
    QLibProcessToken token(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES);
    void* buffer = reinterpret_cast<void*>(1);
    EXPECT_TRUE(token.GetInformation(TokenUser, &buffer).Is(QLIB_ERR_WIN32, ERROR_ACCESS_DENIED));
    EXPECT_EQ(nullptr, buffer);
    EXPECT_TRUE(Traced("QLibAccessToken::GetInformation", L"(5) GetTokenInformation failed."));
}

// GetTokenInformation whose answer grows by 64 bytes each time a fill is refused, as a token's groups can
// between the size query and the fill. Refused fills say so as Windows does, with the size they would need.
struct GrowingTokenInformation {
    static inline int refusals = 0;
    static inline int calls = 0;
    static inline DWORD grown = 0;
    static inline decltype(&GetTokenInformation) original = nullptr;

    static BOOL WINAPI Call(HANDLE token, TOKEN_INFORMATION_CLASS infoClass, void* buffer, DWORD size, DWORD* needed)
    {
        ++calls;
        if (buffer == nullptr) {
            BOOL done = original(token, infoClass, buffer, size, needed);
            *needed += grown;
            return done;
        }
        if (refusals > 0) {
            --refusals;
            grown += 64;
            *needed = size + 64;
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return FALSE;
        }
        return original(token, infoClass, buffer, size, needed);
    }
};

struct GrowthCase {
    int refusals;
    DWORD code; // 0: the information is read
    int calls;
};

// Each refused fill costs a new size query and fill; the third refusal in a row ends the query.
const GrowthCase growthCases[] = {
    {0, 0, 2},
    {1, 0, 4},
    {2, 0, 6},
    {3, ERROR_INSUFFICIENT_BUFFER, 6},
};

TEST_F(QLibAccessTokenTest, InformationThatGrowsBetweenSizeAndFillIsAskedForAgain)
{
    QLibProcessToken token(GetCurrentProcess(), TOKEN_QUERY);
    ASSERT_TRUE(token.IsValid());
    ImportHook hook(GetModuleHandleW(nullptr), "GetTokenInformation",
                    reinterpret_cast<void*>(&GrowingTokenInformation::Call));
    ASSERT_TRUE(hook.Active());
    GrowingTokenInformation::original = hook.Original<decltype(&GetTokenInformation)>();
    for (const GrowthCase& row : growthCases) {
        GrowingTokenInformation::refusals = row.refusals;
        GrowingTokenInformation::calls = 0;
        GrowingTokenInformation::grown = 0;
        QLibHeapOwner<void> buffer;
        QLibStatus status = token.GetInformation(TokenUser, buffer.put());
        EXPECT_TRUE(status.Is(row.code == 0 ? QLIB_ERR_NONE : QLIB_ERR_WIN32, row.code)) << row.refusals;
        EXPECT_EQ(row.calls, GrowingTokenInformation::calls) << row.refusals;
        const auto* user = static_cast<const TOKEN_USER*>(buffer.get());
        EXPECT_EQ(row.code == 0, user != nullptr && IsValidSid(user->User.Sid)) << row.refusals;
    }
}

TEST_F(QLibAccessTokenTest, EnablePrivilegeReportsLookupButNotMissingPrivilege)
{
    QLibProcessToken token(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY);
    EXPECT_TRUE(token.EnablePrivilege(L"SeShutdownPrivilege", TRUE).IsOK());
    EXPECT_TRUE(token.EnablePrivilege(L"SeShutdownPrivilege", FALSE).IsOK());
    // Held by no account that the tests run under.
    EXPECT_TRUE(token.EnablePrivilege(L"SeCreateTokenPrivilege", TRUE).IsOK());

    QLibStatus status = token.EnablePrivilege(L"SeMadeUpPrivilege", TRUE);
    EXPECT_TRUE(status.Is(QLIB_ERR_WIN32, ERROR_NO_SUCH_PRIVILEGE));
    EXPECT_TRUE(Traced("QLibAccessToken::EnablePrivilege",
                       L"(1313) LookupPrivilegeValue failed. privName = SeMadeUpPrivilege."));
}

TEST_F(QLibAccessTokenTest, AdjustWithoutRightFails)
{
    QLibProcessToken token(GetCurrentProcess(), TOKEN_QUERY);
    EXPECT_TRUE(token.EnablePrivilege(L"SeShutdownPrivilege", TRUE).Is(QLIB_ERR_WIN32, ERROR_ACCESS_DENIED));
    EXPECT_TRUE(Traced("QLibAccessToken::EnablePrivilege", L"(5) AdjustTokenPrivileges failed. bEnable = 1"));
}

TEST_F(QLibAccessTokenTest, FailedOpenLeavesObjectEmpty)
{
    QLibProcessToken processToken(GetCurrentProcess(), TOKEN_QUERY);
    ASSERT_TRUE(processToken.IsValid());
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    EXPECT_TRUE(processToken.Open(event, TOKEN_QUERY).IsFailed());
    EXPECT_FALSE(processToken.IsValid());
    EXPECT_TRUE(Traced("QLibProcessToken::Open", L"(6) OpenProcessToken failed."));

    ASSERT_TRUE(ImpersonateSelf(SecurityImpersonation));
    QLibThreadToken threadToken(GetCurrentThread(), TOKEN_QUERY, TRUE);
    RevertToSelf();
    ASSERT_TRUE(threadToken.IsValid());
    EXPECT_TRUE(threadToken.Open(event, TOKEN_QUERY, TRUE).IsFailed());
    EXPECT_FALSE(threadToken.IsValid());
    CloseHandle(event);
}

} // namespace
