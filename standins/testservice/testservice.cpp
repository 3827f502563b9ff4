// testservice: a real own-process Windows service for tests that drive the service control manager.
//
// Install it with a binary path of the form
//     "<path>\testservice.exe" [options]
// The options may also be given as start arguments (StartServiceW); those come after the ones of the
// binary path, so they win. Times are in milliseconds.
//
//   --start-delay=MS    stay MS in START_PENDING before RUNNING (default 0)
//   --stop-delay=MS     stay MS in STOP_PENDING before STOPPED (default 0)
//   --stop-report-delay=MS  once told to stop, stay MS in the old state before reporting STOP_PENDING
//   --hang-start        stay in START_PENDING until a stop control arrives (or the process is killed)
//   --hang-stop         once stopping, stay in STOP_PENDING until the process is killed
//   --fail-start        after the start delay, report STOPPED instead of RUNNING
//   --run-for=MS        stop by itself MS after reaching RUNNING
//   --wait-hint=MS      the dwWaitHint of every pending report (default: delay + 1000, then 1000)
//   --freeze-checkpoint while pending, report the pending state once and never move the checkpoint on
//   --no-stop           do not accept SERVICE_CONTROL_STOP (ControlService then fails)
//   --exit-code=N       Win32 exit code reported with STOPPED, also the process's exit code
//   --specific-exit=N   report ERROR_SERVICE_SPECIFIC_ERROR with service-specific code N
//   --child[=CMDLINE]   on RUNNING start a child process: CMDLINE, or this program with --idle
//   --stop-child        terminate the child when the service stops (default: leave it running)
//   --stop-instance=DIR when the service stops, set the stop event of the SAP stand-ins' instance in DIR
//   --pid-file=PATH     on RUNNING write "<service pid>\r\n<child pid or 0>\r\n" to PATH
//   --log=PATH          append one line per event: "start <args>", "state <n>" (on a change), "control <n>",
//                       "child <pid>"
//
// Run outside the service manager:
//   testservice.exe --idle[=MS] [--exit-code=N]   sleep MS (default: for ever), then exit with N
//
// Unknown options are logged ("ignored <arg>") and otherwise ignored.

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>

#include "SapStandin.h"

namespace {

struct Options {
    DWORD startDelay = 0;
    DWORD stopDelay = 0;
    DWORD stopReportDelay = 0;
    bool hangStart = false;
    bool hangStop = false;
    bool failStart = false;
    DWORD runFor = INFINITE;
    bool waitHintSet = false;
    DWORD waitHint = 0;
    bool freezeCheckpoint = false;
    bool acceptStop = true;
    DWORD exitCode = 0;
    DWORD specificExit = 0;
    bool child = false;
    std::wstring childCmd;
    bool stopChild = false;
    std::wstring stopInstance;
    std::wstring pidFile;
    std::wstring logFile;
    bool idle = false;
    DWORD idleFor = INFINITE;
    std::wstring ignored;
};

Options g_Options;
SERVICE_STATUS_HANDLE g_StatusHandle = nullptr;
SERVICE_STATUS g_Status = {};
CRITICAL_SECTION g_StatusLock;
HANDLE g_StopEvent = nullptr;

// Returns the value of "--name=value" when arg starts with prefix "--name=".
bool TakeValue(const wchar_t* arg, const wchar_t* prefix, std::wstring& value)
{
    size_t length = wcslen(prefix);
    if (wcsncmp(arg, prefix, length) != 0)
        return false;
    value = arg + length;
    return true;
}

DWORD ToNumber(const std::wstring& text)
{
    return static_cast<DWORD>(wcstoul(text.c_str(), nullptr, 10));
}

void ParseOne(const wchar_t* arg, Options& options)
{
    std::wstring value;
    if (TakeValue(arg, L"--start-delay=", value))
        options.startDelay = ToNumber(value);
    else if (TakeValue(arg, L"--stop-delay=", value))
        options.stopDelay = ToNumber(value);
    else if (TakeValue(arg, L"--stop-report-delay=", value))
        options.stopReportDelay = ToNumber(value);
    else if (wcscmp(arg, L"--hang-start") == 0)
        options.hangStart = true;
    else if (wcscmp(arg, L"--hang-stop") == 0)
        options.hangStop = true;
    else if (wcscmp(arg, L"--fail-start") == 0)
        options.failStart = true;
    else if (TakeValue(arg, L"--run-for=", value))
        options.runFor = ToNumber(value);
    else if (TakeValue(arg, L"--wait-hint=", value)) {
        options.waitHintSet = true;
        options.waitHint = ToNumber(value);
    } else if (wcscmp(arg, L"--freeze-checkpoint") == 0)
        options.freezeCheckpoint = true;
    else if (wcscmp(arg, L"--no-stop") == 0)
        options.acceptStop = false;
    else if (TakeValue(arg, L"--exit-code=", value))
        options.exitCode = ToNumber(value);
    else if (TakeValue(arg, L"--specific-exit=", value))
        options.specificExit = ToNumber(value);
    else if (wcscmp(arg, L"--child") == 0)
        options.child = true;
    else if (TakeValue(arg, L"--child=", value)) {
        options.child = true;
        options.childCmd = value;
    } else if (wcscmp(arg, L"--stop-child") == 0)
        options.stopChild = true;
    else if (TakeValue(arg, L"--stop-instance=", value))
        options.stopInstance = value;
    else if (TakeValue(arg, L"--pid-file=", value))
        options.pidFile = value;
    else if (TakeValue(arg, L"--log=", value))
        options.logFile = value;
    else if (wcscmp(arg, L"--idle") == 0)
        options.idle = true;
    else if (TakeValue(arg, L"--idle=", value)) {
        options.idle = true;
        options.idleFor = ToNumber(value);
    } else
        options.ignored += std::wstring(L" ") + arg;
}

void ParseAll(int argc, wchar_t** argv, Options& options)
{
    for (int i = 0; i < argc; ++i)
        ParseOne(argv[i], options);
}

void WriteFileText(const std::wstring& path, DWORD disposition, DWORD access, const std::string& text)
{
    HANDLE file = CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, disposition,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
}

void LogLine(const std::wstring& line)
{
    if (g_Options.logFile.empty())
        return;
    std::string text;
    for (wchar_t c : line)
        text += c < 0x80 ? static_cast<char>(c) : '?';
    text += "\r\n";
    WriteFileText(g_Options.logFile, OPEN_ALWAYS, FILE_APPEND_DATA, text);
}

void LogNumber(const wchar_t* what, DWORD number)
{
    LogLine(std::wstring(what) + L" " + std::to_wstring(number));
}

void Report(DWORD state, DWORD waitHint)
{
    EnterCriticalSection(&g_StatusLock);
    bool changed = g_Status.dwCurrentState != state;
    g_Status.dwCurrentState = state;
    g_Status.dwWaitHint = g_Options.waitHintSet ? g_Options.waitHint : waitHint;
    bool pending = state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING;
    g_Status.dwCheckPoint = pending ? g_Status.dwCheckPoint + 1 : 0;
    if (state == SERVICE_RUNNING)
        g_Status.dwControlsAccepted = (g_Options.acceptStop ? SERVICE_ACCEPT_STOP : 0) | SERVICE_ACCEPT_SHUTDOWN;
    else
        g_Status.dwControlsAccepted = 0;
    if (state == SERVICE_STOPPED) {
        g_Status.dwWin32ExitCode = g_Options.specificExit ? ERROR_SERVICE_SPECIFIC_ERROR : g_Options.exitCode;
        g_Status.dwServiceSpecificExitCode = g_Options.specificExit;
    }
    // Logged first: once the manager hears of the stop, the main thread returns and ends the options.
    if (changed)
        LogNumber(L"state", state);
    SetServiceStatus(g_StatusHandle, &g_Status);
    LeaveCriticalSection(&g_StatusLock);
}

// Stays in a pending state for the given time (or until the stop event when stopOnEvent), moving the checkpoint on.
void Pend(DWORD state, DWORD delay, bool stopOnEvent)
{
    const DWORD slice = 100;
    DWORD left = delay;
    while (left > 0) {
        DWORD step = left == INFINITE ? slice : (left < slice ? left : slice);
        if (stopOnEvent && WaitForSingleObject(g_StopEvent, step) == WAIT_OBJECT_0)
            return;
        if (!stopOnEvent)
            Sleep(step);
        if (left != INFINITE)
            left -= step;
        if (!g_Options.freezeCheckpoint)
            Report(state, slice * 10);
    }
}

DWORD WINAPI Handler(DWORD control, DWORD, void*, void*)
{
    LogNumber(L"control", control);
    switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
        SetEvent(g_StopEvent);
        return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
        return NO_ERROR;
    default:
        return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

HANDLE StartChild(DWORD& childPid)
{
    std::wstring command = g_Options.childCmd;
    if (command.empty()) {
        wchar_t self[MAX_PATH] = {};
        GetModuleFileNameW(nullptr, self, MAX_PATH - 1);
        command = std::wstring(L"\"") + self + L"\" --idle";
    }
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
        LogNumber(L"child-failed", GetLastError());
        return nullptr;
    }
    CloseHandle(info.hThread);
    childPid = info.dwProcessId;
    LogNumber(L"child", childPid);
    return info.hProcess;
}

// The instance's processes are not the service's children: they learn of the stop through their event.
void StopInstance(const std::wstring& instanceDir)
{
    HANDLE stop = CreateEventW(nullptr, TRUE, FALSE, SapStopEventName(instanceDir).c_str());
    if (stop == nullptr)
        return;
    SetEvent(stop);
    LogLine(L"stop-instance " + instanceDir);
    CloseHandle(stop);
}

void WritePidFile(DWORD childPid)
{
    if (g_Options.pidFile.empty())
        return;
    std::string text = std::to_string(GetCurrentProcessId()) + "\r\n" + std::to_string(childPid) + "\r\n";
    WriteFileText(g_Options.pidFile, CREATE_ALWAYS, GENERIC_WRITE, text);
}

void WINAPI ServiceMain(DWORD argc, wchar_t** argv)
{
    // argv[0] is the service's name; the start arguments follow.
    if (argc > 1)
        ParseAll(static_cast<int>(argc) - 1, argv + 1, g_Options);
    g_StatusHandle = RegisterServiceCtrlHandlerExW(argc > 0 ? argv[0] : L"", Handler, nullptr);
    if (!g_StatusHandle)
        return;
    std::wstring startLine = L"start";
    for (DWORD i = 1; i < argc; ++i)
        startLine += std::wstring(L" ") + argv[i];
    LogLine(startLine);
    if (!g_Options.ignored.empty())
        LogLine(L"ignored" + g_Options.ignored);
    g_Status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;

    Report(SERVICE_START_PENDING, g_Options.startDelay + 1000);
    Pend(SERVICE_START_PENDING, g_Options.hangStart ? INFINITE : g_Options.startDelay, g_Options.hangStart);
    if (g_Options.failStart) {
        Report(SERVICE_STOPPED, 0);
        return;
    }

    HANDLE child = nullptr;
    if (WaitForSingleObject(g_StopEvent, 0) != WAIT_OBJECT_0) {
        Report(SERVICE_RUNNING, 0);
        DWORD childPid = 0;
        if (g_Options.child)
            child = StartChild(childPid);
        WritePidFile(childPid);
        WaitForSingleObject(g_StopEvent, g_Options.runFor);
    }

    if (!g_Options.stopInstance.empty())
        StopInstance(g_Options.stopInstance);
    Sleep(g_Options.stopReportDelay);
    Report(SERVICE_STOP_PENDING, g_Options.stopDelay + 1000);
    Pend(SERVICE_STOP_PENDING, g_Options.hangStop ? INFINITE : g_Options.stopDelay, false);
    if (child) {
        if (g_Options.stopChild)
            TerminateProcess(child, 0);
        CloseHandle(child);
    }
    Report(SERVICE_STOPPED, 0);
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    ParseAll(argc - 1, argv + 1, g_Options);
    if (g_Options.idle) {
        Sleep(g_Options.idleFor);
        return static_cast<int>(g_Options.exitCode);
    }
    InitializeCriticalSection(&g_StatusLock);
    g_StopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    wchar_t name[] = L"testservice";
    SERVICE_TABLE_ENTRYW table[] = {{name, ServiceMain}, {nullptr, nullptr}};
    if (!StartServiceCtrlDispatcherW(table)) {
        DWORD error = GetLastError();
        fwprintf(stderr, L"testservice: not started by the service manager (%lu); use --idle to run alone.\n", error);
        return static_cast<int>(error);
    }
    return static_cast<int>(g_Options.specificExit ? ERROR_SERVICE_SPECIFIC_ERROR : g_Options.exitCode);
}
