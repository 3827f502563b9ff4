// The A and PTR records of the object's name and address on the adapter's name servers.

#include "LibDNS.h"

#include <vector>

#include "LibAssert.h"
#include "LibDNSParts.h"
#include "LibLogger.h"

namespace {

constexpr DWORD QueryOptions = DNS_QUERY_BYPASS_CACHE | DNS_QUERY_WIRE_ONLY | DNS_QUERY_DONT_RESET_TTL_VALUES;

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

QLibStatus Query(const char* function, const std::wstring& name, uint32_t type, DNS_RECORDW** records, uint32_t server)
{
    *records = nullptr;
    QLIB_TRACE(function, L"\nQuerying DNS entries for %s in 0x%.08X", name.c_str(), server);
    IP4_ARRAY servers = OneServer(server);
    QLibDnsRecordOwner results;
    DNS_STATUS result = DnsQuery_W(name.c_str(), static_cast<WORD>(type), QueryOptions, &servers, results.put(),
                                   nullptr);
    if (result != 0)
        return QLibDnsCallFailure(function, L"DnsQuery_W", result, QLIB_ERR_WIN32);
    *records = results.release();
    return QLibOk();
}

QLibStatus SendUpdate(const char* function, DNS_RECORDW* add, DNS_RECORDW* remove, uint32_t server)
{
    IP4_ARRAY servers = OneServer(server);
    DNS_STATUS result = DnsModifyRecordsInSet_W(add, remove, DNS_UPDATE_SECURITY_USE_DEFAULT, nullptr, &servers,
                                                nullptr);
    if (result != 0)
        return QLibDnsCallFailure(function, L"DnsModifyRecordsInSet_W", result, QLIB_ERR_WIN32);
    return QLibOk();
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
    QLibStatus status = QLibDnsResolveUpdateFunctions(function);
    if (status.IsFailed())
        return status;
    std::wstring owner = QueryName(type);
    std::wstring data = type == DNS_TYPE_PTR ? m_Name : m_IPAddressString;
    IP4_ARRAY servers = OneServer(server);
    DNS_STATUS result = QLibDnsFunctions().updateTest(nullptr, owner.c_str(), 0, &servers);
    if (result != 0 && result != DNS_ERROR_RCODE_YXDOMAIN)
        return QLibDnsCallFailure(function, L"gpDnsUpdateTest", result, QLIB_ERR_WIN32);
    PWSTR arguments[] = {&data[0]};
    QLibDnsRecordOwner record(
        QLibDnsFunctions().recordBuild(nullptr, &owner[0], static_cast<WORD>(type), TRUE, 0, 1, arguments));
    if (!record) {
        QLIB_TRACE(function, L"DnsRecordBuild call failed");
        return QLibFailure(QLIB_ERR_DNS, 6);
    }
    return SendUpdate(function, record.get(), nullptr, server);
}

QLibStatus QLibDNS::DeleteDuplicateRecord(uint32_t type, uint32_t server) const
{
    QLibDnsRecordOwner records;
    QLibStatus status = QLibDnsTraced("QLibDNS::DeleteDuplicateRecord", L"GetDNSRecord",
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
        return QLibDnsInvalidParameters(function);
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
    return QLibDnsTraced("QLibDNS::Update", callee, CreateDNSRecord(type, server));
}

QLibStatus QLibDNS::Update(bool allServers) const
{
    if (!m_bInitialized)
        return QLibDnsInvalidParameters("QLibDNS::Update");
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
