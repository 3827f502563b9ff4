#include "LogonHook.h"

namespace {

LogonHook* g_logonHook = nullptr;

bool SameName(LPCWSTR given, const std::wstring& expected)
{
    return _wcsicmp(given ? given : L"", expected.c_str()) == 0;
}

} // namespace

LogonHook::LogonHook(HMODULE module, std::wstring user, std::wstring domain, std::wstring password)
    : m_user(std::move(user)), m_domain(std::move(domain)), m_password(std::move(password)),
      m_hook(module, "LogonUserW", reinterpret_cast<const void*>(&Logon))
{
    g_logonHook = this;
}

LogonHook::~LogonHook()
{
    g_logonHook = nullptr;
}

bool LogonHook::Accepts(LPCWSTR user, LPCWSTR domain, LPCWSTR password) const
{
    return SameName(user, m_user) && SameName(domain, m_domain) && password != nullptr && m_password == password;
}

BOOL WINAPI LogonHook::Logon(LPCWSTR user, LPCWSTR domain, LPCWSTR password, DWORD type, DWORD, PHANDLE token)
{
    if (token == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *token = nullptr;
    LogonHook* hook = g_logonHook;
    if (hook == nullptr) {
        SetLastError(ERROR_LOGON_FAILURE);
        return FALSE;
    }
    hook->m_journal.Add(L"user=" + std::wstring(user ? user : L"") + L" domain=" + (domain ? domain : L"") + L" type="
                        + std::to_wstring(type));
    if (!hook->Accepts(user, domain, password)) {
        SetLastError(ERROR_LOGON_FAILURE);
        return FALSE;
    }
    HANDLE own = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, &own))
        return FALSE;
    BOOL duplicated = DuplicateTokenEx(own, TOKEN_ALL_ACCESS, nullptr, SecurityImpersonation, TokenPrimary, token);
    DWORD error = GetLastError();
    CloseHandle(own);
    SetLastError(error);
    return duplicated;
}
