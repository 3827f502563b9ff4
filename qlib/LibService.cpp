// The service object itself: its handle and key name, and the buffers it is queried into.

#include "LibService.h"

#include "LibAssert.h"
#include "LibFetchSized.h"
#include "LibLogger.h"
#include "LibOwners.h"
#include "LibSCM.h"
#include "LibServiceParts.h"

QLibStatus QLibServiceStateFailure(DWORD code)
{
    QLibStatus status;
    status.Set(QLIB_ERR_SERVICE_STATE, code);
    return status;
}

OSVERSIONINFOW QLibWindowsVersion()
{
    OSVERSIONINFOW version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    GetVersionExW(&version);
    return version;
}

bool QLibIsWindows2000()
{
    OSVERSIONINFOW version = QLibWindowsVersion();
    return version.dwMajorVersion == 5 && version.dwMinorVersion == 0;
}

QLibService::QLibService() : QLibWin32Object(QLibHandleKind::ServiceManager) {}

QLibService::QLibService(const wchar_t* name, uint32_t access, const wchar_t* machine) : QLibService()
{
    (void)Open(name, access, machine);
}

QLibService::QLibService(SC_HANDLE manager, const wchar_t* name, uint32_t access) : QLibService()
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
    m_ServiceName.clear();
    return QLibWin32Object::Close();
}

QLibStatus QLibService::Attach(HANDLE service)
{
    (void)Close();
    Hold(service);
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
        (void)QLibWin32Object::Detach(); // the caller still owns the handle
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
    Hold(service);
    m_ServiceName = name;
    return QLibOk();
}

QLibStatus QLibService::FetchBuffer(const char* function, const wchar_t* format,
                                    const std::function<BOOL(void*, DWORD, DWORD*)>& call, void** buffer)
{
    QLIB_ASSERT(IsValid());
    QLibSizedBlock block;
    QLibSizedCall sized;
    sized.call = [&] { return QLibCallResult(call(block.data.get(), block.size, &block.size)); };
    sized.traceFailure = [&](DWORD code, bool) { QLIB_TRACE(function, format, code, m_ServiceName.c_str()); };
    sized.function = function;
    sized.allocFailedFormat = QLibServiceAllocFailed;
    QLibStatus status = QLibFetchSized(sized, {&block});
    *buffer = block.Release<void>();
    return status;
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

const wchar_t* QLibService::GetServiceName() const
{
    return m_ServiceName.c_str();
}
