#include <gtest/gtest.h>

#include "InstanceTesting.h"
#include "LogonHook.h"
#include "TollanAgent.h"

namespace {

struct OfflineRow {
    const char* name;
    const char* sid;
    const char* plan;
    const char* serviceOptions;
    bool started, serviceRuns, removeStop;
    uint32_t timeout; // OfflineTimeout; EPProgramTimeout is 30
    uint32_t type, code;
    const char* messages;
    size_t stopRuns, logLines;
    const char* left;
};

TEST_F(InstanceTest, OfflineThroughEachOfItsSteps)
{
    const char* whole = "disp+work.exe disp+work.exe gwrd.exe msg_server.exe testservice.exe";
    const OfflineRow rows[] = {
        {"running instance", "ZOA", "", "", true, true, false, 90, 0, 0, "10112 10114", 1, 5, ""},
        {"already offline", "ZOB", "", "", false, true, false, 90, 0, 0, "10108", 0, 0, "testservice.exe"},
        {"stop command missing", "ZOC", "", "", true, true, true, 90, 2, 2, "10109", 0, 0, whole},
        // The stand-in stops the instance before its answer: only the service is left.
        {"stop command exits 3", "ZOD", "stopsap exit=3", "", true, true, false, 90, 2, 3, "10111", 1, 0,
         "testservice.exe"},
        {"stop command hangs", "ZOE", "stopsap delay=hang", "", true, true, false, 32, 7, 258, "10110", 1, 0,
         "testservice.exe"},
        // The service's stop outlasts the time left; its instance is ended all the same.
        {"service hangs on stop", "ZOG", "", "--hang-stop", true, true, false, 35, 0, 0, "10112 10113", 1, 5,
         "testservice.exe"},
        // The service is down, so no stop command; the processes behind it still go.
        {"processes behind a stopped service", "ZOF", "", "", true, false, false, 90, 0, 0, "10135 10108 10114", 0, 5,
         ""},
    };
    for (const OfflineRow& row : rows) {
        SCOPED_TRACE(row.name);
        SapFixture sap(SapInstanceType::Central, row.sid);
        ASSERT_TRUE(sap.Ok()) << sap.Error();
        sap.Plan(row.plan);
        ASSERT_TRUE(sap.SetServiceOptions(row.serviceOptions));
        if (row.serviceRuns) {
            ASSERT_TRUE(sap.StartService());
        }
        if (row.started) {
            ASSERT_EQ(0, sap.StartInstance());
        }
        if (row.removeStop) {
            ASSERT_TRUE(DeleteFileA((sap.sapHome + "\\stopsap.exe").c_str()));
        }
        g_OfflineTimeout = row.timeout;
        CTollanAttrib attrib;
        ASSERT_TRUE(IsOK(ParseFixture(attrib, sap, TOLLAN_EP_OFFLINE)));
        TarnAgHostLogClear();
        {
            LogonHook logon(TestModule(), Wide(sap.user), Wide(sap.domain), Wide(sap.password));
            LedgerHook ledger(TestModule());
            CTollan tollan;
            uint32_t result = 7;
            EXPECT_TRUE(IsStatus(tollan.Offline(attrib, &result), row.type, row.code));
            EXPECT_EQ(0u, result);
            EXPECT_EQ(std::vector<std::wstring>(), ledger.Outstanding());
        }
        EXPECT_EQ(row.messages, MessageIdText());
        EXPECT_EQ(row.stopRuns, sap.Runs("stopsap").size());
        EXPECT_EQ(row.logLines, sap.SapLog().size());
        EXPECT_EQ(row.left, LiveImages(sap));
    }
}

} // namespace
