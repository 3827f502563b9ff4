#include "DnsStandIns.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windns.h>

#include <cstdio>

#include "DnsZone.h"

namespace {

const TestDnsServer* g_server = nullptr;

DNS_STATUS WINAPI UpdateTest(HANDLE, PCWSTR name, DWORD, IP4_ARRAY* servers)
{
    if (g_server == nullptr || servers == nullptr || servers->AddrCount == 0)
        return 0;
    std::string owner = AsciiText(name);
    for (const DnsZoneRecord& record : ReadDnsZone(g_server->ZoneFile(DottedAddress(servers->AddrArray[0]))))
        if (SameDnsName(record.owner, owner))
            return DNS_ERROR_RCODE_YXDOMAIN;
    return 0;
}

char* WINAPI ReverseName(IP4_ADDRESS address)
{
    auto* bytes = reinterpret_cast<const BYTE*>(&address);
    auto* name = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, 32));
    if (name != nullptr)
        snprintf(name, 32, "%u.%u.%u.%u.in-addr.arpa", bytes[3], bytes[2], bytes[1], bytes[0]);
    return name;
}

// A copy made by the DNS library itself, so that its record-list free releases it.
DNS_RECORDW* WINAPI RecordBuild(DNS_RRSET*, PWSTR owner, WORD type, BOOL, UCHAR, INT count, PWSTR* arguments)
{
    if (count != 1)
        return nullptr;
    DNS_RECORDW record = {};
    record.pName = owner;
    record.wType = type;
    if (type == DNS_TYPE_A) {
        record.wDataLength = sizeof(DNS_A_DATA);
        if (InetPtonW(AF_INET, arguments[0], &record.Data.A.IpAddress) != 1)
            return nullptr;
    } else {
        record.wDataLength = sizeof(DNS_PTR_DATAW);
        record.Data.PTR.pNameHost = arguments[0];
    }
    return reinterpret_cast<DNS_RECORDW*>(
        DnsRecordCopyEx(reinterpret_cast<DNS_RECORD*>(&record), DnsCharSetUnicode, DnsCharSetUnicode));
}

ProcAddressHook g_hook(GetModuleHandleW(nullptr));
const bool g_answering = [] {
    g_hook.Answer("DnsUpdateTest_W", reinterpret_cast<const void*>(&UpdateTest));
    g_hook.Answer("DnsCreateReverseNameStringForIpAddress", reinterpret_cast<const void*>(&ReverseName));
    g_hook.Answer("DnsRecordBuild_W", reinterpret_cast<const void*>(&RecordBuild));
    return true;
}();

} // namespace

ProcAddressHook& DnsApiStandIns()
{
    return g_hook;
}

void UseDnsServer(const TestDnsServer* server)
{
    g_server = server;
}
