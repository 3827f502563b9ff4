#include <gtest/gtest.h>
#include <windows.h>
#include <wbemidl.h>

#include <cstring>
#include <cwchar>
#include <string>
#include <thread>
#include <vector>

#include "ClockHook.h"
#include "ImportHook.h"
#include "LibOwners.h"
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

// A WMI that never answers: a bounded wait for the next object times out; an endless one would never return,
// and fails here with an error of its own so that the test can end.
HRESULT STDMETHODCALLTYPE SilentNext(IEnumWbemClassObject*, LONG timeout, ULONG, IWbemClassObject**, ULONG* returned)
{
    *returned = 0;
    if (timeout != static_cast<LONG>(WBEM_INFINITE))
        return WBEM_S_TIMEDOUT;
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return WBEM_E_FAILED;
}

struct MultithreadedApartment {
    HRESULT joined = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    ~MultithreadedApartment()
    {
        if (SUCCEEDED(joined))
            CoUninitialize();
    }
};

// Every enumerator of the in-process WMI provider shares one Next slot: while this lives it points at SilentNext.
// The enumerator it was found through is held, so that the provider stays loaded.
class SilentWmi {
public:
    SilentWmi()
    {
        QLibBstrOwner nameSpace(SysAllocString(L"ROOT\\CIMV2"));
        QLibBstrOwner language(SysAllocString(L"WQL"));
        QLibBstrOwner query(SysAllocString(L"SELECT * from Win32_Process"));
        if (FAILED(CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                                    reinterpret_cast<void**>(m_locator.put())))
            || FAILED(m_locator.get()->ConnectServer(nameSpace.get(), nullptr, nullptr, nullptr, 0, nullptr, nullptr,
                                                     m_services.put()))
            || FAILED(m_services.get()->ExecQuery(language.get(), query.get(), WBEM_FLAG_FORWARD_ONLY, nullptr,
                                                  m_enumerator.put())))
            return;
        m_next = *reinterpret_cast<ULONG_PTR**>(m_enumerator.get()) + 4; // after IUnknown's three and Reset
        m_real = WriteImportSlot(m_next, reinterpret_cast<ULONG_PTR>(&SilentNext));
    }
    ~SilentWmi()
    {
        if (m_next != nullptr)
            WriteImportSlot(m_next, m_real);
    }
    bool Active() const { return m_next != nullptr; }

private:
    MultithreadedApartment m_apartment;
    QLibComOwner<IWbemLocator> m_locator;
    QLibComOwner<IWbemServices> m_services;
    QLibComOwner<IEnumWbemClassObject> m_enumerator;
    ULONG_PTR* m_next = nullptr;
    ULONG_PTR m_real = 0;
};

QLibStatus SilentWmiQuery()
{
    SilentWmi silent;
    EXPECT_TRUE(silent.Active());
    QLibProcess process(GetCurrentProcessId(), FALSE, PROCESS_QUERY_INFORMATION | PROCESS_VM_READ);
    wchar_t* text = nullptr;
    QLibStatus status = process.GetWMICmdLine(&text);
    HeapText owned(text);
    return status;
}

// The output runs take no limit: the clock passes their bound while the child still runs.
QLibStatus RunPastTheBound(QLibStatus (*run)(const wchar_t* line))
{
    ClockHook clock(GetModuleHandleW(nullptr));
    std::wstring started = TestChild::UniqueName(L"Bounded");
    QLibHandleOwner event(CreateEventW(nullptr, TRUE, FALSE, started.c_str()));
    std::thread late([&] {
        if (WaitForSingleObject(event.get(), 30000) == WAIT_OBJECT_0)
            clock.Advance(10 * 60 * 1000);
    });
    QLibStatus status = run(Child(L"--signal " + started + L" --sleep 20000").c_str());
    late.join();
    return status;
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

// Windows takes a null command line as the application name alone: it is passed on as null.
TEST_F(QLibProcessCreateTest, NullCommandLineRunsTheApplicationAlone)
{
    LogonHook logon(GetModuleHandleW(nullptr), L"sapadm", L"DOM", Password);
    using Creator = QLibStatus (*)(const wchar_t*, QLibProcess&, QLibThread&);
    const struct {
        const char* function;
        Creator create;
        const wchar_t* failure;
    } rows[] = {
        {"QLibProcess::Create",
         [](const wchar_t* program, QLibProcess& process, QLibThread& thread) {
             return QLibProcess::Create(program, nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr, Startup(),
                                        process, thread);
         },
         L") CreateProcess failed. CmdLine=(null)"},
        {"QLibProcess::Create",
         [](const wchar_t* program, QLibProcess& process, QLibThread& thread) {
             QLibStatus status = QLibProcess::CreateSuspended(program, nullptr, nullptr, nullptr, FALSE, 0, nullptr,
                                                              nullptr, Startup(), 0, process, thread);
             if (status.IsOK())
                 ResumeThread(thread.GetHandle());
             return status;
         },
         L") CreateProcess failed. CmdLine=(null)"},
        {"QLibProcess::CreateAsUser",
         [](const wchar_t* program, QLibProcess& process, QLibThread& thread) {
             return QLibProcess::CreateAsUser(L"DOM", L"sapadm", Password, program, nullptr, nullptr, nullptr, FALSE, 0,
                                              nullptr, Startup(), process, thread);
         },
         L") CreateProcessAsUser failed. CmdLine = (null). "},
    };
    std::wstring program = TestChild::Path();
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::PrintToString(row.failure));
        QLibProcess process;
        QLibThread thread;
        ASSERT_TRUE(row.create(program.c_str(), process, thread).IsOK());
        ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process.GetHandle(), 10000));
        DWORD exitCode = 0xDEAD;
        EXPECT_TRUE(GetExitCodeProcess(process.GetHandle(), &exitCode));
        EXPECT_EQ(0u, exitCode) << "no option reached the child";

        QLibStatus status = row.create(L"Z:\\nowhere\\missing.exe", process, thread);
        EXPECT_EQ(QLIB_ERR_WIN32, status.GetType());
        EXPECT_TRUE(Traced(row.function, L"(" + std::to_wstring(status.GetCode()) + row.failure));
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

// No wait of the library is endless: each ends with its time-out once its bound has passed.
TEST_F(QLibProcessCreateTest, WaitsWithoutALimitOfTheCallerEndAtTheirBound)
{
    LogonHook logon(GetModuleHandleW(nullptr), L"sapadm", L"DOM", Password);
    const struct {
        const char* function;
        QLibStatus (*wait)();
        uint32_t type;
        const wchar_t* message;
    } rows[] = {
        {"QLibProcess::GetWMICmdLine", SilentWmiQuery, QLIB_ERR_WIN32,
         L"GetWMIGetCmdLine: Failed to execute Enumerator Next\n"},
        {"QLibProcess::CreateAndGetOutput",
         [] {
             return RunPastTheBound([](const wchar_t* line) {
                 uint8_t buffer[16];
                 return QLibProcess::CreateAndGetOutput(line, nullptr, buffer, sizeof(buffer), nullptr);
             });
         },
         QLIB_ERR_PROCESS_WAIT, L"(258) The program has not ended within 600000 ms."},
        {"QLibProcess::CreateAsUserAndGetOutput",
         [] {
             return RunPastTheBound([](const wchar_t* line) {
                 wchar_t* output = nullptr;
                 uint32_t size = 0;
                 return QLibProcess::CreateAsUserAndGetOutput(L"DOM", L"sapadm", Password, line, nullptr, &output,
                                                              &size, nullptr, 0, 0);
             });
         },
         QLIB_ERR_PROCESS_WAIT, L"(258) The program has not ended within 600000 ms."},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.function);
        QLibStatus status = row.wait();
        EXPECT_TRUE(status.Is(row.type, WAIT_TIMEOUT)) << status.GetType() << ", " << status.GetCode();
        EXPECT_TRUE(Traced(row.function, row.message));
    }
}

// A failed pipe starts nothing; a failed read fails the call, yet the child has run and its exit code holds.
TEST_F(QLibProcessCreateTest, FailedPipeCallFailsTheRun)
{
    const struct {
        const char* function;
        const void* replacement;
        DWORD error;
        bool started;
        uint32_t exitCode;
    } cases[] = {
        {"CreatePipe", reinterpret_cast<const void*>(&FailCreatePipe), ERROR_NO_SYSTEM_RESOURCES, false, 0xDEAD},
        {"ReadFile", reinterpret_cast<const void*>(&FailReadFile), ERROR_NOT_ENOUGH_MEMORY, true, 6},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.function);
        ImportHook hook(GetModuleHandleW(nullptr), c.function, c.replacement);
        std::wstring started = TestChild::UniqueName(L"RunStarted");
        QLibHandleOwner event(CreateEventW(nullptr, TRUE, FALSE, started.c_str()));
        std::wstring line = Child(L"--signal " + started + L" --out hello --exit 6");
        uint8_t buffer[16];
        uint32_t exitCode = 0xDEAD;
        QLibStatus status = QLibProcess::CreateAndGetOutput(line.c_str(), nullptr, buffer, sizeof(buffer), &exitCode);
        EXPECT_TRUE(status.Is(QLIB_ERR_WIN32, c.error));
        EXPECT_TRUE(Traced("QLibProcess::CreateAndGetOutput",
                           L"(" + std::to_wstring(c.error) + L") "
                               + std::wstring(c.function, c.function + strlen(c.function)) + L" failed."));
        EXPECT_EQ(c.started, WaitForSingleObject(event.get(), 0) == WAIT_OBJECT_0);
        EXPECT_EQ(c.exitCode, exitCode);
    }
}

} // namespace
