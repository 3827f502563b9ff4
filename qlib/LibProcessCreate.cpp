// Starting programs, as the caller or as another user, and collecting their output.

#include <cstring>
#include <cwchar>
#include <string>

#include "LibAssert.h"
#include "LibChildRun.h"
#include "LibLogger.h"
#include "LibNtDll.h"
#include "LibOwners.h"
#include "LibProcess.h"
#include "LibUserLogon.h"

namespace {

constexpr const wchar_t* CreateProcessFailed = L"(%d) CreateProcess failed. CmdLine=%s";
constexpr const wchar_t* CreateProcessAsUserFailed = L"(%d) CreateProcessAsUser failed. CmdLine = %s. ";

// The system may write into the command line it is given, so it gets a copy; a null command line (the
// application name alone) stays null. Made on the process heap: a failure is a status, never an exception.
QLibStatus CopyCommandLine(const char* function, const wchar_t* commandLine, QLibHeapOwner<wchar_t>& copy)
{
    if (commandLine == nullptr)
        return QLibOk();
    size_t chars = wcslen(commandLine) + 1;
    QLibStatus status = QLibOk();
    copy.reset(static_cast<wchar_t*>(QLibHeapAlloc(chars * sizeof(wchar_t), status)));
    if (!copy) {
        QLIB_TRACE(function, L"(%d) HeapAlloc failed. Size=%d.", status.GetCode(),
                   static_cast<DWORD>(chars * sizeof(wchar_t)));
        return status;
    }
    wmemcpy(copy.get(), commandLine, chars);
    return QLibOk();
}

const wchar_t* Shown(const wchar_t* commandLine)
{
    return commandLine != nullptr ? commandLine : L"(null)";
}

// Logs in on the user for a caller that traces its failures under its own name.
QLibStatus Logon(const char* function, const wchar_t* domain, const wchar_t* userName, const wchar_t* password,
                 BOOL inheritEnvironment, QLibUserLogon& logon)
{
    static const wchar_t* const failed[] = {
        L"(%d) LogonUser failed. User=%s, Dom=%s",
        L"(%d) LoadUserProfileW failed. User=%s, Dom=%s",
        L"(%d) CreateEnvBlock failed. User=%s, Dom=%s",
    };
    QLibUserLogon::Step step = QLibUserLogon::LogonStep;
    QLibStatus status = logon.Open(domain, userName, password, inheritEnvironment, step);
    if (status.IsFailed())
        QLIB_TRACE(function, failed[step], status.GetCode(), userName, domain);
    return status;
}

// The status of a run, with the trace of the step that failed under the caller's name.
QLibStatus RunStatus(const QLibChildSpec& spec, const QLibChildResult& run)
{
    const char* function = spec.function;
    if (run.end == QLibChildEnd::TimedOut) {
        QLIB_TRACE(function, L"(%d) The program has not ended within %d ms.", WAIT_TIMEOUT,
                   static_cast<DWORD>(spec.timeLimit));
        return QLibFailure(QLIB_ERR_PROCESS_WAIT, WAIT_TIMEOUT);
    }
    if (run.failedCall == nullptr)
        return QLibOk();
    DWORD code = run.failure.GetCode();
    if (strcmp(run.failedCall, "CreateProcessAsUserW") == 0) {
        QLIB_TRACE(function, CreateProcessAsUserFailed, code, spec.commandLine);
    } else if (strcmp(run.failedCall, "CreateProcessW") == 0) {
        QLIB_TRACE("QLibProcess::Create", CreateProcessFailed, code, spec.commandLine);
        QLIB_TRACE(function, L"(%d) Failed to create process.", code);
    } else if (run.end == QLibChildEnd::WaitFailed) {
        QLIB_TRACE(function, L"(%d) Wait operation has failed.", code);
    } else {
        const char* call = strcmp(run.failedCall, "DuplicateHandle") == 0 ? "DupHandle" : run.failedCall;
        QLIB_TRACE(function, L"(%d) %S failed.", code, call);
    }
    return run.failure;
}

// The output runs take no limit from their callers, yet no wait may be endless: a program that has not ended
// within 10 minutes, the longest an entry point's budget runs by default, is taken as hung and ended.
constexpr int64_t OutputRunLimit = 10 * 60 * 1000;

QLibChildSpec Bounded(const char* function, const wchar_t* commandLine, const wchar_t* currentDirectory)
{
    QLibChildSpec spec;
    spec.function = function;
    spec.commandLine = commandLine;
    spec.currentDirectory = currentDirectory;
    spec.timeLimit = OutputRunLimit;
    return spec;
}

void StoreExitCode(const QLibChildResult& run, uint32_t* exitCode)
{
    if (exitCode != nullptr && run.end == QLibChildEnd::Exited)
        *exitCode = run.exitCode;
}

} // namespace

void QLibProcess::Take(HANDLE handle, uint32_t pid, uint32_t parentPid)
{
    (void)Close();
    Hold(handle);
    m_Pid = pid;
    m_ParentPid = parentPid;
}

QLibStatus QLibProcess::Create(const wchar_t* applicationName, const wchar_t* commandLine,
                               SECURITY_ATTRIBUTES* processAttributes, SECURITY_ATTRIBUTES* threadAttributes,
                               BOOL inheritHandles, DWORD creationFlags, void* environment,
                               const wchar_t* currentDirectory, STARTUPINFOW* startup, QLibProcess& process,
                               QLibThread& thread)
{
    QLibHeapOwner<wchar_t> copy;
    QLibStatus status = CopyCommandLine("QLibProcess::Create", commandLine, copy);
    if (status.IsFailed())
        return status;
    PROCESS_INFORMATION started = {};
    if (!CreateProcessW(applicationName, copy.get(), processAttributes, threadAttributes, inheritHandles, creationFlags,
                        environment, currentDirectory, startup, &started)) {
        status = QLibLastError();
        QLIB_TRACE("QLibProcess::Create", CreateProcessFailed, status.GetCode(), Shown(commandLine));
        return status;
    }
    process.Take(started.hProcess, started.dwProcessId, GetCurrentProcessId());
    thread.Take(started.hThread, started.dwThreadId, started.dwProcessId);
    return QLibOk();
}

// A failed start leaves both objects as they were: what they hold is the caller's and may be unrelated.
QLibStatus QLibProcess::CreateSuspended(const wchar_t* applicationName, const wchar_t* commandLine,
                                        SECURITY_ATTRIBUTES* processAttributes, SECURITY_ATTRIBUTES* threadAttributes,
                                        BOOL inheritHandles, DWORD creationFlags, void* environment,
                                        const wchar_t* currentDirectory, STARTUPINFOW* startup, uint64_t,
                                        QLibProcess& process, QLibThread& thread)
{
    return Create(applicationName, commandLine, processAttributes, threadAttributes, inheritHandles,
                  creationFlags | CREATE_SUSPENDED, environment, currentDirectory, startup, process, thread);
}

QLibStatus QLibProcess::CreateAsUser(const wchar_t* domain, const wchar_t* userName, const wchar_t* password,
                                     const wchar_t* applicationName, const wchar_t* commandLine,
                                     SECURITY_ATTRIBUTES* processAttributes, SECURITY_ATTRIBUTES* threadAttributes,
                                     BOOL inheritHandles, DWORD creationFlags, const wchar_t* currentDirectory,
                                     STARTUPINFOW* startup, QLibProcess& process, QLibThread& thread)
{
    const char* function = "QLibProcess::CreateAsUser";
    QLibUserLogon logon;
    QLibStatus status = Logon(function, domain, userName, password, FALSE, logon);
    if (status.IsFailed())
        return status;
    QLibHeapOwner<wchar_t> copy;
    status = CopyCommandLine(function, commandLine, copy);
    if (status.IsFailed())
        return status;
    PROCESS_INFORMATION started = {};
    if (!CreateProcessAsUserW(logon.GetToken(), applicationName, copy.get(), processAttributes, threadAttributes,
                              inheritHandles, creationFlags | CREATE_UNICODE_ENVIRONMENT, logon.GetEnvironment(),
                              currentDirectory, startup, &started)) {
        status = QLibLastError();
        QLIB_TRACE(function, CreateProcessAsUserFailed, status.GetCode(), Shown(commandLine));
        return status;
    }
    process.Take(started.hProcess, started.dwProcessId, GetCurrentProcessId());
    thread.Take(started.hThread, started.dwThreadId, started.dwProcessId);
    return QLibOk();
}

QLibStatus QLibProcess::CreateAndGetOutput(const wchar_t* commandLine, const wchar_t* currentDirectory, uint8_t* buffer,
                                           uint32_t bufferSize, uint32_t* exitCode)
{
    QLIB_ASSERT(buffer != nullptr && bufferSize >= 3);
    QLibChildSpec spec = Bounded("QLibProcess::CreateAndGetOutput", commandLine, currentDirectory);
    spec.outputLimit = bufferSize - 2;
    QLibChildResult run = QLibRunChild(spec);
    memset(buffer, 0, bufferSize);
    memcpy(buffer, run.output.data(), run.output.size());
    StoreExitCode(run, exitCode);
    return RunStatus(spec, run);
}

QLibStatus QLibProcess::CreateAsUserAndGetOutput(const wchar_t* domain, const wchar_t* userName,
                                                 const wchar_t* password, const wchar_t* commandLine,
                                                 const wchar_t* currentDirectory, wchar_t** output,
                                                 uint32_t* outputSize, uint32_t* exitCode, DWORD creationFlags,
                                                 uint32_t)
{
    const char* function = "QLibProcess::CreateAsUserAndGetOutput";
    *output = nullptr;
    *outputSize = 0;
    QLibUserLogon logon;
    QLibStatus status = Logon(function, domain, userName, password, TRUE, logon);
    if (status.IsFailed())
        return status;
    QLibChildSpec spec = Bounded(function, commandLine, currentDirectory);
    spec.token = logon.GetToken();
    spec.environment = logon.GetEnvironment();
    spec.creationFlags = creationFlags;
    QLibChildResult run = QLibRunChild(spec);
    StoreExitCode(run, exitCode);
    status = RunStatus(spec, run);
    if (status.IsFailed())
        return status;
    return QLibChildOutputText(function, run.output, output, outputSize);
}
