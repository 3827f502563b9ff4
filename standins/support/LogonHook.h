#pragma once

// Replaces a module's LogonUserW, which Wine answers with a token nothing accepts: the configured account
// (user and domain in any case, the password exactly) gets a primary duplicate of the own token, any
// other gets FALSE with ERROR_LOGON_FAILURE. The journal holds "user=U domain=D type=T" per call, never
// the password. One logon hook at a time per process.

#include <windows.h>

#include <string>
#include <vector>

#include "HookJournal.h"
#include "ImportHook.h"

class LogonHook {
public:
    LogonHook(HMODULE module, std::wstring user, std::wstring domain, std::wstring password);
    ~LogonHook();
    LogonHook(const LogonHook&) = delete;
    LogonHook& operator=(const LogonHook&) = delete;

    bool Active() const { return m_hook.Active(); }
    std::vector<std::wstring> Journal() const { return m_journal.Lines(); }

private:
    static BOOL WINAPI Logon(LPCWSTR user, LPCWSTR domain, LPCWSTR password, DWORD type, DWORD provider, PHANDLE token);
    bool Accepts(LPCWSTR user, LPCWSTR domain, LPCWSTR password) const;

    std::wstring m_user;
    std::wstring m_domain;
    std::wstring m_password;
    HookJournal m_journal;
    ImportHook m_hook;
};
