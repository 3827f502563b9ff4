// DNS records of one name and address, the name checks, and the functions of the DNS library resolved by name.

#include "LibDNS.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "LibAssert.h"
#include "LibLogger.h"
#include "LibNetIP.h"

namespace {

using DnsUpdateTestFn = DNS_STATUS(WINAPI*)(HANDLE context, PCWSTR name, DWORD options, IP4_ARRAY* servers);
using DnsReverseNameFn = char*(WINAPI*)(IP4_ADDRESS address);
using DnsRecordBuildFn = DNS_RECORDW*(WINAPI*)(DNS_RRSET* set, PWSTR owner, WORD type, BOOL add, UCHAR section,
                                               INT count, PWSTR* arguments);
using DnsValidateNameFn = DNS_STATUS(WINAPI*)(PCWSTR name, DNS_NAME_FORMAT format);

// Each entry is written once, inside its one-time initialisation, and read only after that completed; nothing
// ever clears it, so a thread that found an entry can always call it.
struct DnsApi {
    DnsUpdateTestFn updateTest;
    DnsReverseNameFn reverseName;
    DnsRecordBuildFn recordBuild;
    DnsValidateNameFn validateName;
};
DnsApi g_DnsApi;
INIT_ONCE g_ValidateOnce = INIT_ONCE_STATIC_INIT;
INIT_ONCE g_UpdateOnce = INIT_ONCE_STATIC_INIT;

constexpr wchar_t MutexName[] = L"LibDNS_GlobalMembers";
constexpr DWORD QueryOptions = DNS_QUERY_BYPASS_CACHE | DNS_QUERY_WIRE_ONLY | DNS_QUERY_DONT_RESET_TTL_VALUES;
constexpr DWORD ConfigBufferBytes = 400;
constexpr DWORD ComputerNameChars = 260;

// What a one-time initialisation tells the caller that asked for it.
struct Resolution {
    const char* function;
    QLibStatus status;
};

struct QLibDnsFreeFlat : QLibNonNull {
    static void Close(char* text) { DnsFree(text, DnsFreeFlat); }
};

QLibStatus InvalidParameters(const char* function)
{
    QLIB_TRACE(function, L"Invalid parameters.");
    return QLibFailure(QLIB_ERR_DNS, 1);
}

QLibStatus DnsCallFailure(const char* function, const wchar_t* callee, DNS_STATUS result, uint32_t type)
{
    QLIB_TRACE(function, L"%s returned 0x%.08X", callee, static_cast<uint32_t>(result));
    return QLibFailure(type, static_cast<uint32_t>(result));
}

QLibStatus Traced(const char* function, const wchar_t* callee, QLibStatus status)
{
    if (status.IsFailed())
        QLIB_TRACE_FAILED(function, callee, status);
    return status;
}

// The deleting operations read a missing name as nothing to delete.
QLibStatus NothingToDelete(QLibStatus status)
{
    if (status.Is(QLIB_ERR_WIN32, DNS_ERROR_RCODE_NAME_ERROR) || status.Is(QLIB_ERR_WIN32, DNS_ERROR_RCODE_YXDOMAIN))
        return QLibOk();
    return status;
}

IP4_ARRAY OneServer(uint32_t server)
{
    IP4_ARRAY servers = {};
    servers.AddrCount = 1;
    servers.AddrArray[0] = server;
    return servers;
}

bool LoadDnsModule(Resolution& resolution, HMODULE& module)
{
    module = GetModuleHandleW(L"DNSAPI.dll");
    if (module == nullptr)
        module = LoadLibraryW(L"dnsapi.dll");
    if (module != nullptr)
        return true;
    resolution.status = Traced(resolution.function, L"LoadLibraryW", QLibLastError());
    return false;
}

template <typename Function>
bool Find(Resolution& resolution, HMODULE module, const char* name, const wchar_t* callee, Function& function)
{
    function = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    if (function != nullptr)
        return true;
    resolution.status = Traced(resolution.function, callee, QLibLastError());
    return false;
}

BOOL CALLBACK ResolveValidateName(INIT_ONCE*, void* parameter, void**)
{
    auto& resolution = *static_cast<Resolution*>(parameter);
    HMODULE module = nullptr;
    return LoadDnsModule(resolution, module)
        && Find(resolution, module, "DnsValidateName_W", L"GetProcAddress for DnsValidateName_W",
                g_DnsApi.validateName);
}

// The name check alone needs only its own function.
bool ValidateNameResolved(Resolution& resolution)
{
    return InitOnceExecuteOnce(&g_ValidateOnce, ResolveValidateName, &resolution, nullptr) != FALSE;
}

// The update functions are published together, and only with the name check.
BOOL CALLBACK ResolveUpdateFunctions(INIT_ONCE*, void* parameter, void**)
{
    auto& resolution = *static_cast<Resolution*>(parameter);
    HMODULE module = nullptr;
    DnsApi found = {};
    if (!LoadDnsModule(resolution, module)
        || !Find(resolution, module, "DnsUpdateTest_W", L"GetProcAddress for DnsUpdateTest_W", found.updateTest)
        || !Find(resolution, module, "DnsCreateReverseNameStringForIpAddress",
                 L"GetProcAddress for DnsCreateReverseNameStringForIpAddress", found.reverseName)
        || !Find(resolution, module, "DnsRecordBuild_W", L"GetProcAddress for DnsRecordBuild_W", found.recordBuild)
        || !ValidateNameResolved(resolution))
        return FALSE;
    g_DnsApi.updateTest = found.updateTest;
    g_DnsApi.reverseName = found.reverseName;
    g_DnsApi.recordBuild = found.recordBuild;
    return TRUE;
}

QLibStatus ResolveUpdateFunctions(const char* function)
{
    Resolution resolution = {function, QLibOk()};
    if (InitOnceExecuteOnce(&g_UpdateOnce, ResolveUpdateFunctions, &resolution, nullptr))
        return QLibOk();
    return resolution.status.IsFailed() ? resolution.status : QLibLastError();
}

QLibStatus Query(const char* function, const std::wstring& name, uint32_t type, DNS_RECORDW** records, uint32_t server)
{
    *records = nullptr;
    QLIB_TRACE(function, L"\nQuerying DNS entries for %s in 0x%.08X", name.c_str(), server);
    IP4_ARRAY servers = OneServer(server);
    QLibDnsRecordOwner results;
    DNS_STATUS result = DnsQuery_W(name.c_str(), static_cast<WORD>(type), QueryOptions, &servers, results.put(),
                                   nullptr);
    if (result != 0)
        return DnsCallFailure(function, L"DnsQuery_W", result, QLIB_ERR_WIN32);
    *records = results.release();
    return QLibOk();
}

QLibStatus SendUpdate(const char* function, DNS_RECORDW* add, DNS_RECORDW* remove, uint32_t server)
{
    IP4_ARRAY servers = OneServer(server);
    DNS_STATUS result = DnsModifyRecordsInSet_W(add, remove, DNS_UPDATE_SECURITY_USE_DEFAULT, nullptr, &servers,
                                                nullptr);
    if (result != 0)
        return DnsCallFailure(function, L"DnsModifyRecordsInSet_W", result, QLIB_ERR_WIN32);
    return QLibOk();
}

QLibStatus ComputerDnsName(std::wstring& computer)
{
    wchar_t buffer[ComputerNameChars];
    DWORD size = ComputerNameChars;
    if (GetComputerNameExW(ComputerNameDnsFullyQualified, buffer, &size)) {
        computer.assign(buffer, size);
        return QLibOk();
    }
    if (GetLastError() != ERROR_MORE_DATA)
        return QLibLastError();
    DWORD chars = size + 1;
    QLibLocalOwner<wchar_t> larger(static_cast<wchar_t*>(LocalAlloc(LPTR, chars * sizeof(wchar_t))));
    if (!larger)
        return QLibWin32Failure(ERROR_NOT_ENOUGH_MEMORY);
    size = chars;
    if (!GetComputerNameExW(ComputerNameDnsFullyQualified, larger.get(), &size))
        return QLibLastError();
    computer.assign(larger.get(), size);
    return QLibOk();
}

// A final dot does not count: "host.example." ends with ".example".
bool EndsWithDomain(const std::wstring& name, const std::wstring& domain)
{
    size_t length = name.size();
    if (length > 0 && name[length - 1] == L'.')
        --length;
    return length >= domain.size()
        && _wcsnicmp(name.c_str() + length - domain.size(), domain.c_str(), domain.size()) == 0;
}

bool HasDomain(const std::wstring& name)
{
    size_t dot = name.find(L'.');
    return dot != std::wstring::npos && dot + 1 < name.size();
}

// A name without a domain is this computer's: "host1" and "host1.test.example" are one host there.
bool SameHost(const wchar_t* one, const std::wstring& other)
{
    if (DnsNameCompare_W(const_cast<wchar_t*>(one), const_cast<wchar_t*>(other.c_str())))
        return true;
    std::wstring fullOne = one;
    std::wstring fullOther = other;
    if ((!HasDomain(fullOne) && QLibDNS::AttachDomainSuffix(one, fullOne).IsFailed())
        || (!HasDomain(fullOther) && QLibDNS::AttachDomainSuffix(other.c_str(), fullOther).IsFailed()))
        return false;
    return DnsNameCompare_W(&fullOne[0], &fullOther[0]) != FALSE;
}

} // namespace

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

QLibBuffer::~QLibBuffer()
{
    Free();
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
    m_Data = data;
    m_Size = m_Used = m_Requested = size;
    m_Owns = 1;
    return QLibOk();
}

QLibStatus QLibBuffer::GrowToRequestedSize()
{
    return Allocate(m_Requested);
}

void QLibBuffer::Free()
{
    if (!m_Owns)
        return;
    HeapFree(GetProcessHeap(), 0, m_Data);
    m_Data = nullptr;
    m_Size = m_Used = 0;
    m_Owns = 0;
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
        return InvalidParameters(function);
    QLibStatus status = Traced(function, L"m_MutexObj.Create", m_MutexObj.Create(FALSE, MutexName, nullptr, nullptr));
    if (status.IsOK())
        status = Traced(function, L"QLibDNS::_InitializeUndocAPIs", _InitializeUndocAPIs());
    std::wstring full = name;
    if (status.IsOK() && attachDomainSuffix)
        status = Traced(function, L"QLibDNS::AttachDomainSuffix", AttachDomainSuffix(name, full));
    if (status.IsFailed())
        return status;
    DNS_STATUS valid = g_DnsApi.validateName(full.c_str(), DnsNameDomain);
    if (valid != 0) {
        status = DnsCallFailure(function, L"DnsValidateName", valid, QLIB_ERR_DNS);
        if (!acceptNonRfcNames || valid != DNS_ERROR_NON_RFC_NAME)
            return status;
    }
    m_Name = full;
    wchar_t text[QLibNet::AddressChars] = {};
    std::wstring adapterName;
    status = Traced(function, L"m_Netobj.Open", m_Netobj.Open());
    if (status.IsOK()) {
        status = QLibNet::ConvertIPAddress(&address, text);
        if (status.IsFailed())
            QLIB_TRACE(function, L"m_NetObj.ConvertIPAddress funtion returned FALSE");
    }
    if (status.IsOK())
        status = FindAdapterName(text, mac, adapterName);
    if (status.IsOK())
        status = Traced(function, L"QLibDNS::GetReverseName", GetReverseName(address, m_ReverseName));
    if (status.IsOK())
        status = Traced(function, L"GetDNSServersList", GetDNSServersList(adapterName, m_DNSServers));
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
        QLibStatus status = Traced(function, L"ipInfo.Open", ipInfo.Open(address));
        uint32_t length = 0;
        if (status.IsOK())
            status = ipInfo.GetMAC(hardware, sizeof hardware, &length);
        // Only a 6-byte address names an adapter here.
        if (status.IsOK() && length != QLibNet::MacLength)
            status = QLibNetNotFound();
        if (Traced(function, L"ipInfo.GetMAC", status).IsFailed())
            return status;
    }
    QLibLocalOwner<wchar_t> name;
    uint32_t index = 0;
    QLibStatus status = Traced(function, L"m_Netobj.GetNameFromMAC",
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
        return InvalidParameters(function);
    QLibStatus status = Traced(function, L"m_Netobj.Open", m_Netobj.Open());
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
        status = Traced(function, L"ConvertMacAddress", QLibNet::ConvertMacAddress(hardware, mac));
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
    QLibStatus status = Traced(function, L"m_MutextObj.Wait", m_MutexObj.Wait(MutexWaitMs));
    if (status.IsFailed())
        return status;
    status = ResolveUpdateFunctions(function);
    (void)m_MutexObj.Release();
    return status;
}

QLibStatus QLibDNS::IsNameValid(const wchar_t* name, DNS_NAME_FORMAT format)
{
    const char* function = "QLibDNS::IsNameValid";
    Resolution resolution = {function, QLibOk()};
    if (!ValidateNameResolved(resolution))
        return resolution.status.IsFailed() ? resolution.status : QLibLastError();
    DNS_STATUS result = g_DnsApi.validateName(name, format);
    if (result != 0)
        return DnsCallFailure(function, L"DnsValidateName", result, QLIB_ERR_DNS);
    return QLibOk();
}

QLibStatus QLibDNS::AttachDomainSuffix(const wchar_t* name, std::wstring& full)
{
    if (name == nullptr)
        return QLibWin32Failure(ERROR_INVALID_PARAMETER);
    full = name;
    std::wstring computer;
    QLibStatus status = ComputerDnsName(computer);
    if (status.IsFailed())
        return status;
    size_t dot = computer.find(L'.');
    if (dot == std::wstring::npos)
        return QLibWin32Failure(ERROR_INVALID_PARAMETER);
    std::wstring domain = computer.substr(dot);
    if (!EndsWithDomain(full, domain))
        full += domain;
    return QLibOk();
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
        return Traced("QLibDNS::GetDNSServersList", L"QLibBuffer", status);
    if (result != 0) {
        status = QLibWin32Failure(static_cast<DWORD>(result));
        return Traced("QLibDNS::GetDNSServersList", L"DnsQueryConfig", status);
    }
    // Only what the call wrote is read, whatever count it claims.
    DWORD written = std::min<DWORD>(*buffer.RequestedSize(), buffer.GetSize());
    const size_t header = offsetof(IP4_ARRAY, AddrArray);
    const auto* array = reinterpret_cast<const IP4_ARRAY*>(buffer.GetData());
    size_t count = written < header ? 0 : std::min<size_t>(array->AddrCount, (written - header) / sizeof(IP4_ADDRESS));
    servers.assign(array->AddrArray, array->AddrArray + count);
    return QLibOk();
}

QLibStatus QLibDNS::GetReverseName(uint32_t address, std::wstring& name)
{
    const char* function = "QLibDNS::GetReverseName";
    QLibStatus status = ResolveUpdateFunctions(function);
    if (status.IsFailed())
        return status;
    QLibUnique<char*, QLibDnsFreeFlat> reverse(g_DnsApi.reverseName(address));
    size_t length = reverse ? strlen(reverse.get()) : 0;
    bool ascii = reverse && std::all_of(reverse.get(), reverse.get() + length, [](char c) {
                     return static_cast<unsigned char>(c) < 0x80;
                 });
    if (!ascii) {
        QLIB_TRACE(function, L"gpDnsCreateReverseNameStringFromIPAddress call failed.");
        return QLibFailure(QLIB_ERR_DNS, 4);
    }
    try {
        name.assign(reverse.get(), reverse.get() + length);
    } catch (const std::bad_alloc&) {
        return QLibFailure(QLIB_ERR_DNS, 5);
    }
    return QLibOk();
}

QLibStatus QLibDNS::GetDNSRecord_A(const std::wstring& name, DNS_RECORDW** records, uint32_t server)
{
    return Query("QLibDNS::GetDNSRecord_A", name, DNS_TYPE_A, records, server);
}

QLibStatus QLibDNS::GetDNSRecord_PTR(uint32_t address, DNS_RECORDW** records, uint32_t server)
{
    *records = nullptr;
    std::wstring reverse;
    QLibStatus status = GetReverseName(address, reverse);
    if (status.IsFailed())
        return status;
    return Query("QLibDNS::GetDNSRecord_PTR", reverse, DNS_TYPE_PTR, records, server);
}

QLibStatus QLibDNS::DeleteDNSRecord(uint32_t, DNS_RECORDW* records, uint32_t server)
{
    return SendUpdate("QLibDNS::DeleteDNSRecord", nullptr, records, server);
}

const std::wstring& QLibDNS::QueryName(uint32_t type) const
{
    return type == DNS_TYPE_PTR ? m_ReverseName : m_Name;
}

QLibStatus QLibDNS::GetDNSRecord(uint32_t type, DNS_RECORDW** records, uint32_t server) const
{
    QLIB_ASSERT(m_bInitialized);
    return Query("QLibDNS::GetDNSRecord", QueryName(type), type, records, server);
}

// This object's own record: its address for A, its host name for PTR.
bool QLibDNS::IsOwnRecord(const DNS_RECORDW& record, uint32_t type) const
{
    if (record.wType != type)
        return false;
    if (type == DNS_TYPE_A)
        return record.Data.A.IpAddress == m_IPAddress;
    if (type == DNS_TYPE_PTR)
        return record.Data.PTR.pNameHost != nullptr && SameHost(record.Data.PTR.pNameHost, m_Name);
    return false;
}

QLibStatus QLibDNS::VerifyDNSRecord(uint32_t type, uint32_t server) const
{
    QLibDnsRecordOwner records;
    QLibStatus status = GetDNSRecord(type, records.put(), server);
    if (status.IsFailed())
        return status;
    for (const DNS_RECORDW* record = records.get(); record != nullptr; record = record->pNext)
        if (IsOwnRecord(*record, type))
            return QLibOk();
    QLIB_TRACE("QLibDNS::VerifyDNSRecord", L"Unable to match the record");
    return QLibWin32Failure(ERROR_FILE_NOT_FOUND);
}

QLibStatus QLibDNS::CreateDNSRecord(uint32_t type, uint32_t server) const
{
    const char* function = "QLibDNS::CreateDNSRecord";
    QLIB_ASSERT(m_bInitialized);
    QLibStatus status = ResolveUpdateFunctions(function);
    if (status.IsFailed())
        return status;
    std::wstring owner = QueryName(type);
    std::wstring data = type == DNS_TYPE_PTR ? m_Name : m_IPAddressString;
    IP4_ARRAY servers = OneServer(server);
    DNS_STATUS result = g_DnsApi.updateTest(nullptr, owner.c_str(), 0, &servers);
    if (result != 0 && result != DNS_ERROR_RCODE_YXDOMAIN)
        return DnsCallFailure(function, L"gpDnsUpdateTest", result, QLIB_ERR_WIN32);
    PWSTR arguments[] = {&data[0]};
    QLibDnsRecordOwner record(g_DnsApi.recordBuild(nullptr, &owner[0], static_cast<WORD>(type), TRUE, 0, 1, arguments));
    if (!record) {
        QLIB_TRACE(function, L"DnsRecordBuild call failed");
        return QLibFailure(QLIB_ERR_DNS, 6);
    }
    return SendUpdate(function, record.get(), nullptr, server);
}

QLibStatus QLibDNS::DeleteDuplicateRecord(uint32_t type, uint32_t server) const
{
    QLibDnsRecordOwner records;
    QLibStatus status = Traced("QLibDNS::DeleteDuplicateRecord", L"GetDNSRecord",
                               GetDNSRecord(type, records.put(), server));
    const DNS_RECORDW* first = records.get();
    // Only a record of the set itself names it: never an alias, nor another name's record of the answer.
    while (first != nullptr
           && (first->wType != type || first->Flags.S.Section != DnsSectionAnswer
               || !DnsNameCompare_W(first->pName, const_cast<wchar_t*>(QueryName(type).c_str()))))
        first = first->pNext;
    if (first != nullptr) {
        DNS_RECORDW set = *first;
        set.pNext = nullptr;
        set.wDataLength = 0;
        set.Data = {};
        status = DeleteDNSRecord(type, &set, server);
    }
    return NothingToDelete(status);
}

QLibStatus QLibDNS::DeleteOwnRecords(uint32_t type, uint32_t server) const
{
    QLibDnsRecordOwner records;
    QLibStatus status = GetDNSRecord(type, records.put(), server);
    if (status.IsFailed())
        return status;
    std::vector<DNS_RECORDW> own;
    for (const DNS_RECORDW* record = records.get(); record != nullptr; record = record->pNext)
        if (record->Flags.S.Section == DnsSectionAnswer && IsOwnRecord(*record, type)
            && DnsNameCompare_W(record->pName, const_cast<wchar_t*>(QueryName(type).c_str())))
            own.push_back(*record);
    if (own.empty())
        return QLibOk();
    for (size_t i = 0; i < own.size(); ++i)
        own[i].pNext = i + 1 < own.size() ? &own[i + 1] : nullptr;
    return DeleteDNSRecord(type, own.data(), server);
}

template <typename Operation>
QLibStatus QLibDNS::OnServers(const char* function, Operation operation) const
{
    if (!m_bInitialized)
        return InvalidParameters(function);
    QLibStatus status = QLibOk();
    for (uint32_t server : m_DNSServers) {
        status = operation(server);
        if (status.IsOK())
            break;
    }
    return status;
}

QLibStatus QLibDNS::VerifyDNSRecord_A() const
{
    return OnServers("QLibDNS::VerifyDNSRecord_A", [this](uint32_t s) { return VerifyDNSRecord(DNS_TYPE_A, s); });
}

QLibStatus QLibDNS::VerifyDNSRecord_PTR() const
{
    return OnServers("QLibDNS::VerifyDNSRecord_PTR", [this](uint32_t s) { return VerifyDNSRecord(DNS_TYPE_PTR, s); });
}

QLibStatus QLibDNS::DeleteDuplicateRecord_A() const
{
    return OnServers("QLibDNS::DeleteDuplicateRecord_A",
                     [this](uint32_t s) { return DeleteDuplicateRecord(DNS_TYPE_A, s); });
}

QLibStatus QLibDNS::DeleteDuplicateRecord_PTR() const
{
    return OnServers("QLibDNS::DeleteDuplicateRecord_PTR",
                     [this](uint32_t s) { return DeleteDuplicateRecord(DNS_TYPE_PTR, s); });
}

QLibStatus QLibDNS::CreateDNSRecord_A() const
{
    return OnServers("QLibDNS::CreateDNSRecord_A", [this](uint32_t s) { return CreateDNSRecord(DNS_TYPE_A, s); });
}

QLibStatus QLibDNS::CreateDNSRecord_PTR() const
{
    return OnServers("QLibDNS::CreateDNSRecord_PTR", [this](uint32_t s) { return CreateDNSRecord(DNS_TYPE_PTR, s); });
}

QLibStatus QLibDNS::DeleteDNSRecord_A() const
{
    return NothingToDelete(
        OnServers("QLibDNS::DeleteDNSRecord_A", [this](uint32_t s) { return DeleteOwnRecords(DNS_TYPE_A, s); }));
}

QLibStatus QLibDNS::DeleteDNSRecord_PTR() const
{
    return NothingToDelete(
        OnServers("QLibDNS::DeleteDNSRecord_PTR", [this](uint32_t s) { return DeleteOwnRecords(DNS_TYPE_PTR, s); }));
}

QLibStatus QLibDNS::EnsureRecord(uint32_t type, uint32_t server, const wchar_t* creating, const wchar_t* callee) const
{
    QLibStatus status = VerifyDNSRecord(type, server);
    if (status.IsOK())
        return status;
    QLIB_TRACE("QLibDNS::Update", L"%s", creating);
    return Traced("QLibDNS::Update", callee, CreateDNSRecord(type, server));
}

QLibStatus QLibDNS::Update(bool allServers) const
{
    if (!m_bInitialized)
        return InvalidParameters("QLibDNS::Update");
    uint32_t count = 0;
    QLibStatus status = QLibOk();
    for (uint32_t server : m_DNSServers) {
        status = EnsureRecord(DNS_TYPE_A, server, L"\ncreating A record", L"CreateDNSRecord-A");
        if (status.IsOK())
            status = EnsureRecord(DNS_TYPE_PTR, server, L"\ncreating PTR record", L"CreateDNSRecord-PTR");
        if (status.IsOK()) {
            ++count;
            if (!allServers)
                break;
        }
    }
    if (!allServers)
        return status;
    if (count != m_DNSServers.size()) {
        QLIB_TRACE("QLibDNS::Update", L"Failed to update all the dns servers (updated=%d)", count);
        return QLibWin32Failure(ERROR_HANDLE_EOF);
    }
    return QLibOk();
}
