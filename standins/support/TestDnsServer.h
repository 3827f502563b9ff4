#pragma once

// The test bed's DNS server (dnsserver.exe beside the test program), started for one test and stopped with it:
// UDP port 53 on 127.0.0.1 and 127.0.0.2, the bed's name servers, each answering from its own zone file (format
// in DnsZone.h) in a folder of this object's own. Port 53 is one per bed, so a test program using it takes the
// ctest resource lock "testdns" (tollan_add_test(... LOCK testdns)); the object also holds a named mutex from
// before its server starts until it has ended, so that a program without the lock waits instead of failing.
// Build and destroy it on one thread. Outside the bed (see TestBed.h) it starts nothing. The journal holds
// "SERVER NAME TYPE" per query received.

#include <windows.h>

#include <string>
#include <vector>

class TestDnsServer {
public:
    static constexpr const char* First = "127.0.0.1";
    static constexpr const char* Second = "127.0.0.2";

    TestDnsServer(const std::string& firstZone, const std::string& secondZone);
    ~TestDnsServer();
    TestDnsServer(const TestDnsServer&) = delete;
    TestDnsServer& operator=(const TestDnsServer&) = delete;

    // False when the server could not start; Error() says why.
    bool Running() const { return m_process != nullptr; }
    const std::string& Error() const { return m_error; }

    // The zone file of First or Second.
    std::wstring ZoneFile(const std::string& server) const;
    std::vector<std::string> Journal() const;

private:
    bool TakePorts();
    bool MakeFolder();
    void Start();
    void Stop(HANDLE process);

    std::wstring m_name; // of the folder and the events
    std::wstring m_folder;
    HANDLE m_ports = nullptr; // the mutex, owned while not null
    HANDLE m_process = nullptr;
    HANDLE m_stop = nullptr;
    std::string m_error;
};
