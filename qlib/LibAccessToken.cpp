#include "LibAccessToken.h"

#include "LibAssert.h"
#include "LibFetchSized.h"
#include "LibLogger.h"

namespace {

// Takes the token that an open call produced, or reports why there is none.
QLibStatus TakeToken(QLibWin32Object& owner, BOOL opened, HANDLE token, const char* function, const wchar_t* message)
{
    QLibStatus status;
    if (!opened) {
        status = QLibLastError();
        QLIB_TRACE(function, message, status.GetCode());
        return status;
    }
    return owner.Attach(token);
}

} // namespace

QLibAccessToken::~QLibAccessToken()
{
    (void)QLibWin32Object::Close();
}

QLibStatus QLibAccessToken::GetInformation(uint32_t infoClass, void** buffer)
{
    QLIB_ASSERT(IsValid());
    auto tokenClass = static_cast<TOKEN_INFORMATION_CLASS>(infoClass);
    QLibSizedBlock information;
    QLibSizedCall sized;
    sized.call = [&] {
        return QLibCallResult(
            GetTokenInformation(Handle(), tokenClass, information.data.get(), information.size, &information.size));
    };
    sized.traceFailure = [](DWORD code, bool) {
        QLIB_TRACE("QLibAccessToken::GetInformation", L"(%d) GetTokenInformation failed.", code);
    };
    sized.function = "QLibAccessToken::GetInformation";
    sized.allocFailedFormat = L"(%d) HeapAlloc failed. Size=%d.";
    QLibStatus status = QLibFetchSized(sized, {&information});
    *buffer = information.Release<void>();
    return status;
}

QLibStatus QLibAccessToken::EnablePrivilege(const wchar_t* privilegeName, BOOL enable)
{
    QLIB_ASSERT(IsValid());
    QLIB_ASSERT(privilegeName != nullptr);
    QLibStatus status;
    TOKEN_PRIVILEGES privileges = {};
    if (!LookupPrivilegeValueW(nullptr, privilegeName, &privileges.Privileges[0].Luid)) {
        status = QLibLastError();
        QLIB_TRACE("QLibAccessToken::EnablePrivilege", L"(%d) LookupPrivilegeValue failed. privName = %s.",
                   status.GetCode(), privilegeName);
        return status;
    }
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = enable ? SE_PRIVILEGE_ENABLED : 0;
    if (!AdjustTokenPrivileges(Handle(), FALSE, &privileges, sizeof(privileges), nullptr, nullptr)) {
        status = QLibLastError();
        QLIB_TRACE("QLibAccessToken::EnablePrivilege", L"(%d) AdjustTokenPrivileges failed. bEnable = %d",
                   status.GetCode(), enable);
        return status;
    }
    return QLibOk();
}

QLibProcessToken::QLibProcessToken(HANDLE process, uint32_t access)
{
    (void)Open(process, access);
}

QLibStatus QLibProcessToken::Open(HANDLE process, uint32_t access)
{
    (void)Close();
    HANDLE token = nullptr;
    BOOL opened = OpenProcessToken(process, access, &token);
    return TakeToken(*this, opened, token, "QLibProcessToken::Open", L"(%d) OpenProcessToken failed.");
}

QLibThreadToken::QLibThreadToken(HANDLE thread, uint32_t access, BOOL openAsSelf)
{
    (void)Open(thread, access, openAsSelf);
}

QLibStatus QLibThreadToken::Open(HANDLE thread, uint32_t access, BOOL openAsSelf)
{
    (void)Close();
    HANDLE token = nullptr;
    BOOL opened = OpenThreadToken(thread, access, openAsSelf, &token);
    return TakeToken(*this, opened, token, "QLibThreadToken::Open", L"(%d) OpenThreadToken failed.");
}
