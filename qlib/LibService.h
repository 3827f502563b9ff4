#pragma once
// One Windows service: its handle and key name, control, status waits, queries, accounts and environment.

#include <windows.h>

#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "LibWin32Object.h"

class QLibProcess;

class QLibService : public QLibWin32Object {
public:
    // A wait limit of this value never ends by time.
    static constexpr uint32_t NoTimeLimit = 0xFFFFFFFFu;

    QLibService();
    QLibService(const wchar_t* name, uint32_t access, const wchar_t* machine);
    QLibService(SC_HANDLE manager, const wchar_t* name, uint32_t access);
    ~QLibService() override;

    QLibStatus Close() override;
    QLibStatus Attach(HANDLE service) override;
    HANDLE Detach() override;
    virtual QLibStatus Open(const wchar_t* name, uint32_t access, const wchar_t* machine);
    virtual QLibStatus Open(SC_HANDLE manager, const wchar_t* name, uint32_t access);
    virtual QLibStatus Start(uint32_t argc = 0, const wchar_t** argv = nullptr);
    virtual QLibStatus WaitForStart(uint32_t timeout);
    virtual QLibStatus Stop();
    virtual QLibStatus WaitForStop(uint32_t timeout);
    virtual QLibStatus WaitForServiceStatus(uint32_t targetState, uint32_t pendingState, uint32_t timeout);
    virtual QLibStatus QueryStatusEx(uint32_t infoLevel, BYTE** status);
    virtual QLibStatus QueryConfig(QUERY_SERVICE_CONFIGW** config);
    virtual QLibStatus QueryConfig2(uint32_t infoLevel, BYTE** config);
    virtual QLibStatus EnumDependents(uint32_t serviceState, ENUM_SERVICE_STATUSW** dependents, uint32_t* count);
    virtual QLibStatus QueryObjectSecurity(uint32_t securityInfo, PSECURITY_DESCRIPTOR* descriptor);
    virtual QLibStatus ChangeUserAccount(const wchar_t* domain, const wchar_t* user, const wchar_t* password);
    virtual QLibStatus ChangeStartMode(uint32_t startType);
    virtual QLibStatus QueryUserAccountFromSCM(wchar_t** domain, wchar_t** user);
    virtual QLibStatus DeleteService();
    virtual QLibStatus QueryUserSIDFromSCM(PSID* sid);
    virtual QLibStatus QueryUserAccountFromRunningService(wchar_t** domain, wchar_t** user);
    virtual QLibStatus QueryUserSidFromRunningService(PSID* sid);
    virtual QLibStatus IsServiceRunning(uint32_t* running);
    virtual QLibStatus IsServiceStopped(uint32_t* stopped);
    virtual QLibStatus Kill(uint32_t exitCode);
    virtual QLibStatus SetVirtualNameEnvironment(const wchar_t* virtualName);
    virtual QLibStatus RemoveVirtualNameEnvironment();
    virtual uint32_t VNameMatched(const wchar_t* virtualName);

    QLibStatus StopAllDependentServices(uint32_t timeout, std::map<std::wstring, QLibStatus>& failures);
    const wchar_t* GetServiceName() const;
    QLibStatus ChangeBinaryPath(const wchar_t* binaryPath);

    // A caller's signed time left as a wait limit: nothing left waits not at all, and no budget
    // becomes NoTimeLimit.
    static uint32_t TimeoutFromTimeLeft(int64_t timeLeft);

private:
    SC_HANDLE Service() const { return static_cast<SC_HANDLE>(Handle()); }
    QLibStatus QueryState(const char* function, DWORD* state);
    QLibStatus StopDependent(const ENUM_SERVICE_STATUSW& dependent, uint32_t timeout,
                             std::map<std::wstring, QLibStatus>& failures);
    QLibStatus WaitForDependents(const ENUM_SERVICE_STATUSW* dependents, uint32_t count, uint32_t timeout,
                                 const std::map<std::wstring, QLibStatus>& failures);
    QLibStatus ChangeConfig(DWORD startType, const wchar_t* binaryPath, const wchar_t* account,
                            const wchar_t* password);
    QLibStatus FetchBuffer(const char* function, const wchar_t* format,
                           const std::function<BOOL(void*, DWORD, DWORD*)>& call, void** buffer);
    QLibStatus OpenServiceProcess(const char* function, uint32_t access, QLibProcess& process, DWORD* state);
    QLibStatus OpenRunningProcess(const char* function, QLibProcess& process, DWORD* state);
    QLibStatus AddUserEnvironment(void** block);
    QLibStatus WriteEnvironment(const void* block);
    QLibStatus SetVirtualNameVariables(void** block, const wchar_t* virtualName);
    std::wstring RegistryPath() const;
    QLibStatus CheckHoldsService(const char* function) const;
    LONG OpenRegistryKey(const char* function, HKEY* key) const;

    std::wstring m_ServiceName;
};
