// Monitor through the framework host on running fixture instances: which levels run, and what each decides.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "AgentHostTesting.h"

namespace {

using Ids = std::vector<uint32_t>;

TEST(Monitor, SecondLevelRunsInTheCyclesTheCounterPicksAndLevelThreeInEvery)
{
    SKIP_OUTSIDE_TEST_BED();
    AgentOnInstance a(SapInstanceType::Central, "QM1", {{"SecondLevelMonitor", "3"}});
    ASSERT_TRUE(a.started) << a.sap.Error();
    ASSERT_TRUE(a.Run());
    // No cookie yet: the counter reads 1, then 3, 2, 1, 3, 2.
    const std::vector<size_t> sapinfoRuns = {1, 2, 2, 3, 4, 4};
    for (size_t cycle = 0; cycle < sapinfoRuns.size(); ++cycle) {
        EXPECT_EQ(1u, a.Call(TARNAG_OP_MONITOR)) << cycle;
        EXPECT_EQ(sapinfoRuns[cycle], a.Runs("sapinfo")) << cycle;
        EXPECT_EQ(cycle + 1, a.Runs("sapmonitor")) << cycle;
    }
}

// One monitor call: the attributes changed, the tools' plan, and what the call must give.
struct Row {
    std::map<std::string, std::string> changes;
    std::string plan;
    uint32_t state;
    Ids ids; // the framework's messages, in order
    size_t runs; // of the tool the test counts
    const wchar_t* text; // held by the first message, when given
};

// "{profile}" in a change: the instance's profile, copied into a folder whose name holds a blank.
void RunRows(AgentOnInstance& a, const char* counted, const std::vector<Row>& rows)
{
    std::string folder = a.sap.root + "\\prof dir";
    std::string spaced = folder + a.sap.profile.substr(a.sap.profile.find_last_of('\\'));
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr) && CopyFileA(a.sap.profile.c_str(), spaced.c_str(), FALSE));
    for (const Row& row : rows) {
        SCOPED_TRACE(row.plan);
        std::map<std::string, std::string> changes = row.changes;
        for (auto& [name, value] : changes)
            if (value == "{profile}")
                value = spaced;
        ASSERT_TRUE(a.Describe(changes));
        a.sap.Plan(row.plan);
        size_t before = a.Runs(counted);
        TarnAgHostLogClear();
        EXPECT_EQ(row.state, a.Call(TARNAG_OP_MONITOR));
        EXPECT_EQ(row.ids, MessageIds());
        EXPECT_EQ(row.runs, a.Runs(counted) - before);
        if (row.text != nullptr) {
            ASSERT_FALSE(row.ids.empty());
            EXPECT_NE(std::wstring::npos, MessageText(row.ids[0]).find(row.text)) << MessageText(row.ids[0]);
        }
    }
}

TEST(Monitor, ThirdLevelReadsTheProgramsExitCodeWithinTheTimeLeft)
{
    SKIP_OUTSIDE_TEST_BED();
    AgentOnInstance a(SapInstanceType::Central, "QM2");
    ASSERT_TRUE(a.started) << a.sap.Error();
    ASSERT_TRUE(a.Run());
    // A program in a folder with a blank, named by a quoted path.
    std::string spaced = a.sap.root + "\\mon tool";
    ASSERT_TRUE(CreateDirectoryA(spaced.c_str(), nullptr));
    ASSERT_TRUE(CopyFileA(a.sap.monitorProgram.c_str(), (spaced + "\\sapmonitor.exe").c_str(), FALSE));
    std::string missing = a.sap.root + "\\nothere\\chk%d.exe";
    const std::map<std::string, std::string> level3 = {{"SecondLevelMonitor", "0"}};
    auto with = [&](const char* name, const std::string& value) {
        std::map<std::string, std::string> changes = level3;
        changes[name] = value;
        return changes;
    };
    const Ids failed = {10118, 10006};
    RunRows(
        a, "sapmonitor",
        {
            {level3, "sapmonitor exit=0", 1, {}, 1, nullptr},
            {level3, "sapmonitor exit=110", 1, {}, 1, nullptr},
            {level3, "sapmonitor exit=1", 0, {10157, 10119}, 1, L"Offline(100)"},
            {level3, "sapmonitor exit=100", 0, {10157, 10119}, 1, nullptr},
            {level3, "sapmonitor exit=2", 2, {10158, 10119}, 1, L"exitcode [2]"},
            {with("EPProgramTimeout", "58"), "sapmonitor exit=0 delay=hang", 2, {10156, 10118, 10006}, 1, L"timed out"},
            // No time left: the first step that needs time, the account check, times out; nothing is started.
            {with("EPProgramTimeout", "60"), "sapmonitor exit=0 delay=0", 2, {10040, 10012, 10005}, 0, nullptr},
            {with("MonitorProgram", " \t "), "sapmonitor exit=0", 1, {}, 0, nullptr},
            {with("MonitorProgram", "\"" + spaced + "\\sapmonitor.exe\" -v"), "sapmonitor exit=0", 1, {}, 1, nullptr},
            {with("MonitorProgram", missing + " -v"),
             "sapmonitor exit=0",
             2,
             {10155, 10118, 10006},
             0,
             L"\\nothere\\chk%d.exe] does NOT exist."},
        });
    std::vector<SapRun> runs = a.sap.Runs("sapmonitor");
    ASSERT_FALSE(runs.empty());
    EXPECT_NE(std::string::npos, runs.back().commandLine.find("mon tool\\sapmonitor.exe\" -v"));
}

TEST(Monitor, SecondLevelJudgesEachArchitectureByItsTools)
{
    SKIP_OUTSIDE_TEST_BED();
    const std::map<std::string, std::string> every = {{"SecondLevelMonitor", "1"}};
    const char* jcmonStopped = "jcmon exit=0 out=\"0 dispatcher Stopped\\n1 server0 Stopped\\n\"";
    const struct {
        SapInstanceType type;
        const char* sid;
        const char* counted;
        std::vector<Row> rows;
    } instances[] = {
        {SapInstanceType::Central,
         "QA1",
         "sapinfo",
         {
             {every, "sapinfo exit=0", 1, {}, 1, nullptr},
             {every, "sapinfo exit=2", 0, {10159}, 1, L"exitcode [2]"},
             {every, "sapinfo exit=3", 2, {10160}, 1, nullptr},
             {every, "sapinfo exit=5", 2, {10161}, 1, L"invalid exitcode [5]"},
             {every, "sapinfo exit=-1", 2, {10161}, 1, nullptr},
             {{{"SecondLevelMonitor", "1"}, {"EPProgramTimeout", "58"}},
              "sapinfo exit=0 delay=hang",
              2,
              {10144, 10117},
              1,
              L"timed out"},
         }},
        {SapInstanceType::Enqueue,
         "QA2",
         "ensmon",
         {
             {every, "ensmon exit=0 delay=0", 1, {}, 1, nullptr},
             {every, "ensmon exit=4", 1, {10162}, 1, L"no repl. server"},
             {every, "ensmon exit=8", 0, {10164}, 1, nullptr},
             {every, "ensmon exit=12", 0, {10164}, 1, nullptr},
             {every, "ensmon exit=3", 2, {10165}, 1, nullptr},
             // The profile's path, with its blank, reaches ensmon as one argument.
             {{{"SecondLevelMonitor", "1"}, {"InstProfile", "{profile}"}}, "ensmon exit=live", 1, {}, 1, nullptr},
         }},
        {SapInstanceType::EnqRep,
         "QA3",
         "ensmon",
         {
             {every, "ensmon exit=0", 1, {}, 1, nullptr},
             {every, "ensmon exit=8", 2, {10166}, 1, L"failing over"},
             {every, "ensmon exit=12", 2, {10167}, 1, nullptr},
         }},
        {SapInstanceType::CentralJava,
         "QA4",
         "jcmon",
         {
             {every, "jcmon exit=live", 1, {}, 1, nullptr},
             {every, jcmonStopped, 0, {10184}, 1, nullptr},
         }},
        {SapInstanceType::CentralAddIn,
         "QA5",
         "jcmon",
         {
             {every, "sapinfo exit=0\njcmon exit=live out=", 1, {}, 1, nullptr},
             {every, "sapinfo exit=2", 0, {10159}, 0, nullptr},
             {every, std::string("sapinfo exit=0\n") + jcmonStopped, 2, {10184}, 1, nullptr},
             {every, std::string("sapinfo exit=3\n") + jcmonStopped, 0, {10160, 10184}, 1, nullptr},
         }},
    };
    for (const auto& instance : instances) {
        SCOPED_TRACE(instance.sid);
        AgentOnInstance a(instance.type, instance.sid, every);
        ASSERT_TRUE(a.started) << a.sap.Error();
        ASSERT_TRUE(a.Run());
        RunRows(a, instance.counted, instance.rows);
    }
}

} // namespace
