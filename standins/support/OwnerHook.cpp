#include "OwnerHook.h"

namespace {

OwnerHook* g_ownerHook = nullptr;
// The process whose token this thread opened last through the module, when it has a chosen owner.
thread_local DWORD t_ownedPid = 0;

// Copies one name the way LookupAccountSidW does: too small a buffer gives the size needed.
bool PutName(const std::wstring& text, LPWSTR buffer, LPDWORD chars)
{
    bool fits = buffer != nullptr && *chars > text.size();
    if (fits)
        wcscpy(buffer, text.c_str());
    *chars = static_cast<DWORD>(text.size() + (fits ? 0 : 1));
    return fits;
}

} // namespace

OwnerHook::OwnerHook(HMODULE module)
{
    g_ownerHook = this;
    m_open = std::make_unique<ImportHook>(module, "OpenProcessToken", reinterpret_cast<const void*>(&OpenToken));
    m_lookup = std::make_unique<ImportHook>(module, "LookupAccountSidW", reinterpret_cast<const void*>(&Lookup));
}

OwnerHook::~OwnerHook()
{
    m_open.reset();
    m_lookup.reset();
    g_ownerHook = nullptr;
}

void OwnerHook::Set(DWORD pid, std::wstring domain, std::wstring user)
{
    std::lock_guard<std::mutex> hold(m_lock);
    m_owners[pid] = {std::move(domain), std::move(user)};
}

BOOL WINAPI OwnerHook::OpenToken(HANDLE process, DWORD access, PHANDLE token)
{
    OwnerHook* hook = g_ownerHook;
    DWORD pid = GetProcessId(process);
    {
        std::lock_guard<std::mutex> hold(hook->m_lock);
        t_ownedPid = hook->m_owners.count(pid) != 0 ? pid : 0;
    }
    return hook->m_open->Original<decltype(&OpenProcessToken)>()(process, access, token);
}

BOOL WINAPI OwnerHook::Lookup(LPCWSTR system, PSID sid, LPWSTR name, LPDWORD nameChars, LPWSTR domain,
                              LPDWORD domainChars, PSID_NAME_USE use)
{
    OwnerHook* hook = g_ownerHook;
    std::pair<std::wstring, std::wstring> owner;
    {
        std::lock_guard<std::mutex> hold(hook->m_lock);
        auto found = hook->m_owners.find(t_ownedPid);
        if (t_ownedPid == 0 || found == hook->m_owners.end())
            return hook->m_lookup->Original<decltype(&LookupAccountSidW)>()(system, sid, name, nameChars, domain,
                                                                            domainChars, use);
        owner = found->second;
    }
    bool fits = PutName(owner.second, name, nameChars);
    fits = PutName(owner.first, domain, domainChars) && fits;
    if (use != nullptr)
        *use = SidTypeUser;
    SetLastError(fits ? ERROR_SUCCESS : ERROR_INSUFFICIENT_BUFFER);
    return fits;
}
