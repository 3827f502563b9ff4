#pragma once
// Helpers for tests against the real service manager: a test service installed under a unique name and
// removed again, the trace of the calling thread, and redirection of the test program's own imports.

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <sstream>
#include <string>

#include "ImportHook.h"
#include "LibLogger.h"

// Redirects every import of one function (by name, from whichever DLL) of the test program itself while
// the object lives. The library is linked in statically, so its calls go through these imports too.
class ImportPatch : public ImportHook {
public:
    ImportPatch(const char* function, void* replacement) : ImportHook(GetModuleHandleW(nullptr), function, replacement)
    {
        EXPECT_TRUE(Active()) << "the test program does not import " << function;
    }
};

// Counts the library's pauses (its Sleep calls, through the test program's import) while the object lives; each
// pause still passes for real. A wait is judged by the pauses it made, never by a busy machine's clock.
class PauseCount {
public:
    PauseCount() : m_patch("Sleep", reinterpret_cast<void*>(&Pause))
    {
        s_pauses = 0;
        s_sleptMs = 0;
    }
    int Pauses() const { return s_pauses; }
    int64_t SleptMs() const { return s_sleptMs; }

private:
    static void WINAPI Pause(DWORD ms)
    {
        ++s_pauses;
        s_sleptMs += ms;
        SleepEx(ms, FALSE);
    }

    static inline std::atomic<int> s_pauses{0};
    static inline std::atomic<int64_t> s_sleptMs{0};
    ImportPatch m_patch;
};

// The calling thread's trace, opened empty.
class ThreadTrace {
public:
    ThreadTrace()
    {
        g_QLibLogQueue.OpenThreadQueue();
        g_QLibLogQueue.EnableThreadQueue();
        g_QLibLogQueue.ClearThreadQueue();
    }
    ~ThreadTrace() { g_QLibLogQueue.ClearThreadQueue(); }

    // True when a record of the function holds the text.
    bool Has(const char* function, const std::wstring& text) const
    {
        for (const auto& record : g_QLibLogQueue.FindThreadQueue(GetCurrentThreadId())->GetRecords())
            if (record.function == function && record.message.find(text) != std::wstring::npos)
                return true;
        return false;
    }
    size_t Count() const { return g_QLibLogQueue.FindThreadQueue(GetCurrentThreadId())->GetRecords().size(); }
};

inline ::testing::AssertionResult IsStatus(const QLibStatus& actual, uint32_t type, uint32_t code)
{
    if (actual.Is(type, code))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "status (" << actual.GetType() << ", " << actual.GetCode()
                                         << "), expected (" << static_cast<int32_t>(type) << ", " << code << ")";
}

inline ::testing::AssertionResult IsOK(const QLibStatus& actual)
{
    return IsStatus(actual, QLIB_ERR_NONE, 0);
}

inline int64_t NowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// Polls the condition every 20 ms until it holds or the time is up.
inline bool WaitUntil(const std::function<bool()>& condition, int64_t limitMs)
{
    for (int64_t end = NowMs() + limitMs;; Sleep(20)) {
        if (condition())
            return true;
        if (NowMs() > end)
            return false;
    }
}

inline std::wstring ProgramFolder()
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH - 1);
    std::wstring folder = path;
    return folder.substr(0, folder.rfind(L'\\') + 1);
}

// The standins' test service, installed (demand start, LocalSystem) under a name unique to this process,
// with a log and a pid file of its own; stopped, killed if need be, and deleted on destruction.
class TestService {
public:
    explicit TestService(const std::wstring& options = L"")
    {
        static int counter = 0;
        m_Name = L"QLibSvcTest_" + std::to_wstring(GetCurrentProcessId()) + L"_" + std::to_wstring(++counter);
        m_DisplayName = L"QLib Test Service " + m_Name.substr(12);
        wchar_t temp[MAX_PATH] = {};
        GetTempPathW(MAX_PATH - 1, temp);
        m_LogPath = std::wstring(temp) + m_Name + L".log";
        m_PidPath = std::wstring(temp) + m_Name + L".pid";
        DeleteFileW(m_LogPath.c_str());
        DeleteFileW(m_PidPath.c_str());
        m_BinaryPath = L"\"" + ProgramFolder() + L"testservice.exe\" --log=" + m_LogPath + L" --pid-file=" + m_PidPath
            + (options.empty() ? L"" : L" " + options);
        m_Manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        m_Service = CreateServiceW(m_Manager, m_Name.c_str(), m_DisplayName.c_str(), SERVICE_ALL_ACCESS,
                                   SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                   m_BinaryPath.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
        EXPECT_NE(nullptr, m_Service) << "CreateService failed: " << GetLastError();
    }

    ~TestService()
    {
        if (m_Service != nullptr) {
            // A service that takes no stop control now (pending, or refusing it) is killed at once.
            SERVICE_STATUS status = {};
            bool stopping = ControlService(m_Service, SERVICE_CONTROL_STOP, &status) || State() == SERVICE_STOP_PENDING;
            if (State() != SERVICE_STOPPED
                && !(stopping && WaitUntil([&] { return State() == SERVICE_STOPPED; }, 2000))) {
                EndProcess(ProcessId());
                EndProcess(ChildPid());
            }
            DeleteService(m_Service);
            CloseServiceHandle(m_Service);
        }
        EndProcess(ChildPid());
        CloseServiceHandle(m_Manager);
        DeleteFileW(m_LogPath.c_str());
        DeleteFileW(m_PidPath.c_str());
    }
    TestService(const TestService&) = delete;
    TestService& operator=(const TestService&) = delete;

    const wchar_t* Name() const { return m_Name.c_str(); }
    const wchar_t* DisplayName() const { return m_DisplayName.c_str(); }
    const std::wstring& BinaryPath() const { return m_BinaryPath; }
    SC_HANDLE Handle() const { return m_Service; }

    DWORD State() const
    {
        SERVICE_STATUS status = {};
        return QueryServiceStatus(m_Service, &status) ? status.dwCurrentState : 0;
    }
    DWORD ProcessId() const
    {
        SERVICE_STATUS_PROCESS status = {};
        DWORD needed = 0;
        return QueryServiceStatusEx(m_Service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof(status),
                                    &needed)
            ? status.dwProcessId
            : 0;
    }
    // Starts through the manager directly and waits until it runs, however loaded the machine.
    bool StartRunning()
    {
        return StartServiceW(m_Service, 0, nullptr)
            && WaitUntil([&] { return State() == SERVICE_RUNNING && ChildPidKnown(); }, 30000);
    }

    std::string Log() const { return ReadText(m_LogPath); }
    // Lines of the log that begin with the word.
    int LogCount(const std::string& line) const
    {
        std::istringstream lines(Log());
        int count = 0;
        for (std::string text; std::getline(lines, text);)
            count += text.rfind(line, 0) == 0 ? 1 : 0;
        return count;
    }
    DWORD ChildPid() const
    {
        std::istringstream lines(ReadText(m_PidPath));
        unsigned long service = 0, child = 0;
        lines >> service >> child;
        return child;
    }

private:
    bool ChildPidKnown() const { return !ReadText(m_PidPath).empty(); }

    static std::string ReadText(const std::wstring& path)
    {
        HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, 0, nullptr);
        std::string text;
        char chunk[4096];
        DWORD read = 0;
        while (file != INVALID_HANDLE_VALUE && ReadFile(file, chunk, sizeof(chunk), &read, nullptr) && read > 0)
            text.append(chunk, read);
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
        return text;
    }
    static void EndProcess(DWORD pid)
    {
        HANDLE process = pid ? OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid) : nullptr;
        if (process != nullptr) {
            TerminateProcess(process, 1);
            WaitForSingleObject(process, 2000);
            CloseHandle(process);
        }
    }

    std::wstring m_Name;
    std::wstring m_DisplayName;
    std::wstring m_LogPath;
    std::wstring m_PidPath;
    std::wstring m_BinaryPath;
    SC_HANDLE m_Manager = nullptr;
    SC_HANDLE m_Service = nullptr;
};
