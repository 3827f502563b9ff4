#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "ClockHook.h"
#include "FaultHook.h"
#include "InstanceTesting.h"
#include "OwnerHook.h"

namespace {

enum class Owner { Own, OtherUser, OtherDomain };

struct StateRow {
    const char* name;
    SapInstanceType type;
    const char* sid;
    const char* start; // what startsap starts; null: nothing started
    const char* plan; // more plan lines
    const char* sysImage; // a process started from the SYS folder
    const char* change; // NAME=VALUE of one attribute
    Owner owner;
    uint32_t operation;
    int64_t timeLeft;
    uint32_t expected; // 7: left as the caller set it
    size_t sleeps; // re-check pauses expected
};

constexpr int64_t Minute = 60000;
constexpr uint32_t Monitor = TOLLAN_OP_MONITOR;

TEST_F(InstanceTest, ResourceStateOfEachInstanceKind)
{
    const StateRow rows[] = {
        {"all running", SapInstanceType::Central, "ZSA", "", "", nullptr, nullptr, Owner::Own, Monitor, Minute, 1, 0},
        {"message server dead, two dispatchers", SapInstanceType::Central, "ZSB", "disp+work.exe*2,gwrd.exe", "",
         nullptr, nullptr, Owner::Own, Monitor, Minute, 0, 0},
        {"partial set during online", SapInstanceType::Central, "ZSC", "disp+work.exe*2,gwrd.exe", "", nullptr, nullptr,
         Owner::Own, TOLLAN_OP_ONLINE, Minute, 2, 0},
        {"nothing running", SapInstanceType::Central, "ZSD", nullptr, "", nullptr, nullptr, Owner::Own, Monitor, Minute,
         0, 0},
        {"another user's processes", SapInstanceType::Central, "ZSE", "", "", nullptr, nullptr, Owner::OtherUser,
         Monitor, Minute, 0, 0},
        {"another domain's processes", SapInstanceType::Central, "ZSF", "", "", nullptr, nullptr, Owner::OtherDomain,
         Monitor, Minute, 0, 0},
        {"empty domain is the local computer", SapInstanceType::Central, "ZSG", "", "", nullptr,
         "SAPAdminDomain=", Owner::Own, Monitor, Minute, 1, 0},
        {"dialog instance", SapInstanceType::Dialog, "ZSH", "", "", nullptr, nullptr, Owner::Own, Monitor, Minute, 1,
         0},
        {"dialog never from SYS", SapInstanceType::Dialog, "ZSI", nullptr, "", "disp+work.exe", nullptr, Owner::Own,
         Monitor, Minute, 0, 0},
        {"enqueue from SYS", SapInstanceType::Enqueue, "ZSJ", nullptr, "", "enserver.exe", "ProcMon=enserver.exe",
         Owner::Own, Monitor, Minute, 1, 0},
        {"enqueue without processes", SapInstanceType::Enqueue, "ZSK", nullptr, "", nullptr, "ProcMon=", Owner::Own,
         Monitor, Minute, 1, 0},
        {"replication from its own folder", SapInstanceType::EnqRep, "ZSL", "", "", nullptr, nullptr, Owner::Own,
         Monitor, Minute, 1, 0},
        {"replication never from SYS", SapInstanceType::EnqRep, "ZSM", nullptr, "", "enrepserver.exe", nullptr,
         Owner::Own, Monitor, Minute, 0, 0},
        {"java without jlaunch: re-checks, then offline", SapInstanceType::CentralJava, "ZSN", "",
         "jcontrol spawn-delay=600000", nullptr, nullptr, Owner::Own, Monitor, Minute, 0, 7},
        {"java without jlaunch during online", SapInstanceType::CentralJava, "ZSO", "", "jcontrol spawn-delay=600000",
         nullptr, nullptr, Owner::Own, TOLLAN_OP_ONLINE, Minute, 7, 0},
        {"java without jlaunch, little time", SapInstanceType::CentralJava, "ZSP", "", "jcontrol spawn-delay=600000",
         nullptr, nullptr, Owner::Own, TOLLAN_OP_ONLINE, 4999, 0, 0},
        {"late jlaunch", SapInstanceType::CentralJava, "ZSQ", "", "jcontrol spawn-delay=1500", nullptr, nullptr,
         Owner::Own, Monitor, 1000 * Minute, 1, 99},
        // Its jcontrol.exe starts the jlaunch.exe processes a moment after startsap ends.
        {"add-in", SapInstanceType::CentralAddIn, "ZSR", "", "", nullptr, nullptr, Owner::Own, Monitor, 1000 * Minute,
         1, 99},
    };
    for (const StateRow& row : rows) {
        SCOPED_TRACE(row.name);
        SapFixture sap(row.type, row.sid);
        ASSERT_TRUE(sap.Ok()) << sap.Error();
        sap.Plan(row.plan);
        if (row.start != nullptr) {
            if (*row.start != '\0')
                sap.Plan(std::string("startsap start=") + row.start);
            ASSERT_EQ(0, sap.StartInstance());
        }
        if (row.sysImage != nullptr) {
            ASSERT_TRUE(StartInSys(sap, row.sysImage));
        }
        CTollanAttrib attrib;
        ASSERT_TRUE(IsOK(ParseFixture(attrib, sap, TOLLAN_EP_MONITOR, Change(row.change))));
        OwnerHook owners(TestModule());
        for (const SapProcess& process : sap.Processes())
            if (row.owner != Owner::Own)
                owners.Set(process.pid, row.owner == Owner::OtherDomain ? L"ELSEWHERE" : Wide(sap.domain),
                           row.owner == Owner::OtherUser ? L"someoneelse" : Wide(sap.user));
        ClockHook clock(TestModule());
        LedgerHook ledger(TestModule());
        CTollan tollan;
        tollan.operation = row.operation;
        uint32_t state = 7;
        EXPECT_TRUE(IsOK(tollan.GetResourceState(attrib, &state, row.timeLeft)));
        EXPECT_EQ(row.expected, state);
        if (row.sleeps != 99) {
            EXPECT_EQ(row.sleeps, clock.Journal().size());
        }
        EXPECT_EQ(std::vector<std::wstring>(), ledger.Outstanding());
    }
}

TEST_F(InstanceTest, FailedWalkIsNoCount)
{
    SapFixture sap(SapInstanceType::Central, "ZSS");
    ASSERT_TRUE(sap.Ok()) << sap.Error();
    ASSERT_EQ(0, sap.StartInstance());
    CTollanAttrib attrib;
    ASSERT_TRUE(IsOK(ParseFixture(attrib, sap, TOLLAN_EP_MONITOR)));
    FaultHook faults(TestModule());
    faults.Fail("Process32NextW", ERROR_ACCESS_DENIED, 2);
    LedgerHook ledger(TestModule());
    CTollan tollan;
    tollan.operation = TOLLAN_OP_MONITOR;
    uint32_t state = 7;
    EXPECT_TRUE(IsStatus(tollan.GetResourceState(attrib, &state, Minute), QLIB_ERR_WIN32, ERROR_ACCESS_DENIED));
    EXPECT_EQ(7u, state);
    EXPECT_EQ(std::vector<std::wstring>(), ledger.Outstanding());
}

TEST_F(InstanceTest, StoppedServiceMakesRunningInstanceOffline)
{
    SapFixture sap(SapInstanceType::Central, "ZST");
    ASSERT_TRUE(sap.Ok()) << sap.Error();
    ASSERT_EQ(0, sap.StartInstance());
    CTollanAttrib attrib;
    ASSERT_TRUE(IsOK(ParseFixture(attrib, sap, TOLLAN_EP_MONITOR)));
    for (bool serviceRuns : {false, true}) {
        if (serviceRuns) {
            ASSERT_TRUE(sap.StartService());
        }
        TarnAgHostLogClear();
        CTollan tollan;
        tollan.operation = TOLLAN_OP_MONITOR;
        uint32_t state = 2;
        EXPECT_TRUE(IsOK(tollan._FirstLevelMonitor(attrib, &state, Minute)));
        EXPECT_EQ(serviceRuns ? 1u : 0u, state);
        EXPECT_EQ(serviceRuns ? std::vector<uint32_t>{} : std::vector<uint32_t>{10135}, MessageIds());
    }
}

} // namespace
