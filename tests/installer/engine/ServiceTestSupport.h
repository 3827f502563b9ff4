#pragma once

// Test-side access to Wine's real service manager, independent of the code under test.

#include <windows.h>

#include <string>

namespace servicetest {

// The longest a test waits for a real service to change state: seconds under emulation or on a busy machine, so a
// bound that only a hang can reach. Each wait ends as soon as the state is there.
const DWORD StateChangeMs = 30000;

// The test service's command line, from the folder of the running test program.
inline std::wstring testServiceCommand(const std::wstring& options)
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH - 1);
    std::wstring folder(path);
    folder.resize(folder.find_last_of(L'\\'));
    return L"\"" + folder + L"\\testservice.exe\" " + options;
}

// A service name no other test process uses.
inline std::wstring uniqueName(const char* prefix)
{
    return std::wstring(prefix, prefix + strlen(prefix)) + L"_" + std::to_wstring(GetCurrentProcessId());
}

// The service's current state, 0 when it cannot be opened (e.g. it is gone).
inline DWORD currentState(const std::wstring& name)
{
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = OpenServiceW(manager, name.c_str(), SERVICE_QUERY_STATUS);
    SERVICE_STATUS status = {};
    if (service)
        QueryServiceStatus(service, &status);
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return status.dwCurrentState;
}

// Waits up to `milliseconds` for the state; gives the last state seen.
inline DWORD waitForState(const std::wstring& name, DWORD state, DWORD milliseconds)
{
    DWORD begin = GetTickCount();
    DWORD seen = currentState(name);
    while (seen != state && GetTickCount() - begin < milliseconds) {
        Sleep(50);
        seen = currentState(name);
    }
    return seen;
}

inline DWORD createService(const std::wstring& name, const std::wstring& command,
                           DWORD startKind = SERVICE_DEMAND_START)
{
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE service = CreateServiceW(manager, name.c_str(), name.c_str(), SERVICE_ALL_ACCESS,
                                       SERVICE_WIN32_OWN_PROCESS, startKind, SERVICE_ERROR_NORMAL, command.c_str(),
                                       nullptr, nullptr, nullptr, nullptr, nullptr);
    DWORD result = service ? ERROR_SUCCESS : GetLastError();
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return result;
}

inline DWORD startService(const std::wstring& name)
{
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = OpenServiceW(manager, name.c_str(), SERVICE_START);
    DWORD result = service && StartServiceW(service, 0, nullptr) ? ERROR_SUCCESS : GetLastError();
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return result == ERROR_SUCCESS && waitForState(name, SERVICE_RUNNING, StateChangeMs) != SERVICE_RUNNING
        ? ERROR_SERVICE_REQUEST_TIMEOUT
        : result;
}

// Replacements for imports that Wine's service manager never lets fail (no remote machines, no ACLs).
inline SC_HANDLE WINAPI unreachableManager(LPCWSTR, LPCWSTR, DWORD)
{
    SetLastError(RPC_S_SERVER_UNAVAILABLE);
    return nullptr;
}

inline SC_HANDLE WINAPI deniedService(SC_HANDLE, LPCWSTR, DWORD)
{
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
}

// Stops the service when it runs, waits for it to stop and deletes it; nothing of a test outlives it.
inline void cleanUp(const std::wstring& name)
{
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE service = OpenServiceW(manager, name.c_str(), SERVICE_ALL_ACCESS);
    if (service) {
        // A service still starting takes no stop control yet.
        DWORD begin = GetTickCount();
        while (currentState(name) == SERVICE_START_PENDING && GetTickCount() - begin < StateChangeMs)
            Sleep(50);
        SERVICE_STATUS status = {};
        ControlService(service, SERVICE_CONTROL_STOP, &status);
        waitForState(name, SERVICE_STOPPED, StateChangeMs);
        DeleteService(service);
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    // Wine forgets a deleted service only once its process has gone as well, a moment after it reported STOPPED.
    waitForState(name, 0, StateChangeMs);
}

} // namespace servicetest
