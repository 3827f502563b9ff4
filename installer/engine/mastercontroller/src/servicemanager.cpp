#include "servicemanager.h"

#include <algorithm>
#include <cwchar>
#include <new>
#include <utility>

#include "logger.h"
#include "owners.h"

// An operation's narrow name, which starts its messages, and its tracer, which names it in each line.
struct ServiceScope {
    const char* name;
    ScopeTracer tracer;
};

#define SERVICE_SCOPE(literal)                                                                                         \
    ServiceScope scope                                                                                                 \
    {                                                                                                                  \
        literal, ScopeTracer(L"" literal, &g_logger)                                                                   \
    }
#define SERVICE_LOG(...) KITO_LOG_DEBUG(LOG_DBG_1, scope.tracer, __VA_ARGS__)

namespace {

const DWORD ConfigBufferBytes = 1024;
const DWORD StartPollMs = 400;
const DWORD MaxSleepMs = 2000;
// A service reports that a control took effect by entering a pending state; until then it is polled this often,
// for at most this long.
const DWORD FirstReportPollMs = 100;
const DWORD FirstReportMs = 10000;

// An owned copy of a name, or null when memory is short.
std::unique_ptr<wchar_t[]> copyName(const wchar_t* name)
{
    size_t length = wcslen(name) + 1;
    std::unique_ptr<wchar_t[]> copy(new (std::nothrow) wchar_t[length]);
    if (copy)
        wmemcpy(copy.get(), name, length);
    return copy;
}

bool isPending(DWORD state)
{
    return state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING || state == SERVICE_CONTINUE_PENDING
        || state == SERVICE_PAUSE_PENDING;
}

const wchar_t* textOrEmpty(const wchar_t* text)
{
    return text ? text : L"";
}

// Checks both kinds before anything changes; `action` completes "cannot <action> '<service>'".
DWORD checkKinds(const ServiceScope& scope, DWORD startKind, DWORD errorControl, bool unchangedAllowed,
                 const char* action, const wchar_t* serviceName)
{
    bool startOk = (startKind >= SERVICE_AUTO_START && startKind <= SERVICE_DISABLED)
        || (unchangedAllowed && startKind == ServiceControl::StartKindUnchanged);
    if (!startOk) {
        SERVICE_LOG(L"%hs: bad StartType parameter %d; cannot %hs '%ws'", scope.name, startKind, action, serviceName);
        return ERROR_INVALID_PARAMETER;
    }
    bool errorOk = errorControl == SERVICE_ERROR_IGNORE || errorControl == SERVICE_ERROR_NORMAL
        || (unchangedAllowed && errorControl == ServiceControl::ErrorControlUnchanged);
    if (!errorOk) {
        SERVICE_LOG(L"%hs: bad ErrorControl parameter %d; cannot %hs '%ws'", scope.name, errorControl, action,
                    serviceName);
        return ERROR_INVALID_PARAMETER;
    }
    return ERROR_SUCCESS;
}

DWORD windowsKind(DWORD kind, DWORD unchanged)
{
    return kind == unchanged ? SERVICE_NO_CHANGE : kind;
}

// Copies one text of the configuration when it fits; a given size learns what is needed when it does not.
DWORD handBackText(const wchar_t* text, wchar_t* buffer, DWORD* size)
{
    text = textOrEmpty(text);
    DWORD needed = static_cast<DWORD>(wcslen(text)) + 1;
    if (buffer && size && needed <= *size) {
        wmemcpy(buffer, text, needed);
        return ERROR_SUCCESS;
    }
    if (!size)
        return ERROR_SUCCESS;
    *size = needed;
    return ERROR_NOT_ENOUGH_MEMORY;
}

DWORD queryStatus(SC_HANDLE service, SERVICE_STATUS& status)
{
    status = SERVICE_STATUS();
    return QueryServiceStatus(service, &status) ? ERROR_SUCCESS : GetLastError();
}

// Closes one of the object's handles now; a close that fails is logged (`failure` takes the error and the
// handle) and its error returned.
DWORD closeLogged(const ServiceScope& scope, ServiceOwner& handle, const wchar_t* failure)
{
    const SC_HANDLE closing = handle.get();
    if (handle.close())
        return ERROR_SUCCESS;
    DWORD error = GetLastError();
    SERVICE_LOG(failure, scope.name, error, closing);
    return error;
}

} // namespace

ServiceControl::ServiceControl() : m_pollLimitMs(DefaultPollLimitMs) {}

ServiceControl::~ServiceControl()
{
    DisconnectFromSCM();
}

const wchar_t* ServiceControl::_server() const
{
    return m_serverName ? m_serverName.get() : L"";
}

const wchar_t* ServiceControl::_serviceName() const
{
    return m_serviceName ? m_serviceName.get() : L"";
}

DWORD ServiceControl::ConnectToSCM(const wchar_t* machineName, const wchar_t*)
{
    SERVICE_SCOPE("ServiceControl::ConnectToSCM");
    const wchar_t* shownName = textOrEmpty(machineName);
    if (IsConnected()) {
        DWORD result = DisconnectFromSCM();
        if (result != ERROR_SUCCESS) {
            SERVICE_LOG(L"%hs: error clearing old connection; cannot connect to '%ws'", scope.name, shownName);
            return result;
        }
    }
    m_manager.reset(OpenSCManagerW(machineName, SERVICES_ACTIVE_DATABASEW, SC_MANAGER_ALL_ACCESS));
    if (!m_manager) {
        DWORD error = GetLastError();
        SERVICE_LOG(L"%hs: error %d connecting to SCM on '%s'", scope.name, error, shownName);
        return error;
    }
    m_serverName = copyName(shownName);
    if (!m_serverName) {
        DisconnectFromSCM();
        SERVICE_LOG(L"%hs: unable to allocate buffer for server name '%ws'", scope.name, shownName);
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    SERVICE_LOG(L"%hs: connected to SCM on '%ws'", scope.name, shownName);
    return ERROR_SUCCESS;
}

DWORD ServiceControl::DisconnectFromSCM()
{
    SERVICE_SCOPE("ServiceControl::DisconnectFromSCM");
    // Each close is a step of its own, its failure logged; the connection's is reported.
    closeLogged(scope, m_service, L"%hs: error %d closing service handle 0x%p");
    m_serviceName.reset();
    DWORD result = closeLogged(scope, m_manager, L"%hs: error %d closing SCM handle 0x%p");
    m_serverName.reset();
    return result;
}

// Logs the error of the Windows call that just failed on the open service, with service and machine.
DWORD ServiceControl::_callFailed(const ServiceScope& scope, const wchar_t* format) const
{
    DWORD error = GetLastError();
    SERVICE_LOG(format, scope.name, error, _serviceName(), _server());
    return error;
}

DWORD ServiceControl::_requireConnection(const ServiceScope& scope) const
{
    if (IsConnected())
        return ERROR_SUCCESS;
    SERVICE_LOG(L"%hs: not connected to SCM", scope.name);
    return ERROR_NOT_CONNECTED;
}

DWORD ServiceControl::_requireService(const ServiceScope& scope) const
{
    DWORD result = _requireConnection(scope);
    if (result == ERROR_SUCCESS && !IsOpen()) {
        SERVICE_LOG(L"%hs: no service currently open", scope.name);
        result = ERROR_NOT_CONNECTED;
    }
    return result;
}

DWORD ServiceControl::IsServiceInstalled(const wchar_t* serviceName, bool& installed)
{
    SERVICE_SCOPE("ServiceControl::IsServiceInstalled");
    DWORD result = _requireConnection(scope);
    if (result != ERROR_SUCCESS)
        return result;
    const ServiceOwner service(OpenServiceW(m_manager.get(), serviceName, SERVICE_INTERROGATE));
    if (service) {
        installed = true;
        return ERROR_SUCCESS;
    }
    DWORD error = GetLastError();
    if (error == ERROR_SERVICE_DOES_NOT_EXIST)
        installed = false;
    else
        SERVICE_LOG(L"%hs: error %d opening service '%ws'", scope.name, error, textOrEmpty(serviceName));
    return ERROR_SUCCESS;
}

// Closes the open service before another one is opened or installed.
DWORD ServiceControl::_closeForNext(const ServiceScope& scope, const char* action, const wchar_t* serviceName)
{
    DWORD result = _requireConnection(scope);
    if (result != ERROR_SUCCESS || !IsOpen())
        return result;
    result = CloseService();
    if (result != ERROR_SUCCESS)
        SERVICE_LOG(L"%hs: error closing service; cannot %hs '%ws'", scope.name, action, serviceName);
    return result;
}

// Keeps a freshly opened or created service as the open one, with a copy of its name.
DWORD ServiceControl::_adoptService(const ServiceScope& scope, ServiceOwner service, const wchar_t* serviceName)
{
    m_service = std::move(service);
    m_serviceName = copyName(serviceName);
    if (m_serviceName)
        return ERROR_SUCCESS;
    CloseService();
    SERVICE_LOG(L"%hs: unable to allocate buffer for service name '%ws'", scope.name, serviceName);
    return ERROR_NOT_ENOUGH_MEMORY;
}

DWORD ServiceControl::OpenServiceHandle(const wchar_t* serviceName)
{
    SERVICE_SCOPE("ServiceControl::OpenServiceHandle");
    DWORD result = _closeForNext(scope, "open", serviceName);
    if (result != ERROR_SUCCESS)
        return result;
    ServiceOwner service(OpenServiceW(m_manager.get(), serviceName, SERVICE_ALL_ACCESS));
    if (!service) {
        DWORD error = GetLastError();
        SERVICE_LOG(L"%hs: error %d opening '%ws'", scope.name, error, serviceName);
        return error;
    }
    result = _adoptService(scope, std::move(service), serviceName);
    if (result == ERROR_SUCCESS)
        SERVICE_LOG(L"%hs: opened '%ws' on '%ws'", scope.name, serviceName, _server());
    return result;
}

DWORD ServiceControl::CloseService()
{
    SERVICE_SCOPE("ServiceControl::CloseService");
    DWORD result = _requireConnection(scope);
    if (result != ERROR_SUCCESS)
        return result;
    // A close of its own: its failure is logged and reported.
    result = closeLogged(scope, m_service, L"%hs: error %d closing service handle 0x%p");
    m_serviceName.reset();
    return result;
}

DWORD ServiceControl::InstallService(const wchar_t* serviceName, const wchar_t* binaryPath, const wchar_t* account,
                                     const wchar_t* password, const wchar_t* description, DWORD startKind,
                                     const wchar_t* dependencies, DWORD errorControl)
{
    SERVICE_SCOPE("ServiceControl::InstallService");
    DWORD result = _closeForNext(scope, "install", serviceName);
    if (result == ERROR_SUCCESS)
        result = checkKinds(scope, startKind, errorControl, false, "install", serviceName);
    if (result != ERROR_SUCCESS)
        return result;
    ServiceOwner service(CreateServiceW(m_manager.get(), serviceName, serviceName, SERVICE_ALL_ACCESS,
                                        SERVICE_WIN32_OWN_PROCESS, startKind, errorControl, binaryPath, nullptr,
                                        nullptr, dependencies, account, password));
    if (!service) {
        DWORD error = GetLastError();
        SERVICE_LOG(L"%hs: error %d installing '%ws'", scope.name, error, serviceName);
        return error;
    }
    if (description) {
        SERVICE_DESCRIPTIONW text = {const_cast<wchar_t*>(description)};
        ChangeServiceConfig2W(service.get(), SERVICE_CONFIG_DESCRIPTION, &text);
    }
    return _adoptService(scope, std::move(service), serviceName);
}

DWORD ServiceControl::GetServiceConfig(wchar_t* binaryPath, DWORD* binaryPathSize, wchar_t* account, DWORD* accountSize,
                                       DWORD* startKind)
{
    SERVICE_SCOPE("ServiceControl::GetServiceConfig");
    DWORD result = _requireService(scope);
    if (result != ERROR_SUCCESS)
        return result;
    // Nearly every configuration fits the first buffer; only a larger one goes to the heap.
    union {
        QUERY_SERVICE_CONFIGW config;
        BYTE bytes[ConfigBufferBytes];
    } local;
    std::unique_ptr<BYTE[]> large;
    QUERY_SERVICE_CONFIGW* config = &local.config;
    DWORD needed = 0;
    if (!QueryServiceConfigW(m_service.get(), config, ConfigBufferBytes, &needed)) {
        DWORD error = GetLastError();
        if (error != ERROR_INSUFFICIENT_BUFFER) {
            SERVICE_LOG(L"%hs: error %d querying config of service '%ws'", scope.name, error, _serviceName());
            return error;
        }
        large.reset(new (std::nothrow) BYTE[needed]);
        if (!large) {
            SERVICE_LOG(L"%hs: unable to allocate config info buffer (%d) for '%ws'", scope.name, needed,
                        _serviceName());
            return ERROR_NOT_ENOUGH_MEMORY;
        }
        config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(large.get());
        DWORD size = needed;
        if (!QueryServiceConfigW(m_service.get(), config, size, &needed)) {
            error = GetLastError();
            SERVICE_LOG(L"%hs: error %d querying config of service '%ws', buffer %d bytes", scope.name, error,
                        _serviceName(), size);
            return error;
        }
    }
    const struct {
        const wchar_t* text;
        wchar_t* buffer;
        DWORD* size;
    } texts[] = {{config->lpBinaryPathName, binaryPath, binaryPathSize},
                 {config->lpServiceStartName, account, accountSize}};
    for (const auto& text : texts) {
        if (text.buffer && !text.size) {
            SERVICE_LOG(L"%hs: buffer size ptr NULL but buffer not", scope.name);
            return ERROR_INVALID_PARAMETER;
        }
        if (handBackText(text.text, text.buffer, text.size) != ERROR_SUCCESS)
            result = ERROR_NOT_ENOUGH_MEMORY;
    }
    if (config->dwStartType > SERVICE_DISABLED)
        SERVICE_LOG(L"%hs: unexpected StartType %d", scope.name, config->dwStartType);
    else if (startKind)
        *startKind = config->dwStartType;
    return result;
}

DWORD ServiceControl::SetServiceConfig(const wchar_t* account, const wchar_t* password, DWORD startKind,
                                       const wchar_t* dependencies, const wchar_t* binaryPath, DWORD errorControl)
{
    SERVICE_SCOPE("ServiceControl::SetServiceConfig");
    DWORD result = _requireService(scope);
    if (result == ERROR_SUCCESS)
        result = checkKinds(scope, startKind, errorControl, true, "change config of", _serviceName());
    if (result != ERROR_SUCCESS)
        return result;
    if (!ChangeServiceConfigW(m_service.get(), SERVICE_NO_CHANGE, windowsKind(startKind, StartKindUnchanged),
                              windowsKind(errorControl, ErrorControlUnchanged), binaryPath, nullptr, nullptr,
                              dependencies, account, password, nullptr)) {
        return _callFailed(scope, L"%hs: error %d changing config of '%ws' on '%ws'");
    }
    SERVICE_LOG(L"%hs: changed config of '%ws' on '%ws'", scope.name, _serviceName(), _server());
    return ERROR_SUCCESS;
}

DWORD ServiceControl::GetServiceStatus(DWORD* state, DWORD* win32ExitCode, DWORD* serviceExitCode)
{
    SERVICE_SCOPE("ServiceControl::GetServiceStatus");
    DWORD result = _requireService(scope);
    if (result != ERROR_SUCCESS)
        return result;
    SERVICE_STATUS status;
    result = queryStatus(m_service.get(), status);
    if (result != ERROR_SUCCESS) {
        SERVICE_LOG(L"%hs: error %d querying status of service '%ws'", scope.name, result, _serviceName());
        return result;
    }
    if (status.dwCurrentState < SERVICE_STOPPED || status.dwCurrentState > SERVICE_PAUSED) {
        SERVICE_LOG(L"%hs: unexpected CurrentState %d", scope.name, status.dwCurrentState);
        return ERROR_INTERNAL_ERROR;
    }
    if (state)
        *state = status.dwCurrentState - 1;
    if (win32ExitCode)
        *win32ExitCode = status.dwWin32ExitCode;
    if (serviceExitCode)
        *serviceExitCode = status.dwServiceSpecificExitCode;
    return ERROR_SUCCESS;
}

DWORD ServiceControl::DeleteService()
{
    SERVICE_SCOPE("ServiceControl::DeleteService");
    DWORD result = _requireService(scope);
    if (result != ERROR_SUCCESS)
        return result;
    if (!::DeleteService(m_service.get())) {
        return _callFailed(scope, L"%hs: error %d deleting '%ws' from '%ws'");
    }
    return CloseService();
}

DWORD ServiceControl::StartService()
{
    SERVICE_SCOPE("ServiceControl::StartService");
    DWORD result = _requireService(scope);
    if (result != ERROR_SUCCESS)
        return result;
    if (!::StartServiceW(m_service.get(), 0, nullptr)) {
        return _callFailed(scope, L"%hs: error %d starting '%ws' on '%ws'");
    }
    result = IsServiceStarted();
    if (result != ERROR_SUCCESS) {
        SERVICE_LOG(L"%hs: unable to start '%ws' on '%ws'", scope.name, _serviceName(), _server());
        return result;
    }
    SERVICE_LOG(L"%hs: started '%ws' on '%ws'", scope.name, _serviceName(), _server());
    return ERROR_SUCCESS;
}

DWORD ServiceControl::StopService()
{
    SERVICE_SCOPE("ServiceControl::StopService");
    DWORD result = _requireService(scope);
    if (result != ERROR_SUCCESS)
        return result;
    SERVICE_STATUS status;
    if (!ControlService(m_service.get(), SERVICE_CONTROL_STOP, &status)) {
        return _callFailed(scope, L"%hs: error %d stopping '%ws' on '%ws'");
    }
    result = MonitorServiceState(SERVICE_STOPPED);
    if (result != ERROR_SUCCESS)
        SERVICE_LOG(L"%hs: unable to stop '%ws' on '%ws'", scope.name, _serviceName(), _server());
    return result;
}

// True, after a line saying so, once a wait that began at `begin` has used up the poll limit.
bool ServiceControl::_pollLimitReached(const ServiceScope& scope, DWORD begin) const
{
    DWORD elapsed = GetTickCount() - begin;
    if (elapsed < m_pollLimitMs)
        return false;
    SERVICE_LOG(L"%hs: service '%ws' still pending after %u ms", scope.name, _serviceName(), elapsed);
    return true;
}

DWORD ServiceControl::MonitorServiceState(DWORD targetState)
{
    SERVICE_SCOPE("ServiceControl::MonitorServiceState");
    DWORD result = _requireService(scope);
    if (result != ERROR_SUCCESS)
        return result;
    const DWORD begin = GetTickCount();
    DWORD oldCheckpoint = 0, oldWaitHint = 0, lastPoll = 0;
    bool polledBefore = false;
    for (;;) {
        SERVICE_LOG(L"Oldcheckpoint %d, Oldwaithint: %d, TimeToWait: %d ", oldCheckpoint, oldWaitHint, lastPoll);
        SERVICE_STATUS status;
        result = queryStatus(m_service.get(), status);
        if (result != ERROR_SUCCESS) {
            SERVICE_LOG(L"%hs: error %d querying status of service '%ws'", scope.name, result, _serviceName());
            return result;
        }
        SERVICE_LOG(L"checkpoint %d, waithint: %d", status.dwCheckPoint, status.dwWaitHint);
        if (status.dwCurrentState == targetState) {
            SERVICE_LOG(L"%hs: service '%ws' entered into running state", scope.name, _serviceName());
            return ERROR_SUCCESS;
        }
        // Unsigned differences: the tick counter may wrap between two polls. Checkpoint and wait hint tell of
        // progress only once the service is pending; before, the control has not taken effect yet.
        DWORD now = GetTickCount();
        bool pending = isPending(status.dwCurrentState);
        if (pending ? polledBefore && now - lastPoll > oldWaitHint && status.dwCheckPoint == oldCheckpoint
                    : now - begin >= FirstReportMs) {
            SERVICE_LOG(L"%hs: service '%ws' is not responding", scope.name, _serviceName());
            return ERROR_SERVICE_REQUEST_TIMEOUT;
        }
        if (_pollLimitReached(scope, begin))
            return ERROR_SERVICE_REQUEST_TIMEOUT;
        if (!pending) {
            Sleep(FirstReportPollMs);
            continue;
        }
        polledBefore = true;
        lastPoll = now;
        oldWaitHint = status.dwWaitHint;
        oldCheckpoint = status.dwCheckPoint;
        SERVICE_LOG(L"checkpoint %d, waithint: %d, TimeToWait: %d ", oldCheckpoint, oldWaitHint, lastPoll);
        DWORD sleep = std::min(oldWaitHint, MaxSleepMs);
        SERVICE_LOG(L"Sleeping for  %d", sleep);
        Sleep(sleep);
    }
}

DWORD ServiceControl::IsServiceStarted()
{
    SERVICE_SCOPE("ServiceControl::IsServiceStarted");
    DWORD result = _requireService(scope);
    if (result != ERROR_SUCCESS)
        return result;
    const DWORD begin = GetTickCount();
    for (;;) {
        SERVICE_STATUS status;
        result = queryStatus(m_service.get(), status);
        if (result != ERROR_SUCCESS) {
            SERVICE_LOG(L"error %d querying status of service '%ws'", result, _serviceName());
            return result;
        }
        SERVICE_LOG(L"checkpoint %d, waithint: %d", status.dwCheckPoint, status.dwWaitHint);
        if (status.dwCurrentState == SERVICE_RUNNING) {
            SERVICE_LOG(L"Service is started.");
            return ERROR_SUCCESS;
        }
        if (status.dwCurrentState != SERVICE_START_PENDING) {
            SERVICE_LOG(L"Service is not starting. %d", status.dwCurrentState);
            return static_cast<DWORD>(E_FAIL);
        }
        SERVICE_LOG(L"Service is starting.");
        if (_pollLimitReached(scope, begin))
            return ERROR_SERVICE_REQUEST_TIMEOUT;
        Sleep(StartPollMs);
    }
}

DWORD FGetServiceInformation(const wchar_t* machineName, const wchar_t* serviceName, bool& installed, bool* enabled,
                             bool* running)
{
    SERVICE_SCOPE("FGetServiceInformation");
    const wchar_t* shownMachine = textOrEmpty(machineName);
    const wchar_t* shownService = textOrEmpty(serviceName);
    installed = false;
    bool isEnabled = false, isRunning = false;
    // Every answer is false until the service was read.
    if (enabled)
        *enabled = false;
    if (running)
        *running = false;
    ServiceControl control;
    DWORD result = control.ConnectToSCM(machineName, nullptr);
    if (result != ERROR_SUCCESS) {
        SERVICE_LOG(L"%hs: unable to connect to SCM on '%ws'", scope.name, shownMachine);
        return result;
    }
    // Installed until shown otherwise: a check that failed for another reason than "does not exist"
    // leaves it so, and the open below then returns that failure instead of "not installed".
    bool present = true;
    result = control.IsServiceInstalled(serviceName, present);
    if (result != ERROR_SUCCESS) {
        SERVICE_LOG(L"%hs: unable to determine if SNMP service is installed on '%ws'", scope.name, shownMachine);
        return result;
    }
    if (present) {
        // A service that is installed but cannot be read is a failure, never an answer of "disabled, stopped".
        DWORD startKind = SERVICE_DISABLED, state = SERVICE_STOPPED - 1;
        result = control.OpenServiceHandle(serviceName);
        if (result != ERROR_SUCCESS) {
            SERVICE_LOG(L"%hs: error opening handle for service '%ws' on '%ws'", scope.name, shownService,
                        shownMachine);
            return result;
        }
        installed = true;
        result = control.GetServiceConfig(nullptr, nullptr, nullptr, nullptr, &startKind);
        if (result != ERROR_SUCCESS) {
            SERVICE_LOG(L"%hs: error getting config info for service '%ws' on '%ws'", scope.name, shownService,
                        shownMachine);
            return result;
        }
        isEnabled = startKind == SERVICE_AUTO_START || startKind == SERVICE_DEMAND_START;
        result = control.GetServiceStatus(&state, nullptr, nullptr);
        if (result != ERROR_SUCCESS) {
            SERVICE_LOG(L"%hs: error getting status info for service '%ws' on '%ws'", scope.name, shownService,
                        shownMachine);
            return result;
        }
        isRunning = state == SERVICE_RUNNING - 1;
    }
    if (enabled)
        *enabled = isEnabled;
    if (running)
        *running = isRunning;
    return ERROR_SUCCESS;
}
