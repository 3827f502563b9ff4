#include "LibNetIP.h"

#include <algorithm>
#include <cstring>

#include "LibAssert.h"

namespace {

IP_ADDR_STRING Detached(const IP_ADDR_STRING& entry)
{
    IP_ADDR_STRING copy = entry;
    copy.Next = nullptr;
    return copy;
}

// Texts come out normalised; a stored text that is no address gives none.
QLibStatus Read(const IP_ADDRESS_STRING& stored, wchar_t* text)
{
    uint32_t value = 0;
    if (!QLibNet::ConvertIPAddress(stored.String, &value))
        return QLibNetNotFound();
    return QLibNet::ConvertIPAddress(&value, text);
}

// Values are what the old address reading gave: all ones for a text that is no address.
QLibStatus Read(const IP_ADDRESS_STRING& stored, uint32_t* value)
{
    if (!QLibNet::ConvertIPAddress(stored.String, value))
        *value = INADDR_NONE;
    return QLibOk();
}

QLibStatus Read(const IP_ADDRESS_STRING& stored, std::wstring* text)
{
    wchar_t buffer[QLibNet::AddressChars];
    QLibStatus status = Read(stored, buffer);
    if (status.IsOK())
        *text = buffer;
    return status;
}

template <typename Item>
QLibStatus ReadList(const IP_ADDR_STRING* entry, std::vector<Item>& items)
{
    items.clear();
    for (; entry != nullptr; entry = entry->Next) {
        Item item{};
        if (Read(entry->IpAddress, &item).IsOK())
            items.push_back(item);
    }
    return QLibOk();
}

} // namespace

QLibNetIP::QLibNetIP(const wchar_t* address)
{
    (void)Open(address);
}

QLibNetIP::QLibNetIP(uint32_t address)
{
    (void)Open(address);
}

QLibNetIP::~QLibNetIP()
{
    (void)QLibNetIP::Close();
}

bool QLibNetIP::IsValid() const
{
    return m_Open != 0;
}

QLibStatus QLibNetIP::Close()
{
    if (m_Open)
        (void)m_Net.Close();
    m_Open = 0;
    m_PerAdapter.reset();
    m_Copied = Copied();
    return QLibOk();
}

QLibStatus QLibNetIP::Open(const wchar_t* address)
{
    (void)Close();
    if (m_Net.Open().IsFailed())
        return QLibFailure(QLIB_ERR_NETWORK, 0xFFFFFFFFu);
    uint32_t value = 0;
    if (!QLibNet::ConvertIPAddress(address, &value))
        return QLibNetNotFound();
    return Open(value);
}

QLibStatus QLibNetIP::Open(uint32_t address)
{
    (void)Close();
    if (!m_Net.IsValid()) {
        QLibStatus status = m_Net.Open();
        if (status.IsFailed())
            return status;
    }
    for (const IP_ADAPTER_INFO* adapter = m_Net.GetAdapterList(); adapter != nullptr; adapter = adapter->Next)
        if (const IP_ADDR_STRING* entry = QLibNet::FindAddressEntry(&adapter->IpAddressList, address))
            return Take(*adapter, *entry);
    return QLibNetNotFound();
}

QLibStatus QLibNetIP::Take(const IP_ADAPTER_INFO& adapter, const IP_ADDR_STRING& entry)
{
    QLibStatus status = QLibFetchIpHelperData(m_PerAdapter, ERROR_BUFFER_OVERFLOW,
                                              [&adapter](IP_PER_ADAPTER_INFO* buffer, ULONG* size) {
                                                  return GetPerAdapterInfo(adapter.Index, buffer, size);
                                              });
    if (status.IsFailed())
        return status;
    m_Copied.macLength = std::min<uint32_t>(adapter.AddressLength, sizeof m_Copied.mac);
    memcpy(m_Copied.mac, adapter.Address, m_Copied.macLength);
    m_Copied.address = Detached(entry);
    m_Copied.gateway = Detached(adapter.GatewayList);
    m_Copied.haveWins = adapter.HaveWins ? 1 : 0;
    if (m_Copied.haveWins) {
        m_Copied.wins[0] = Detached(adapter.PrimaryWinsServer);
        m_Copied.wins[1] = Detached(adapter.SecondaryWinsServer);
        m_Copied.wins[0].Next = &m_Copied.wins[1];
    }
    m_Open = 1;
    return QLibOk();
}

const IP_ADDR_STRING* QLibNetIP::Wins() const
{
    QLIB_ASSERT(m_Open);
    return m_Copied.haveWins ? &m_Copied.wins[0] : nullptr;
}

const IP_PER_ADAPTER_INFO& QLibNetIP::PerAdapter() const
{
    QLIB_ASSERT(m_Open);
    return *m_PerAdapter.get();
}

QLibStatus QLibNetIP::GetMAC(BYTE* mac, uint32_t size, uint32_t* length) const
{
    QLIB_ASSERT(m_Open);
    memcpy(mac, m_Copied.mac, std::min(size, m_Copied.macLength));
    *length = m_Copied.macLength;
    return QLibOk();
}

QLibStatus QLibNetIP::GetIPAddress(wchar_t* text) const
{
    QLIB_ASSERT(m_Open);
    return Read(m_Copied.address.IpAddress, text);
}

QLibStatus QLibNetIP::GetIPAddress(uint32_t* address) const
{
    QLIB_ASSERT(m_Open);
    return Read(m_Copied.address.IpAddress, address);
}

QLibStatus QLibNetIP::GetSubnetMask(wchar_t* text) const
{
    QLIB_ASSERT(m_Open);
    return Read(m_Copied.address.IpMask, text);
}

QLibStatus QLibNetIP::GetSubnetMask(uint32_t* mask) const
{
    QLIB_ASSERT(m_Open);
    return Read(m_Copied.address.IpMask, mask);
}

QLibStatus QLibNetIP::GetDefaultGateway(wchar_t* text) const
{
    QLIB_ASSERT(m_Open);
    return Read(m_Copied.gateway.IpAddress, text);
}

QLibStatus QLibNetIP::GetDefaultGateway(uint32_t* address) const
{
    QLIB_ASSERT(m_Open);
    return Read(m_Copied.gateway.IpAddress, address);
}

QLibStatus QLibNetIP::GetWINSServers(std::vector<std::wstring>& servers) const
{
    return ReadList(Wins(), servers);
}

QLibStatus QLibNetIP::GetWINSServers(std::vector<uint32_t>& servers) const
{
    return ReadList(Wins(), servers);
}

QLibStatus QLibNetIP::GetDNSServers(std::vector<std::wstring>& servers) const
{
    return ReadList(&PerAdapter().DnsServerList, servers);
}

QLibStatus QLibNetIP::GetDNSServers(std::vector<uint32_t>& servers) const
{
    return ReadList(&PerAdapter().DnsServerList, servers);
}

QLibStatus QLibNetIP::GetCurrentDNSServer(wchar_t* text) const
{
    // Windows may name no current server.
    const IP_ADDR_STRING* current = PerAdapter().CurrentDnsServer;
    return current ? Read(current->IpAddress, text) : QLibNetNotFound();
}

QLibStatus QLibNetIP::GetCurrentDNSServer(uint32_t* address) const
{
    const IP_ADDR_STRING* current = PerAdapter().CurrentDnsServer;
    return current ? Read(current->IpAddress, address) : QLibNetNotFound();
}
