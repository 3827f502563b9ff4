#include "DnsZone.h"

#include <windows.h>

#include <fstream>
#include <sstream>

namespace {

std::string Canonical(const std::string& name)
{
    std::string canonical = name;
    if (!canonical.empty() && canonical.back() == '.')
        canonical.pop_back();
    for (char& c : canonical)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return canonical;
}

} // namespace

std::string DottedAddress(uint32_t address)
{
    const auto* octets = reinterpret_cast<const uint8_t*>(&address);
    return std::to_string(octets[0]) + "." + std::to_string(octets[1]) + "." + std::to_string(octets[2]) + "."
        + std::to_string(octets[3]);
}

std::string AsciiText(const wchar_t* text)
{
    std::string ascii;
    for (; text && *text; ++text)
        ascii += static_cast<char>(*text);
    return ascii;
}

bool SameDnsName(const std::string& one, const std::string& other)
{
    return Canonical(one) == Canonical(other);
}

bool SameDnsRecord(const DnsZoneRecord& one, const DnsZoneRecord& other)
{
    bool nameData = one.type != "A";
    return SameDnsName(one.owner, other.owner) && one.type == other.type
        && (nameData ? SameDnsName(one.data, other.data) : one.data == other.data);
}

std::vector<DnsZoneRecord> ReadDnsZone(const std::wstring& path)
{
    std::vector<DnsZoneRecord> records;
    std::ifstream file(path.c_str());
    for (std::string line; std::getline(file, line);) {
        std::istringstream fields(line);
        DnsZoneRecord record;
        if (fields >> record.owner >> record.type >> record.data && record.owner[0] != '#')
            records.push_back(record);
    }
    return records;
}

bool WriteDnsZoneText(const std::wstring& path, const std::string& text)
{
    // The server may be reading the file at any moment: it sees either the old or the new one.
    std::wstring written = path + L".new";
    {
        std::ofstream file(written.c_str(), std::ios::binary | std::ios::trunc);
        if (!(file << text).flush())
            return false;
    }
    // A replace is refused (access denied) while the server has the file open for a read: tried again, for at
    // most two seconds, since the read takes no time.
    for (int tries = 0; tries < 200; ++tries) {
        if (MoveFileExW(written.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING))
            return true;
        DWORD error = GetLastError();
        if (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION)
            break;
        Sleep(10);
    }
    DeleteFileW(written.c_str());
    return false;
}

bool WriteDnsZone(const std::wstring& path, const std::vector<DnsZoneRecord>& records)
{
    std::string text;
    for (const DnsZoneRecord& record : records)
        text += record.owner + " " + record.type + " " + record.data + "\n";
    return WriteDnsZoneText(path, text);
}
