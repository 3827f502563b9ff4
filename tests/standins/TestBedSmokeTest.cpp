// The test bed itself: what the namespaces, the test DNS server and the import hooks make Wine show.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <windows.h>
#include <iphlpapi.h>
#include <windns.h>

#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "DnsUpdateHook.h"
#include "DnsZone.h"
#include "LogonHook.h"
#include "ProcAddressHook.h"
#include "TestBed.h"
#include "TestDnsServer.h"

using ::testing::ElementsAre;
using ::testing::IsSupersetOf;

namespace {

std::wstring ProgramPath(const wchar_t* name)
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH - 1);
    std::wstring folder = path;
    return folder.substr(0, folder.rfind(L'\\') + 1) + name;
}

DWORD RunAs(HANDLE token, const std::wstring& arguments)
{
    std::wstring program = ProgramPath(L"testchild.exe");
    std::wstring commandLine = L"\"" + program + L"\" " + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION started = {};
    if (!CreateProcessAsUserW(token, program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                              &startup, &started))
        return GetLastError() | 0x80000000;
    WaitForSingleObject(started.hProcess, 10000);
    DWORD code = 0;
    GetExitCodeProcess(started.hProcess, &code);
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
    return code;
}

bool HasAdapter(const char* address, const BYTE (&mac)[6])
{
    ULONG size = 0;
    GetAdaptersInfo(nullptr, &size);
    std::vector<BYTE> buffer(size);
    auto* adapters = reinterpret_cast<IP_ADAPTER_INFO*>(buffer.data());
    if (size == 0 || GetAdaptersInfo(adapters, &size) != NO_ERROR)
        return false;
    for (auto* adapter = adapters; adapter != nullptr; adapter = adapter->Next)
        if (strcmp(adapter->IpAddressList.IpAddress.String, address) == 0 && adapter->AddressLength == 6
            && memcmp(adapter->Address, mac, 6) == 0)
            return true;
    return false;
}

DWORD Address(const char* dotted)
{
    unsigned octets[4] = {};
    sscanf(dotted, "%u.%u.%u.%u", &octets[0], &octets[1], &octets[2], &octets[3]);
    return octets[0] | octets[1] << 8 | octets[2] << 16 | octets[3] << 24;
}

// The data of the first answer record of the type, or "error N".
std::string Query(const wchar_t* name, WORD type, const char* server)
{
    IP4_ARRAY servers = {1, {Address(server)}};
    DNS_RECORDW* records = nullptr;
    DNS_STATUS status = DnsQuery_W(name, type, DNS_QUERY_BYPASS_CACHE, &servers, &records, nullptr);
    if (status != 0)
        return "error " + std::to_string(status);
    std::string found = "none";
    for (DNS_RECORDW* record = records; record != nullptr; record = record->pNext)
        if (record->wType == type && record->Flags.S.Section == DnsSectionAnswer) {
            found = type == DNS_TYPE_A ? DottedAddress(record->Data.A.IpAddress)
                                       : AsciiText(record->Data.PTR.pNameHost);
            break;
        }
    DnsRecordListFree(records, DnsFreeRecordList);
    return found;
}

std::string FirstNameServer()
{
    BYTE buffer[256] = {};
    DWORD size = sizeof(buffer);
    if (DnsQueryConfig(DnsConfigDnsServerList, 0, nullptr, nullptr, buffer, &size) != 0)
        return "";
    auto* servers = reinterpret_cast<IP4_ARRAY*>(buffer);
    if (servers->AddrCount == 0)
        return "";
    return DottedAddress(servers->AddrArray[0]);
}

std::wstring ComputerName(COMPUTER_NAME_FORMAT format)
{
    wchar_t name[256] = {};
    DWORD size = 256;
    return GetComputerNameExW(format, name, &size) ? name : L"";
}

} // namespace

TEST(TestBedSmoke, NamespacesShowTheBedsAdapterNameServerAndHostName)
{
    SKIP_OUTSIDE_TEST_BED();
    EXPECT_TRUE(HasAdapter(TestBedAddress, TestBedMac));
    EXPECT_EQ("127.0.0.1", FirstNameServer());
    EXPECT_EQ(L"host1", ComputerName(ComputerNameDnsHostname));
    EXPECT_EQ(L"test.example", ComputerName(ComputerNameDnsDomain));
}

TEST(TestBedSmoke, LogonHookStartsAChildForTheAccountAndRefusesAWrongPassword)
{
    LogonHook hook(GetModuleHandleW(nullptr), L"prdadm", L"NODE1", L"Secret1");
    ASSERT_TRUE(hook.Active());
    HANDLE token = nullptr;
    EXPECT_FALSE(LogonUserW(L"prdadm", L"NODE1", L"secret1", LOGON32_LOGON_SERVICE, LOGON32_PROVIDER_DEFAULT, &token));
    EXPECT_EQ(static_cast<DWORD>(ERROR_LOGON_FAILURE), GetLastError());
    ASSERT_TRUE(
        LogonUserW(L"PRDADM", L"node1", L"Secret1", LOGON32_LOGON_INTERACTIVE, LOGON32_PROVIDER_DEFAULT, &token));
    EXPECT_EQ(7u, RunAs(token, L"--exit 7"));
    CloseHandle(token);
    EXPECT_THAT(hook.Journal(), ElementsAre(L"user=prdadm domain=NODE1 type=5", L"user=PRDADM domain=node1 type=2"));
}

TEST(TestBedSmoke, DnsQueryFindsAnARecordAndAPtrRecordOfTheTestServer)
{
    SKIP_OUTSIDE_TEST_BED();
    TestDnsServer dns("host1.test.example A 10.77.0.5\n5.0.77.10.in-addr.arpa PTR host1.test.example\n", "");
    ASSERT_TRUE(dns.Running()) << dns.Error();
    EXPECT_EQ("10.77.0.5", Query(L"host1.test.example", DNS_TYPE_A, TestDnsServer::First));
    EXPECT_EQ("host1.test.example", Query(L"5.0.77.10.in-addr.arpa", DNS_TYPE_PTR, TestDnsServer::First));
    EXPECT_THAT(dns.Journal(),
                IsSupersetOf({"127.0.0.1 host1.test.example A", "127.0.0.1 5.0.77.10.in-addr.arpa PTR"}));
}

TEST(TestDnsServer, AnswersFromEachServersOwnZone)
{
    SKIP_OUTSIDE_TEST_BED();
    TestDnsServer dns("host1.test.example A 10.77.0.5\nalias.test.example CNAME Host1.Test.Example.\n"
                      "# a comment\nnode2.test.example A 10.77.0.7\n",
                      "host1.test.example A 10.77.0.6\n");
    ASSERT_TRUE(dns.Running()) << dns.Error();
    struct {
        const wchar_t* name;
        WORD type;
        const char* server;
        std::string expected;
    } rows[] = {
        {L"alias.test.example", DNS_TYPE_A, TestDnsServer::First, "10.77.0.5"},
        {L"NODE2.test.example", DNS_TYPE_A, TestDnsServer::First, "10.77.0.7"},
        {L"host1.test.example", DNS_TYPE_A, TestDnsServer::Second, "10.77.0.6"},
        {L"node2.test.example", DNS_TYPE_A, TestDnsServer::Second, "error 9003"},
        {L"unknown.test.example", DNS_TYPE_PTR, TestDnsServer::First, "error 9003"},
        {L"node2.test.example", DNS_TYPE_PTR, TestDnsServer::First, "error 9003"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(row.expected, Query(row.name, row.type, row.server)) << AsciiText(row.name) << " at " << row.server;
}

TEST(TestBedHooks, DnsUpdatesChangeTheZoneOfTheServerTheyGoToUnlessItRefuses)
{
    SKIP_OUTSIDE_TEST_BED();
    TestDnsServer dns("", "");
    ASSERT_TRUE(dns.Running()) << dns.Error();
    DnsUpdateHook hook(GetModuleHandleW(nullptr), dns);
    ASSERT_TRUE(hook.Active());
    hook.Refuse(TestDnsServer::Second);
    DNS_RECORDW record = {};
    record.pName = const_cast<wchar_t*>(L"node1.test.example");
    record.wType = DNS_TYPE_A;
    record.Data.A.IpAddress = Address("10.77.0.9");
    IP4_ARRAY second = {1, {Address(TestDnsServer::Second)}};
    EXPECT_EQ(DNS_ERROR_RCODE_REFUSED, DnsModifyRecordsInSet_W(&record, nullptr, 0, nullptr, &second, nullptr));
    ASSERT_EQ(0, DnsModifyRecordsInSet_W(&record, nullptr, 0, nullptr, nullptr, nullptr));
    EXPECT_EQ("10.77.0.9", Query(L"node1.test.example", DNS_TYPE_A, TestDnsServer::First));
    ASSERT_EQ(0, DnsModifyRecordsInSet_W(nullptr, &record, 0, nullptr, nullptr, nullptr));
    EXPECT_EQ("error 9003", Query(L"node1.test.example", DNS_TYPE_A, TestDnsServer::First));
    EXPECT_THAT(hook.Journal(),
                ElementsAre(L"add 127.0.0.1 node1.test.example A 10.77.0.9",
                            L"delete 127.0.0.1 node1.test.example A 10.77.0.9"));
}

// The server reads the zone for every query: an update that comes while it reads must still land.
TEST(TestBedHooks, ZoneRewriteWaitsForAReaderToLetGo)
{
    wchar_t folder[MAX_PATH];
    ASSERT_NE(0u, GetTempPathW(MAX_PATH, folder));
    std::wstring path = std::wstring(folder) + L"zone-" + std::to_wstring(GetCurrentProcessId()) + L".txt";
    ASSERT_TRUE(WriteDnsZoneText(path, "old.test.example A 10.77.0.1\n"));
    std::thread reader;
    {
        auto held = std::make_shared<std::ifstream>(path.c_str());
        ASSERT_TRUE(held->is_open());
        reader = std::thread([held]() mutable {
            Sleep(300);
            held.reset();
        });
    }
    bool written = WriteDnsZoneText(path, "new.test.example A 10.77.0.2\n");
    reader.join();
    std::vector<DnsZoneRecord> zone = ReadDnsZone(path);
    DeleteFileW(path.c_str());
    EXPECT_TRUE(written);
    ASSERT_EQ(1u, zone.size());
    EXPECT_EQ("new.test.example", zone[0].owner);
}

namespace {

DNS_STATUS WINAPI FakeUpdateTest(PCWSTR, DWORD, HANDLE, PIP4_ARRAY)
{
    return 0;
}

} // namespace

TEST(TestBedHooks, GetProcAddressAnswersChosenNamesFailsOneAndPassesTheRest)
{
    ProcAddressHook hook(GetModuleHandleW(nullptr));
    ASSERT_TRUE(hook.Active());
    hook.Answer("DnsUpdateTest_W", reinterpret_cast<const void*>(&FakeUpdateTest));
    hook.Fail("DnsRecordBuild_W");
    HMODULE dnsapi = GetModuleHandleW(L"dnsapi.dll");
    EXPECT_EQ(reinterpret_cast<const void*>(&FakeUpdateTest),
              reinterpret_cast<const void*>(GetProcAddress(dnsapi, "DnsUpdateTest_W")));
    EXPECT_EQ(nullptr, GetProcAddress(dnsapi, "DnsRecordBuild_W"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_PROC_NOT_FOUND), GetLastError());
    EXPECT_NE(nullptr, GetProcAddress(dnsapi, "DnsQuery_W"));
}
