#pragma once

#include <windows.h>

#include <memory>

#include "owners.h"

struct ServiceScope;

// One connection to a service control manager and at most one open service on it.
// Results are Windows error codes; every failure is logged under the operation's name.
class ServiceControl {
public:
    // Kinds at the interface: start kinds are the Windows values 2 automatic, 3 on demand, 4 disabled
    // (5 leaves the start kind unchanged in SetServiceConfig); error-control kinds 0 ignore, 1 normal
    // (2 leaves it unchanged). States read back are the Windows state minus one (0 stopped .. 6 paused).
    static const DWORD StartKindUnchanged = 5;
    static const DWORD ErrorControlUnchanged = 2;
    // Longest wait for a service to reach the state asked for, however busy it reports itself.
    static const DWORD DefaultPollLimitMs = 120000;

    ServiceControl();
    ~ServiceControl();
    ServiceControl(const ServiceControl&) = delete;
    ServiceControl& operator=(const ServiceControl&) = delete;

    DWORD ConnectToSCM(const wchar_t* machineName, const wchar_t* unused);
    DWORD DisconnectFromSCM();
    DWORD IsServiceInstalled(const wchar_t* serviceName, bool& installed);
    DWORD OpenServiceHandle(const wchar_t* serviceName);
    DWORD CloseService();
    DWORD InstallService(const wchar_t* serviceName, const wchar_t* binaryPath, const wchar_t* account,
                         const wchar_t* password, const wchar_t* description, DWORD startKind,
                         const wchar_t* dependencies, DWORD errorControl);
    DWORD GetServiceConfig(wchar_t* binaryPath, DWORD* binaryPathSize, wchar_t* account, DWORD* accountSize,
                           DWORD* startKind);
    DWORD SetServiceConfig(const wchar_t* account, const wchar_t* password, DWORD startKind,
                           const wchar_t* dependencies, const wchar_t* binaryPath, DWORD errorControl);
    DWORD GetServiceStatus(DWORD* state, DWORD* win32ExitCode, DWORD* serviceExitCode);
    DWORD DeleteService();
    DWORD StartService();
    DWORD StopService();
    DWORD MonitorServiceState(DWORD targetState);
    DWORD IsServiceStarted();
    bool IsConnected() const { return m_manager.isValid(); }
    bool IsOpen() const { return m_service.isValid(); }
    // Bounds every wait of StartService and StopService; the default suits real services.
    void SetPollLimit(DWORD milliseconds) { m_pollLimitMs = milliseconds; }

private:
    DWORD _requireConnection(const ServiceScope& scope) const;
    DWORD _requireService(const ServiceScope& scope) const;
    DWORD _closeForNext(const ServiceScope& scope, const char* action, const wchar_t* serviceName);
    DWORD _adoptService(const ServiceScope& scope, ServiceOwner service, const wchar_t* serviceName);
    DWORD _callFailed(const ServiceScope& scope, const wchar_t* format) const;
    bool _pollLimitReached(const ServiceScope& scope, DWORD begin) const;
    const wchar_t* _server() const;
    const wchar_t* _serviceName() const;

    ServiceOwner m_manager;
    ServiceOwner m_service;
    std::unique_ptr<wchar_t[]> m_serverName;
    std::unique_ptr<wchar_t[]> m_serviceName;
    DWORD m_pollLimitMs;
};

// Whether a service is installed, enabled (automatic or on demand) and running on a machine (null: local).
DWORD FGetServiceInformation(const wchar_t* machineName, const wchar_t* serviceName, bool& installed, bool* enabled,
                             bool* running);
