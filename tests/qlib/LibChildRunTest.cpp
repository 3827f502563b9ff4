#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <thread>

#include "ClockHook.h"
#include "LibChildRun.h"
#include "LibOwners.h"
#include "ProcessTesting.h"

namespace {

QLibChildResult RunChild(const std::wstring& arguments, int64_t timeLimit, const std::string& input = std::string())
{
    std::wstring commandLine = L"\"" + TestChild::Path() + L"\" " + arguments;
    QLibChildSpec spec;
    spec.commandLine = commandLine.c_str();
    spec.timeLimit = timeLimit;
    spec.input = input;
    return QLibRunChild(spec);
}

TEST(QLibChildRunTest, RunsToItsEndOrItsLimit)
{
    const struct {
        const wchar_t* arguments;
        int64_t timeLimit;
        std::string input;
        QLibChildEnd end;
        uint32_t exitCode;
        std::string output;
    } cases[] = {
        {L"--out hello --err world --exit 3", 10000, "", QLibChildEnd::Exited, 3, "hello\r\nworld\r\n"},
        {L"--echo-input -", 10000, "20\n0\n0", QLibChildEnd::Exited, 0, "20\n0\n0"},
        // Far more than a pipe holds: read while the child runs, and exactly.
        {L"--bytes 200000", 10000, "", QLibChildEnd::Exited, 0, TestPattern(200000)},
        {L"--bytes 1100000", 20000, "", QLibChildEnd::Exited, 0, TestPattern(QLibChildMaxOutput)},
        // The output ends before the child does: the code is its exit code, not "still active".
        {L"--close-output - --sleep 300 --exit 7", 10000, "", QLibChildEnd::Exited, 7, ""},
        {L"--out x", 0, "", QLibChildEnd::TimedOut, 0, ""},
        {L"--out x", -5, "", QLibChildEnd::TimedOut, 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.arguments)) + " limit " + std::to_string(c.timeLimit));
        QLibChildResult result = RunChild(c.arguments, c.timeLimit, c.input);
        EXPECT_EQ(c.end, result.end);
        EXPECT_EQ(nullptr, result.failedCall);
        EXPECT_EQ(c.exitCode, result.exitCode);
        EXPECT_TRUE(c.output == result.output) << result.output.size() << " bytes";
    }
}

// The test clock passes the limit only once the child has written its line: what a child wrote before its limit
// is kept, however slowly a busy machine starts it.
TEST(QLibChildRunTest, OutputWrittenBeforeTheLimitIsKept)
{
    ClockHook clock(GetModuleHandleW(nullptr));
    std::wstring wrote = TestChild::UniqueName(L"Wrote");
    QLibHandleOwner wroteEvent(CreateEventW(nullptr, TRUE, FALSE, wrote.c_str()));
    std::thread late([&] {
        if (WaitForSingleObject(wroteEvent.get(), 30000) == WAIT_OBJECT_0)
            clock.Advance(60000);
    });
    QLibChildResult result = RunChild(L"--out x --signal " + wrote + L" --sleep 60000", 60000);
    late.join();
    EXPECT_EQ(QLibChildEnd::TimedOut, result.end);
    EXPECT_EQ("x\r\n", result.output);
}

TEST(QLibChildRunTest, HeirHoldingThePipeDoesNotHoldTheRun)
{
    std::wstring release = TestChild::UniqueName(L"HeirRelease");
    std::wstring done = TestChild::UniqueName(L"HeirDone");
    QLibHandleOwner releaseEvent(CreateEventW(nullptr, TRUE, FALSE, release.c_str()));
    QLibHandleOwner doneEvent(CreateEventW(nullptr, TRUE, FALSE, done.c_str()));
    QLibChildResult result = RunChild(L"--out hello --heir \"--wait " + release + L" --signal " + done + L"\"", 10000);
    SetEvent(releaseEvent.get());
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(doneEvent.get(), 10000)) << "the heir has not ended";
    EXPECT_EQ(QLibChildEnd::Exited, result.end);
    EXPECT_EQ("hello\r\n", result.output);
}

// Another thread's inheritable pipe end must not reach the child, or that thread's pipe would not break.
TEST(QLibChildRunTest, ChildGetsOnlyItsOwnHandles)
{
    QLibHandleOwner readEnd;
    QLibHandleOwner writeEnd;
    SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
    ASSERT_TRUE(CreatePipe(readEnd.put(), writeEnd.put(), &inheritable, 0));
    std::wstring running = TestChild::UniqueName(L"HandlesRunning");
    std::wstring release = TestChild::UniqueName(L"HandlesRelease");
    QLibHandleOwner runningEvent(CreateEventW(nullptr, TRUE, FALSE, running.c_str()));
    QLibHandleOwner releaseEvent(CreateEventW(nullptr, TRUE, FALSE, release.c_str()));
    QLibChildResult result;
    std::thread runner([&] { result = RunChild(L"--signal " + running + L" --wait " + release, 20000); });
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(runningEvent.get(), 10000));
    // Our write end gone, only a child that inherited it could keep the pipe whole.
    writeEnd.reset();
    DWORD waiting = 0;
    BOOL peeked = PeekNamedPipe(readEnd.get(), nullptr, 0, nullptr, &waiting, nullptr);
    DWORD error = GetLastError();
    SetEvent(releaseEvent.get());
    runner.join();
    EXPECT_FALSE(peeked);
    EXPECT_EQ(static_cast<DWORD>(ERROR_BROKEN_PIPE), error);
    EXPECT_EQ(QLibChildEnd::Exited, result.end);
}

} // namespace
