// The DNS object's binding to a name, an address and the name servers of the adapter that carries it, and the
// byte buffer that system calls fill.

#include "LibDNS.h"

#include <algorithm>
#include <cstring>

#include "LibDNSParts.h"
#include "LibLogger.h"
#include "LibNetIP.h"
#include "LibSingleLock.h"

namespace {

constexpr wchar_t MutexName[] = L"LibDNS_GlobalMembers";
constexpr DWORD ConfigBufferBytes = 400;

} // namespace

QLibStatus QLibDnsInvalidParameters(const char* function)
{
    QLIB_TRACE(function, L"Invalid parameters.");
    return QLibFailure(QLIB_ERR_DNS, 1);
}

QLibStatus QLibDnsCallFailure(const char* function, const wchar_t* callee, DNS_STATUS result, uint32_t type)
{
    QLIB_TRACE(function, L"%s returned 0x%.08X", callee, static_cast<uint32_t>(result));
    return QLibFailure(type, static_cast<uint32_t>(result));
}

QLibStatus QLibDnsTraced(const char* function, const wchar_t* callee, QLibStatus status)
{
    if (status.IsFailed())
        QLIB_TRACE_FAILED(function, callee, status);
    return status;
}

QLibBuffer::QLibBuffer(uint32_t size, const void* source)
{
    (void)Assign(size, source);
}

QLibBuffer::QLibBuffer(const QLibBuffer& other)
{
    *this = other;
}

QLibBuffer& QLibBuffer::operator=(const QLibBuffer& other)
{
    if (this != &other)
        (void)Assign(other.m_Size, other.m_Data);
    return *this;
}

QLibStatus QLibBuffer::Assign(uint32_t size, const void* source)
{
    QLibStatus status = Allocate(size);
    if (status.IsOK() && source != nullptr && size != 0)
        memcpy(m_Data, source, size);
    return status;
}

QLibStatus QLibBuffer::Allocate(uint32_t size)
{
    Free();
    if (size == 0)
        return QLibOk();
    auto* data = static_cast<BYTE*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size));
    if (data == nullptr)
        return QLibWin32Failure(ERROR_NOT_ENOUGH_MEMORY);
    m_Owned.reset(data);
    m_Data = data;
    m_Size = m_Used = m_Requested = size;
    return QLibOk();
}

QLibStatus QLibBuffer::GrowToRequestedSize()
{
    return Allocate(m_Requested);
}

void QLibBuffer::Free()
{
    if (!m_Owned)
        return;
    m_Owned.reset();
    m_Data = nullptr;
    m_Size = m_Used = 0;
}

void QLibBuffer::Reset()
{
    Free();
    m_Data = &m_Inline;
    m_Size = m_Requested = m_InlineSize;
    m_Used = 0;
}

QLibDNS::~QLibDNS()
{
    (void)QLibDNS::Close();
}

bool QLibDNS::IsValid() const
{
    return m_bInitialized != 0;
}

// Everything of the last binding goes, so that nothing can later act on a name or server it no longer holds.
QLibStatus QLibDNS::Close()
{
    if (m_Netobj.IsValid())
        (void)m_Netobj.Close();
    if (m_MutexObj.IsValid())
        (void)m_MutexObj.Close();
    m_bInitialized = 0;
    m_Name.clear();
    m_ReverseName.clear();
    m_IPAddressString.clear();
    m_IPAddress = 0;
    m_AdapterName.clear();
    m_DNSServers.clear();
    return QLibOk();
}

QLibStatus QLibDNS::Initialize(const wchar_t* name, uint32_t address, const BYTE* mac, bool attachDomainSuffix,
                               bool acceptNonRfcNames)
{
    const char* function = "QLibDNS::Initialize";
    (void)Close();
    if (name == nullptr || address == 0)
        return QLibDnsInvalidParameters(function);
    QLibStatus status = QLibDnsTraced(function, L"m_MutexObj.Create",
                                      m_MutexObj.Create(FALSE, MutexName, nullptr, nullptr));
    if (status.IsOK())
        status = QLibDnsTraced(function, L"QLibDNS::_InitializeUndocAPIs", _InitializeUndocAPIs());
    std::wstring full = name;
    if (status.IsOK() && attachDomainSuffix)
        status = QLibDnsTraced(function, L"QLibDNS::AttachDomainSuffix", AttachDomainSuffix(name, full));
    if (status.IsFailed())
        return status;
    DNS_STATUS valid = QLibDnsFunctions().validateName(full.c_str(), DnsNameDomain);
    if (valid != 0) {
        status = QLibDnsCallFailure(function, L"DnsValidateName", valid, QLIB_ERR_DNS);
        if (!acceptNonRfcNames || valid != DNS_ERROR_NON_RFC_NAME)
            return status;
    }
    m_Name = full;
    wchar_t text[QLibNet::AddressChars] = {};
    std::wstring adapterName;
    status = QLibDnsTraced(function, L"m_Netobj.Open", m_Netobj.Open());
    if (status.IsOK()) {
        status = QLibNet::ConvertIPAddress(&address, text);
        if (status.IsFailed())
            QLIB_TRACE(function, L"m_NetObj.ConvertIPAddress funtion returned FALSE");
    }
    if (status.IsOK())
        status = FindAdapterName(text, mac, adapterName);
    if (status.IsOK())
        status = QLibDnsTraced(function, L"QLibDNS::GetReverseName", GetReverseName(address, m_ReverseName));
    if (status.IsOK())
        status = QLibDnsTraced(function, L"GetDNSServersList", GetDNSServersList(adapterName, m_DNSServers));
    if (status.IsFailed())
        return status;
    m_IPAddressString = text;
    m_IPAddress = address;
    m_AdapterName = adapterName;
    m_bInitialized = 1;
    return QLibOk();
}

// The adapter with the given hardware address, or else the one that carries the address.
QLibStatus QLibDNS::FindAdapterName(const wchar_t* address, const BYTE* mac, std::wstring& adapterName)
{
    const char* function = "QLibDNS::Initialize";
    BYTE hardware[QLibNet::MacLength] = {};
    if (mac != nullptr) {
        memcpy(hardware, mac, sizeof hardware);
    } else {
        QLibNetIP ipInfo;
        QLibStatus status = QLibDnsTraced(function, L"ipInfo.Open", ipInfo.Open(address));
        uint32_t length = 0;
        if (status.IsOK())
            status = ipInfo.GetMAC(hardware, sizeof hardware, &length);
        // Only a 6-byte address names an adapter here.
        if (status.IsOK() && length != QLibNet::MacLength)
            status = QLibNetNotFound();
        if (QLibDnsTraced(function, L"ipInfo.GetMAC", status).IsFailed())
            return status;
    }
    QLibLocalOwner<wchar_t> name;
    uint32_t index = 0;
    QLibStatus status = QLibDnsTraced(function, L"m_Netobj.GetNameFromMAC",
                                      m_Netobj.GetNameFromMAC(name.put(), hardware, &index));
    if (status.IsOK())
        adapterName = name.get();
    return status;
}

QLibStatus QLibDNS::Initialize(const wchar_t* name, const wchar_t* address, const wchar_t* mac, bool attachDomainSuffix,
                               bool acceptNonRfcNames)
{
    const char* function = "QLibDNS::Initialize";
    // A failed call leaves no earlier binding behind, as the other form does.
    (void)Close();
    if (name == nullptr || address == nullptr)
        return QLibDnsInvalidParameters(function);
    QLibStatus status = QLibDnsTraced(function, L"m_Netobj.Open", m_Netobj.Open());
    if (status.IsFailed())
        return status;
    uint32_t value = 0;
    if (!QLibNet::IsValidIPFormat(address)) {
        QLIB_TRACE(function, L"m_Netobj.IsValidIPFormat function returned FALSE");
        return QLibFailure(QLIB_ERR_DNS, 1);
    }
    // Decimal whatever the leading zeros: "010.077.000.005" is 10.77.0.5.
    if (!QLibNet::ConvertIPAddress(address, &value)) {
        QLIB_TRACE(function, L"m_Netobj.ConvertIPAddress function returned FALSE");
        return QLibFailure(QLIB_ERR_DNS, 1);
    }
    BYTE hardware[QLibNet::MacLength] = {};
    if (mac != nullptr) {
        status = QLibDnsTraced(function, L"ConvertMacAddress", QLibNet::ConvertMacAddress(hardware, mac));
        if (status.IsFailed())
            return status;
    }
    (void)m_Netobj.Close();
    return Initialize(name, value, mac != nullptr ? hardware : nullptr, attachDomainSuffix, acceptNonRfcNames);
}

// The table itself is filled once per process; the named mutex stays so that other processes keep seeing it,
// and its wait is bounded so that a process that holds it cannot stop this one.
QLibStatus QLibDNS::_InitializeUndocAPIs()
{
    const char* function = "QLibDNS::_InitializeUndocAPIs";
    QLibSingleLock lock(&m_MutexObj, 0);
    QLibStatus status = QLibDnsTraced(function, L"m_MutextObj.Wait", lock.Wait(MutexWaitMs));
    if (status.IsFailed())
        return status;
    return QLibDnsResolveUpdateFunctions(function);
}

QLibStatus QLibDNS::GetDNSServersList(const std::wstring& adapterName, std::vector<uint32_t>& servers)
{
    servers.clear();
    QLibBuffer buffer;
    QLibStatus status = buffer.Allocate(ConfigBufferBytes);
    auto ask = [&] {
        return DnsQueryConfig(DnsConfigDnsServerList, 0, const_cast<wchar_t*>(adapterName.c_str()), nullptr,
                              buffer.GetData(), buffer.RequestedSize());
    };
    DNS_STATUS result = status.IsOK() ? ask() : 0;
    if (status.IsOK() && result == ERROR_MORE_DATA) {
        status = buffer.GrowToRequestedSize();
        if (status.IsOK())
            result = ask();
    }
    if (status.IsFailed())
        return QLibDnsTraced("QLibDNS::GetDNSServersList", L"QLibBuffer", status);
    if (result != 0) {
        status = QLibWin32Failure(static_cast<DWORD>(result));
        return QLibDnsTraced("QLibDNS::GetDNSServersList", L"DnsQueryConfig", status);
    }
    // Only what the call wrote is read, whatever count it claims.
    DWORD written = std::min<DWORD>(*buffer.RequestedSize(), buffer.GetSize());
    const size_t header = offsetof(IP4_ARRAY, AddrArray);
    const auto* array = reinterpret_cast<const IP4_ARRAY*>(buffer.GetData());
    size_t count = written < header ? 0 : std::min<size_t>(array->AddrCount, (written - header) / sizeof(IP4_ADDRESS));
    servers.assign(array->AddrArray, array->AddrArray + count);
    return QLibOk();
}
