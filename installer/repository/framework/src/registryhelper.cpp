#include "registryhelper.h"

#include <shlwapi.h>

#include <algorithm>
#include <cstdlib>

#include "kitoresult.h"
#include "logger.h"
#include "owners.h"

namespace {

constexpr DWORD ValueProbeBytes = 2048;
// The buffer that GetRegKeyPath hands out, the terminator included.
constexpr size_t kRegPathChars = MAX_PATH;

} // namespace

uint32_t GetRegKeyPath(const wchar_t* subPath, wchar_t** path, int viewFlag, int is32Bit, int pathKind)
{
    if (!path) {
        return ERROR_INVALID_PARAMETER;
    }
    MallocOwner<wchar_t> buffer(static_cast<wchar_t*>(calloc(kRegPathChars, sizeof(wchar_t))));
    if (!buffer) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    if (viewFlag == 1) {
        is32Bit = 0;
    }
    std::wstring text = L"SOFTWARE";
    if (is32Bit == 1) {
        text += L"\\Wow6432Node";
    }
    if (pathKind == REG_PATH_UNINSTALL) {
        text += L"\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
    } else {
        text += L"\\Osmark\\Kito";
        if (subPath && *subPath) {
            text += L'\\';
            text += subPath;
        }
    }
    if (text.size() >= kRegPathChars) {
        *path = nullptr;
        return ERROR_INSUFFICIENT_BUFFER;
    }
    std::copy(text.begin(), text.end(), buffer.get());
    *path = buffer.release();
    return 0;
}

uint32_t getRegAccessMask(bool, REGSAM* mask)
{
    if (mask) {
        *mask = KEY_ALL_ACCESS;
    }
    return 0;
}

RegistryHelper::Root::Root(RegistryHelper& helper, HKEY root) : status(helper.getRootKey(root, &handle))
{
    if (status == 0 && handle != root)
        remote.reset(handle);
}

RegistryHelper::RegistryHelper() = default;
RegistryHelper::~RegistryHelper() = default;

void RegistryHelper::setMachine(const wchar_t* host, const wchar_t* domain)
{
    machineName.clear();
    if (host)
        machineName = std::wstring(L"\\\\") + host;
    if (domain)
        machineName += std::wstring(L".") + domain;
}

uint32_t RegistryHelper::getRootKey(HKEY root, HKEY* out)
{
    ScopeTracer tracer(L"RegistryHelper::getRootKey", &g_logger);
    *out = root;
    if (machineName.empty() || (root != HKEY_LOCAL_MACHINE && root != HKEY_USERS))
        return 0;
    HKEY remote = nullptr;
    if (RegConnectRegistryW(machineName.c_str(), root, &remote) != ERROR_SUCCESS)
        return E_KITO_REGCONNECT;
    *out = remote;
    return 0;
}

uint32_t RegistryHelper::Reg_OpenKey(HKEY* out, HKEY root, const std::wstring& subKey, REGSAM access,
                                     LONG* windowsError)
{
    ScopeTracer tracer(L"RegistryHelper::Reg_OpenKey", &g_logger);
    Root resolved(*this, root);
    if (resolved.status)
        return resolved.status;
    LONG result = RegOpenKeyExW(resolved.handle, subKey.c_str(), 0, access, out);
    if (windowsError != nullptr)
        *windowsError = result;
    if (result != ERROR_SUCCESS)
        return E_KITO_REGOPEN;
    return 0;
}

uint32_t RegistryHelper::Reg_KeyExists(HKEY root, const std::wstring& subKey, REGSAM access, LONG* windowsError)
{
    ScopeTracer tracer(L"RegistryHelper::Reg_KeyExists", &g_logger);
    KeyOwner key;
    return Reg_OpenKey(key.put(), root, subKey, access, windowsError);
}

uint32_t RegistryHelper::valueExists(HKEY root, const std::wstring& subKey, const std::wstring& valueName,
                                     REGSAM access)
{
    ScopeTracer tracer(L"RegistryHelper::valueExists", &g_logger);
    KeyOwner key;
    if (uint32_t rc = Reg_OpenKey(key.put(), root, subKey, access))
        return rc;
    BYTE data[ValueProbeBytes];
    DWORD size = sizeof data;
    if (RegQueryValueExW(key.get(), valueName.c_str(), nullptr, nullptr, data, &size) != ERROR_SUCCESS)
        return E_KITO_REGQUERY;
    return 0;
}

uint32_t RegistryHelper::Reg_ReadStringItem(HKEY root, const std::wstring& subKey, const std::wstring& valueName,
                                            wchar_t* buffer, size_t capacity, REGSAM access)
{
    ScopeTracer tracer(L"RegistryHelper::Reg_ReadStringItem", &g_logger);
    if (!buffer || capacity == 0)
        return E_KITO_REGQUERY;
    buffer[0] = L'\0';
    KeyOwner key;
    if (uint32_t rc = Reg_OpenKey(key.put(), root, subKey, access))
        return rc;
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExW(key.get(), valueName.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
        return E_KITO_REGQUERY;
    if (type != REG_SZ && type != REG_EXPAND_SZ)
        return E_KITO_REGQUERY;
    size_t chars = (size + 1) / sizeof(wchar_t);
    if (chars > capacity)
        return E_KITO_REGQUERY;
    if (chars > 0)
        buffer[chars - 1] = L'\0';
    // The data may have changed since the size was asked for; the size given caps what is written.
    if (RegQueryValueExW(key.get(), valueName.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size)
            != ERROR_SUCCESS
        || (type != REG_SZ && type != REG_EXPAND_SZ)) {
        buffer[0] = L'\0';
        return E_KITO_REGQUERY;
    }
    chars = (size + 1) / sizeof(wchar_t);
    if (chars < capacity) {
        buffer[chars] = L'\0';
    } else if (buffer[capacity - 1] != L'\0') {
        // Exactly filled, but not by a terminated text: there is no room for the terminator.
        buffer[0] = L'\0';
        return E_KITO_REGQUERY;
    }
    return 0;
}

uint32_t RegistryHelper::Reg_WriteStringItem(HKEY root, DWORD type, const std::wstring& subKey,
                                             const std::wstring& valueName, const std::wstring& text, REGSAM access)
{
    ScopeTracer tracer(L"RegistryHelper::Reg_WriteStringItem", &g_logger);
    Root resolved(*this, root);
    if (resolved.status)
        return resolved.status;
    KeyOwner key;
    if (RegCreateKeyExW(resolved.handle, subKey.c_str(), 0, nullptr, 0, access, nullptr, key.put(), nullptr)
        != ERROR_SUCCESS)
        return E_KITO_REGCREATE;
    DWORD bytes = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    if (RegSetValueExW(key.get(), valueName.c_str(), 0, type, reinterpret_cast<const BYTE*>(text.c_str()), bytes)
        != ERROR_SUCCESS)
        return E_KITO_REGSET;
    return 0;
}

uint32_t RegistryHelper::Reg_RemoveRegKey(HKEY root, const std::wstring& subKey, const std::wstring& keyName,
                                          REGSAM access, uint32_t flags)
{
    ScopeTracer tracer(L"RegistryHelper::Reg_RemoveRegKey", &g_logger);
    KeyOwner key;
    if (uint32_t rc = Reg_OpenKey(key.put(), root, subKey, access))
        return rc;
    LSTATUS status = (flags & RemoveTree) ? SHDeleteKeyW(key.get(), keyName.c_str())
                                          : SHDeleteEmptyKeyW(key.get(), keyName.c_str());
    return status == ERROR_SUCCESS ? 0 : E_KITO_REGDELETE;
}

uint32_t RegistryHelper::Reg_RemoveValue(HKEY root, const std::wstring& subKey, const std::wstring& valueName)
{
    ScopeTracer tracer(L"RegistryHelper::Reg_RemoveValue", &g_logger);
    Root resolved(*this, root);
    if (resolved.status)
        return resolved.status;
    if (SHDeleteValueW(resolved.handle, subKey.c_str(), valueName.c_str()) != ERROR_SUCCESS)
        return E_KITO_REGDELETE;
    return 0;
}
