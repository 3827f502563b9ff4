#include <gtest/gtest.h>
#include <windows.h>

#include <cwchar>
#include <string>
#include <vector>

#include "ImportHook.h"
#include "LibProcess.h"
#include "LogonHook.h"
#include "ProcessTesting.h"

namespace {

using QLibProcessCreateTest = TracedTest;

constexpr const wchar_t* Password = L"right";
constexpr const wchar_t* Variable = L"QLIB_CREATE_TEST_VARIABLE";

BOOL WINAPI FailCreatePipe(PHANDLE, PHANDLE, LPSECURITY_ATTRIBUTES, DWORD)
{
    SetLastError(ERROR_NO_SYSTEM_RESOURCES);
    return FALSE;
}

BOOL WINAPI FailReadFile(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED)
{
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
}

STARTUPINFOW* Startup()
{
    static STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    return &startup;
}

std::wstring Child(const std::wstring& arguments)
{
    return L"\"" + TestChild::Path() + L"\" " + arguments;
}

TEST_F(QLibProcessCreateTest, FailedStartLeavesTheObjectsAlone)
{
    using Creator = QLibStatus (*)(const wchar_t*, QLibProcess&, QLibThread&);
    const Creator creators[] = {
        [](const wchar_t* line, QLibProcess& process, QLibThread& thread) {
            return QLibProcess::Create(nullptr, line, nullptr, nullptr, FALSE, 0, nullptr, nullptr, Startup(), process,
                                       thread);
        },
        [](const wchar_t* line, QLibProcess& process, QLibThread& thread) {
            return QLibProcess::CreateSuspended(nullptr, line, nullptr, nullptr, FALSE, 0, nullptr, nullptr, Startup(),
                                                0, process, thread);
        },
    };
    for (Creator create : creators) {
        TestChild unrelated(Running(L"Unrelated_5d1e"));
        QLibProcess process(unrelated.Pid(), FALSE, PROCESS_ALL_ACCESS);
        QLibThread thread(THREAD_ALL_ACCESS, FALSE, unrelated.Tid());
        QLibStatus status = create(L"Z:\\nowhere\\missing.exe", process, thread);
        EXPECT_EQ(QLIB_ERR_WIN32, status.GetType());
        EXPECT_TRUE(Traced("QLibProcess::Create",
                           L"(" + std::to_wstring(status.GetCode())
                               + L") CreateProcess failed. CmdLine=Z:\\nowhere\\missing.exe"));
        ASSERT_TRUE(process.IsValid() && thread.IsValid());
        EXPECT_EQ(unrelated.Pid(), process.GetPid());
        EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(unrelated.Process(), 0)) << "the unrelated child was ended";
    }
}

TEST_F(QLibProcessCreateTest, SuspendedChildRunsOnceResumed)
{
    std::wstring line = Child(L"--exit 5");
    QLibProcess process;
    QLibThread thread;
    ASSERT_TRUE(QLibProcess::CreateSuspended(nullptr, line.c_str(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                             Startup(), 0, process, thread)
                    .IsOK());
    uint32_t parent = 0;
    EXPECT_TRUE(process.GetParentPid(&parent).IsOK());
    EXPECT_EQ(GetCurrentProcessId(), parent);
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(process.GetHandle(), 200));
    EXPECT_EQ(1u, ResumeThread(thread.GetHandle()));
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process.GetHandle(), 10000));
    DWORD exitCode = 0;
    EXPECT_TRUE(GetExitCodeProcess(process.GetHandle(), &exitCode));
    EXPECT_EQ(5u, exitCode);
}

// The child starts in the user's own environment, without the caller's variables.
TEST_F(QLibProcessCreateTest, CreateAsUserLogsOnFirst)
{
    LogonHook logon(GetModuleHandleW(nullptr), L"sapadm", L"DOM", Password);
    SetEnvironmentVariableW(Variable, L"caller");
    std::wstring line = Child(std::wstring(L"--env ") + Variable);
    const struct {
        const wchar_t* password;
        DWORD error;
    } cases[] = {{L"wrong", ERROR_LOGON_FAILURE}, {Password, 0}};
    for (const auto& c : cases) {
        QLibProcess process;
        QLibThread thread;
        QLibStatus status = QLibProcess::CreateAsUser(L"DOM", L"sapadm", c.password, nullptr, line.c_str(), nullptr,
                                                      nullptr, FALSE, 0, nullptr, Startup(), process, thread);
        EXPECT_EQ(c.error, status.GetCode());
        EXPECT_EQ(c.error == 0, process.IsValid() && thread.IsValid());
        if (c.error != 0) {
            EXPECT_TRUE(Traced("QLibProcess::CreateAsUser", L"(1326) LogonUser failed. User=sapadm, Dom=DOM"));
            continue;
        }
        ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process.GetHandle(), 10000));
        DWORD exitCode = 0;
        EXPECT_TRUE(GetExitCodeProcess(process.GetHandle(), &exitCode));
        EXPECT_EQ(static_cast<DWORD>(ERROR_ENVVAR_NOT_FOUND), exitCode);
    }
}

TEST_F(QLibProcessCreateTest, OutputFillsTheBufferAndTheExitCodeIsTheEnd)
{
    const struct {
        const wchar_t* arguments;
        uint32_t size;
        std::string output;
        uint32_t exitCode;
    } cases[] = {
        {L"--out hello --err world --exit 4", 64, "hello\r\nworld\r\n", 4},
        {L"--out hello", 3, "h", 0},
        {L"--close-output - --sleep 300 --exit 7", 16, "", 7},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.arguments)));
        std::vector<uint8_t> buffer(c.size, 0xCC);
        uint32_t exitCode = 0xDEAD;
        std::wstring line = Child(c.arguments);
        ASSERT_TRUE(QLibProcess::CreateAndGetOutput(line.c_str(), nullptr, buffer.data(), c.size, &exitCode).IsOK());
        std::string expected = c.output + std::string(c.size - c.output.size(), '\0');
        EXPECT_EQ(expected, std::string(buffer.begin(), buffer.end()));
        EXPECT_EQ(c.exitCode, exitCode);
    }
}

TEST_F(QLibProcessCreateTest, OutputOfAUserIsTheTextReadAndNoMore)
{
    LogonHook logon(GetModuleHandleW(nullptr), L"sapadm", L"DOM", Password);
    SetEnvironmentVariableW(Variable, L"inherited");
    std::string pattern = TestPattern(200000);
    const struct {
        std::wstring arguments;
        std::wstring text;
        uint32_t exitCode;
    } cases[] = {
        {L"--out hello --err world --exit 2", L"hello\r\nworld\r\n", 2},
        {std::wstring(L"--env ") + Variable, L"inherited\r\n", 0},
        {L"--bytes 200000", std::wstring(pattern.begin(), pattern.end()), 0},
        {L"--exit 9", L"", 9},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.arguments));
        std::wstring line = Child(c.arguments);
        wchar_t* output = nullptr;
        uint32_t size = 0xDEAD;
        uint32_t exitCode = 0xDEAD;
        ASSERT_TRUE(QLibProcess::CreateAsUserAndGetOutput(L"DOM", L"sapadm", Password, line.c_str(), nullptr, &output,
                                                          &size, &exitCode, 0, 0)
                        .IsOK());
        EXPECT_EQ(c.text.size() * sizeof(wchar_t), size);
        EXPECT_EQ(c.text.empty(), output == nullptr);
        EXPECT_TRUE(c.text == (output != nullptr ? output : L""));
        EXPECT_EQ(c.exitCode, exitCode);
        if (output != nullptr)
            VirtualFree(output, 0, MEM_RELEASE);
    }
}

TEST_F(QLibProcessCreateTest, FailedReadFailsTheCallAndKeepsTheExitCode)
{
    LogonHook logon(GetModuleHandleW(nullptr), L"sapadm", L"DOM", Password);
    ImportHook read(GetModuleHandleW(nullptr), "ReadFile", reinterpret_cast<const void*>(&FailReadFile));
    std::wstring line = Child(L"--out hello --exit 6");
    wchar_t* output = nullptr;
    uint32_t size = 0;
    uint32_t exitCode = 0;
    QLibStatus status = QLibProcess::CreateAsUserAndGetOutput(L"DOM", L"sapadm", Password, line.c_str(), nullptr,
                                                              &output, &size, &exitCode, 0, 0);
    EXPECT_TRUE(status.Is(QLIB_ERR_WIN32, ERROR_NOT_ENOUGH_MEMORY));
    EXPECT_TRUE(Traced("QLibProcess::CreateAsUserAndGetOutput", L"(8) ReadFile failed."));
    EXPECT_EQ(nullptr, output);
    EXPECT_EQ(6u, exitCode);
}

TEST_F(QLibProcessCreateTest, FailedPipeStartsNothing)
{
    ImportHook pipe(GetModuleHandleW(nullptr), "CreatePipe", reinterpret_cast<const void*>(&FailCreatePipe));
    std::wstring started = TestChild::UniqueName(L"PipeStarted");
    std::wstring line = Child(L"--signal " + started);
    uint8_t buffer[16];
    QLibStatus status = QLibProcess::CreateAndGetOutput(line.c_str(), nullptr, buffer, sizeof(buffer), nullptr);
    EXPECT_TRUE(status.Is(QLIB_ERR_WIN32, ERROR_NO_SYSTEM_RESOURCES));
    EXPECT_TRUE(Traced("QLibProcess::CreateAndGetOutput", L"(1450) CreatePipe failed."));
    HANDLE event = OpenEventW(SYNCHRONIZE, FALSE, started.c_str());
    EXPECT_EQ(nullptr, event) << "the child ran";
    if (event != nullptr)
        CloseHandle(event);
}

} // namespace
