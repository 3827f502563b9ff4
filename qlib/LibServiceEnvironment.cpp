// The virtual-name environment of a service: the variables in its registry key that name another host.

#include "LibService.h"

#include <cwchar>

#include "LibAssert.h"
#include "LibLogger.h"
#include "LibNtDll.h"
#include "LibOwners.h"
#include "LibServiceParts.h"

#include <sddl.h>
#include <userenv.h>

namespace {

struct DestroyNativeEnvironment : QLibNonNull {
    static void Close(void* block) { (void)QLibNtDll().DestroyEnvironment(block); }
};

} // namespace

std::wstring QLibService::RegistryPath() const
{
    return L"System\\CurrentControlSet\\Services\\" + m_ServiceName;
}

// Without a service (closed, detached, deleted, never opened) the name is empty and the path would name the
// key of all services: the object then has no key to use. (28, 1) is the library's invalid-parameter answer.
QLibStatus QLibService::CheckHoldsService(const char* function) const
{
    if (!m_ServiceName.empty())
        return QLibOk();
    QLIB_TRACE(function, L"The object holds no service: it has no registry key.");
    return QLibFailure(QLIB_ERR_DNS, 1);
}

// The service's own key, where its "Environment" value lives.
LONG QLibService::OpenRegistryKey(const char* function, HKEY* key) const
{
    std::wstring path = RegistryPath();
    LONG error = RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_ALL_ACCESS, key);
    if (error != ERROR_SUCCESS)
        QLIB_TRACE(function, L"(%d) Failed to open the registry key '%s'.", error, path.c_str());
    return error;
}

// Windows 2000 only: the configured account's own variables from HKEY_USERS\<sid>\Environment.
// An account without a SID or without that key leaves the block as it is.
QLibStatus QLibService::AddUserEnvironment(void** block)
{
    const char* function = "QLibService::SetVirtualNameEnvironment";
    QLibHeapOwner<void> sid;
    if (QueryUserSIDFromSCM(sid.put()).IsFailed())
        return QLibOk();
    QLibLocalOwner<wchar_t> sidText;
    if (!ConvertSidToStringSidW(sid.get(), sidText.put())) {
        QLibStatus status = QLibLastError();
        QLIB_TRACE(function, L"(%d) ConvertSidToStringSid failed.", status.GetCode());
        return status;
    }
    std::wstring path = std::wstring(sidText.get()) + L"\\Environment";
    QLibKeyOwner key;
    if (RegOpenKeyExW(HKEY_USERS, path.c_str(), 0, KEY_ALL_ACCESS, key.put()) != ERROR_SUCCESS)
        return QLibOk();

    DWORD nameChars = 0;
    DWORD dataBytes = 0;
    RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &nameChars, &dataBytes,
                     nullptr, nullptr);
    nameChars = nameChars ? nameChars : 4096;
    dataBytes = dataBytes ? dataBytes : 4096;
    const DWORD nameBytes = (nameChars + 1) * sizeof(wchar_t);
    const DWORD dataRoom = dataBytes + sizeof(wchar_t);
    QLibHeapOwner<wchar_t> name(static_cast<wchar_t*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, nameBytes)));
    QLibHeapOwner<wchar_t> data(static_cast<wchar_t*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, dataRoom)));
    if (!name || !data) {
        QLIB_TRACE(function, L"(%d) HeapAlloc failed. size = %d.", ERROR_NOT_ENOUGH_MEMORY,
                   name ? dataRoom : nameBytes);
        return QLibWin32Failure(ERROR_NOT_ENOUGH_MEMORY);
    }
    QLibNtDll ntdll;
    for (DWORD index = 0;; ++index) {
        DWORD nameSize = nameChars + 1;
        DWORD dataSize = dataBytes;
        DWORD type = 0;
        ZeroMemory(data.get(), dataRoom);
        if (RegEnumValueW(key.get(), index, name.get(), &nameSize, nullptr, &type, reinterpret_cast<BYTE*>(data.get()),
                          &dataSize)
            != ERROR_SUCCESS)
            break;
        // A user's variable the block refuses (a name with '=') is left out, as Windows leaves it out.
        if (type == REG_SZ)
            (void)ntdll.SetEnvironmentVariable(block, name.get(), data.get());
        QLibHeapOwner<wchar_t> expanded;
        if (type == REG_EXPAND_SZ && QLibNtDll::ExpandEnvStrings(*block, data.get(), expanded.put()).IsOK())
            (void)ntdll.SetEnvironmentVariable(block, name.get(), expanded.get());
    }
    return QLibOk();
}

QLibStatus QLibService::WriteEnvironment(const void* block)
{
    const char* function = "QLibService::SetVirtualNameEnvironment";
    QLibKeyOwner key;
    LONG error = OpenRegistryKey(function, key.put());
    if (error != ERROR_SUCCESS)
        return QLibWin32Failure(error);
    DWORD bytes = sizeof(wchar_t);
    for (auto* entry = static_cast<const wchar_t*>(block); *entry; entry += wcslen(entry) + 1)
        bytes += static_cast<DWORD>((wcslen(entry) + 1) * sizeof(wchar_t));
    error = RegSetValueExW(key.get(), L"Environment", 0, REG_MULTI_SZ, static_cast<const BYTE*>(block), bytes);
    if (error != ERROR_SUCCESS) {
        QLIB_TRACE(function, L"(%d) Failed to set the env key.", error);
        return QLibWin32Failure(error);
    }
    return QLibOk();
}

QLibStatus QLibService::SetVirtualNameEnvironment(const wchar_t* virtualName)
{
    const char* function = "QLibService::SetVirtualNameEnvironment";
    QLIB_ASSERT(virtualName != nullptr);
    QLIB_ASSERT(QLibWindowsVersion().dwMajorVersion >= 5);
    QLibStatus status = CheckHoldsService(function);
    if (status.IsFailed())
        return status;

    // The block is destroyed with the call that made it: whichever owner took it.
    QLibEnvironmentOwner userBlock;
    QLibUnique<void*, DestroyNativeEnvironment> nativeBlock;
    void** block = nullptr;
    if (QLibIsWindows2000()) {
        if (!CreateEnvironmentBlock(userBlock.put(), nullptr, FALSE)) {
            status = QLibLastError();
            QLIB_TRACE(function, L"(%d) CreateEnvironmentBlock failed.", status.GetCode());
            return status;
        }
        block = userBlock.addressof();
        status = AddUserEnvironment(block);
        if (status.IsFailed())
            return status;
    } else {
        status = QLibNtDll().CreateEnvironment(FALSE, nativeBlock.put());
        if (status.IsFailed()) {
            QLIB_TRACE(function, L"(%d) NTDll::CreateEnvironment failed.", status.GetCode());
            return status;
        }
        block = nativeBlock.addressof();
    }
    status = SetVirtualNameVariables(block, virtualName);
    return status.IsOK() ? WriteEnvironment(*block) : status;
}

// A variable the block refuses fails the whole write: a service must never start half renamed.
QLibStatus QLibService::SetVirtualNameVariables(void** block, const wchar_t* virtualName)
{
    // The result is not tested: a computer outside a DNS domain gives an empty domain.
    wchar_t domain[261] = {};
    DWORD domainChars = 260;
    GetComputerNameExW(ComputerNamePhysicalDnsDomain, domain, &domainChars);
    domain[260] = L'\0';
    std::wstring fqdn = std::wstring(virtualName) + L"." + domain;
    const std::pair<const wchar_t*, const wchar_t*> variables[] = {
        {L"COMPUTERNAME", virtualName},
        {L"_CLUSTER_NETWORK_NAME_", virtualName},
        {L"_CLUSTER_NETWORK_HOSTNAME_", virtualName},
        {L"_CLUSTER_NETWORK_DOMAIN_", domain},
        {L"_CLUSTER_NETWORK_FQDN_", fqdn.c_str()},
    };
    QLibNtDll ntdll;
    for (const auto& variable : variables) {
        QLibStatus status = ntdll.SetEnvironmentVariable(block, variable.first, variable.second);
        if (status.IsFailed()) {
            QLIB_TRACE("QLibService::SetVirtualNameEnvironment", L"(%d) Failed to set the variable %s.",
                       status.GetCode(), variable.first);
            return status;
        }
    }
    return QLibOk();
}

QLibStatus QLibService::RemoveVirtualNameEnvironment()
{
    const char* function = "QLibService::RemoveVirtualNameEnvironment";
    QLibStatus status = CheckHoldsService(function);
    if (status.IsFailed())
        return status;
    QLibKeyOwner key;
    LONG error = OpenRegistryKey(function, key.put());
    if (error != ERROR_SUCCESS)
        return QLibWin32Failure(error);
    error = RegDeleteValueW(key.get(), L"Environment");
    if (error != ERROR_SUCCESS) {
        QLIB_TRACE(function, L"(%d) Failed to delete the registry value 'Environment'.", error);
        return QLibWin32Failure(error);
    }
    return QLibOk();
}

// The stored value may hold anything: the walk never leaves the bytes read, and the buffer carries two
// terminators of its own.
uint32_t QLibService::VNameMatched(const wchar_t* virtualName)
{
    const char* function = "QLibService::VNameMatched";
    QLIB_ASSERT(virtualName != nullptr);
    if (CheckHoldsService(function).IsFailed())
        return 0;
    QLibKeyOwner key;
    LONG error = OpenRegistryKey(function, key.put());
    if (error != ERROR_SUCCESS)
        return 0;
    DWORD type = 0;
    DWORD bytes = 0;
    QLibHeapOwner<wchar_t> owned;
    error = RegQueryValueExW(key.get(), L"Environment", nullptr, &type, nullptr, &bytes);
    if (error == ERROR_MORE_DATA)
        error = ERROR_SUCCESS;
    if (error == ERROR_SUCCESS && type != REG_MULTI_SZ)
        error = ERROR_INVALID_DATA;
    if (error == ERROR_SUCCESS) {
        DWORD room = (bytes + 1) / sizeof(wchar_t) + 2;
        owned.reset(static_cast<wchar_t*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, room * sizeof(wchar_t))));
        error = owned ? ERROR_SUCCESS : ERROR_NOT_ENOUGH_MEMORY;
    }
    if (error == ERROR_SUCCESS) {
        error = RegQueryValueExW(key.get(), L"Environment", nullptr, &type, reinterpret_cast<BYTE*>(owned.get()),
                                 &bytes);
        if (error == ERROR_SUCCESS && type != REG_MULTI_SZ)
            error = ERROR_INVALID_DATA;
    }
    if (error != ERROR_SUCCESS) {
        QLIB_TRACE(function, L"(%d) Failed to get data from the Environment registry key '%s'.", error,
                   RegistryPath().c_str());
        return 0;
    }
    wchar_t* block = owned.get();

    DWORD chars = bytes / sizeof(wchar_t);
    block[chars] = L'\0';
    block[chars + 1] = L'\0';
    uint32_t matches = 0;
    for (const wchar_t* entry = block; entry < block + chars && *entry; entry += wcslen(entry) + 1) {
        const wchar_t* equals = wcschr(entry, L'=');
        if (equals == nullptr)
            continue; // not a variable: it names nothing
        std::wstring name(entry, equals - entry);
        bool named = _wcsicmp(name.c_str(), L"COMPUTERNAME") == 0
            || _wcsicmp(name.c_str(), L"_CLUSTER_NETWORK_NAME_") == 0
            || _wcsicmp(name.c_str(), L"_CLUSTER_NETWORK_HOSTNAME_") == 0;
        if (named && _wcsicmp(equals + 1, virtualName) == 0)
            ++matches;
    }
    return matches == 3 ? 1 : 0;
}
