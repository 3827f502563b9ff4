// An administrator who sets the time of day back or forward, before or during an operation, changes the
// operation's length in no way: budgets are counted on the forward clock, while the SAP log record keeps the
// time of day.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <thread>

#include "ClockHook.h"
#include "InstanceTesting.h"
#include "TollanAgent.h"

namespace {

constexpr int64_t TenMinutes = 10 * 60000;
constexpr int64_t EPProgramTimeout = 10;

enum class Scenario { OnlineStart, MonitorRechecks, CleanWait };

// One operation that spends its budget in pauses when nobody touches the clock.
struct ScenarioSetup {
    SapInstanceType type;
    uint32_t kind;
    std::atomic<uint32_t>* timeout;
    const char* plan;
    bool running; // the service and the instance run before the call
    int64_t budget; // ms
    size_t pauses; // the re-check pauses the budget gives
    size_t movedAtPause; // during the operation the time of day moves as this pause is made (0: in startsap)
};

const ScenarioSetup& SetupOf(Scenario scenario)
{
    // Online: sapinfo never answers, and the start command takes 25 s of the forward clock, leaving two checks
    // and the pause between them. Monitor: a Java instance whose jlaunch never comes is re-checked every
    // 5 s while more than 20 s are left. Clean: the kill tool leaves the instance running, and the wait
    // counts 25 s per check and pause.
    static const ScenarioSetup setups[] = {
        {SapInstanceType::Central, TOLLAN_EP_ONLINE, &g_OnlineTimeout, "startsap delay=1000\nsapinfo exit=2", false,
         60000, 1, 0},
        {SapInstanceType::CentralJava, TOLLAN_EP_MONITOR, &g_MonitorTimeout, "jcontrol spawn-delay=600000", true, 60000,
         7, 2},
        {SapInstanceType::Central, TOLLAN_EP_CLEAN, &g_CleanTimeout, "sapsrvkill kill=none", true, 90000, 2, 1},
    };
    return setups[static_cast<int>(scenario)];
}

// While the start command runs: the forward clock moves 25 s on (a slow start), and the time of day by shift.
class SlowStart {
public:
    SlowStart(const SapFixture& sap, ClockHook& clock, int64_t shift)
        : m_Thread([&sap, &clock, shift] {
              for (int polls = 0; polls < 1500 && !ToolRunning(sap, L"startsap.exe"); ++polls)
                  Sleep(20);
              clock.Advance(25000);
              clock.ShiftWallClock(shift);
          })
    {
    }
    ~SlowStart() { m_Thread.join(); }

private:
    std::thread m_Thread;
};

uint64_t WallMs()
{
    return ClockHook::FileTime() / 10000;
}

// The date of the last record in the SAP log, as milliseconds of the file-time scale; 0 when none reads.
uint64_t LastRecordMs(const std::vector<std::string>& log)
{
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    for (auto line = log.rbegin(); line != log.rend(); ++line) {
        SYSTEMTIME time = {};
        char month[4] = {};
        if (std::sscanf(line->c_str(), "Date: %hu-%3s-%hu %hu:%hu:%hu", &time.wDay, month, &time.wYear, &time.wHour,
                        &time.wMinute, &time.wSecond)
            != 6)
            continue;
        for (WORD m = 0; m < 12; ++m)
            if (std::strcmp(months[m], month) == 0)
                time.wMonth = m + 1;
        FILETIME file;
        if (!SystemTimeToFileTime(&time, &file))
            return 0;
        return ((static_cast<uint64_t>(file.dwHighDateTime) << 32) | file.dwLowDateTime) / 10000;
    }
    return 0;
}

// What an operation did with its budget: its pauses, its length on the forward clock counted from the call's
// start, and how far the time of day at its end lies past the date of its SAP log record (-1: no record).
struct ClockOutcome {
    size_t pauses = 0;
    int64_t length = 0;
    int64_t recordAge = -1;
};

class TollanClock : public OperationTest {
protected:
    // The operation on the fixture instance, with the time of day moved before it or during it.
    ClockOutcome Run(Scenario scenario, bool before, int64_t shift)
    {
        const ScenarioSetup& setup = SetupOf(scenario);
        uint32_t timeout = setup.timeout->exchange(static_cast<uint32_t>(setup.budget / 1000 + EPProgramTimeout));
        ClockHook clock(TestModule());
        clock.SleepForRealUpTo(100); // the service's start and stop are polled in real time
        uint64_t begin = ClockHook::TickMs();
        CTollanAttrib attrib;
        EXPECT_TRUE(
            IsOK(ParseFixture(attrib, *m_Sap, setup.kind, {{"EPProgramTimeout", std::to_string(EPProgramTimeout)}})));
        if (before)
            clock.ShiftWallClock(shift);
        else if (setup.movedAtPause > 0)
            clock.ShiftWallClockAtSleep(setup.movedAtPause, shift);
        CTollan tollan;
        uint32_t out = 7;
        if (scenario == Scenario::OnlineStart) {
            SlowStart slow(*m_Sap, clock, before ? 0 : shift);
            EXPECT_TRUE(IsOK(tollan.Online(attrib)));
        } else if (scenario == Scenario::MonitorRechecks) {
            EXPECT_TRUE(IsOK(tollan.Monitor(attrib, &out)));
        } else {
            EXPECT_TRUE(IsOK(tollan.Clean(attrib, 0, &out)));
        }
        ClockOutcome outcome;
        outcome.length = static_cast<int64_t>(ClockHook::TickMs() - begin);
        for (const std::wstring& line : clock.Journal())
            outcome.pauses += line == L"Sleep 5000";
        uint64_t record = LastRecordMs(m_Sap->SapLog());
        if (record != 0)
            outcome.recordAge = static_cast<int64_t>(WallMs() - record);
        setup.timeout->store(timeout);
        return outcome;
    }
};

TEST_F(TollanClock, TimeOfDayMovedChangesNoOperationsLength)
{
    const struct {
        const char* name;
        Scenario scenario;
        const char* sid;
        bool before; // else during: in the start command, at the second re-check pause, at the wait's first pause
        int64_t shift;
    } rows[] = {
        {"online, set back during the start command", Scenario::OnlineStart, "ZT1", false, -TenMinutes},
        {"online, set forward during the start command", Scenario::OnlineStart, "ZT2", false, TenMinutes},
        {"online, set forward before", Scenario::OnlineStart, "ZT3", true, TenMinutes},
        {"monitor, set back during the re-checks", Scenario::MonitorRechecks, "ZT4", false, -TenMinutes},
        {"monitor, set forward during the re-checks", Scenario::MonitorRechecks, "ZT5", false, TenMinutes},
        {"monitor, set back before", Scenario::MonitorRechecks, "ZT6", true, -TenMinutes},
        {"clean, set back during the wait", Scenario::CleanWait, "ZT7", false, -TenMinutes},
        {"clean, set forward during the wait", Scenario::CleanWait, "ZT8", false, TenMinutes},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const ScenarioSetup& setup = SetupOf(row.scenario);
        ASSERT_TRUE(Open(setup.type, row.sid)) << m_Sap->Error();
        m_Sap->Plan(setup.plan);
        if (setup.running) {
            ASSERT_TRUE(m_Sap->StartService());
            ASSERT_EQ(0, m_Sap->StartInstance());
        }
        ClockOutcome outcome = Run(row.scenario, row.before, row.shift);
        EXPECT_EQ(setup.pauses, outcome.pauses);
        EXPECT_LE(outcome.length, setup.budget);
        // Only Clean writes its record here; it carries the time of day as moved, to the second.
        if (row.scenario == Scenario::CleanWait) {
            EXPECT_GE(outcome.recordAge, 0);
            EXPECT_LE(outcome.recordAge, outcome.length + 1000);
        }
        m_Sap.reset();
    }
}

} // namespace
