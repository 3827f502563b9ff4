#include "LibService.h"

#include <cwchar>
#include <vector>

#include "LibAssert.h"
#include "LibLogger.h"
#include "LibNtDll.h"
#include "LibOwners.h"
#include "LibProcess.h"
#include "LibSCM.h"

#include <sddl.h>
#include <userenv.h>

namespace {

// Code 1 marks a state that a wait did not expect; the dependents' stop reports Windows codes.
QLibStatus ServiceStateFailure(DWORD code)
{
    QLibStatus status;
    status.Set(QLIB_ERR_SERVICE_STATE, code);
    return status;
}

wchar_t* HeapCopy(const wchar_t* text, size_t length)
{
    auto* copy = static_cast<wchar_t*>(HeapAlloc(GetProcessHeap(), 0, (length + 1) * sizeof(wchar_t)));
    if (copy != nullptr) {
        wmemcpy(copy, text, length);
        copy[length] = L'\0';
    }
    return copy;
}

struct DestroyNativeEnvironment : QLibNonNull {
    static void Close(void* block) { (void)QLibNtDll().DestroyEnvironment(block); }
};

OSVERSIONINFOW WindowsVersion()
{
    OSVERSIONINFOW version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    GetVersionExW(&version);
    return version;
}

bool IsWindows2000()
{
    OSVERSIONINFOW version = WindowsVersion();
    return version.dwMajorVersion == 5 && version.dwMinorVersion == 0;
}

bool IsServiceAccount(const wchar_t* user)
{
    for (const wchar_t* name : {L"LocalService", L"Local Service", L"NetworkService", L"Network Service"})
        if (_wcsicmp(user, name) == 0)
            return true;
    return false;
}

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

QLibService::QLibService(const wchar_t* name, uint32_t access, const wchar_t* machine)
{
    (void)Open(name, access, machine);
}

QLibService::QLibService(SC_HANDLE manager, const wchar_t* name, uint32_t access)
{
    QLIB_ASSERT(name != nullptr);
    (void)Open(manager, name, access);
}

QLibService::~QLibService()
{
    (void)QLibService::Close();
}

QLibStatus QLibService::Close()
{
    if (IsValid()) {
        // The object is the service handle's owner: this is its one release.
        CloseServiceHandle(Service());
        m_hHandle = nullptr;
    }
    m_ServiceName.clear();
    return QLibOk();
}

QLibStatus QLibService::Attach(HANDLE service)
{
    (void)Close();
    m_hHandle = service;
    QLibHeapOwner<QUERY_SERVICE_CONFIGW> config;
    QLibHeapOwner<wchar_t> keyName;
    QLibStatus status = QueryConfig(config.put());
    if (status.IsFailed()) {
        QLIB_TRACE("QLibService::Attach", L"(%d) Failed to query service config.", status.GetCode());
    } else {
        QLibSCM manager;
        status = manager.Open(nullptr, GENERIC_READ);
        if (status.IsFailed())
            QLIB_TRACE("QLibService::Attach", L"(%d) Failed to open SCM.", status.GetCode());
        else {
            status = manager.GetKeyName(config.get()->lpDisplayName, keyName.put());
            if (status.IsFailed())
                QLIB_TRACE("QLibService::Attach", L"(%d) Failed to get key name of %s.", status.GetCode(),
                           config.get()->lpDisplayName);
        }
    }
    if (status.IsOK())
        m_ServiceName = keyName.get();
    else
        m_hHandle = nullptr; // the caller still owns the handle
    return status;
}

HANDLE QLibService::Detach()
{
    m_ServiceName.clear();
    return QLibWin32Object::Detach();
}

QLibStatus QLibService::Open(const wchar_t* name, uint32_t access, const wchar_t* machine)
{
    (void)Close();
    QLibSCM manager;
    QLibStatus status = manager.Open(machine, SC_MANAGER_ALL_ACCESS);
    if (status.IsFailed()) {
        QLIB_TRACE("QLibService::Open", L"(%d) Failed to open the service manager. service = '%s'", status.GetCode(),
                   name ? name : L"");
        return status;
    }
    status = manager.OpenServiceW(name, access, *this);
    if (status.IsFailed())
        QLIB_TRACE("QLibService::Open", L"(%d) Failed to open the service '%s'.", status.GetCode(), name);
    return status;
}

QLibStatus QLibService::Open(SC_HANDLE manager, const wchar_t* name, uint32_t access)
{
    QLIB_ASSERT(name != nullptr);
    (void)Close();
    SC_HANDLE service = ::OpenServiceW(manager, name, access);
    if (service == nullptr) {
        QLibStatus status = QLibLastError();
        QLIB_TRACE("QLibService::Open", L"(%d) Failed to open service %s.", status.GetCode(), name);
        return status;
    }
    m_hHandle = service;
    m_ServiceName = name;
    return QLibOk();
}

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
                return ServiceStateFailure(1);
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
            return ServiceStateFailure(1);
    }
    QLIB_TRACE(function, L"Wait timed out for service %s", m_ServiceName.c_str());
    return QLibWin32Failure(WAIT_TIMEOUT);
}

QLibStatus QLibService::FetchBuffer(const char* function, const wchar_t* format,
                                    const std::function<BOOL(void*, DWORD, DWORD*)>& call, void** buffer)
{
    QLIB_ASSERT(IsValid());
    QLibScBufferQuery query;
    query.function = function;
    query.call = call;
    query.traceFailure = [&](DWORD code, bool) { QLIB_TRACE(function, format, code, m_ServiceName.c_str()); };
    query.allocFailedFormat = L"(%d) HeapAlloc failed. size = %d.";
    query.moreDataError = ERROR_INSUFFICIENT_BUFFER;
    query.emptyOnFirstSuccess = false;
    return QLibFetchScBuffer(query, buffer);
}

QLibStatus QLibService::QueryStatusEx(uint32_t infoLevel, BYTE** status)
{
    return FetchBuffer(
        "QLibService::QueryStatusEx", L"(%d) QueryServiceStatusEx failed for %s.",
        [&](void* buffer, DWORD size, DWORD* needed) {
            return QueryServiceStatusEx(Service(), static_cast<SC_STATUS_TYPE>(infoLevel), static_cast<BYTE*>(buffer),
                                        size, needed);
        },
        reinterpret_cast<void**>(status));
}

QLibStatus QLibService::QueryConfig(QUERY_SERVICE_CONFIGW** config)
{
    return FetchBuffer(
        "QLibService::QueryConfig", L"(%d) QueryServiceConfig failed for %s.",
        [&](void* buffer, DWORD size, DWORD* needed) {
            return QueryServiceConfigW(Service(), static_cast<QUERY_SERVICE_CONFIGW*>(buffer), size, needed);
        },
        reinterpret_cast<void**>(config));
}

QLibStatus QLibService::QueryConfig2(uint32_t infoLevel, BYTE** config)
{
    return FetchBuffer(
        "QLibService::QueryConfig2", L"(%d) QueryServiceConfig2 failed for %s.",
        [&](void* buffer, DWORD size, DWORD* needed) {
            return QueryServiceConfig2W(Service(), infoLevel, static_cast<BYTE*>(buffer), size, needed);
        },
        reinterpret_cast<void**>(config));
}

QLibStatus QLibService::QueryObjectSecurity(uint32_t securityInfo, PSECURITY_DESCRIPTOR* descriptor)
{
    return FetchBuffer(
        "QLibService::QueryObjectSecurity", L"(%d) QueryServiceObjectSecurity failed for %s.",
        [&](void* buffer, DWORD size, DWORD* needed) {
            return QueryServiceObjectSecurity(Service(), securityInfo, buffer, size, needed);
        },
        descriptor);
}

QLibStatus QLibService::EnumDependents(uint32_t serviceState, ENUM_SERVICE_STATUSW** dependents, uint32_t* count)
{
    QLIB_ASSERT(IsValid());
    *count = 0;
    DWORD found = 0;
    QLibScBufferQuery query;
    query.function = "QLibService::EnumDependents";
    query.call = [&](void* buffer, DWORD size, DWORD* needed) {
        return EnumDependentServicesW(Service(), serviceState, static_cast<ENUM_SERVICE_STATUSW*>(buffer), size, needed,
                                      &found);
    };
    query.traceFailure = [&](DWORD code, bool second) {
        QLIB_TRACE("QLibService::EnumDependents",
                   second ? L"(%d) EnumDependentServices failed for svc = %s."
                          : L"(%d) EnumDependentServices failed for svc = %s",
                   code, m_ServiceName.c_str());
    };
    query.allocFailedFormat = L"(%d) HeapAlloc failed. size = %d.";
    query.moreDataError = ERROR_MORE_DATA;
    query.emptyOnFirstSuccess = true;
    QLibStatus status = QLibFetchScBuffer(query, reinterpret_cast<void**>(dependents));
    if (status.IsOK())
        *count = found;
    return status;
}

QLibStatus QLibService::DeleteService()
{
    QLibStatus status = QLibOk();
    if (!::DeleteService(Service())) {
        status = QLibLastError();
        QLIB_TRACE("QLibService::DeleteService", L"(%d) Failed to delete service %s.", status.GetCode(),
                   m_ServiceName.c_str());
    }
    (void)Close();
    return status;
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

const wchar_t* QLibService::GetServiceName() const
{
    return m_ServiceName.c_str();
}

uint32_t QLibService::TimeoutFromTimeLeft(int64_t timeLeft)
{
    if (timeLeft <= 0)
        return 0;
    if (timeLeft >= static_cast<int64_t>(NoTimeLimit))
        return NoTimeLimit - 1;
    return static_cast<uint32_t>(timeLeft);
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
    QLibStatus done = failed > 0 ? ServiceStateFailure(ERROR_DEPENDENT_SERVICES_RUNNING) : QLibOk();
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
    return failed > 0 ? done : ServiceStateFailure(ERROR_SERVICE_REQUEST_TIMEOUT);
}

QLibStatus QLibService::ChangeConfig(DWORD startType, const wchar_t* binaryPath, const wchar_t* account,
                                     const wchar_t* password)
{
    QLIB_ASSERT(IsValid());
    if (!ChangeServiceConfigW(Service(), SERVICE_NO_CHANGE, startType, SERVICE_NO_CHANGE, binaryPath, nullptr, nullptr,
                              nullptr, account, password, nullptr))
        return QLibLastError();
    return QLibOk();
}

QLibStatus QLibService::ChangeUserAccount(const wchar_t* domain, const wchar_t* user, const wchar_t* password)
{
    QLIB_ASSERT(user != nullptr);
    std::wstring account = user;
    if (_wcsicmp(user, L"LocalSystem") != 0) {
        if (!IsWindows2000() && IsServiceAccount(user))
            domain = L"NT AUTHORITY";
        account = std::wstring(domain && *domain ? domain : L".") + L"\\" + user;
    }
    QLibStatus status = ChangeConfig(SERVICE_NO_CHANGE, nullptr, account.c_str(), password ? password : L"");
    if (status.IsFailed())
        QLIB_TRACE("QLibService::ChangeUserAccount", L"(%d) ChangeServiceConfig failed. Svc=%s, User=%s",
                   status.GetCode(), m_ServiceName.c_str(), account.c_str());
    return status;
}

QLibStatus QLibService::ChangeStartMode(uint32_t startType)
{
    QLibStatus status = ChangeConfig(startType, nullptr, nullptr, nullptr);
    if (status.IsFailed())
        QLIB_TRACE("QLibService::ChangeStartMode", L"(%d) ChangeServiceConfig failed. Start mode = %d",
                   status.GetCode(), startType);
    return status;
}

QLibStatus QLibService::ChangeBinaryPath(const wchar_t* binaryPath)
{
    if (binaryPath == nullptr) {
        QLibStatus status = QLibWin32Failure(ERROR_FILE_NOT_FOUND);
        QLIB_TRACE("QLibService::ChangeBinaryPath", L"(%d) Binary path name not specified.", status.GetCode());
        return status;
    }
    QLibStatus status = ChangeConfig(SERVICE_NO_CHANGE, binaryPath, nullptr, nullptr);
    if (status.IsFailed())
        QLIB_TRACE("QLibService::ChangeBinaryPath", L"(%d) ChangeServiceConfig failed. Binary path name = %s",
                   status.GetCode(), binaryPath);
    return status;
}

QLibStatus QLibService::QueryUserAccountFromSCM(wchar_t** domain, wchar_t** user)
{
    QLIB_ASSERT(IsValid());
    *domain = nullptr;
    *user = nullptr;
    QLibHeapOwner<QUERY_SERVICE_CONFIGW> config;
    QLibStatus status = QueryConfig(config.put());
    if (status.IsFailed()) {
        QLIB_TRACE("QLibService::QueryUserAccountFromSCM", L"(%d) Failed to query service config. svc=%s.",
                   status.GetCode(), m_ServiceName.c_str());
        return status;
    }
    const wchar_t* startName = config.get()->lpServiceStartName ? config.get()->lpServiceStartName : L"";
    const wchar_t* separator = wcsrchr(startName, L'\\');
    const wchar_t* userPart = separator ? separator + 1 : startName;
    QLibHeapOwner<wchar_t> userCopy(HeapCopy(userPart, wcslen(userPart)));
    QLibHeapOwner<wchar_t> domainCopy;
    if (userCopy && separator)
        domainCopy.reset(HeapCopy(startName, separator - startName));
    if (!userCopy || (separator && !domainCopy)) {
        status = QLibWin32Failure(ERROR_NOT_ENOUGH_MEMORY);
        QLIB_TRACE("QLibService::QueryUserAccountFromSCM", L"(%d) Failed to alloc memory. Size=%d", status.GetCode(),
                   static_cast<int>((wcslen(startName) + 1) * sizeof(wchar_t)));
        return status;
    }
    *user = userCopy.release();
    *domain = domainCopy.release();
    return status;
}

QLibStatus QLibService::QueryUserSIDFromSCM(PSID* sid)
{
    const char* function = "QLibService::QueryUserSIDFromSCM";
    QLIB_ASSERT(IsValid());
    *sid = nullptr;
    QLibHeapOwner<QUERY_SERVICE_CONFIGW> config;
    QLibStatus status = QueryConfig(config.put());
    if (status.IsFailed()) {
        QLIB_TRACE(function, L"(%d) Failed to query service config. svc=%s.", status.GetCode(), m_ServiceName.c_str());
        return status;
    }
    const wchar_t* startName = config.get()->lpServiceStartName ? config.get()->lpServiceStartName : L"";
    DWORD sidSize = 0;
    DWORD domainSize = 0;
    SID_NAME_USE use;
    BOOL found = LookupAccountNameW(nullptr, startName, nullptr, &sidSize, nullptr, &domainSize, &use);
    DWORD error = GetLastError();
    QLIB_ASSERT(!found);
    if (error != ERROR_INSUFFICIENT_BUFFER) {
        QLIB_TRACE(function, L"Failed to lookup the account name '%s'. Error = %d.", startName, error);
        return QLibWin32Failure(error);
    }
    QLibHeapOwner<void> copy(HeapAlloc(GetProcessHeap(), 0, sidSize));
    if (!copy) {
        QLIB_TRACE(function, L"(%d) HeapAlloc failed. size = %d.", ERROR_NOT_ENOUGH_MEMORY, sidSize);
        return QLibWin32Failure(ERROR_NOT_ENOUGH_MEMORY);
    }
    std::vector<wchar_t> domain(domainSize + 1);
    if (!LookupAccountNameW(nullptr, startName, copy.get(), &sidSize, domain.data(), &domainSize, &use)) {
        QLibStatus result = QLibLastError();
        QLIB_TRACE(function, L"Failed to lookup the account name '%s'. Error = %d.", startName, result.GetCode());
        return result;
    }
    *sid = copy.release();
    return status;
}

QLibStatus QLibService::OpenRunningProcess(const char* function, QLibProcess& process, DWORD* state)
{
    QLIB_ASSERT(IsValid());
    uint32_t running = 0;
    QLibStatus status = IsServiceRunning(&running);
    if (status.IsFailed()) {
        QLIB_TRACE(function, L"(%d) Failed to check whether the svc %s is running or not.", status.GetCode(),
                   m_ServiceName.c_str());
        return status;
    }
    if (running)
        status = OpenServiceProcess(function, PROCESS_ALL_ACCESS, process, state);
    // It may have stopped between the two queries.
    if (status.IsOK() && !process.IsValid()) {
        status = QLibWin32Failure(ERROR_SERVICE_NOT_ACTIVE);
        QLIB_TRACE(function, L"(%d) svc %s is not running.", status.GetCode(), m_ServiceName.c_str());
    }
    return status;
}

QLibStatus QLibService::QueryUserAccountFromRunningService(wchar_t** domain, wchar_t** user)
{
    const char* function = "QLibService::QueryUserAccountFromRunningService";
    *domain = nullptr;
    *user = nullptr;
    QLibProcess process;
    DWORD state = 0;
    QLibStatus status = OpenRunningProcess(function, process, &state);
    if (status.IsOK()) {
        status = process.GetUserName(domain, user);
        if (status.IsFailed())
            QLIB_TRACE(function, L"(%d) Failed to get user context. svc=%s, pid=%d, state=%d", status.GetCode(),
                       m_ServiceName.c_str(), process.GetPid(), state);
    }
    return status;
}

QLibStatus QLibService::QueryUserSidFromRunningService(PSID* sid)
{
    const char* function = "QLibService::QueryUserSidFromRunningService";
    *sid = nullptr;
    QLibProcess process;
    DWORD state = 0;
    QLibStatus status = OpenRunningProcess(function, process, &state);
    if (status.IsOK()) {
        status = process.GetUserSid(sid);
        if (status.IsFailed())
            QLIB_TRACE(function, L"(%d) Failed to get user context. svc=%s, pid=%d, state=%d", status.GetCode(),
                       m_ServiceName.c_str(), process.GetPid(), state);
    }
    return status;
}

std::wstring QLibService::RegistryPath() const
{
    return L"System\\CurrentControlSet\\Services\\" + m_ServiceName;
}

// Without a service (closed, detached, deleted, never opened) the name is empty and the path would name the
// key of all services: the object then has no key to use. (28, 1) is the library's invalid-parameter answer.
QLibStatus QLibService::CheckHoldsService(const char* function) const
{
    if (!m_ServiceName.empty())
        return QLibOk();
    QLIB_TRACE(function, L"The object holds no service: it has no registry key.");
    return QLibFailure(QLIB_ERR_DNS, 1);
}

// The service's own key, where its "Environment" value lives.
LONG QLibService::OpenRegistryKey(const char* function, HKEY* key) const
{
    std::wstring path = RegistryPath();
    LONG error = RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_ALL_ACCESS, key);
    if (error != ERROR_SUCCESS)
        QLIB_TRACE(function, L"(%d) Failed to open the registry key '%s'.", error, path.c_str());
    return error;
}

// Windows 2000 only: the configured account's own variables from HKEY_USERS\<sid>\Environment.
// An account without a SID or without that key leaves the block as it is.
QLibStatus QLibService::AddUserEnvironment(void** block)
{
    const char* function = "QLibService::SetVirtualNameEnvironment";
    QLibHeapOwner<void> sid;
    if (QueryUserSIDFromSCM(sid.put()).IsFailed())
        return QLibOk();
    QLibLocalOwner<wchar_t> sidText;
    if (!ConvertSidToStringSidW(sid.get(), sidText.put())) {
        QLibStatus status = QLibLastError();
        QLIB_TRACE(function, L"(%d) ConvertSidToStringSid failed.", status.GetCode());
        return status;
    }
    std::wstring path = std::wstring(sidText.get()) + L"\\Environment";
    QLibKeyOwner key;
    if (RegOpenKeyExW(HKEY_USERS, path.c_str(), 0, KEY_ALL_ACCESS, key.put()) != ERROR_SUCCESS)
        return QLibOk();

    DWORD nameChars = 0;
    DWORD dataBytes = 0;
    RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &nameChars, &dataBytes,
                     nullptr, nullptr);
    nameChars = nameChars ? nameChars : 4096;
    dataBytes = dataBytes ? dataBytes : 4096;
    const DWORD nameBytes = (nameChars + 1) * sizeof(wchar_t);
    const DWORD dataRoom = dataBytes + sizeof(wchar_t);
    QLibHeapOwner<wchar_t> name(static_cast<wchar_t*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, nameBytes)));
    QLibHeapOwner<wchar_t> data(static_cast<wchar_t*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, dataRoom)));
    if (!name || !data) {
        QLIB_TRACE(function, L"(%d) HeapAlloc failed. size = %d.", ERROR_NOT_ENOUGH_MEMORY,
                   name ? dataRoom : nameBytes);
        return QLibWin32Failure(ERROR_NOT_ENOUGH_MEMORY);
    }
    QLibNtDll ntdll;
    for (DWORD index = 0;; ++index) {
        DWORD nameSize = nameChars + 1;
        DWORD dataSize = dataBytes;
        DWORD type = 0;
        ZeroMemory(data.get(), dataRoom);
        if (RegEnumValueW(key.get(), index, name.get(), &nameSize, nullptr, &type, reinterpret_cast<BYTE*>(data.get()),
                          &dataSize)
            != ERROR_SUCCESS)
            break;
        // A user's variable the block refuses (a name with '=') is left out, as Windows leaves it out.
        if (type == REG_SZ)
            (void)ntdll.SetEnvironmentVariable(block, name.get(), data.get());
        QLibHeapOwner<wchar_t> expanded;
        if (type == REG_EXPAND_SZ && QLibNtDll::ExpandEnvStrings(*block, data.get(), expanded.put()).IsOK())
            (void)ntdll.SetEnvironmentVariable(block, name.get(), expanded.get());
    }
    return QLibOk();
}

QLibStatus QLibService::WriteEnvironment(const void* block)
{
    const char* function = "QLibService::SetVirtualNameEnvironment";
    QLibKeyOwner key;
    LONG error = OpenRegistryKey(function, key.put());
    if (error != ERROR_SUCCESS)
        return QLibWin32Failure(error);
    DWORD bytes = sizeof(wchar_t);
    for (auto* entry = static_cast<const wchar_t*>(block); *entry; entry += wcslen(entry) + 1)
        bytes += static_cast<DWORD>((wcslen(entry) + 1) * sizeof(wchar_t));
    error = RegSetValueExW(key.get(), L"Environment", 0, REG_MULTI_SZ, static_cast<const BYTE*>(block), bytes);
    if (error != ERROR_SUCCESS) {
        QLIB_TRACE(function, L"(%d) Failed to set the env key.", error);
        return QLibWin32Failure(error);
    }
    return QLibOk();
}

QLibStatus QLibService::SetVirtualNameEnvironment(const wchar_t* virtualName)
{
    const char* function = "QLibService::SetVirtualNameEnvironment";
    QLIB_ASSERT(virtualName != nullptr);
    QLIB_ASSERT(WindowsVersion().dwMajorVersion >= 5);
    QLibStatus status = CheckHoldsService(function);
    if (status.IsFailed())
        return status;

    // The block is destroyed with the call that made it: whichever owner took it.
    QLibEnvironmentOwner userBlock;
    QLibUnique<void*, DestroyNativeEnvironment> nativeBlock;
    void** block = nullptr;
    if (IsWindows2000()) {
        if (!CreateEnvironmentBlock(userBlock.put(), nullptr, FALSE)) {
            status = QLibLastError();
            QLIB_TRACE(function, L"(%d) CreateEnvironmentBlock failed.", status.GetCode());
            return status;
        }
        block = userBlock.addressof();
        status = AddUserEnvironment(block);
        if (status.IsFailed())
            return status;
    } else {
        status = QLibNtDll().CreateEnvironment(FALSE, nativeBlock.put());
        if (status.IsFailed()) {
            QLIB_TRACE(function, L"(%d) NTDll::CreateEnvironment failed.", status.GetCode());
            return status;
        }
        block = nativeBlock.addressof();
    }
    status = SetVirtualNameVariables(block, virtualName);
    return status.IsOK() ? WriteEnvironment(*block) : status;
}

// A variable the block refuses fails the whole write: a service must never start half renamed.
QLibStatus QLibService::SetVirtualNameVariables(void** block, const wchar_t* virtualName)
{
    // The result is not tested: a computer outside a DNS domain gives an empty domain.
    wchar_t domain[261] = {};
    DWORD domainChars = 260;
    GetComputerNameExW(ComputerNamePhysicalDnsDomain, domain, &domainChars);
    domain[260] = L'\0';
    std::wstring fqdn = std::wstring(virtualName) + L"." + domain;
    const std::pair<const wchar_t*, const wchar_t*> variables[] = {
        {L"COMPUTERNAME", virtualName},
        {L"_CLUSTER_NETWORK_NAME_", virtualName},
        {L"_CLUSTER_NETWORK_HOSTNAME_", virtualName},
        {L"_CLUSTER_NETWORK_DOMAIN_", domain},
        {L"_CLUSTER_NETWORK_FQDN_", fqdn.c_str()},
    };
    QLibNtDll ntdll;
    for (const auto& variable : variables) {
        QLibStatus status = ntdll.SetEnvironmentVariable(block, variable.first, variable.second);
        if (status.IsFailed()) {
            QLIB_TRACE("QLibService::SetVirtualNameEnvironment", L"(%d) Failed to set the variable %s.",
                       status.GetCode(), variable.first);
            return status;
        }
    }
    return QLibOk();
}

QLibStatus QLibService::RemoveVirtualNameEnvironment()
{
    const char* function = "QLibService::RemoveVirtualNameEnvironment";
    QLibStatus status = CheckHoldsService(function);
    if (status.IsFailed())
        return status;
    QLibKeyOwner key;
    LONG error = OpenRegistryKey(function, key.put());
    if (error != ERROR_SUCCESS)
        return QLibWin32Failure(error);
    error = RegDeleteValueW(key.get(), L"Environment");
    if (error != ERROR_SUCCESS) {
        QLIB_TRACE(function, L"(%d) Failed to delete the registry value 'Environment'.", error);
        return QLibWin32Failure(error);
    }
    return QLibOk();
}

// The stored value may hold anything: the walk never leaves the bytes read, and the buffer carries two
// terminators of its own.
uint32_t QLibService::VNameMatched(const wchar_t* virtualName)
{
    const char* function = "QLibService::VNameMatched";
    QLIB_ASSERT(virtualName != nullptr);
    if (CheckHoldsService(function).IsFailed())
        return 0;
    QLibKeyOwner key;
    LONG error = OpenRegistryKey(function, key.put());
    if (error != ERROR_SUCCESS)
        return 0;
    DWORD type = 0;
    DWORD bytes = 0;
    QLibHeapOwner<wchar_t> owned;
    error = RegQueryValueExW(key.get(), L"Environment", nullptr, &type, nullptr, &bytes);
    if (error == ERROR_MORE_DATA)
        error = ERROR_SUCCESS;
    if (error == ERROR_SUCCESS && type != REG_MULTI_SZ)
        error = ERROR_INVALID_DATA;
    if (error == ERROR_SUCCESS) {
        DWORD room = (bytes + 1) / sizeof(wchar_t) + 2;
        owned.reset(static_cast<wchar_t*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, room * sizeof(wchar_t))));
        error = owned ? ERROR_SUCCESS : ERROR_NOT_ENOUGH_MEMORY;
    }
    if (error == ERROR_SUCCESS) {
        error = RegQueryValueExW(key.get(), L"Environment", nullptr, &type, reinterpret_cast<BYTE*>(owned.get()),
                                 &bytes);
        if (error == ERROR_SUCCESS && type != REG_MULTI_SZ)
            error = ERROR_INVALID_DATA;
    }
    if (error != ERROR_SUCCESS) {
        QLIB_TRACE(function, L"(%d) Failed to get data from the Environment registry key '%s'.", error,
                   RegistryPath().c_str());
        return 0;
    }
    wchar_t* block = owned.get();

    DWORD chars = bytes / sizeof(wchar_t);
    block[chars] = L'\0';
    block[chars + 1] = L'\0';
    uint32_t matches = 0;
    for (const wchar_t* entry = block; entry < block + chars && *entry; entry += wcslen(entry) + 1) {
        const wchar_t* equals = wcschr(entry, L'=');
        if (equals == nullptr)
            continue; // not a variable: it names nothing
        std::wstring name(entry, equals - entry);
        bool named = _wcsicmp(name.c_str(), L"COMPUTERNAME") == 0
            || _wcsicmp(name.c_str(), L"_CLUSTER_NETWORK_NAME_") == 0
            || _wcsicmp(name.c_str(), L"_CLUSTER_NETWORK_HOSTNAME_") == 0;
        if (named && _wcsicmp(equals + 1, virtualName) == 0)
            ++matches;
    }
    return matches == 3 ? 1 : 0;
}
