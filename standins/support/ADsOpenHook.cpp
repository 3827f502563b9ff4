#include "ADsOpenHook.h"

#include <objbase.h>

#include <utility>

namespace {

ADsOpenHook* g_adsOpenHook = nullptr;

using OpenFunction = HRESULT(WINAPI*)(LPCWSTR, LPCWSTR, LPCWSTR, DWORD, REFIID, void**);
constexpr DWORD SecureAuthentication = 0x1;

// "LDAP://rootDSE" and "LDAP://<dn>" name no server: the hook's goes in front of what follows the scheme.
std::wstring WithServer(const std::wstring& path, const std::wstring& server)
{
    const std::wstring scheme = L"LDAP://";
    if (path.size() <= scheme.size() || _wcsnicmp(path.c_str(), scheme.c_str(), scheme.size()) != 0)
        return path;
    std::wstring first = path.substr(scheme.size(), path.find(L'/', scheme.size()) - scheme.size());
    if (first.find(L'=') == std::wstring::npos && _wcsicmp(first.c_str(), L"rootDSE") != 0)
        return path;
    return scheme + server + L"/" + path.substr(scheme.size());
}

std::wstring InterfaceName(REFIID iid)
{
    wchar_t text[40] = {};
    StringFromGUID2(iid, text, 40);
    return text;
}

} // namespace

ADsOpenHook::ADsOpenHook(HMODULE module, std::wstring server)
    : m_server(std::move(server)), m_hook(module, "ADsOpenObject", reinterpret_cast<const void*>(&Open))
{
    g_adsOpenHook = this;
}

ADsOpenHook::~ADsOpenHook()
{
    g_adsOpenHook = nullptr;
}

HRESULT WINAPI ADsOpenHook::Open(LPCWSTR path, LPCWSTR user, LPCWSTR password, DWORD flags, REFIID iid, void** object)
{
    ADsOpenHook* hook = g_adsOpenHook;
    if (hook == nullptr)
        return E_UNEXPECTED;
    std::wstring given = path ? path : L"";
    hook->m_journal.Add(L"path=" + given + L" user=" + (user ? user : L"") + L" flags=" + std::to_wstring(flags)
                        + L" iid=" + InterfaceName(iid));
    std::wstring bound = WithServer(given, hook->m_server);
    auto open = hook->m_hook.Original<OpenFunction>();
    std::shared_ptr<ADsFakeObject> fake = hook->m_fakes->Find(bound);
    if (fake == nullptr)
        return open(path ? bound.c_str() : nullptr, user, password, flags & ~SecureAuthentication, iid, object);
    *object = nullptr;
    if (FAILED(fake->bindResult))
        return fake->bindResult;
    // Searches below a fake run on the real server.
    IDirectorySearch* real = nullptr;
    open(bound.c_str(), user, password, flags & ~SecureAuthentication, IID_IDirectorySearch,
         reinterpret_cast<void**>(&real));
    HRESULT hr = hook->m_fakes->Create(fake, real, iid, object);
    if (real)
        real->Release();
    return hr;
}
