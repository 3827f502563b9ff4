#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "FaultHook.h"
#include "OperationTesting.h"
#include "Tollan.h"

namespace {

const uint32_t Untouched = 77;

struct Outcome {
    QLibStatus status;
    uint32_t state = Untouched;
    std::vector<uint32_t> messages;
};

class TollanJcmon : public OperationTest {
protected:
    Outcome Check(const std::map<std::string, std::string>& changes = {}, int64_t limit = 15000)
    {
        Outcome outcome;
        CTollanAttrib attrib;
        EXPECT_TRUE(IsOK(ParseFixture(attrib, *m_Sap, TOLLAN_EP_MONITOR, changes)));
        Checked([&] {
            outcome.status = CTollan::_RunJcmonMonitorCheck(attrib, &outcome.state, limit);
            outcome.messages = MessageIds();
        });
        EXPECT_FALSE(ToolRunning(*m_Sap, L"jcmon.exe"));
        return outcome;
    }

    std::string Folder(const std::string& name)
    {
        std::string folder = m_Sap->root + "\\" + name;
        CreateDirectoryA(folder.c_str(), nullptr);
        return folder;
    }
};

TEST_F(TollanJcmon, OutputJudgedLineByLine)
{
    ASSERT_TRUE(Open(SapInstanceType::CentralJava, "QJ1")) << m_Sap->Error();
    const struct {
        const char* plan;
        uint32_t state;
        std::vector<uint32_t> messages;
    } rows[] = {
        {"out=\"0 dispatcher Running\\n1 server0 Running\\n2 dispatcher Stopped\\n\"", 1, {}},
        {"out=\"1 server0 Running\\n0 dispatcher Running\\n\"", 1, {}},
        {"out=\"0 dispatcher Stopped\\n1 server0 Running\\n\"", 0, {10184}},
        {"out=\"1 server0 Stopped\\n2 server1 Stopped\\n\"", 0, {10185}},
        {"out=\"1 server0 Stopped\\n2 server1 Starting\\n\"", 2, {10186}},
        {"out=\"0 dispatcher Running\\n\"", 2, {10186}},
        {"out=\"0 DISPATCHER Running\\n1 SERVER0 Running\\n\"", 2, {10186}},
        {"out=\"\"", 2, {10186}},
        // More than any pipe holds before the lines: read while jcmon writes, not a time-out.
        {"pad=1000000 out=\"\\n0 dispatcher Running\\n1 server0 Running\\n\"", 1, {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.plan);
        m_Sap->Plan(std::string("jcmon exit=0 pad=0 ") + row.plan);
        Outcome outcome = Check();
        EXPECT_TRUE(IsOK(outcome.status));
        EXPECT_EQ(row.state, outcome.state);
        EXPECT_EQ(row.messages, outcome.messages);
    }
    std::vector<SapRun> runs = m_Sap->Runs("jcmon");
    ASSERT_EQ(std::size(rows), runs.size());
    EXPECT_EQ(m_Sap->sapHome + "\\jcmon.exe pf=" + m_Sap->profile, runs[0].commandLine);
    EXPECT_EQ("20\n0\n0", runs[0].stdinBytes);
}

TEST_F(TollanJcmon, FoundInEachPlaceInTurn)
{
    ASSERT_TRUE(Open(SapInstanceType::CentralJava, "QJ2")) << m_Sap->Error();
    m_Sap->Plan("jcmon exit=0 out=\"0 dispatcher Running\\n1 server0 Running\\n\"");
    std::string monHome = Folder("monitoring");
    std::string osLibs = m_Sap->instanceDir + "\\j2ee\\os_libs";
    std::string noSid = Folder("tools");
    const struct {
        const char* name;
        std::string home, moveTo; // SAPHome and where jcmon.exe is before the call ("": nowhere)
        std::string ran; // the folder it ran from; "" when not found
        size_t alternatives; // "Checking in alternative path" lines
    } rows[] = {
        {"SAPMonHome", m_Sap->sapHome, monHome, monHome, 0},
        {"SAPHome", m_Sap->sapHome, m_Sap->sapHome, m_Sap->sapHome, 1},
        {"os_libs", m_Sap->sapHome, osLibs, osLibs, 2},
        {"nowhere", m_Sap->sapHome, "", "", 2},
        // SAPHome without the SID has no root for the third place, which is then not looked at.
        {"no SID in SAPHome", noSid, osLibs, "", 1},
    };
    std::string at = m_Sap->sapHome;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        std::string to = row.moveTo.empty() ? Folder("away") : row.moveTo;
        if (to != at) {
            ASSERT_TRUE(MoveFileA((at + "\\jcmon.exe").c_str(), (to + "\\jcmon.exe").c_str()));
        }
        at = to;
        size_t before = m_Sap->Runs("jcmon").size();
        Outcome outcome = Check({{"SAPHome", row.home}, {"SAPMonHome", monHome}});
        EXPECT_EQ(row.alternatives, TraceLines(L"Checking in alternative path"));
        std::vector<SapRun> runs = m_Sap->Runs("jcmon");
        if (row.ran.empty()) {
            EXPECT_TRUE(outcome.status.Is(2, ERROR_FILE_NOT_FOUND));
            EXPECT_EQ(Untouched, outcome.state);
            EXPECT_EQ(std::vector<uint32_t>{10173}, outcome.messages);
            EXPECT_EQ(before, runs.size());
            continue;
        }
        EXPECT_TRUE(IsOK(outcome.status));
        EXPECT_EQ(1u, outcome.state);
        ASSERT_EQ(before + 1, runs.size());
        EXPECT_EQ(row.ran + "\\jcmon.exe pf=" + m_Sap->profile, runs.back().commandLine);
    }
}

// jcmon that does not answer is ended and writes no state, whether its time ran out or the wait failed;
// a run that cannot start names the step in its message.
TEST_F(TollanJcmon, RunsThatGiveNoAnswer)
{
    ASSERT_TRUE(Open(SapInstanceType::CentralJava, "QJ3")) << m_Sap->Error();
    m_Sap->Plan("jcmon exit=0 delay=hang out=\"0 dispatcher Running\\n1 server0 Running\\n\"");
    enum Fault { None, Wait, Fails };
    const struct {
        const char* name;
        Fault fault;
        const char* call;
        unsigned nth; // the output pipe is made first, the input pipe second
        int64_t limit;
        uint32_t type, code;
        std::vector<uint32_t> messages;
    } rows[] = {
        {"hangs", None, "", 0, 1000, 7, 258, {}},
        {"no time left", None, "", 0, 0, 7, 258, {}},
        {"wait fails", Wait, "", 0, 1000, 2, ERROR_INVALID_HANDLE, {}},
        {"output pipe", Fails, "CreatePipe", 1, 1000, 2, ERROR_NO_SYSTEM_RESOURCES, {10176}},
        {"output pipe's read end", Fails, "SetHandleInformation", 1, 1000, 2, ERROR_NO_SYSTEM_RESOURCES, {10177}},
        {"input pipe", Fails, "CreatePipe", 2, 1000, 2, ERROR_NO_SYSTEM_RESOURCES, {10174}},
        {"input pipe's write end", Fails, "SetHandleInformation", 2, 1000, 2, ERROR_NO_SYSTEM_RESOURCES, {10175}},
        {"input", Fails, "WriteFile", 1, 1000, 2, ERROR_NO_SYSTEM_RESOURCES, {10178}},
        {"process", Fails, "CreateProcessAsUserW", 1, 1000, 2, ERROR_NO_SYSTEM_RESOURCES, {10179}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        std::unique_ptr<ShortWaitFault> wait;
        std::unique_ptr<FaultHook> faults;
        if (row.fault == Wait)
            wait.reset(new ShortWaitFault(TestModule()));
        if (row.fault == Fails) {
            faults.reset(new FaultHook(TestModule()));
            faults->Fail(row.call, ERROR_NO_SYSTEM_RESOURCES, row.nth);
        }
        Outcome outcome = Check({}, row.limit);
        EXPECT_TRUE(outcome.status.Is(row.type, row.code))
            << outcome.status.GetType() << "/" << outcome.status.GetCode();
        EXPECT_EQ(Untouched, outcome.state);
        EXPECT_EQ(row.messages, outcome.messages);
    }
}

TEST_F(TollanJcmon, WrongPasswordRunsNothing)
{
    ASSERT_TRUE(Open(SapInstanceType::CentralJava, "QJ4")) << m_Sap->Error();
    m_Logon.reset();
    m_Logon.reset(new LogonHook(TestModule(), Wide(m_Sap->user), Wide(m_Sap->domain), L"another"));
    Outcome outcome = Check();
    EXPECT_TRUE(outcome.status.Is(2, ERROR_LOGON_FAILURE));
    EXPECT_EQ(Untouched, outcome.state);
    EXPECT_TRUE(m_Sap->Runs("jcmon").empty());
}

} // namespace
