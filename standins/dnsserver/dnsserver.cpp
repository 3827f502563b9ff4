// dnsserver: the test bed's DNS server. Answers A, CNAME and PTR queries over UDP for each name server it is
// given, from that server's zone file (see DnsZone.h), read anew for every query.
//
// Usage: dnsserver.exe --serve SERVER PORT ZONEFILE [--serve ...] --journal FILE [--ready EVENT] [--stop EVENT]
//                      [--parent PID]
//   --serve     answer queries to 127.0.0.1:PORT as the name server SERVER, from ZONEFILE
//   --journal   append "SERVER NAME TYPE" for every query
//   --ready     set the named event once every port is bound
//   --stop      end when the named event is set
//   --parent    end when the process PID ends
// Stop it through these: Wine keeps the ports of a terminated server bound until the wineserver ends.
// Every server listens on 127.0.0.1: Wine binds a UDP socket to any other address as the wildcard address and
// cannot choose a reply's source, so the bed routes its other name servers' port 53 to ports of 127.0.0.1 (and
// replies back). Unknown names get NXDOMAIN, known names without the type an empty answer. A PTR answer carries
// one extra record in the additional section, without which Wine's resolver rejects it. Exit code 87: bad
// arguments; 2: a port could not be bound.

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <shellapi.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "DnsZone.h"

namespace {

constexpr int BadArguments = 87;
constexpr int BindFailed = 2;
constexpr uint16_t TypeA = 1, TypeCname = 5, TypePtr = 12, TypeTxt = 16;
constexpr uint8_t NameError = 3;
constexpr int MaxAliasHops = 8;
constexpr int BindAttempts = 100;

struct Server {
    std::string name;
    unsigned port = 0;
    std::wstring zoneFile;
    SOCKET socket = INVALID_SOCKET;
};

struct Question {
    uint16_t id = 0;
    uint16_t flags = 0;
    std::string name;
    uint16_t type = 0;
    size_t end = 0; // offset just past the question
};

std::string TypeName(uint16_t type)
{
    switch (type) {
    case TypeA:
        return "A";
    case TypeCname:
        return "CNAME";
    case TypePtr:
        return "PTR";
    default:
        return std::to_string(type);
    }
}

uint16_t Read16(const std::vector<uint8_t>& packet, size_t at)
{
    return static_cast<uint16_t>(packet[at] << 8 | packet[at + 1]);
}

void Put16(std::vector<uint8_t>& out, uint16_t value)
{
    out.push_back(static_cast<uint8_t>(value >> 8));
    out.push_back(static_cast<uint8_t>(value));
}

// One question, its name uncompressed, as resolvers send it; anything else is not a query we answer.
bool ParseQuery(const std::vector<uint8_t>& packet, Question& question)
{
    if (packet.size() < 12 || (packet[2] & 0x80) != 0 || Read16(packet, 4) != 1)
        return false;
    question.id = Read16(packet, 0);
    question.flags = Read16(packet, 2);
    size_t at = 12;
    while (at < packet.size() && packet[at] != 0) {
        size_t length = packet[at];
        if (length > 63 || at + 1 + length >= packet.size() || question.name.size() + length > 253)
            return false;
        if (!question.name.empty())
            question.name += '.';
        question.name.append(reinterpret_cast<const char*>(&packet[at + 1]), length);
        at += 1 + length;
    }
    if (at + 5 > packet.size())
        return false;
    question.type = Read16(packet, at + 1);
    question.end = at + 5;
    return true;
}

bool PutName(std::vector<uint8_t>& out, const std::string& name)
{
    size_t start = 0;
    while (start < name.size()) {
        size_t dot = name.find('.', start);
        size_t length = (dot == std::string::npos ? name.size() : dot) - start;
        if (length == 0 || length > 63)
            return false;
        out.push_back(static_cast<uint8_t>(length));
        out.insert(out.end(), name.begin() + start, name.begin() + start + length);
        start += length + 1;
    }
    out.push_back(0);
    return true;
}

// Appends one resource record; false (and nothing appended) when the zone's data does not fit the type.
bool PutRecord(std::vector<uint8_t>& out, const std::string& owner, uint16_t type, const std::string& data)
{
    std::vector<uint8_t> record;
    std::vector<uint8_t> rdata;
    if (type == TypeA) {
        in_addr address = {};
        if (inet_pton(AF_INET, data.c_str(), &address) != 1)
            return false;
        const auto* bytes = reinterpret_cast<const uint8_t*>(&address);
        rdata.assign(bytes, bytes + 4);
    } else if (type == TypeTxt) {
        rdata.push_back(static_cast<uint8_t>(data.size()));
        rdata.insert(rdata.end(), data.begin(), data.end());
    } else if (!PutName(rdata, data)) {
        return false;
    }
    if (!PutName(record, owner))
        return false;
    Put16(record, type);
    Put16(record, 1); // class IN
    Put16(record, 0);
    Put16(record, 60); // TTL
    Put16(record, static_cast<uint16_t>(rdata.size()));
    record.insert(record.end(), rdata.begin(), rdata.end());
    out.insert(out.end(), record.begin(), record.end());
    return true;
}

struct Answer {
    uint8_t rcode = 0;
    std::vector<DnsZoneRecord> records;
};

// The records of the name and type, following aliases as a resolver would.
Answer Resolve(const std::vector<DnsZoneRecord>& zone, const Question& question)
{
    Answer answer;
    std::string name = question.name;
    bool known = false;
    for (const DnsZoneRecord& record : zone)
        known = known || SameDnsName(record.owner, name);
    if (!known) {
        answer.rcode = NameError;
        return answer;
    }
    std::string wanted = TypeName(question.type);
    for (int hop = 0; hop < MaxAliasHops; ++hop) {
        const DnsZoneRecord* alias = nullptr;
        bool found = false;
        for (const DnsZoneRecord& record : zone) {
            if (!SameDnsName(record.owner, name))
                continue;
            if (record.type == wanted) {
                answer.records.push_back(record);
                found = true;
            } else if (record.type == "CNAME") {
                alias = &record;
            }
        }
        if (found || alias == nullptr)
            break;
        answer.records.push_back(*alias);
        name = alias->data;
    }
    return answer;
}

std::vector<uint8_t> Respond(const std::vector<uint8_t>& query, const Question& question, const Answer& answer)
{
    std::vector<uint8_t> out;
    Put16(out, question.id);
    // A response (QR), the query's opcode and RD, authoritative (AA), recursion available (RA), the rcode.
    Put16(out, static_cast<uint16_t>(0x8000 | (question.flags & 0x7900) | 0x0400 | 0x0080 | answer.rcode));
    Put16(out, 1);
    out.resize(12);
    out.insert(out.end(), query.begin() + 12, query.begin() + question.end);
    uint16_t answers = 0;
    for (const DnsZoneRecord& record : answer.records) {
        uint16_t type = record.type == "CNAME" ? TypeCname : question.type;
        answers += PutRecord(out, record.owner, type, record.data) ? 1 : 0;
    }
    uint16_t additional = question.type == TypePtr && answers > 0 && PutRecord(out, question.name, TypeTxt, "test bed");
    out[6] = static_cast<uint8_t>(answers >> 8);
    out[7] = static_cast<uint8_t>(answers);
    out[10] = 0;
    out[11] = static_cast<uint8_t>(additional);
    return out;
}

void Journal(const std::wstring& path, const std::string& line)
{
    FILE* file = _wfopen(path.c_str(), L"ab");
    if (file == nullptr)
        return;
    fprintf(file, "%s\n", line.c_str());
    fclose(file);
}

void Serve(const Server& server, const std::wstring& journal)
{
    std::vector<uint8_t> query(1500);
    sockaddr_in from = {};
    int fromLength = sizeof(from);
    int received = recvfrom(server.socket, reinterpret_cast<char*>(query.data()), static_cast<int>(query.size()), 0,
                            reinterpret_cast<sockaddr*>(&from), &fromLength);
    if (received <= 0)
        return;
    query.resize(received);
    Question question;
    if (!ParseQuery(query, question))
        return;
    Journal(journal, server.name + " " + question.name + " " + TypeName(question.type));
    std::vector<uint8_t> reply = Respond(query, question, Resolve(ReadDnsZone(server.zoneFile), question));
    sendto(server.socket, reinterpret_cast<const char*>(reply.data()), static_cast<int>(reply.size()), 0,
           reinterpret_cast<sockaddr*>(&from), fromLength);
}

bool Bind(Server& server)
{
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(server.port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    server.socket = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (server.socket == INVALID_SOCKET || server.port == 0 || server.port > 65535)
        return false;
    // The server of a test that ended without stopping it lets its ports go only at its next poll.
    for (int attempt = 0; attempt < BindAttempts; ++attempt, Sleep(50))
        if (bind(server.socket, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0)
            return true;
    return false;
}

struct Options {
    std::vector<Server> servers;
    std::wstring journal;
    std::wstring ready;
    std::wstring stop;
    DWORD parent = 0;
};

bool ParseOptions(int count, wchar_t** args, Options& options)
{
    for (int i = 1; i < count; i += 2) {
        std::wstring option = args[i];
        if (i + 1 >= count)
            return false;
        if (option == L"--serve" && i + 3 < count) {
            options.servers.push_back({AsciiText(args[i + 1]), wcstoul(args[i + 2], nullptr, 10), args[i + 3]});
            i += 2;
        } else if (option == L"--journal") {
            options.journal = args[i + 1];
        } else if (option == L"--ready") {
            options.ready = args[i + 1];
        } else if (option == L"--stop") {
            options.stop = args[i + 1];
        } else if (option == L"--parent") {
            options.parent = wcstoul(args[i + 1], nullptr, 10);
        } else {
            return false;
        }
    }
    return !options.servers.empty() && !options.journal.empty();
}

bool Running(const std::vector<HANDLE>& endings)
{
    return endings.empty()
        || WaitForMultipleObjects(static_cast<DWORD>(endings.size()), endings.data(), FALSE, 0) == WAIT_TIMEOUT;
}

} // namespace

int main()
{
    int count = 0;
    wchar_t** args = CommandLineToArgvW(GetCommandLineW(), &count);
    Options options;
    if (args == nullptr || !ParseOptions(count, args, options))
        return BadArguments;
    WSADATA wsa;
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0)
        return BindFailed;
    for (Server& server : options.servers)
        if (!Bind(server))
            return BindFailed;
    std::vector<HANDLE> endings;
    if (options.parent)
        endings.push_back(OpenProcess(SYNCHRONIZE, FALSE, options.parent));
    if (!options.stop.empty())
        endings.push_back(OpenEventW(SYNCHRONIZE, FALSE, options.stop.c_str()));
    for (HANDLE ending : endings)
        if (ending == nullptr)
            return BadArguments;
    if (!options.ready.empty()) {
        HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, options.ready.c_str());
        SetEvent(ready);
        CloseHandle(ready);
    }
    // Polled, so that the server never outlives the test that started it, even one that crashed.
    while (Running(endings)) {
        fd_set readable;
        FD_ZERO(&readable);
        for (const Server& server : options.servers)
            FD_SET(server.socket, &readable);
        timeval wait = {0, 100000};
        if (select(0, &readable, nullptr, nullptr, &wait) <= 0)
            continue;
        for (const Server& server : options.servers)
            if (FD_ISSET(server.socket, &readable))
                Serve(server, options.journal);
    }
    for (const Server& server : options.servers)
        closesocket(server.socket);
    WSACleanup();
    return 0;
}
