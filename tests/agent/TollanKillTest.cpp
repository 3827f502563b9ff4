#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <utility>

#include "ClockHook.h"
#include "FaultHook.h"
#include "ImportHook.h"
#include "InstanceTesting.h"
#include "LogonHook.h"
#include "OwnerHook.h"
#include "TollanAgent.h"

namespace {

// A process that ends just before its kill: it is gone when TerminateProcess is called, which on Windows then
// fails with access denied.
ImportHook* g_Vanish = nullptr;
BOOL WINAPI VanishBeforeKill(HANDLE process, UINT code)
{
    g_Vanish->Original<decltype(&TerminateProcess)>()(process, code);
    WaitForSingleObject(process, 5000);
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}

enum class Fault { None, OtherOwner, Unkillable, Vanished, NoList };

struct KillRow {
    const char* name;
    SapInstanceType type;
    const char* sid;
    const char* change; // NAME=VALUE of one attribute
    const char* sysImage;
    Fault fault;
    uint32_t failed;
    const char* left; // live images afterwards
};

TEST_F(InstanceTest, KillEndsTheInstanceAndNothingElse)
{
    const char* whole = "disp+work.exe disp+work.exe gwrd.exe msg_server.exe";
    const KillRow rows[] = {
        {"whole instance, gwrd.exe from the queue", SapInstanceType::Central, "ZKA", nullptr, nullptr, Fault::None, 0,
         ""},
        {"another account's processes", SapInstanceType::Central, "ZKB", nullptr, nullptr, Fault::OtherOwner, 0, whole},
        {"blank ProcMon entry skipped", SapInstanceType::Central, "ZKC", "ProcMon=disp+work.exe, ,msg_server.exe",
         nullptr, Fault::None, 0, ""},
        {"one unkillable, the rest ended", SapInstanceType::Central, "ZKD", nullptr, nullptr, Fault::Unkillable, 1,
         "disp+work.exe"},
        {"vanished counts as killed", SapInstanceType::Central, "ZKE", nullptr, nullptr, Fault::Vanished, 0, ""},
        {"no process list", SapInstanceType::Central, "ZKF", nullptr, nullptr, Fault::NoList, 1, whole},
        {"replication server spared by the enqueue", SapInstanceType::Enqueue, "ZKG", nullptr, "enrepserver.exe",
         Fault::None, 0, "enrepserver.exe"},
        {"java with its jlaunch processes", SapInstanceType::CentralJava, "ZKH", nullptr, nullptr, Fault::None, 0, ""},
    };
    for (const KillRow& row : rows) {
        SCOPED_TRACE(row.name);
        SapFixture sap(row.type, row.sid);
        ASSERT_TRUE(sap.Ok()) << sap.Error();
        ASSERT_EQ(0, sap.StartInstance());
        if (row.sysImage != nullptr) {
            ASSERT_TRUE(StartInSys(sap, row.sysImage));
        }
        Sleep(300); // jcontrol.exe starts its jlaunch.exe processes
        CTollanAttrib attrib;
        ASSERT_TRUE(IsOK(ParseFixture(attrib, sap, TOLLAN_EP_CLEAN, Change(row.change))));
        OwnerHook owners(TestModule());
        FaultHook faults(TestModule());
        std::unique_ptr<ImportHook> vanish;
        for (const SapProcess& process : sap.Processes())
            if (row.fault == Fault::OtherOwner)
                owners.Set(process.pid, Wide(sap.domain), L"someoneelse");
        if (row.fault == Fault::Unkillable)
            faults.Fail("TerminateProcess", ERROR_ACCESS_DENIED, 0, PidOf(sap, L"disp+work.exe"));
        if (row.fault == Fault::NoList)
            faults.Fail("CreateToolhelp32Snapshot", ERROR_NOT_ENOUGH_MEMORY);
        if (row.fault == Fault::Vanished) {
            vanish = std::make_unique<ImportHook>(TestModule(), "TerminateProcess",
                                                  reinterpret_cast<void*>(&VanishBeforeKill));
            g_Vanish = vanish.get();
        }
        LedgerHook ledger(TestModule());
        CTollan tollan;
        uint32_t failed = 7;
        QLibStatus status = tollan.Kill(attrib, 60000, &failed);
        EXPECT_EQ(row.failed, failed);
        EXPECT_EQ(row.failed != 0, status.IsFailed());
        EXPECT_EQ(std::vector<std::wstring>(), ledger.Outstanding());
        vanish.reset();
        Sleep(100);
        EXPECT_EQ(row.left, LiveImages(sap));
    }
}

TEST_F(InstanceTest, KillSparesASiblingInstanceOfTheSameSystem)
{
    SapFixture central(SapInstanceType::Central, "ZKI", "00");
    SapFixture dialog(SapInstanceType::Dialog, "ZKI", "01");
    ASSERT_TRUE(central.Ok() && dialog.Ok()) << central.Error() << dialog.Error();
    ASSERT_EQ(0, central.StartInstance());
    ASSERT_EQ(0, dialog.StartInstance());
    CTollanAttrib attrib;
    ASSERT_TRUE(IsOK(ParseFixture(attrib, central, TOLLAN_EP_CLEAN)));
    CTollan tollan;
    uint32_t failed = 7;
    EXPECT_TRUE(IsOK(tollan.Kill(attrib, 60000, &failed)));
    EXPECT_EQ(0u, failed);
    EXPECT_EQ("", LiveImages(central));
    EXPECT_EQ("disp+work.exe disp+work.exe gwrd.exe", LiveImages(dialog));
}

TEST_F(InstanceTest, OnlyWholeFolderNamesMakeAProcessTheInstances)
{
    // Instance DVEBMGS00 of system ZPA; every process runs as its administrator.
    const std::pair<const char*, bool> rows[] = {
        {"usr\\sap\\ZPA\\DVEBMGS00\\exe\\disp+work.exe", true},
        {"usr\\sap\\zpa\\dvebmgs00\\exe\\msg_server.exe", true},
        {"usr\\sap\\ZPA\\SYS\\exe\\run\\msg_server.exe", true},
        {"usr\\sap\\ZPA\\SYS\\exe\\uc\\NTAMD64\\disp+work.exe", true},
        {"usr\\sap\\ZPA\\DVEBMGS00\\j2ee\\os_libs\\jcmon.exe", true},
        {"usr\\sap\\QAS\\D00\\work\\ZPA_DVEBMGS00_OLD\\disp+work.exe", false},
        {"usr\\sap\\ZPAX\\DVEBMGS00\\exe\\disp+work.exe", false},
        {"usr\\sap\\ZPA\\DVEBMGS001\\exe\\disp+work.exe", false},
        {"usr\\sap\\ZPA\\OLD_DVEBMGS00\\exe\\disp+work.exe", false},
        {"usr\\sap\\ZPA\\SYSTEM\\exe\\msg_server.exe", false},
        {"usr\\sap\\DVEBMGS00\\ZPA\\exe\\disp+work.exe", false},
        {"usr\\sap\\ZPA\\exe\\DVEBMGS00.exe", false},
    };
    SapFixture sap(SapInstanceType::Central, "ZPA");
    ASSERT_TRUE(sap.Ok()) << sap.Error();
    for (const auto& [path, instances] : rows) {
        ASSERT_TRUE(StartAt(sap.root + "\\" + path)) << path;
    }
    CTollanAttrib attrib;
    ASSERT_TRUE(IsOK(ParseFixture(attrib, sap, TOLLAN_EP_CLEAN)));
    CTollan tollan;
    uint32_t failed = 7;
    EXPECT_TRUE(IsOK(tollan.Kill(attrib, 60000, &failed)));
    Sleep(100);
    std::set<std::wstring> live;
    for (const SapProcess& process : sap.Processes())
        live.insert(SapUpper(process.path));
    for (const auto& [path, instances] : rows)
        EXPECT_EQ(instances, live.count(SapUpper(Wide(sap.root + "\\" + path))) == 0) << path;
}

struct CleanRow {
    const char* name;
    const char* sid;
    const char* plan;
    bool removeTool;
    bool serviceRuns;
    uint32_t timeout; // CleanTimeout; EPProgramTimeout is 30
    bool virtualClock; // for the waits of the agent's own loops (the service's waits need the real one)
    const char* messages;
    const char* left; // live images afterwards
};

TEST_F(InstanceTest, CleanThroughEachOfItsSteps)
{
    const CleanRow rows[] = {
        {"graceful stop", "ZCA", "", false, true, 90, false, "10130 10134", ""},
        {"kill tool missing", "ZCB", "", true, true, 90, false, "10127 10134", ""},
        // No time is left for the service's stop; the instance's processes are ended all the same.
        {"kill tool hangs", "ZCC", "sapsrvkill delay=hang", false, true, 32, false, "10128 10133", "testservice.exe"},
        // 60 s left after the tool: checks at 60 and 35 s, then 15 s are too few.
        {"kill tool kills nothing", "ZCD", "sapsrvkill kill=none", false, false, 90, true, "10131 10132 10134", ""},
        // One process gone is no stopped instance: the wait goes on for the rest.
        {"tool ends msg_server.exe only", "ZCG", "sapsrvkill kill=msg_server.exe", false, false, 90, true,
         "10131 10132 10134", ""},
        {"instance ends, service already stopped", "ZCE", "", false, false, 90, false, "10130 10134", ""},
    };
    for (const CleanRow& row : rows) {
        SCOPED_TRACE(row.name);
        SapFixture sap(SapInstanceType::Central, row.sid);
        ASSERT_TRUE(sap.Ok()) << sap.Error();
        sap.Plan(row.plan);
        if (row.serviceRuns) {
            ASSERT_TRUE(sap.StartService());
        }
        ASSERT_EQ(0, sap.StartInstance());
        if (row.removeTool) {
            ASSERT_TRUE(DeleteFileA((sap.sapHome + "\\sapsrvkill.exe").c_str()));
        }
        g_CleanTimeout = row.timeout;
        CTollanAttrib attrib;
        ASSERT_TRUE(IsOK(ParseFixture(attrib, sap, TOLLAN_EP_CLEAN)));
        TarnAgHostLogClear();
        {
            LogonHook logon(TestModule(), Wide(sap.user), Wide(sap.domain), Wide(sap.password));
            std::unique_ptr<ClockHook> clock;
            if (row.virtualClock)
                clock = std::make_unique<ClockHook>(TestModule());
            LedgerHook ledger(TestModule());
            CTollan tollan;
            uint32_t failed = 7;
            EXPECT_TRUE(IsOK(tollan.Clean(attrib, 0, &failed)));
            EXPECT_EQ(0u, failed);
            EXPECT_EQ(std::vector<std::wstring>(), ledger.Outstanding());
        }
        EXPECT_EQ(row.messages, MessageIdText());
        EXPECT_EQ(row.left, LiveImages(sap));
        std::vector<std::string> log = sap.SapLog();
        ASSERT_EQ(5u, log.size());
        EXPECT_NE(std::string::npos, log[3].find("Action: SAP instance cleaned by Tarn."));
    }
}

struct ServiceProgramRow {
    const char* name;
    const char* sid;
    uint32_t entry; // the entry point whose operation runs
    bool started;
    uint32_t state; // Monitor's answer
    const char* messages;
    const char* left; // live images afterwards
};

// The SAP service's program lies in the instance's exe folder and runs as the service user, as on a real
// system: a process of the instance that no ProcMon name matches.
TEST_F(InstanceTest, ServiceProgramInTheInstanceFolder)
{
    const ServiceProgramRow rows[] = {
        // The wait after the kill tool ends with the instance's processes; the service's stop ends its program.
        {"clean", "ZVA", TOLLAN_EP_CLEAN, true, 0, "10130 10134", ""},
        {"offline", "ZVB", TOLLAN_EP_OFFLINE, true, 0, "10112 10114", ""},
        // To offline the service's program alone is a partial set: the stop command runs all the same.
        {"offline of a stopped instance", "ZVC", TOLLAN_EP_OFFLINE, false, 0, "10112 10114", ""},
        {"monitor", "ZVD", TOLLAN_EP_MONITOR, true, 1, "",
         "disp+work.exe disp+work.exe gwrd.exe msg_server.exe testservice.exe"},
        {"monitor of a stopped instance", "ZVE", TOLLAN_EP_MONITOR, false, 0, "", "testservice.exe"},
    };
    for (const ServiceProgramRow& row : rows) {
        SCOPED_TRACE(row.name);
        SapFixture sap(SapInstanceType::Central, row.sid);
        ASSERT_TRUE(sap.Ok()) << sap.Error();
        ASSERT_TRUE(sap.ServiceInInstance());
        ASSERT_TRUE(sap.StartService());
        if (row.started) {
            ASSERT_EQ(0, sap.StartInstance());
        }
        g_CleanTimeout = g_OfflineTimeout = 330; // budgets of 300 s
        g_MonitorTimeout = 60;
        std::string serviceUser = "SAPService" + sap.sid;
        CTollanAttrib attrib;
        ASSERT_TRUE(IsOK(ParseFixture(attrib, sap, row.entry, {{"SAPServiceUser", serviceUser}})));
        OwnerHook owners(TestModule());
        owners.Set(PidOf(sap, L"testservice.exe"), Wide(sap.domain), Wide(serviceUser));
        LogonHook logon(TestModule(), Wide(sap.user), Wide(sap.domain), Wide(sap.password));
        ClockHook clock(TestModule());
        clock.SleepForRealUpTo(100); // the service's stop is polled in real time
        TarnAgHostLogClear();
        uint64_t start = ClockHook::TickMs();
        CTollan tollan;
        uint32_t out = 7;
        QLibStatus status = row.entry == TOLLAN_EP_CLEAN ? tollan.Clean(attrib, 0, &out)
            : row.entry == TOLLAN_EP_OFFLINE             ? tollan.Offline(attrib, &out)
                                                         : tollan.Monitor(attrib, &out);
        EXPECT_TRUE(IsOK(status));
        EXPECT_EQ(row.state, out);
        // Within seconds of the instance's stop on the test clock, far from the budget.
        EXPECT_GT(10000u, ClockHook::TickMs() - start);
        EXPECT_EQ(row.messages, MessageIdText());
        EXPECT_EQ(row.left, LiveImages(sap));
    }
}

TEST_F(InstanceTest, CleanReportsAnUnkillableProcessAfterItsRecord)
{
    SapFixture sap(SapInstanceType::Central, "ZCF");
    ASSERT_TRUE(sap.Ok()) << sap.Error();
    sap.Plan("sapsrvkill kill=none");
    ASSERT_EQ(0, sap.StartInstance());
    g_CleanTimeout = 50;
    CTollanAttrib attrib;
    ASSERT_TRUE(IsOK(ParseFixture(attrib, sap, TOLLAN_EP_CLEAN, {{"SAPHost", ""}})));
    FaultHook faults(TestModule());
    faults.Fail("TerminateProcess", ERROR_ACCESS_DENIED, 0, PidOf(sap, L"msg_server.exe"));
    CTollan tollan;
    uint32_t failed = 7;
    EXPECT_TRUE(IsStatus(tollan.Clean(attrib, 0, &failed), QLIB_ERR_WIN32, ERROR_ACCESS_DENIED));
    EXPECT_EQ(1u, failed);
    EXPECT_EQ(5u, sap.SapLog().size());
    EXPECT_EQ("msg_server.exe", LiveImages(sap));
}

// A kill tool whose existence cannot be checked is not run: Clean says so and goes on without it.
TEST_F(InstanceTest, CleanGoesOnWithoutAKillToolItCannotCheck)
{
    SapFixture sap(SapInstanceType::Central, "XT5");
    ASSERT_TRUE(sap.Ok()) << sap.Error();
    ASSERT_TRUE(sap.StartService());
    ASSERT_EQ(0, sap.StartInstance());
    g_CleanTimeout = 90;
    CTollanAttrib attrib;
    ASSERT_TRUE(IsOK(ParseFixture(attrib, sap, TOLLAN_EP_CLEAN)));
    TarnAgHostLogClear();
    {
        LogonHook logon(TestModule(), Wide(sap.user), Wide(sap.domain), Wide(sap.password));
        FaultHook faults(TestModule());
        faults.Fail("GetFileInformationByHandle", ERROR_IO_DEVICE);
        CTollan tollan;
        uint32_t failed = 7;
        EXPECT_TRUE(IsOK(tollan.Clean(attrib, 0, &failed)));
        EXPECT_EQ(0u, failed);
    }
    EXPECT_EQ("10126 10134", MessageIdText());
    EXPECT_TRUE(sap.Runs("sapsrvkill").empty());
    EXPECT_EQ("", LiveImages(sap));
    EXPECT_EQ(5u, sap.SapLog().size());
}

} // namespace
