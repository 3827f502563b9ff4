#pragma once

// Makes chosen processes look as if another account ran them (under Wine every process is the one user's):
// the module's OpenProcessToken notes, per thread, which process it opened, and its LookupAccountSidW then
// answers the chosen domain and user for that process. One owner hook at a time per process.

#include <windows.h>

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "ImportHook.h"

class OwnerHook {
public:
    explicit OwnerHook(HMODULE module);
    ~OwnerHook();
    OwnerHook(const OwnerHook&) = delete;
    OwnerHook& operator=(const OwnerHook&) = delete;

    bool Active() const { return m_open->Active() && m_lookup->Active(); }
    void Set(DWORD pid, std::wstring domain, std::wstring user);

private:
    static BOOL WINAPI OpenToken(HANDLE process, DWORD access, PHANDLE token);
    static BOOL WINAPI Lookup(LPCWSTR system, PSID sid, LPWSTR name, LPDWORD nameChars, LPWSTR domain,
                              LPDWORD domainChars, PSID_NAME_USE use);

    std::mutex m_lock;
    std::map<DWORD, std::pair<std::wstring, std::wstring>> m_owners;
    std::unique_ptr<ImportHook> m_open;
    std::unique_ptr<ImportHook> m_lookup;
};
