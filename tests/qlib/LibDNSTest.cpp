// The DNS object's checks that need no name server: name checks, argument failures, the computer's domain,
// the configuration buffer and the server list read from it.

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "DnsStandIns.h"
#include "FreshProcess.h"
#include "LibDNS.h"
#include "LibOwners.h"
#include "ImportHook.h"
#include "ServiceTestSupport.h"

namespace {

const HMODULE self = GetModuleHandleW(nullptr);
const uint32_t bedAddress = inet_addr("10.77.0.5");

struct NameCase {
    const wchar_t* name;
    DNS_NAME_FORMAT format;
    DNS_STATUS result;
};

const NameCase nameCases[] = {
    {L"host", DnsNameHostnameLabel, 0},
    {L"host.example", DnsNameHostnameLabel, ERROR_INVALID_NAME},
    {L"host.example", DnsNameDomain, 0},
    {L"sap_host", DnsNameHostnameLabel, DNS_ERROR_NON_RFC_NAME},
    {L"my host", DnsNameHostnameLabel, DNS_ERROR_INVALID_NAME_CHAR},
    {L"", DnsNameHostnameLabel, ERROR_INVALID_NAME},
};

TEST(QLibDNS, IsNameValidTakesOnlyWhatTheSystemAccepts)
{
    for (const NameCase& row : nameCases) {
        QLibStatus status = QLibDNS::IsNameValid(row.name, row.format);
        if (row.result == 0)
            EXPECT_TRUE(IsOK(status)) << row.name;
        else
            EXPECT_TRUE(IsStatus(status, QLIB_ERR_DNS, row.result)) << row.name;
    }
}

// A resolution of the update functions that fails takes nothing away that was found before; a thread checking
// names beside another whose resolutions fail every second time always has its function. The functions are
// resolved once per process: in a process where no earlier case resolved them.
TEST(QLibDNS, FailedResolutionsNeverTakeTheNameCheckAway)
{
    expectInFreshProcess([] {
        ProcAddressHook& lookups = DnsApiStandIns();
        ASSERT_TRUE(IsOK(QLibDNS::IsNameValid(L"host1", DnsNameHostnameLabel)));
        lookups.Fail("DnsRecordBuild_W");
        QLibDNS dns;
        EXPECT_TRUE(
            IsStatus(dns.Initialize(L"host1", bedAddress, nullptr, false), QLIB_ERR_WIN32, ERROR_PROC_NOT_FOUND));
        lookups.Fail("DnsValidateName_W");
        EXPECT_TRUE(IsOK(QLibDNS::IsNameValid(L"host1", DnsNameHostnameLabel)));

        std::atomic<bool> checking{true};
        int refused = 0;
        std::thread checker([&] {
            for (int i = 0; i < 200000; ++i)
                refused += QLibDNS::IsNameValid(L"host1", DnsNameHostnameLabel).IsFailed();
            checking = false;
        });
        for (int round = 0; checking; ++round) {
            lookups.Fail(round % 2 == 0 ? "DnsRecordBuild_W" : "");
            (void)dns.Initialize(L"host1", bedAddress, nullptr, false);
        }
        checker.join();
        lookups.Fail("");
        EXPECT_EQ(0, refused);
    });
}

// GetComputerNameExW of the test program answers this full name while it lives.
class ComputerName {
public:
    explicit ComputerName(std::wstring name) { s_Name = std::move(name); }

private:
    static BOOL WINAPI Answer(COMPUTER_NAME_FORMAT, wchar_t* buffer, DWORD* size)
    {
        if (*size <= s_Name.size()) {
            *size = static_cast<DWORD>(s_Name.size() + 1);
            SetLastError(ERROR_MORE_DATA);
            return FALSE;
        }
        wcscpy(buffer, s_Name.c_str());
        *size = static_cast<DWORD>(s_Name.size());
        return TRUE;
    }

    static inline std::wstring s_Name;
    ImportHook m_Hook{self, "GetComputerNameExW", reinterpret_cast<void*>(&Answer)};
};

struct SuffixCase {
    std::wstring computer;
    const wchar_t* name;
    std::wstring full; // empty: fails with (2, 87)
};

const std::wstring longDomain = L"." + std::wstring(300, L'd') + L".example";

const SuffixCase suffixCases[] = {
    {L"host1.test.example", L"host1", L"host1.test.example"},
    {L"host1.test.example", L"host1.test.example", L"host1.test.example"},
    {L"host1.test.example", L"HOST1.Test.Example.", L"HOST1.Test.Example."},
    {L"host1.test.example", L"db.other.example", L"db.other.example.test.example"},
    {L"host1" + longDomain, L"db", L"db" + longDomain},
    {L"host1", L"db", L""},
};

TEST(QLibDNS, AttachDomainSuffixAppendsTheComputersDomainOnce)
{
    for (const SuffixCase& row : suffixCases) {
        ComputerName computer(row.computer);
        std::wstring full;
        QLibStatus status = QLibDNS::AttachDomainSuffix(row.name, full);
        if (row.full.empty()) {
            EXPECT_TRUE(IsStatus(status, QLIB_ERR_WIN32, ERROR_INVALID_PARAMETER)) << row.name;
        } else {
            EXPECT_TRUE(IsOK(status)) << row.name;
            EXPECT_EQ(row.full, full) << row.name;
        }
    }
}

// Counts the named mutexes the test program creates.
struct MutexCount {
    static inline int created = 0;
    static inline decltype(&CreateMutexW) original = nullptr;
    static HANDLE WINAPI Create(SECURITY_ATTRIBUTES* security, BOOL owner, const wchar_t* name)
    {
        ++created;
        return original(security, owner, name);
    }
};

struct InitializeCase {
    const wchar_t* name;
    const wchar_t* address;
    const wchar_t* mac;
    uint32_t type;
    uint32_t code;
};

const InitializeCase initializeCases[] = {
    {nullptr, L"10.77.0.5", nullptr, QLIB_ERR_DNS, 1},
    {L"host1", nullptr, nullptr, QLIB_ERR_DNS, 1},
    {L"host1", L"10.77.5", nullptr, QLIB_ERR_DNS, 1},
    {L"host1", L"10.77.0.256", nullptr, QLIB_ERR_DNS, 1},
    {L"host1", L"10.77.0.5", L"02:00:5e", QLIB_ERR_NETWORK, ERROR_INVALID_PARAMETER},
};

TEST(QLibDNS, InitializeRefusesMissingOrMalformedArgumentsBeforeTheMutex)
{
    ImportHook hook(self, "CreateMutexW", reinterpret_cast<void*>(&MutexCount::Create));
    MutexCount::original = hook.Original<decltype(&CreateMutexW)>();
    QLibDNS dns;
    for (const InitializeCase& row : initializeCases)
        EXPECT_TRUE(IsStatus(dns.Initialize(row.name, row.address, row.mac, false), row.type, row.code))
            << (row.address ? row.address : L"no address");
    EXPECT_TRUE(IsStatus(dns.Initialize(nullptr, bedAddress, nullptr, false), QLIB_ERR_DNS, 1));
    EXPECT_TRUE(IsStatus(dns.Initialize(L"host1", uint32_t{0}, nullptr, false), QLIB_ERR_DNS, 1));
    EXPECT_EQ(0, MutexCount::created);
    EXPECT_FALSE(dns.IsValid());
}

TEST(QLibDNS, InitializeChecksTheFullName)
{
    QLibDNS dns;
    EXPECT_TRUE(IsStatus(dns.Initialize(L"sap_host.test.example", bedAddress, nullptr, false, false), QLIB_ERR_DNS,
                         DNS_ERROR_NON_RFC_NAME));
    ComputerName computer(L"host1");
    EXPECT_TRUE(IsStatus(dns.Initialize(L"host1", bedAddress, nullptr, true), QLIB_ERR_WIN32, ERROR_INVALID_PARAMETER));
}

// Another holder of the process-wide mutex makes Initialize give up, not wait for ever.
TEST(QLibDNS, InitializeWaitsForTheSharedMutexOnlySoLong)
{
    std::promise<void> release;
    std::promise<void> holding;
    std::thread holder([&] {
        QLibHandleOwner held(CreateMutexW(nullptr, TRUE, L"LibDNS_GlobalMembers"));
        holding.set_value();
        release.get_future().wait();
        ReleaseMutex(held.get());
    });
    holding.get_future().wait();
    auto call = std::async(std::launch::async, [] {
        QLibDNS dns;
        return dns.Initialize(L"host1", bedAddress, nullptr, false);
    });
    bool returned = call.wait_for(std::chrono::milliseconds(QLibDNS::MutexWaitMs + 10000)) == std::future_status::ready;
    release.set_value();
    holder.join();
    ASSERT_TRUE(returned);
    EXPECT_TRUE(IsStatus(call.get(), QLIB_ERR_WIN32, WAIT_TIMEOUT));
}

using AllServers = QLibStatus (QLibDNS::*)() const;

TEST(QLibDNS, ServerOperationsRefuseAnObjectThatIsNotInitialised)
{
    const AllServers operations[] = {
        &QLibDNS::VerifyDNSRecord_A,         &QLibDNS::VerifyDNSRecord_PTR, &QLibDNS::DeleteDuplicateRecord_A,
        &QLibDNS::DeleteDuplicateRecord_PTR, &QLibDNS::CreateDNSRecord_A,   &QLibDNS::CreateDNSRecord_PTR,
        &QLibDNS::DeleteDNSRecord_A,         &QLibDNS::DeleteDNSRecord_PTR,
    };
    QLibDNS dns;
    for (AllServers operation : operations)
        EXPECT_TRUE(IsStatus((dns.*operation)(), QLIB_ERR_DNS, 1));
    EXPECT_TRUE(IsStatus(dns.Update(true), QLIB_ERR_DNS, 1));
    EXPECT_TRUE(IsStatus(dns.Update(false), QLIB_ERR_DNS, 1));
}

// HeapAlloc of the test program fails while one lives.
struct NoHeap {
    static LPVOID WINAPI Fail(HANDLE, DWORD, SIZE_T)
    {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    ImportHook hook{self, "HeapAlloc", reinterpret_cast<void*>(&Fail)};
};

TEST(QLibDNS, BufferCopiesDeeplyAndReportsAFailedAllocation)
{
    QLibBuffer original(4, "abcd");
    QLibBuffer copy(original);
    QLibBuffer assigned;
    assigned = original;
    original.GetData()[0] = 'x';
    EXPECT_EQ(0, memcmp(copy.GetData(), "abcd", 4));
    EXPECT_EQ(0, memcmp(assigned.GetData(), "abcd", 4));
    original.Free();
    EXPECT_TRUE(original.IsNull());
    EXPECT_EQ(0u, original.GetSize());

    NoHeap noHeap;
    EXPECT_TRUE(IsStatus(original.Allocate(16), QLIB_ERR_WIN32, ERROR_NOT_ENOUGH_MEMORY));
    EXPECT_TRUE(original.IsNull());
    assigned = copy;
    EXPECT_TRUE(assigned.IsNull());
    EXPECT_EQ(0u, assigned.GetSize());
    std::vector<uint32_t> servers{1};
    EXPECT_TRUE(IsStatus(QLibDNS::GetDNSServersList(L"bed0", servers), QLIB_ERR_WIN32, ERROR_NOT_ENOUGH_MEMORY));
    EXPECT_TRUE(servers.empty());
}

// DnsQueryConfig of the test program claims a count of addresses, writes some of them and reports a length.
struct ServerConfig {
    DWORD claimed;
    DWORD written;
    DWORD length;
    size_t expected;
};

struct ConfigAnswer {
    static inline ServerConfig row;
    static DNS_STATUS WINAPI Answer(DNS_CONFIG_TYPE, DWORD, PWSTR, PVOID, PVOID buffer, PDWORD length)
    {
        DWORD needed = offsetof(IP4_ARRAY, AddrArray) + row.written * sizeof(IP4_ADDRESS);
        if (*length < needed) {
            *length = needed;
            return ERROR_MORE_DATA;
        }
        auto* array = static_cast<IP4_ARRAY*>(buffer);
        array->AddrCount = row.claimed;
        for (DWORD i = 0; i < row.written; ++i)
            array->AddrArray[i] = i + 1;
        *length = row.length;
        return 0;
    }
};

const ServerConfig serverConfigs[] = {
    {2, 2, 12, 2},
    {1000, 1, 8, 1},
    {120, 120, 484, 120},
    {3, 3, 2, 0},
};

TEST(QLibDNS, ServerListReadsOnlyWhatTheCallWrote)
{
    ImportHook hook(self, "DnsQueryConfig", reinterpret_cast<void*>(&ConfigAnswer::Answer));
    for (const ServerConfig& row : serverConfigs) {
        ConfigAnswer::row = row;
        std::vector<uint32_t> servers;
        EXPECT_TRUE(IsOK(QLibDNS::GetDNSServersList(L"bed0", servers))) << row.claimed;
        ASSERT_EQ(row.expected, servers.size()) << row.claimed;
        for (size_t i = 0; i < servers.size(); ++i)
            EXPECT_EQ(i + 1, servers[i]);
    }
}

} // namespace
