#include "LibSCM.h"

#include "LibAssert.h"
#include "LibFetchSized.h"
#include "LibLogger.h"
#include "LibOwners.h"
#include "LibService.h"

namespace {

constexpr wchar_t AllocFailedFormat[] = L"(%d) Failed to alloc mem. size=%d.";

// Name translation calls count in characters without the terminator.
QLibStatus FetchName(const char* function, const wchar_t* format, const wchar_t* name,
                     const std::function<BOOL(wchar_t*, DWORD*)>& translate, wchar_t** result)
{
    QLibSizedBlock text(sizeof(wchar_t));
    QLibSizedCall sized;
    sized.call = [&] {
        DWORD chars = text.size;
        BOOL done = translate(text.Get<wchar_t>(), &chars);
        text.size = chars + 1;
        return QLibCallResult(done);
    };
    sized.traceFailure = [&](DWORD code, bool) { QLIB_TRACE(function, format, code, name); };
    sized.function = function;
    sized.allocFailedFormat = AllocFailedFormat;
    QLibStatus status = QLibFetchSized(sized, {&text});
    *result = text.Release<wchar_t>();
    return status;
}

} // namespace

QLibSCM::QLibSCM() : QLibWin32Object(QLibHandleKind::ServiceManager) {}

QLibSCM::QLibSCM(const wchar_t* machine, uint32_t access) : QLibSCM()
{
    (void)Open(machine, access);
}

QLibSCM::~QLibSCM()
{
    (void)QLibSCM::Close();
}

QLibStatus QLibSCM::Close()
{
    if (IsValid()) {
        (void)Unlock();
        m_Lock = nullptr;
    }
    return QLibWin32Object::Close();
}

QLibStatus QLibSCM::Open(const wchar_t* machine, uint32_t access)
{
    (void)Close();
    SC_HANDLE manager = OpenSCManagerW(machine, L"ServicesActive", access);
    if (manager == nullptr) {
        QLibStatus status = QLibLastError();
        QLIB_TRACE("QLibSCM::Open", L"(%d) Failed to open SCM. Name=%s, Access=%d", status.GetCode(),
                   machine ? machine : L"", access);
        return status;
    }
    Hold(manager);
    return QLibOk();
}

QLibStatus QLibSCM::OpenServiceW(const wchar_t* name, uint32_t access, QLibService& service)
{
    QLIB_ASSERT(IsValid());
    QLIB_ASSERT(name != nullptr);
    QLibStatus status = service.Open(Manager(), name, access);
    if (status.IsOK())
        return status;
    QLIB_TRACE("QLibSCM::OpenServiceW", L"(%d) OpenService failed for %s, dwAccess=%d", status.GetCode(), name, access);
    if (status.GetType() != QLIB_ERR_WIN32
        || (status.GetCode() != ERROR_SERVICE_DOES_NOT_EXIST && status.GetCode() != ERROR_INVALID_NAME))
        return status;

    // Not a key name: it may be a display name.
    QLibHeapOwner<wchar_t> keyName;
    status = GetKeyName(name, keyName.put());
    if (status.IsFailed()) {
        QLIB_TRACE("QLibSCM::OpenServiceW", L"(%d) GetKeyName failed for %s", status.GetCode(), name);
        return status;
    }
    status = service.Open(Manager(), keyName.get(), access);
    if (status.IsFailed())
        QLIB_TRACE("QLibSCM::OpenServiceW", L"(%d) Failed to open svc %s(%s), access=%d", status.GetCode(), name,
                   keyName.get(), access);
    return status;
}

QLibStatus QLibSCM::IsServiceInstalled(const wchar_t* name, uint32_t* installed)
{
    QLIB_ASSERT(IsValid());
    QLIB_ASSERT(name != nullptr);
    *installed = 0;
    QLibService service;
    QLibStatus status = OpenServiceW(name, GENERIC_READ, service);
    if (status.IsOK()) {
        *installed = 1;
        return status;
    }
    if (status.Is(QLIB_ERR_WIN32, ERROR_SERVICE_DOES_NOT_EXIST))
        return QLibOk();
    QLIB_TRACE("QLibSCM::IsServiceInstalled", L"(%d) OpenService failed for '%s'", status.GetCode(), name);
    return status;
}

QLibStatus QLibSCM::GetKeyName(const wchar_t* displayName, wchar_t** keyName)
{
    QLIB_ASSERT(IsValid());
    QLIB_ASSERT(displayName != nullptr);
    return FetchName(
        "QLibSCM::GetKeyName", L"(%d) GetServiceKeyName failed. DispName=%s.", displayName,
        [&](wchar_t* buffer, DWORD* chars) { return GetServiceKeyNameW(Manager(), displayName, buffer, chars); },
        keyName);
}

QLibStatus QLibSCM::GetDisplayName(const wchar_t* keyName, wchar_t** displayName)
{
    QLIB_ASSERT(IsValid());
    QLIB_ASSERT(keyName != nullptr);
    return FetchName(
        "QLibSCM::GetDisplayName", L"(%d) GetServiceDisplayName failed. key=%s", keyName,
        [&](wchar_t* buffer, DWORD* chars) { return GetServiceDisplayNameW(Manager(), keyName, buffer, chars); },
        displayName);
}

QLibStatus QLibSCM::EnumServices(uint32_t serviceType, uint32_t serviceState, ENUM_SERVICE_STATUSW** services,
                                 uint32_t* count)
{
    return Enumerate("QLibSCM::EnumServices", L"(%d) EnumServiceStatus failed. Type=%d, State=%d", serviceType,
                     serviceState, reinterpret_cast<void**>(services), count,
                     [&](void* buffer, DWORD size, DWORD* needed, DWORD* found, DWORD* resume) {
                         return EnumServicesStatusW(Manager(), serviceType, serviceState,
                                                    static_cast<ENUM_SERVICE_STATUSW*>(buffer), size, needed, found,
                                                    resume);
                     });
}

QLibStatus QLibSCM::EnumServicesEx(uint32_t infoLevel, uint32_t serviceType, uint32_t serviceState, BYTE** services,
                                   uint32_t* count, const wchar_t* groupName)
{
    return Enumerate("QLibSCM::EnumServicesEx", L"(%d) EnumServiceStatusEx failed. Type=%d, State=%d", serviceType,
                     serviceState, reinterpret_cast<void**>(services), count,
                     [&](void* buffer, DWORD size, DWORD* needed, DWORD* found, DWORD* resume) {
                         return EnumServicesStatusExW(Manager(), static_cast<SC_ENUM_TYPE>(infoLevel), serviceType,
                                                      serviceState, static_cast<BYTE*>(buffer), size, needed, found,
                                                      resume, groupName);
                     });
}

// One resume handle serves both calls of an enumeration.
QLibStatus QLibSCM::Enumerate(const char* function, const wchar_t* format, uint32_t serviceType, uint32_t serviceState,
                              void** services, uint32_t* count, const EnumCall& enumerate)
{
    QLIB_ASSERT(IsValid());
    *count = 0;
    DWORD resume = 0;
    DWORD found = 0;
    QLibSizedBlock list;
    QLibSizedCall sized;
    sized.call = [&] {
        // Every size query starts the enumeration from its beginning.
        if (!list.data)
            resume = 0;
        return QLibCallResult(enumerate(list.data.get(), list.size, &list.size, &found, &resume));
    };
    sized.moreData = ERROR_MORE_DATA;
    sized.sizeQuerySuccess = QLibSizeQuerySuccess::Empty;
    sized.traceFailure = [&](DWORD code, bool) { QLIB_TRACE(function, format, code, serviceType, serviceState); };
    sized.function = function;
    sized.allocFailedFormat = AllocFailedFormat;
    QLibStatus status = QLibFetchSized(sized, {&list});
    *services = list.Release<void>();
    if (status.IsOK())
        *count = found;
    return status;
}

QLibStatus QLibSCM::QueryLockStatus(QUERY_SERVICE_LOCK_STATUSW** lockStatus)
{
    QLIB_ASSERT(IsValid());
    QLibSizedBlock status;
    QLibSizedCall sized;
    sized.call = [&] {
        return QLibCallResult(
            QueryServiceLockStatusW(Manager(), status.Get<QUERY_SERVICE_LOCK_STATUSW>(), status.size, &status.size));
    };
    sized.traceFailure = [](DWORD code, bool) {
        QLIB_TRACE("QLibSCM::QueryLockStatus", L"(%d) QueryServiceLockStatus failed.", code);
    };
    sized.function = "QLibSCM::QueryLockStatus";
    sized.allocFailedFormat = AllocFailedFormat;
    QLibStatus result = QLibFetchSized(sized, {&status});
    *lockStatus = status.Release<QUERY_SERVICE_LOCK_STATUSW>();
    return result;
}

QLibStatus QLibSCM::Lock()
{
    QLIB_ASSERT(IsValid());
    // The database takes one lock: asking again while holding it would be refused, and the held lock lost.
    if (m_Lock != nullptr)
        return QLibOk();
    SC_LOCK lock = LockServiceDatabase(Manager());
    if (lock == nullptr) {
        QLibStatus status = QLibLastError();
        QLIB_TRACE("QLibSCM::Lock", L"(%d) Failed to lock service database.", status.GetCode());
        return status;
    }
    m_Lock = lock;
    return QLibOk();
}

QLibStatus QLibSCM::Unlock()
{
    QLIB_ASSERT(IsValid());
    if (m_Lock == nullptr)
        return QLibOk();
    if (!UnlockServiceDatabase(m_Lock)) {
        QLibStatus status = QLibLastError();
        QLIB_TRACE("QLibSCM::Unlock", L"(%d) Failed to unlock service database.", status.GetCode());
        return status;
    }
    m_Lock = nullptr;
    return QLibOk();
}

QLibStatus QLibSCM::CreateServiceW(const wchar_t* name, const wchar_t* displayName, uint32_t desiredAccess,
                                   uint32_t serviceType, uint32_t startType, uint32_t errorControl,
                                   const wchar_t* binaryPath, const wchar_t* loadOrderGroup, DWORD* tagId,
                                   const wchar_t* dependencies, const wchar_t* account, const wchar_t* password)
{
    // Callers open the service themselves when they need it.
    QLibServiceOwner service(::CreateServiceW(Manager(), name, displayName, desiredAccess, serviceType, startType,
                                              errorControl, binaryPath, loadOrderGroup, tagId, dependencies, account,
                                              password));
    if (!service) {
        QLibStatus status = QLibLastError();
        QLIB_TRACE("QLibSCM::CreateServiceW", L"(%d) Failed to create service %s.", status.GetCode(),
                   name ? name : L"");
        return status;
    }
    return QLibOk();
}
