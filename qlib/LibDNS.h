#pragma once
// The DNS registration of one host name and one IPv4 address on the name servers of the adapter that carries
// the address (A and PTR records checked, created, deleted), and the name checks that need no object.
// Addresses are 32-bit values in network byte order; a server is one such address.

#include <winsock2.h>
#include <windows.h>
#include <windns.h>

#include <cstdint>
#include <string>
#include <vector>

#include "LibMutex.h"
#include "LibNet.h"

struct QLibDnsRecordListFree : QLibNonNull {
    static void Close(DNS_RECORDW* records) { DnsRecordListFree(records, DnsFreeRecordList); }
};
// A record list handed out by the query operations; the caller owns it.
using QLibDnsRecordOwner = QLibUnique<DNS_RECORDW*, QLibDnsRecordListFree>;

// A growable byte buffer that a system call fills, told its size through RequestedSize(). An allocation that
// fails leaves the buffer empty (null data, size 0) and is reported as (2, 8).
class QLibBuffer {
public:
    explicit QLibBuffer(uint32_t size = 0, const void* source = nullptr);
    QLibBuffer(const QLibBuffer& other);
    QLibBuffer& operator=(const QLibBuffer& other);

    // Size bytes copied from the source, or zero bytes when there is none.
    QLibStatus Assign(uint32_t size, const void* source);
    QLibStatus Allocate(uint32_t size);
    QLibStatus GrowToRequestedSize();
    void Free();
    // Points at the one-byte inline area, owning nothing.
    void Reset();

    BYTE* GetData() const { return m_Data; }
    uint32_t GetSize() const { return m_Size; }
    bool OwnsData() const { return m_Owned.IsValid(); }
    bool IsNull() const { return m_Data == nullptr; }
    DWORD* UsedLength() { return &m_Used; }
    DWORD* RequestedSize() { return &m_Requested; }
    uint32_t* AllocatedSize() { return &m_Size; }
    void SetUsedLength(DWORD length) { m_Used = length; }

private:
    // The block allocated; the data is that block or the inline area.
    QLibHeapOwner<BYTE> m_Owned;
    BYTE* m_Data = nullptr;
    uint32_t m_Size = 0;
    DWORD m_Used = 0;
    DWORD m_Requested = 0;
    BYTE m_Inline = 'G';
    uint32_t m_InlineSize = 1;
};

class QLibDNS : public QLibObject {
public:
    // How long Initialize waits for the process-wide mutex before it gives up with (2, 258).
    static constexpr DWORD MutexWaitMs = 5000;

    QLibDNS() = default;
    ~QLibDNS() override;

    QLibDNS(const QLibDNS&) = delete;
    QLibDNS& operator=(const QLibDNS&) = delete;

    bool IsValid() const override;
    QLibStatus Close() override;

    // Binds the object to a name and an address; without a MAC the adapter is the one that carries the address.
    QLibStatus Initialize(const wchar_t* name, uint32_t address, const BYTE* mac, bool attachDomainSuffix,
                          bool acceptNonRfcNames = true);
    QLibStatus Initialize(const wchar_t* name, const wchar_t* address, const wchar_t* mac, bool attachDomainSuffix,
                          bool acceptNonRfcNames = true);

    // Type 1 (A) or 12 (PTR), on one server; the object must be initialised.
    QLibStatus GetDNSRecord(uint32_t type, DNS_RECORDW** records, uint32_t server) const;
    QLibStatus VerifyDNSRecord(uint32_t type, uint32_t server) const;
    QLibStatus CreateDNSRecord(uint32_t type, uint32_t server) const;
    // Deletes the record set of the type owned by the object's query name.
    QLibStatus DeleteDuplicateRecord(uint32_t type, uint32_t server) const;

    // Over the adapter's servers, stopping at the first that succeeds; (28, 1) when not initialised.
    QLibStatus VerifyDNSRecord_A() const;
    QLibStatus VerifyDNSRecord_PTR() const;
    QLibStatus DeleteDuplicateRecord_A() const;
    QLibStatus DeleteDuplicateRecord_PTR() const;
    QLibStatus CreateDNSRecord_A() const;
    QLibStatus CreateDNSRecord_PTR() const;
    // Deletes only this object's own record: its address under its name, its name under its reverse name.
    QLibStatus DeleteDNSRecord_A() const;
    QLibStatus DeleteDNSRecord_PTR() const;
    // Makes sure the A and PTR records exist on the first server, or on every server.
    QLibStatus Update(bool allServers) const;

    // The computer's DNS domain appended, unless the name already ends with it.
    static QLibStatus AttachDomainSuffix(const wchar_t* name, std::wstring& full);
    // Format 3 for a host name, 0 for a domain name; anything DnsValidateName_W does not accept is (28, result).
    static QLibStatus IsNameValid(const wchar_t* name, DNS_NAME_FORMAT format);
    static QLibStatus DeleteDNSRecord(uint32_t type, DNS_RECORDW* records, uint32_t server);
    static QLibStatus GetDNSRecord_A(const std::wstring& name, DNS_RECORDW** records, uint32_t server);
    static QLibStatus GetDNSRecord_PTR(uint32_t address, DNS_RECORDW** records, uint32_t server);
    static QLibStatus GetReverseName(uint32_t address, std::wstring& name);
    static QLibStatus GetDNSServersList(const std::wstring& adapterName, std::vector<uint32_t>& servers);

private:
    QLibStatus _InitializeUndocAPIs();
    QLibStatus FindAdapterName(const wchar_t* address, const BYTE* mac, std::wstring& adapterName);
    const std::wstring& QueryName(uint32_t type) const;
    bool IsOwnRecord(const DNS_RECORDW& record, uint32_t type) const;
    QLibStatus EnsureRecord(uint32_t type, uint32_t server, const wchar_t* creating, const wchar_t* callee) const;
    QLibStatus DeleteOwnRecords(uint32_t type, uint32_t server) const;
    template <typename Operation>
    QLibStatus OnServers(const char* function, Operation operation) const;

    uint32_t m_bInitialized = 0;
    std::wstring m_Name;
    std::wstring m_ReverseName;
    std::wstring m_IPAddressString;
    uint32_t m_IPAddress = 0;
    std::wstring m_AdapterName;
    QLibNet m_Netobj;
    QLibMutex m_MutexObj;
    std::vector<uint32_t> m_DNSServers;
};
