#pragma once
// A connection to the service control manager of one machine.

#include <windows.h>

#include <cstdint>
#include <functional>

#include "LibWin32Object.h"

class QLibService;

class QLibSCM : public QLibWin32Object {
public:
    QLibSCM();
    QLibSCM(const wchar_t* machine, uint32_t access);
    ~QLibSCM() override;

    QLibStatus Close() override;

    QLibStatus Open(const wchar_t* machine, uint32_t access);
    QLibStatus OpenServiceW(const wchar_t* name, uint32_t access, QLibService& service);
    QLibStatus IsServiceInstalled(const wchar_t* name, uint32_t* installed);
    QLibStatus GetKeyName(const wchar_t* displayName, wchar_t** keyName);
    QLibStatus GetDisplayName(const wchar_t* keyName, wchar_t** displayName);
    QLibStatus EnumServices(uint32_t serviceType, uint32_t serviceState, ENUM_SERVICE_STATUSW** services,
                            uint32_t* count);
    QLibStatus EnumServicesEx(uint32_t infoLevel, uint32_t serviceType, uint32_t serviceState, BYTE** services,
                              uint32_t* count, const wchar_t* groupName);
    QLibStatus QueryLockStatus(QUERY_SERVICE_LOCK_STATUSW** lockStatus);
    QLibStatus Lock();
    QLibStatus Unlock();
    QLibStatus CreateServiceW(const wchar_t* name, const wchar_t* displayName, uint32_t desiredAccess,
                              uint32_t serviceType, uint32_t startType, uint32_t errorControl,
                              const wchar_t* binaryPath, const wchar_t* loadOrderGroup, DWORD* tagId,
                              const wchar_t* dependencies, const wchar_t* account, const wchar_t* password);

private:
    using EnumCall = std::function<BOOL(void* buffer, DWORD size, DWORD* needed, DWORD* found, DWORD* resume)>;

    SC_HANDLE Manager() const { return static_cast<SC_HANDLE>(Handle()); }
    QLibStatus Enumerate(const char* function, const wchar_t* format, uint32_t serviceType, uint32_t serviceState,
                         void** services, uint32_t* count, const EnumCall& enumerate);

    SC_LOCK m_Lock = nullptr;
};
