#include "DnsUpdateHook.h"

#include <algorithm>

#include "DnsZone.h"
#include "TestDnsServer.h"

namespace {

DnsUpdateHook* g_dnsUpdateHook = nullptr;

// False for a type the test server does not serve.
bool ZoneRecord(const DNS_RECORDW& from, DnsZoneRecord& record)
{
    record.owner = AsciiText(from.pName);
    switch (from.wType) {
    case DNS_TYPE_A:
        record.type = "A";
        record.data = DottedAddress(from.Data.A.IpAddress);
        return true;
    case DNS_TYPE_CNAME:
        record.type = "CNAME";
        record.data = AsciiText(from.Data.CNAME.pNameHost);
        return true;
    case DNS_TYPE_PTR:
        record.type = "PTR";
        record.data = AsciiText(from.Data.PTR.pNameHost);
        return true;
    default:
        return false;
    }
}

std::string TargetServer(PIP4_ARRAY servers)
{
    if (servers != nullptr && servers->AddrCount > 0)
        return DottedAddress(servers->AddrArray[0]);
    BYTE buffer[256] = {};
    DWORD size = sizeof(buffer);
    auto* configured = reinterpret_cast<IP4_ARRAY*>(buffer);
    if (DnsQueryConfig(DnsConfigDnsServerList, 0, nullptr, nullptr, buffer, &size) == 0 && configured->AddrCount > 0)
        return DottedAddress(configured->AddrArray[0]);
    return "";
}

} // namespace

DnsUpdateHook::DnsUpdateHook(HMODULE module, std::map<std::string, std::wstring> zoneFiles)
    : m_zoneFiles(std::move(zoneFiles)),
      m_hook(module, "DnsModifyRecordsInSet_W", reinterpret_cast<const void*>(&Modify))
{
    g_dnsUpdateHook = this;
}

DnsUpdateHook::DnsUpdateHook(HMODULE module, const TestDnsServer& server)
    : DnsUpdateHook(module,
                    {{TestDnsServer::First, server.ZoneFile(TestDnsServer::First)},
                     {TestDnsServer::Second, server.ZoneFile(TestDnsServer::Second)}})
{
}

DnsUpdateHook::~DnsUpdateHook()
{
    g_dnsUpdateHook = nullptr;
}

DNS_STATUS WINAPI DnsUpdateHook::Modify(PDNS_RECORDW add, PDNS_RECORDW remove, DWORD, HANDLE, PIP4_ARRAY servers, PVOID)
{
    DnsUpdateHook* hook = g_dnsUpdateHook;
    return hook ? hook->Apply(TargetServer(servers), add, remove) : DNS_ERROR_RCODE_REFUSED;
}

DNS_STATUS DnsUpdateHook::Apply(const std::string& server, PDNS_RECORDW add, PDNS_RECORDW remove)
{
    std::vector<std::pair<bool, DnsZoneRecord>> changes; // deletes first, as the call makes them
    for (bool adding : {false, true})
        for (PDNS_RECORDW from = adding ? add : remove; from != nullptr; from = from->pNext) {
            DnsZoneRecord record;
            if (!ZoneRecord(*from, record))
                return DNS_ERROR_INVALID_TYPE;
            changes.emplace_back(adding, record);
        }
    std::lock_guard<std::mutex> hold(m_lock);
    auto zoneFile = m_zoneFiles.find(server);
    if (zoneFile == m_zoneFiles.end() || m_refusing.count(server) != 0)
        return DNS_ERROR_RCODE_REFUSED;
    std::vector<DnsZoneRecord> zone = ReadDnsZone(zoneFile->second);
    for (const auto& [adding, record] : changes) {
        std::string line = (adding ? "add " : "delete ") + server + " " + record.owner + " " + record.type + " "
            + record.data;
        m_journal.Add(std::wstring(line.begin(), line.end()));
        auto same = [&](const DnsZoneRecord& other) { return SameDnsRecord(record, other); };
        zone.erase(std::remove_if(zone.begin(), zone.end(), same), zone.end());
        if (adding)
            zone.push_back(record);
    }
    return WriteDnsZone(zoneFile->second, zone) ? 0 : ERROR_WRITE_FAULT;
}
