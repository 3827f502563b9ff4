// The services that depend on a service: listed, and stopped depth first with a wait for all of them.

#include "LibService.h"

#include "LibAssert.h"
#include "LibFetchSized.h"
#include "LibLogger.h"
#include "LibOwners.h"
#include "LibServiceParts.h"

namespace {

// The failures of a dependent's own dependents, as "key - code, key - code".
std::wstring JoinFailures(const std::map<std::wstring, QLibStatus>& failures)
{
    std::wstring text;
    for (const auto& failure : failures) {
        if (!text.empty())
            text += L", ";
        text += failure.first + L" - " + std::to_wstring(failure.second.GetCode());
    }
    return text;
}

} // namespace

QLibStatus QLibService::EnumDependents(uint32_t serviceState, ENUM_SERVICE_STATUSW** dependents, uint32_t* count)
{
    QLIB_ASSERT(IsValid());
    *count = 0;
    DWORD found = 0;
    QLibSizedBlock list;
    QLibSizedCall sized;
    sized.call = [&] {
        return QLibCallResult(EnumDependentServicesW(Service(), serviceState, list.Get<ENUM_SERVICE_STATUSW>(),
                                                     list.size, &list.size, &found));
    };
    sized.moreData = ERROR_MORE_DATA;
    sized.sizeQuerySuccess = QLibSizeQuerySuccess::Empty;
    sized.traceFailure = [&](DWORD code, bool second) {
        QLIB_TRACE("QLibService::EnumDependents",
                   second ? L"(%d) EnumDependentServices failed for svc = %s."
                          : L"(%d) EnumDependentServices failed for svc = %s",
                   code, m_ServiceName.c_str());
    };
    sized.function = "QLibService::EnumDependents";
    sized.allocFailedFormat = QLibServiceAllocFailed;
    QLibStatus status = QLibFetchSized(sized, {&list});
    *dependents = list.Release<ENUM_SERVICE_STATUSW>();
    if (status.IsOK())
        *count = found;
    return status;
}

QLibStatus QLibService::StopAllDependentServices(uint32_t timeout, std::map<std::wstring, QLibStatus>& failures)
{
    QLibHeapOwner<ENUM_SERVICE_STATUSW> dependents;
    uint32_t count = 0;
    QLibStatus status = EnumDependents(SERVICE_ACTIVE, dependents.put(), &count);
    if (status.IsFailed()) {
        QLIB_TRACE("QLibService::StopAllDependentServices",
                   L"Unable to enumerate services dependant on database service");
        return status;
    }
    if (count == 0)
        return status;
    // Each failure is kept in failures; the wait below still sees every dependent.
    for (uint32_t i = 0; i < count; ++i)
        (void)StopDependent(dependents.get()[i], timeout, failures);
    return WaitForDependents(dependents.get(), count, timeout, failures);
}

// Depth first: a dependent is stopped only when everything that depends on it could be stopped.
QLibStatus QLibService::StopDependent(const ENUM_SERVICE_STATUSW& dependent, uint32_t timeout,
                                      std::map<std::wstring, QLibStatus>& failures)
{
    const char* function = "QLibService::StopAllDependentServices";
    QLibService service;
    QLibStatus status = service.Open(dependent.lpServiceName, SERVICE_ALL_ACCESS, nullptr);
    if (status.IsFailed()) {
        QLIB_TRACE(function, L"Cannot Open Service handle for %s (Windows Error Code = %d)", dependent.lpDisplayName,
                   status.GetCode());
        failures[dependent.lpServiceName] = status;
        return status;
    }
    std::map<std::wstring, QLibStatus> own;
    status = service.StopAllDependentServices(timeout, own);
    if (status.IsOK() || own.empty()) {
        status = service.Stop();
        if (status.IsFailed()) {
            QLIB_TRACE(function, L"Cannot Stop Parent Service %s", dependent.lpDisplayName);
            failures[dependent.lpServiceName] = status;
        }
        return status;
    }
    QLIB_TRACE(function, L"Cannot Stop Parent Services of the service %s, Service - error codes : %s",
               dependent.lpDisplayName, JoinFailures(own).c_str());
    failures[dependent.lpServiceName] = status;
    return status;
}

// A dependent that failed counts as done for the wait, but never as a success of the whole.
QLibStatus QLibService::WaitForDependents(const ENUM_SERVICE_STATUSW* dependents, uint32_t count, uint32_t timeout,
                                          const std::map<std::wstring, QLibStatus>& failures)
{
    const char* function = "QLibService::StopAllDependentServices";
    uint32_t failed = 0;
    for (uint32_t i = 0; i < count; ++i)
        failed += failures.count(dependents[i].lpServiceName) ? 1 : 0;
    QLibStatus done = failed > 0 ? QLibServiceStateFailure(ERROR_DEPENDENT_SERVICES_RUNNING) : QLibOk();
    if (failed == count || timeout == 0)
        return done;

    for (int64_t remaining = timeout; remaining > 0; remaining -= 100) {
        Sleep(100);
        uint32_t finished = failed;
        for (uint32_t i = 0; i < count; ++i) {
            if (failures.count(dependents[i].lpServiceName))
                continue;
            QLibService service;
            if (service.Open(dependents[i].lpServiceName, SERVICE_ALL_ACCESS, nullptr).IsFailed()) {
                QLIB_TRACE(function, L"Failed to open service %s", dependents[i].lpDisplayName);
                continue;
            }
            uint32_t stopped = 0;
            if (service.IsServiceStopped(&stopped).IsFailed())
                QLIB_TRACE(function, L"Failed to check if service %s has stopped ", dependents[i].lpServiceName);
            finished += stopped;
        }
        if (finished == count)
            return done;
    }
    return failed > 0 ? done : QLibServiceStateFailure(ERROR_SERVICE_REQUEST_TIMEOUT);
}
