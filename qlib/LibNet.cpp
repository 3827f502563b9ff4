// The network object's adapter snapshot and what it answers by hardware address.

#include "LibNet.h"

#include <winioctl.h>
#include <ntddndis.h>

#include <cstring>
#include <cwchar>

#include "LibAssert.h"
#include "LibLogger.h"

namespace {

// A row without an address (the loopback's) or with a longer one is no match for the caller's 6 bytes.
bool SameMac(const BYTE* stored, UINT length, const BYTE* mac)
{
    return mac != nullptr && length == QLibNet::MacLength && memcmp(stored, mac, QLibNet::MacLength) == 0;
}

// A device name defined for one call; removed again exactly as it was defined.
struct QLibDosDevice {
    std::wstring name;
    std::wstring target;
};
struct QLibRemoveDosDevice {
    static bool IsValid(const QLibDosDevice& device) { return !device.name.empty(); }
    static void Close(const QLibDosDevice& device)
    {
        DefineDosDeviceW(DDD_RAW_TARGET_PATH | DDD_REMOVE_DEFINITION | DDD_EXACT_MATCH_ON_REMOVE, device.name.c_str(),
                         device.target.c_str());
    }
};
using QLibDosDeviceOwner = QLibUnique<QLibDosDevice, QLibRemoveDosDevice>;

// Private to the calling thread, so concurrent queries of one adapter never remove each other's name.
std::wstring PrivateDeviceName()
{
    return L"QLibNetMedia" + std::to_wstring(GetCurrentProcessId()) + L"_" + std::to_wstring(GetCurrentThreadId());
}

// At most DisplayNameChars - 1 characters, always terminated; false when nothing was copied.
bool CopyDisplayName(wchar_t* name, const wchar_t* source)
{
    size_t length = wcsnlen(source, QLibNet::DisplayNameChars - 1);
    wmemcpy(name, source, length);
    name[length] = L'\0';
    return length > 0;
}

bool ReadConnectionName(const std::wstring& adapterName, wchar_t* name)
{
    std::wstring path = L"SYSTEM\\CurrentControlSet\\Control\\Network\\{4D36E972-E325-11CE-BFC1-08002BE10318}\\"
        + adapterName + L"\\Connection";
    QLibKeyOwner key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS)
        return false;
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExW(key.get(), L"Name", nullptr, &type, nullptr, &size) != ERROR_SUCCESS || type != REG_SZ)
        return false;
    // One character more than the value, zero-filled: terminated even when the value is not.
    QLibLocalOwner<wchar_t> value(static_cast<wchar_t*>(LocalAlloc(LPTR, size + sizeof(wchar_t))));
    if (!value
        || RegQueryValueExW(key.get(), L"Name", nullptr, &type, reinterpret_cast<BYTE*>(value.get()), &size)
            != ERROR_SUCCESS)
        return false;
    return CopyDisplayName(name, value.get());
}

} // namespace

QLibNet::~QLibNet()
{
    (void)QLibNet::Close();
}

bool QLibNet::IsValid() const
{
    return m_AdapterList.IsValid();
}

QLibStatus QLibNet::Close()
{
    m_AdapterList.reset();
    m_Winsock.reset();
    return QLibOk();
}

QLibStatus QLibNet::Open()
{
    (void)Close();
    return QLibFetchIpHelperData(m_AdapterList, ERROR_BUFFER_OVERFLOW,
                                 [](IP_ADAPTER_INFO* buffer, ULONG* size) { return GetAdaptersInfo(buffer, size); });
}

QLibStatus QLibNet::Refresh()
{
    m_AdapterList.reset();
    return Open();
}

IP_ADAPTER_INFO* QLibNet::GetAdapterList() const
{
    QLIB_ASSERT(IsValid());
    return m_AdapterList.get();
}

const IP_ADAPTER_INFO* QLibNet::FindAdapter(const BYTE* mac) const
{
    for (const IP_ADAPTER_INFO* adapter = m_AdapterList.get(); adapter != nullptr; adapter = adapter->Next)
        if (SameMac(adapter->Address, adapter->AddressLength, mac))
            return adapter;
    return nullptr;
}

QLibStatus QLibNet::GetNameFromMAC(char** name, const BYTE* mac, uint32_t* index) const
{
    *name = nullptr;
    const IP_ADAPTER_INFO* adapter = FindAdapter(mac);
    if (adapter == nullptr)
        return QLibNetNotFound();
    size_t length = strnlen(adapter->AdapterName, sizeof adapter->AdapterName);
    char* copy = static_cast<char*>(LocalAlloc(LPTR, length + 1));
    if (copy == nullptr)
        return QLibFailure(QLIB_ERR_NETWORK, GetLastError());
    memcpy(copy, adapter->AdapterName, length);
    *name = copy;
    *index = adapter->Index;
    return QLibOk();
}

QLibStatus QLibNet::GetNameFromMAC(wchar_t** name, const BYTE* mac, uint32_t* index) const
{
    *name = nullptr;
    QLibLocalOwner<char> ansi;
    QLibStatus status = GetNameFromMAC(ansi.put(), mac, index);
    if (status.IsFailed())
        return status;
    DWORD error = ConvertToWide(name, ansi.get());
    return error == 0 ? QLibOk() : QLibWin32Failure(error);
}

QLibStatus QLibNet::HasNoCurrentIPAddress(const BYTE* mac, uint32_t* noAddress) const
{
    const IP_ADAPTER_INFO* adapter = FindAdapter(mac);
    if (adapter == nullptr)
        return QLibNetNotFound();
    *noAddress = adapter->CurrentIpAddress == nullptr ? 1 : 0;
    return QLibOk();
}

QLibStatus QLibNet::GetIfRow(const BYTE* mac, MIB_IFROW* row, uint32_t* found) const
{
    *found = 0;
    QLibHeapOwner<MIB_IFTABLE> table;
    QLibStatus status = QLibFetchIpHelperData(table, ERROR_INSUFFICIENT_BUFFER, [](MIB_IFTABLE* buffer, ULONG* size) {
        return GetIfTable(buffer, size, TRUE);
    });
    if (status.IsFailed())
        return status;
    for (DWORD i = 0; i < table.get()->dwNumEntries; ++i) {
        const MIB_IFROW& candidate = table.get()->table[i];
        if (SameMac(candidate.bPhysAddr, candidate.dwPhysAddrLen, mac)) {
            *row = candidate;
            *found = 1;
            return QLibOk();
        }
    }
    return QLibNetNotFound();
}

QLibStatus QLibNet::GetDisplayNameFromMAC(const BYTE* mac, wchar_t** displayName) const
{
    *displayName = nullptr;
    if (mac == nullptr)
        return QLibNetNotFound();
    QLibLocalOwner<wchar_t> adapterName;
    uint32_t index = 0;
    QLibStatus status = GetNameFromMAC(adapterName.put(), mac, &index);
    if (status.IsFailed())
        return status;
    QLibLocalOwner<wchar_t> name(static_cast<wchar_t*>(LocalAlloc(LPTR, DisplayNameChars * sizeof(wchar_t))));
    if (!name) {
        QLIB_TRACE("QLibNet::GetDisplayNameFromMAC", L"Failed to allocate memory for display name.");
        return QLibWin32Failure(ERROR_NOT_ENOUGH_MEMORY);
    }
    // A connection without a readable name is shown by the adapter's own name.
    if (!ReadConnectionName(adapterName.get(), name.get()) && !CopyDisplayName(name.get(), adapterName.get()))
        return QLibNetNotFound();
    *displayName = name.release();
    return QLibOk();
}

QLibStatus QLibNet::GetDisplayNameFromMAC(const wchar_t* macText, wchar_t** displayName) const
{
    *displayName = nullptr;
    BYTE mac[MacLength];
    QLibStatus status = ConvertMacAddress(mac, macText);
    if (status.GetType() == static_cast<int32_t>(QLIB_ERR_NOT_SET))
        return QLibNetNotFound();
    if (status.IsFailed())
        return status;
    return GetDisplayNameFromMAC(mac, displayName);
}

QLibStatus QLibNet::IsMediaConnected(const wchar_t* adapterName, uint32_t* connected) const
{
    *connected = 0;
    if (adapterName == nullptr)
        return QLibNetNotFound();
    std::wstring device = adapterName;
    QLibDosDeviceOwner defined;
    wchar_t target[1024];
    if (QueryDosDeviceW(adapterName, target, ARRAYSIZE(target)) == 0) {
        DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND)
            return QLibWin32Failure(error);
        QLibDosDevice raw{PrivateDeviceName(), L"\\Device\\" + device};
        if (!DefineDosDeviceW(DDD_RAW_TARGET_PATH, raw.name.c_str(), raw.target.c_str()))
            return QLibFailure(QLIB_ERR_NETWORK, GetLastError());
        device = raw.name;
        defined.reset(raw);
    }
    QLibHandleOwner handle(CreateFileW((L"\\\\.\\" + device).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                       nullptr, OPEN_EXISTING, 0, nullptr));
    if (!handle)
        return QLibLastError();
    ULONG oid = OID_GEN_MEDIA_CONNECT_STATUS;
    ULONG state = 0;
    DWORD returned = 0;
    if (!DeviceIoControl(handle.get(), IOCTL_NDIS_QUERY_GLOBAL_STATS, &oid, sizeof oid, &state, sizeof state, &returned,
                         nullptr))
        return QLibLastError();
    *connected = state == 0 ? 1 : 0;
    return QLibOk();
}

QLibStatus QLibNet::AddIPAddress(const BYTE* mac, uint32_t address, uint32_t mask)
{
    const IP_ADAPTER_INFO* adapter = FindAdapter(mac);
    if (adapter == nullptr)
        return QLibNetNotFound();
    ULONG context = 0;
    ULONG instance = 0;
    DWORD result = ::AddIPAddress(address, mask, adapter->Index, &context, &instance);
    if (result != NO_ERROR)
        return QLibWin32Failure(result);
    return Refresh();
}

QLibStatus QLibNet::DeleteIPAddress(uint32_t address, uint32_t mask, const BYTE* mac)
{
    bool found = false;
    DWORD error = NO_ERROR;
    for (const IP_ADAPTER_INFO* adapter = m_AdapterList.get(); adapter != nullptr; adapter = adapter->Next) {
        if (mac != nullptr && !SameMac(adapter->Address, adapter->AddressLength, mac))
            continue;
        const IP_ADDR_STRING* entry = FindAddressEntry(&adapter->IpAddressList, address, &mask);
        if (entry == nullptr)
            continue;
        found = true;
        DWORD result = ::DeleteIPAddress(entry->Context);
        if (result != NO_ERROR)
            error = result;
    }
    if (!found)
        return QLibNetNotFound();
    if (error != NO_ERROR)
        return QLibWin32Failure(error);
    return Refresh();
}

QLibStatus QLibNet::DeleteAllIPAddresses(const BYTE* mac) const
{
    const IP_ADAPTER_INFO* adapter = FindAdapter(mac);
    if (adapter == nullptr)
        return QLibNetNotFound();
    for (const IP_ADDR_STRING* entry = &adapter->IpAddressList; entry != nullptr; entry = entry->Next)
        (void)::DeleteIPAddress(entry->Context);
    return QLibOk();
}
