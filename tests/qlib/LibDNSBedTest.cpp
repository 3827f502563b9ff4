// The DNS object against the bed's two name servers, its updates applied to their zones and journalled.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "DnsStandIns.h"
#include "DnsUpdateHook.h"
#include "DnsZone.h"
#include "FreshProcess.h"
#include "LibDNS.h"
#include "ServiceTestSupport.h"
#include "TestBed.h"

using ::testing::ElementsAreArray;

namespace {

// The bed's servers with the given zones, updates going into them, the update test reading them.
struct Bed {
    Bed(const std::string& first, const std::string& second) : server(first, second), updates(self, server)
    {
        UseDnsServer(&server);
    }
    ~Bed() { UseDnsServer(nullptr); }

    // The journal lines since the last call.
    std::vector<std::wstring> NewUpdates()
    {
        std::vector<std::wstring> lines = updates.Journal();
        std::vector<std::wstring> fresh(lines.begin() + seen, lines.end());
        seen = lines.size();
        return fresh;
    }

    static inline const HMODULE self = GetModuleHandleW(nullptr);
    TestDnsServer server;
    DnsUpdateHook updates;
    size_t seen = 0;
};

const wchar_t addA1[] = L"add 127.0.0.1 host1.test.example A 10.77.0.5";
const wchar_t addPtr1[] = L"add 127.0.0.1 5.0.77.10.in-addr.arpa PTR host1.test.example";
const wchar_t addA2[] = L"add 127.0.0.2 host1.test.example A 10.77.0.5";
const wchar_t addPtr2[] = L"add 127.0.0.2 5.0.77.10.in-addr.arpa PTR host1.test.example";

} // namespace

TEST(QLibDNSBed, UpdateRegistersTheNameOnEveryServerOnceAndOnlyWhileBound)
{
    SKIP_OUTSIDE_TEST_BED();
    expectInFreshProcess([] {
        Bed bed("", "");
        ASSERT_TRUE(bed.server.Running()) << bed.server.Error();
        QLibDNS dns;
        // Decimal despite the leading zeros: read as octal this would be 8.63.0.5, which no adapter carries.
        ASSERT_TRUE(IsOK(dns.Initialize(L"host1", L"010.077.000.005", nullptr, true)));
        EXPECT_TRUE(IsOK(dns.Update(true)));
        EXPECT_TRUE(IsOK(dns.Update(true)));
        EXPECT_THAT(bed.NewUpdates(), ElementsAreArray({addA1, addPtr1, addA2, addPtr2}));

        (void)dns.Close();
        EXPECT_TRUE(IsStatus(dns.Update(true), QLIB_ERR_DNS, 1));
        ASSERT_TRUE(IsOK(dns.Initialize(L"host1", L"10.77.0.5", nullptr, true)));
        EXPECT_FALSE(IsOK(dns.Initialize(L"host1", L"10.77.0.99", nullptr, true)));
        EXPECT_TRUE(IsStatus(dns.Update(false), QLIB_ERR_DNS, 1));
        EXPECT_TRUE(IsStatus(dns.DeleteDNSRecord_A(), QLIB_ERR_DNS, 1));
        EXPECT_TRUE(bed.NewUpdates().empty());
    });
}

struct UpdateCase {
    const char* what;
    std::string first;
    bool refuseSecond;
    bool allServers;
    uint32_t type;
    uint32_t code;
    std::vector<std::wstring> updates;
};

const UpdateCase updateCases[] = {
    // The name is in use (update test 9006): the record is added all the same.
    {"another address, second server refusing",
     "host1.test.example A 10.77.0.9\n",
     true,
     true,
     QLIB_ERR_WIN32,
     ERROR_HANDLE_EOF,
     {addA1, addPtr1}},
    {"first server only", "", false, false, QLIB_ERR_NONE, 0, {addA1, addPtr1}},
    {"PTR naming the host without its domain",
     "host1.test.example A 10.77.0.5\n5.0.77.10.in-addr.arpa PTR host1\n",
     false,
     false,
     QLIB_ERR_NONE,
     0,
     {}},
};

// Wine's DnsQueryConfig answers the last server a query named once one was made: every object is bound first, and
// every case runs in a process that has made no query yet.
TEST(QLibDNSBed, UpdateAddsWhatIsMissing)
{
    SKIP_OUTSIDE_TEST_BED();
    expectInFreshProcess([] {
        std::array<QLibDNS, std::size(updateCases)> objects;
        for (QLibDNS& dns : objects)
            ASSERT_TRUE(IsOK(dns.Initialize(L"host1", L"10.77.0.5", nullptr, true)));
        for (size_t i = 0; i < objects.size(); ++i) {
            const UpdateCase& row = updateCases[i];
            Bed bed(row.first, "");
            ASSERT_TRUE(bed.server.Running()) << bed.server.Error();
            if (row.refuseSecond)
                bed.updates.Refuse(TestDnsServer::Second);
            EXPECT_TRUE(IsStatus(objects[i].Update(row.allServers), row.type, row.code)) << row.what;
            EXPECT_THAT(bed.NewUpdates(), ElementsAreArray(row.updates)) << row.what;
        }
    });
}

using AllServers = QLibStatus (QLibDNS::*)() const;

struct DeleteCase {
    const char* what;
    std::string zone;
    AllServers operation;
    std::vector<std::wstring> updates;
};

const std::string roundRobin = "host1.test.example A 10.77.0.9\nhost1.test.example A 10.77.0.5\n";
const std::string alias = "host1.test.example CNAME node2.test.example\nnode2.test.example A 10.77.0.5\n";

const DeleteCase deleteCases[] = {
    {"round robin", roundRobin, &QLibDNS::DeleteDNSRecord_A, {L"delete 127.0.0.1 host1.test.example A 10.77.0.5"}},
    {"PTRs to other names",
     "5.0.77.10.in-addr.arpa PTR node2.test.example\n5.0.77.10.in-addr.arpa PTR HOST1.test.example.\n",
     &QLibDNS::DeleteDNSRecord_PTR,
     {L"delete 127.0.0.1 5.0.77.10.in-addr.arpa PTR HOST1.test.example"}},
    {"alias", alias, &QLibDNS::DeleteDNSRecord_A, {}},
    {"alias set", alias, &QLibDNS::DeleteDuplicateRecord_A, {}},
    // A record without data stands for its whole set.
    {"whole set", roundRobin, &QLibDNS::DeleteDuplicateRecord_A, {L"delete 127.0.0.1 host1.test.example A 0.0.0.0"}},
    {"unknown name", "", &QLibDNS::DeleteDNSRecord_A, {}},
    {"unknown reverse name", "", &QLibDNS::DeleteDuplicateRecord_PTR, {}},
};

TEST(QLibDNSBed, DeletionsTouchOnlyTheObjectsOwnRecords)
{
    SKIP_OUTSIDE_TEST_BED();
    expectInFreshProcess([] {
        Bed bed("", "");
        ASSERT_TRUE(bed.server.Running()) << bed.server.Error();
        QLibDNS dns;
        ASSERT_TRUE(IsOK(dns.Initialize(L"host1", L"10.77.0.5", nullptr, true)));
        for (const DeleteCase& row : deleteCases) {
            ASSERT_TRUE(WriteDnsZoneText(bed.server.ZoneFile(TestDnsServer::First), row.zone));
            EXPECT_TRUE(IsOK((dns.*row.operation)())) << row.what;
            EXPECT_THAT(bed.NewUpdates(), ElementsAreArray(row.updates)) << row.what;
        }
    });
}
