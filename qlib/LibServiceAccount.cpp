// The service's configuration: start mode, binary path and account, and the account its process runs under.

#include "LibService.h"

#include <cwchar>

#include "LibAssert.h"
#include "LibFetchSized.h"
#include "LibLogger.h"
#include "LibOwners.h"
#include "LibProcess.h"
#include "LibServiceParts.h"

namespace {

wchar_t* HeapCopy(const wchar_t* text, size_t length)
{
    auto* copy = static_cast<wchar_t*>(HeapAlloc(GetProcessHeap(), 0, (length + 1) * sizeof(wchar_t)));
    if (copy != nullptr) {
        wmemcpy(copy, text, length);
        copy[length] = L'\0';
    }
    return copy;
}

bool IsServiceAccount(const wchar_t* user)
{
    for (const wchar_t* name : {L"LocalService", L"Local Service", L"NetworkService", L"Network Service"})
        if (_wcsicmp(user, name) == 0)
            return true;
    return false;
}

} // namespace

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
        if (!QLibIsWindows2000() && IsServiceAccount(user))
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
    QLibSizedBlock copy;
    QLibSizedBlock domain(sizeof(wchar_t));
    SID_NAME_USE use;
    QLibSizedCall sized;
    sized.call = [&] {
        return QLibCallResult(LookupAccountNameW(nullptr, startName, copy.data.get(), &copy.size, domain.Get<wchar_t>(),
                                                 &domain.size, &use));
    };
    sized.traceFailure = [&](DWORD code, bool) {
        QLIB_TRACE(function, L"Failed to lookup the account name '%s'. Error = %d.", startName, code);
    };
    sized.function = function;
    sized.allocFailedFormat = QLibServiceAllocFailed;
    status = QLibFetchSized(sized, {&copy, &domain});
    *sid = copy.Release<void>();
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
