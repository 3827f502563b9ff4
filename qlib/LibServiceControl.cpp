// The service object's control and the waits for its states.

#include "LibService.h"

#include "LibAssert.h"
#include "LibLogger.h"
#include "LibOwners.h"
#include "LibProcess.h"
#include "LibServiceParts.h"

QLibStatus QLibService::QueryState(const char* function, DWORD* state)
{
    QLIB_ASSERT(IsValid());
    SERVICE_STATUS current = {};
    if (!QueryServiceStatus(Service(), &current)) {
        QLibStatus status = QLibLastError();
        QLIB_TRACE(function, L"(%d) Failed to query service status of %s.", status.GetCode(), m_ServiceName.c_str());
        return status;
    }
    *state = current.dwCurrentState;
    return QLibOk();
}

QLibStatus QLibService::Start(uint32_t argc, const wchar_t** argv)
{
    DWORD state = 0;
    QLibStatus status = QueryState("QLibService::Start", &state);
    if (status.IsFailed() || state == SERVICE_RUNNING)
        return status;
    if (!StartServiceW(Service(), argc, argv)) {
        status = QLibLastError();
        QLIB_TRACE("QLibService::Start", L"(%d) Failed to start the service %s. State=%d.", status.GetCode(),
                   m_ServiceName.c_str(), state);
    }
    return status;
}

QLibStatus QLibService::WaitForStart(uint32_t timeout)
{
    return WaitForServiceStatus(SERVICE_RUNNING, SERVICE_START_PENDING, timeout);
}

QLibStatus QLibService::Stop()
{
    DWORD state = 0;
    QLibStatus status = QueryState("QLibService::Stop", &state);
    if (status.IsFailed() || state == SERVICE_STOPPED)
        return status;
    SERVICE_STATUS current = {};
    if (!ControlService(Service(), SERVICE_CONTROL_STOP, &current)) {
        status = QLibLastError();
        QLIB_TRACE("QLibService::Stop", L"(%d) ControlService failed for service %s. state = %d.", status.GetCode(),
                   m_ServiceName.c_str(), state);
    }
    return status;
}

QLibStatus QLibService::WaitForStop(uint32_t timeout)
{
    return WaitForServiceStatus(SERVICE_STOPPED, SERVICE_STOP_PENDING, timeout);
}

// Timed waits poll every 50 ms with a last, shorter sleep, so that a wait that runs out has slept
// exactly the timeout; the state first found is compared with the target only.
QLibStatus QLibService::WaitForServiceStatus(uint32_t targetState, uint32_t pendingState, uint32_t timeout)
{
    const char* function = "QLibService::WaitForServiceStatus";
    DWORD state = 0;
    QLibStatus status = QueryState(function, &state);
    if (status.IsFailed() || state == targetState)
        return status;

    if (timeout == NoTimeLimit) {
        for (;;) {
            if (state != pendingState)
                return QLibServiceStateFailure(1);
            Sleep(100);
            status = QueryState(function, &state);
            if (status.IsFailed() || state == targetState)
                return status;
        }
    }

    const uint32_t slice = 50;
    const uint32_t fullPolls = timeout / slice;
    const uint32_t rest = timeout % slice;
    const uint32_t polls = fullPolls + (rest > 0 ? 1 : 0);
    for (uint32_t poll = 1; poll <= polls; ++poll) {
        Sleep(poll <= fullPolls ? slice : rest);
        status = QueryState(function, &state);
        if (status.IsFailed() || state == targetState)
            return status;
        if (state != pendingState)
            return QLibServiceStateFailure(1);
    }
    QLIB_TRACE(function, L"Wait timed out for service %s", m_ServiceName.c_str());
    return QLibWin32Failure(WAIT_TIMEOUT);
}

QLibStatus QLibService::IsServiceRunning(uint32_t* running)
{
    DWORD state = 0;
    QLibStatus status = QueryState("QLibService::IsServiceRunning", &state);
    if (status.IsOK())
        *running = state == SERVICE_RUNNING ? 1 : 0;
    return status;
}

QLibStatus QLibService::IsServiceStopped(uint32_t* stopped)
{
    DWORD state = 0;
    QLibStatus status = QueryState("QLibService::IsServiceStopped", &state);
    if (status.IsOK())
        *stopped = state == SERVICE_STOPPED ? 1 : 0;
    return status;
}

// The process of a service that is not stopped, opened with the given access; a stopped service
// leaves the process object closed.
QLibStatus QLibService::OpenServiceProcess(const char* function, uint32_t access, QLibProcess& process, DWORD* state)
{
    QLibHeapOwner<BYTE> buffer;
    QLibStatus status = QueryStatusEx(SC_STATUS_PROCESS_INFO, buffer.put());
    if (status.IsFailed()) {
        QLIB_TRACE(function, L"(%d) Failed to get the service status struct for %s.", status.GetCode(),
                   m_ServiceName.c_str());
        return status;
    }
    const auto* info = reinterpret_cast<const SERVICE_STATUS_PROCESS*>(buffer.get());
    *state = info->dwCurrentState;
    if (info->dwCurrentState != SERVICE_STOPPED) {
        status = process.Open(info->dwProcessId, FALSE, access);
        if (status.IsFailed())
            QLIB_TRACE(function, L"(%d) Failed to open pid = %d. svc = %s. state=%d", status.GetCode(),
                       info->dwProcessId, m_ServiceName.c_str(), info->dwCurrentState);
    }
    return status;
}

// Without a process handle nothing is terminated: the open failure is the answer.
QLibStatus QLibService::Kill(uint32_t exitCode)
{
    QLIB_ASSERT(IsValid());
    QLibProcess process;
    DWORD state = 0;
    QLibStatus status = OpenServiceProcess("QLibService::Kill", PROCESS_TERMINATE, process, &state);
    if (status.IsFailed() || !process.IsValid())
        return status;
    if (!TerminateProcess(process.GetHandle(), exitCode)) {
        status = QLibLastError();
        QLIB_TRACE("QLibService::Kill", L"(%d) Failed to terminate pid = %d. svc = %s. state=%d", status.GetCode(),
                   process.GetPid(), m_ServiceName.c_str(), state);
    }
    return status;
}

uint32_t QLibService::TimeoutFromTimeLeft(int64_t timeLeft)
{
    if (timeLeft <= 0)
        return 0;
    if (timeLeft >= static_cast<int64_t>(NoTimeLimit))
        return NoTimeLimit - 1;
    return static_cast<uint32_t>(timeLeft);
}
