#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <string>

#include "ImportHook.h"
#include "OperationTesting.h"
#include "Tollan.h"
#include "TollanAgent.h"

namespace {

// The agent's clock for budget boundaries: the forward clock stands still (or, running, follows the real one)
// and moves on by what the agent sleeps for its re-checks, which return at once. Short sleeps (polls of a
// service or a process) stay real.
class TestClock {
public:
    TestClock(bool running)
        : m_Running(running), m_Base(RealTicks()),
          m_Time(TestModule(), "GetTickCount64", reinterpret_cast<const void*>(&Now)),
          m_Sleep(TestModule(), "Sleep", reinterpret_cast<const void*>(&Pause))
    {
        s_Clock = this;
    }
    ~TestClock() { s_Clock = nullptr; }

    std::vector<DWORD> sleeps; // the re-check sleeps

private:
    // The real calls, by address: this code's own imports are the ones replaced.
    template <typename Function>
    static Function Real(const char* name)
    {
        return reinterpret_cast<Function>(
            reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), name)));
    }
    static uint64_t RealTicks() { return Real<decltype(&GetTickCount64)>("GetTickCount64")(); }
    static ULONGLONG WINAPI Now() { return (s_Clock->m_Running ? RealTicks() : s_Clock->m_Base) + s_Clock->m_Advanced; }
    static void WINAPI Pause(DWORD ms)
    {
        if (ms < 1000)
            return Real<decltype(&Sleep)>("Sleep")(ms);
        s_Clock->sleeps.push_back(ms);
        s_Clock->m_Advanced += ms;
    }

    static TestClock* s_Clock;
    bool m_Running;
    uint64_t m_Base;
    std::atomic<uint64_t> m_Advanced{0};
    ImportHook m_Time;
    ImportHook m_Sleep;
};
TestClock* TestClock::s_Clock = nullptr;

struct Outcome {
    QLibStatus status;
    std::vector<uint32_t> messages;
};

// The tools that Online may leave running if it lost one.
const wchar_t* const Tools[] = {L"startsap.exe", L"sapinfo.exe", L"jcmon.exe", L"ensmon.exe"};

class TollanOnline : public OperationTest {
protected:
    // budget: seconds of the online budget (0: the fixture's).
    Outcome Online(int32_t budget = 0, const std::map<std::string, std::string>& changes = {})
    {
        std::map<std::string, std::string> values = changes;
        if (budget > 0)
            values["EPProgramTimeout"] = std::to_string(static_cast<int32_t>(g_OnlineTimeout) - budget);
        Outcome outcome;
        CTollanAttrib attrib;
        EXPECT_TRUE(IsOK(ParseFixture(attrib, *m_Sap, TOLLAN_EP_ONLINE, values)));
        Checked([&] {
            CTollan tollan;
            outcome.status = tollan.Online(attrib);
            outcome.messages = MessageIds();
        });
        for (const wchar_t* tool : Tools)
            EXPECT_FALSE(ToolRunning(*m_Sap, tool)) << tool;
        return outcome;
    }

    bool Has(const Outcome& outcome, uint32_t id)
    {
        return std::find(outcome.messages.begin(), outcome.messages.end(), id) != outcome.messages.end();
    }
};

// Each kind of instance is started and confirmed by its own tool, which answers at once.
TEST_F(TollanOnline, EachArchitectureStartsAndIsConfirmed)
{
    const struct {
        SapInstanceType type;
        const char* sid;
        std::vector<std::string> tools; // the checks run, in order
        uint32_t up;
    } rows[] = {
        {SapInstanceType::Central, "QO1", {"sapinfo"}, 10077},
        {SapInstanceType::CentralJava, "QO2", {"jcmon"}, 10082},
        {SapInstanceType::CentralAddIn, "QO3", {"sapinfo", "jcmon"}, 10093},
        {SapInstanceType::Enqueue, "QO4", {"ensmon"}, 10099},
        {SapInstanceType::EnqRep, "QO5", {"ensmon"}, 10099},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.sid);
        ASSERT_TRUE(Open(row.type, row.sid)) << m_Sap->Error();
        Outcome outcome = Online();
        EXPECT_TRUE(IsOK(outcome.status));
        EXPECT_TRUE(Has(outcome, 10067) && Has(outcome, 10072) && Has(outcome, row.up))
            << testing::PrintToString(outcome.messages);
        std::vector<SapRun> runs = m_Sap->Runs();
        std::vector<std::string> checks;
        for (const SapRun& run : runs)
            if (run.role == "sapinfo" || run.role == "jcmon" || run.role == "ensmon")
                checks.push_back(run.role);
        EXPECT_EQ(row.tools, checks) << testing::PrintToString(outcome.messages);
        ASSERT_EQ(1u, m_Sap->Runs("startsap").size());
        EXPECT_EQ(m_Sap->sapHome + "\\startsap.exe name=" + row.sid + " nr=00 sapdiahost=" + m_Sap->host,
                  m_Sap->Runs("startsap")[0].commandLine);
        EXPECT_FALSE(m_Sap->SapLog().empty());
        m_Sap.reset();
    }
}

// Time left when the check begins decides how often it runs; only a check that answered writes the record.
TEST_F(TollanOnline, PostStartCheckWithinItsBudget)
{
    const struct {
        const char* name;
        SapInstanceType type;
        const char* plan;
        int32_t budget; // seconds, on a clock that stands still but for the re-check sleeps
        const char* tool;
        size_t runs, sleeps;
        std::vector<uint32_t> tail; // the last messages
        bool record;
    } rows[] = {
        {"answers at once", SapInstanceType::Central, "sapinfo exit=0", 20, "sapinfo", 1, 0, {10077}, true},
        {"answers after retries", SapInstanceType::Central, "sapinfo exit=2,2,0", 60, "sapinfo", 3, 2, {10077}, true},
        {"never, 25 s", SapInstanceType::Central, "sapinfo exit=2", 25, "sapinfo", 2, 1, {10078, 10079}, false},
        // Exactly two runs' worth: one run, then too little for another; the instance never answered.
        {"never, 2R", SapInstanceType::Central, "sapinfo exit=2", 20, "sapinfo", 1, 0, {10078, 10079}, false},
        {"short at start", SapInstanceType::Central, "sapinfo exit=2", 9, "sapinfo", 0, 0, {10075}, false},
        {"java never",
         SapInstanceType::CentralJava,
         "jcmon exit=0 out=\"dispatcher Stopped\"",
         30,
         "jcmon",
         1,
         0,
         {10184, 10083, 10084},
         false},
        {"add-in, sapinfo never",
         SapInstanceType::CentralAddIn,
         "sapinfo exit=2",
         25,
         "sapinfo",
         2,
         1,
         {10089, 10090},
         false},
        {"add-in, jcmon short",
         SapInstanceType::CentralAddIn,
         "sapinfo exit=0",
         12,
         "jcmon",
         0,
         0,
         {10088, 10091},
         true},
        {"enqueue, exit 4 is up", SapInstanceType::AbapEnqueue, "ensmon exit=4", 20, "ensmon", 1, 0, {10100}, true},
        {"replication, exit 4 is not",
         SapInstanceType::AbapEnqRep,
         "ensmon exit=4",
         20,
         "ensmon",
         1,
         0,
         {10104, 10105},
         false},
        {"replication, exit 8 is up", SapInstanceType::JavaEnqRep, "ensmon exit=8", 20, "ensmon", 1, 0, {10102}, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_TRUE(Open(row.type, "QO6")) << m_Sap->Error();
        m_Sap->Plan(row.plan);
        std::vector<DWORD> sleeps;
        Outcome outcome;
        {
            TestClock clock(false);
            outcome = Online(row.budget);
            sleeps = clock.sleeps;
        }
        EXPECT_TRUE(IsOK(outcome.status));
        EXPECT_EQ(row.runs, m_Sap->Runs(row.tool).size());
        EXPECT_EQ(std::vector<DWORD>(row.sleeps, 5000), sleeps);
        ASSERT_GE(outcome.messages.size(), row.tail.size());
        EXPECT_EQ(row.tail, std::vector<uint32_t>(outcome.messages.end() - row.tail.size(), outcome.messages.end()));
        EXPECT_EQ(row.record, !m_Sap->SapLog().empty());
        m_Sap.reset();
    }
}

// The Add-In's jcmon stage gets no more than the call has left, even when sapinfo's stage counted more.
TEST_F(TollanOnline, AddInJcmonStageEndsWithTheCall)
{
    ASSERT_TRUE(Open(SapInstanceType::CentralAddIn, "QO7")) << m_Sap->Error();
    // sapinfo's stage starts with more than jcmon's limit and counts none of it, as it answered.
    m_Sap->Plan("sapinfo exit=0 delay=3000");
    Outcome outcome;
    {
        TestClock clock(true);
        outcome = Online(17);
    }
    EXPECT_TRUE(IsOK(outcome.status));
    EXPECT_TRUE(m_Sap->Runs("jcmon").empty());
    EXPECT_TRUE(Has(outcome, 10091)) << testing::PrintToString(outcome.messages);
    EXPECT_FALSE(m_Sap->SapLog().empty());
}

enum Fault { Plain, ServiceHangs, ServiceFails, NoStartsap, WrongPassword };

class TollanOnlineStart : public TollanOnline {
protected:
    bool Prepare(Fault fault)
    {
        switch (fault) {
        case ServiceHangs:
            return m_Sap->SetServiceOptions("--hang-start");
        case ServiceFails:
            return m_Sap->SetServiceOptions("--fail-start");
        case NoStartsap:
            return DeleteFileA((m_Sap->sapHome + "\\startsap.exe").c_str()) != FALSE;
        case WrongPassword:
            m_Logon.reset();
            m_Logon.reset(new LogonHook(TestModule(), Wide(m_Sap->user), Wide(m_Sap->domain), L"another"));
            return true;
        case Plain:
            break;
        }
        return true;
    }
};

// Starts that fail fail the call, with the message that says why, and write no record.
TEST_F(TollanOnlineStart, FailedStarts)
{
    const struct {
        const char* name;
        Fault fault;
        const char* plan;
        int32_t budget;
        uint32_t type, code, message;
    } rows[] = {
        {"service hangs", ServiceHangs, "", 3, 2, WAIT_TIMEOUT, 10065},
        {"service fails", ServiceFails, "", 0, 6, 1, 10066},
        {"startsap missing", NoStartsap, "", 0, 2, ERROR_FILE_NOT_FOUND, 10068},
        {"startsap hangs", Plain, "startsap delay=hang", 3, 7, WAIT_TIMEOUT, 10069},
        {"startsap exits 1", Plain, "startsap exit=1", 0, 2, 1, 10071},
        {"wrong password", WrongPassword, "", 0, 2, ERROR_LOGON_FAILURE, 10070},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_TRUE(Open(SapInstanceType::Central, "QO8")) << m_Sap->Error();
        m_Sap->Plan(row.plan);
        ASSERT_TRUE(Prepare(row.fault));
        Outcome outcome = Online(row.budget);
        EXPECT_TRUE(outcome.status.Is(row.type, row.code))
            << outcome.status.GetType() << "/" << outcome.status.GetCode();
        EXPECT_TRUE(Has(outcome, row.message)) << testing::PrintToString(outcome.messages);
        EXPECT_TRUE(m_Sap->Runs("sapinfo").empty());
        EXPECT_TRUE(m_Sap->SapLog().empty());
        m_Sap.reset();
    }
}

TEST_F(TollanOnline, RunningInstanceIsLeftAsItIs)
{
    ASSERT_TRUE(Open(SapInstanceType::Central, "QO9")) << m_Sap->Error();
    ASSERT_TRUE(m_Sap->StartService());
    ASSERT_EQ(0, m_Sap->StartInstance());
    Outcome outcome = Online();
    EXPECT_TRUE(IsOK(outcome.status));
    EXPECT_EQ(std::vector<uint32_t>{10064}, outcome.messages);
    EXPECT_EQ(1u, m_Sap->Runs("startsap").size());
    EXPECT_TRUE(m_Sap->SapLog().empty());
}

// A central instance whose ProcMon names no program SAP's tools could ask runs no command; the monitor decides.
TEST_F(TollanOnline, NoToolForTheInstanceRunsNoCommand)
{
    ASSERT_TRUE(Open(SapInstanceType::Central, "QOA")) << m_Sap->Error();
    Outcome outcome = Online(0, {{"ProcMon", "msg_server.exe"}});
    EXPECT_TRUE(IsOK(outcome.status));
    EXPECT_EQ(1u, m_Sap->Runs("startsap").size());
    for (const char* tool : {"sapinfo", "jcmon", "ensmon"})
        EXPECT_TRUE(m_Sap->Runs(tool).empty()) << tool;
    EXPECT_FALSE(m_Sap->SapLog().empty());
}

// With no time left, a service already where the operation wants it is no time-out: the step that needs the
// time reports that it had none.
TEST_F(TollanOnline, NoTimeLeftTimesOutOnlyTheStepThatNeedsTime)
{
    enum Operation { Online, Offline, Clean };
    const struct {
        const char* name;
        const char* sid;
        Operation operation;
        bool serviceRuns, started;
        uint32_t sent, notSent;
    } rows[] = {
        {"online, service running", "XT1", Online, true, false, 10069, 10065},
        {"online, service stopped", "XT2", Online, false, false, 10065, 10069},
        {"offline, processes behind a stopped service", "XT3", Offline, false, true, 10114, 10113},
        {"clean, service stopped", "XT4", Clean, false, true, 10134, 10133},
    };
    std::atomic<uint32_t>* timeouts[] = {&g_OnlineTimeout, &g_OfflineTimeout, &g_CleanTimeout};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_TRUE(Open(SapInstanceType::Central, row.sid)) << m_Sap->Error();
        if (row.serviceRuns) {
            ASSERT_TRUE(m_Sap->StartService());
        }
        if (row.started) {
            ASSERT_EQ(0, m_Sap->StartInstance());
        }
        uint32_t kinds[] = {TOLLAN_EP_ONLINE, TOLLAN_EP_OFFLINE, TOLLAN_EP_CLEAN};
        uint32_t timeout = timeouts[row.operation]->exchange(30);
        CTollanAttrib attrib;
        EXPECT_TRUE(IsOK(ParseFixture(attrib, *m_Sap, kinds[row.operation], {{"EPProgramTimeout", "45"}})));
        Outcome outcome;
        Checked([&] {
            CTollan tollan;
            uint32_t result = 0;
            outcome.status = row.operation == Online ? tollan.Online(attrib)
                : row.operation == Offline           ? tollan.Offline(attrib, &result)
                                                     : tollan.Clean(attrib, 0, &result);
            outcome.messages = MessageIds();
        });
        timeouts[row.operation]->store(timeout);
        EXPECT_TRUE(Has(outcome, row.sent)) << testing::PrintToString(outcome.messages);
        EXPECT_FALSE(Has(outcome, row.notSent)) << testing::PrintToString(outcome.messages);
        m_Sap.reset();
    }
}

} // namespace
