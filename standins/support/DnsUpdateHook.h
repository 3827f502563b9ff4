#pragma once

// Replaces a module's DnsModifyRecordsInSet_W, a stub under Wine that sends nothing: each delete, then each add,
// of A, CNAME and PTR records goes into the zone file of the server it is sent to (the first of the server list,
// else the first name server of the machine), so that later queries see it. The journal holds
// "add|delete SERVER OWNER TYPE DATA" per record. A server set to refuse answers DNS_ERROR_RCODE_REFUSED and
// nothing changes. One such hook at a time per process.

#include <windows.h>
#include <windns.h>

#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "HookJournal.h"
#include "ImportHook.h"

class TestDnsServer;

class DnsUpdateHook {
public:
    // Zone files by server address ("127.0.0.1").
    DnsUpdateHook(HMODULE module, std::map<std::string, std::wstring> zoneFiles);
    // The zone files of the bed's DNS server.
    DnsUpdateHook(HMODULE module, const TestDnsServer& server);
    ~DnsUpdateHook();
    DnsUpdateHook(const DnsUpdateHook&) = delete;
    DnsUpdateHook& operator=(const DnsUpdateHook&) = delete;

    bool Active() const { return m_hook.Active(); }
    void Refuse(const std::string& server) { m_refusing.insert(server); }
    std::vector<std::wstring> Journal() const { return m_journal.Lines(); }

private:
    static DNS_STATUS WINAPI Modify(PDNS_RECORDW add, PDNS_RECORDW remove, DWORD options, HANDLE context,
                                    PIP4_ARRAY servers, PVOID reserved);
    DNS_STATUS Apply(const std::string& server, PDNS_RECORDW add, PDNS_RECORDW remove);

    std::map<std::string, std::wstring> m_zoneFiles;
    std::set<std::string> m_refusing;
    std::mutex m_lock;
    HookJournal m_journal;
    ImportHook m_hook;
};
