#pragma once

// The test DNS server's zone file: one record a line, "OWNER TYPE DATA" (A, CNAME or PTR), "#" starts a comment
// line. Names compare in any case and with or without the final dot. The server re-reads the file for every query
// and the update hook rewrites it, so a file is always replaced whole, never written in place.

#include <cstdint>
#include <string>
#include <vector>

struct DnsZoneRecord {
    std::string owner;
    std::string type;
    std::string data;
};

// "a.b.c.d" of an IPv4 address in network order, as DNS records and server lists hold it.
std::string DottedAddress(uint32_t address);
// Names and addresses in the zone are ASCII.
std::string AsciiText(const wchar_t* text);

bool SameDnsName(const std::string& one, const std::string& other);
bool SameDnsRecord(const DnsZoneRecord& one, const DnsZoneRecord& other);

// A missing or unreadable file is an empty zone.
std::vector<DnsZoneRecord> ReadDnsZone(const std::wstring& path);
bool WriteDnsZone(const std::wstring& path, const std::vector<DnsZoneRecord>& records);
// The zone text itself, as a test gives it.
bool WriteDnsZoneText(const std::wstring& path, const std::string& text);
