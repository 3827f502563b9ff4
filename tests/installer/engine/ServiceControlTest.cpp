#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "ImportRedirect.h"
#include "InstallerTestSupport.h"
#include "ServiceTestSupport.h"
#include "logger.h"
#include "servicemanager.h"

namespace {

const DWORD Running = SERVICE_RUNNING - 1;
const DWORD Stopped = SERVICE_STOPPED - 1;

// Each test works on a service of its own in Wine's real service manager and deletes it afterwards.
class ServiceControlTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(0u, g_logger.init(L"servicecontrol.log", 13, scratch.path().c_str(), 5));
        ASSERT_EQ(0u, control.ConnectToSCM(nullptr, nullptr));
    }
    void TearDown() override
    {
        control.DisconnectFromSCM();
        servicetest::cleanUp(name);
        // Closes the log, so that its folder goes too.
        g_logger.init(L"", 13, L"", 5);
    }

    DWORD install(const std::wstring& options, DWORD startKind = SERVICE_DEMAND_START)
    {
        return control.InstallService(name.c_str(), servicetest::testServiceCommand(options).c_str(), nullptr, nullptr,
                                      nullptr, startKind, nullptr, SERVICE_ERROR_NORMAL);
    }
    DWORD startKind()
    {
        DWORD kind = 99;
        EXPECT_EQ(0u, control.GetServiceConfig(nullptr, nullptr, nullptr, nullptr, &kind));
        return kind;
    }
    DWORD state()
    {
        DWORD current = 99;
        EXPECT_EQ(0u, control.GetServiceStatus(&current, nullptr, nullptr));
        return current;
    }
    bool logged(const std::wstring& text) const
    {
        return installertest::readUtf16(scratch.file(L"servicecontrol.log")).find(text) != std::wstring::npos;
    }

    installertest::ScratchDir scratch;
    std::wstring name = servicetest::uniqueName("KitoSvc");
    ServiceControl control;
};

BOOL WINAPI failingQuery(SC_HANDLE, SERVICE_STATUS*)
{
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
}

// Milliseconds that an operation took.
template <class Operation>
DWORD timed(Operation operation, DWORD& result)
{
    DWORD begin = GetTickCount();
    result = operation();
    return GetTickCount() - begin;
}

TEST(ServiceControl, EveryOperationNeedsConnectionAndService)
{
    ServiceControl control;
    bool installed = true;
    DWORD value = 0;
    EXPECT_FALSE(control.IsConnected());
    EXPECT_EQ(2250u, control.IsServiceInstalled(L"x", installed));
    EXPECT_TRUE(installed);
    EXPECT_EQ(2250u, control.OpenServiceHandle(L"x"));
    EXPECT_EQ(2250u, control.CloseService());
    EXPECT_EQ(2250u, control.InstallService(L"x", L"x.exe", nullptr, nullptr, nullptr, 3, nullptr, 1));
    ASSERT_EQ(0u, control.ConnectToSCM(nullptr, nullptr));
    EXPECT_TRUE(control.IsConnected());
    EXPECT_FALSE(control.IsOpen());
    EXPECT_EQ(0u, control.CloseService());
    EXPECT_EQ(2250u, control.GetServiceConfig(nullptr, nullptr, nullptr, nullptr, &value));
    EXPECT_EQ(2250u, control.SetServiceConfig(nullptr, nullptr, 3, nullptr, nullptr, 1));
    EXPECT_EQ(2250u, control.GetServiceStatus(&value, nullptr, nullptr));
    EXPECT_EQ(2250u, control.DeleteService());
    EXPECT_EQ(2250u, control.StartService());
    EXPECT_EQ(2250u, control.StopService());
    EXPECT_EQ(2250u, control.MonitorServiceState(SERVICE_STOPPED));
    EXPECT_EQ(0u, control.DisconnectFromSCM());
    EXPECT_FALSE(control.IsConnected());
}

TEST_F(ServiceControlTest, InstallReadsBackAndReconfigures)
{
    ASSERT_EQ(0u,
              control.InstallService(name.c_str(), L"C:\\kito\\first.exe", nullptr, nullptr, L"Kito test",
                                     SERVICE_DEMAND_START, nullptr, SERVICE_ERROR_NORMAL));
    EXPECT_TRUE(control.IsOpen());
    wchar_t path[64], account[64];
    DWORD pathSize = 64, accountSize = 64, kind = 99;
    ASSERT_EQ(0u, control.GetServiceConfig(path, &pathSize, account, &accountSize, &kind));
    EXPECT_STREQ(L"C:\\kito\\first.exe", path);
    EXPECT_STREQ(L"LocalSystem", account);
    EXPECT_EQ(3u, kind);

    EXPECT_EQ(0u,
              control.SetServiceConfig(nullptr, nullptr, SERVICE_DISABLED, nullptr, nullptr,
                                       ServiceControl::ErrorControlUnchanged));
    EXPECT_EQ(4u, startKind());
    EXPECT_EQ(0u,
              control.SetServiceConfig(nullptr, nullptr, ServiceControl::StartKindUnchanged, nullptr,
                                       L"C:\\kito\\second.exe", SERVICE_ERROR_IGNORE));
    EXPECT_EQ(4u, startKind()) << "the unchanged kind leaves the start kind alone";
    ASSERT_EQ(0u, control.GetServiceConfig(path, &pathSize, nullptr, nullptr, nullptr));
    EXPECT_STREQ(L"C:\\kito\\second.exe", path);

    // A second connection sees the same service; reconnecting closes the open one.
    ASSERT_EQ(0u, control.ConnectToSCM(nullptr, nullptr));
    EXPECT_FALSE(control.IsOpen());
    ASSERT_EQ(0u, control.OpenServiceHandle(name.c_str()));
    EXPECT_EQ(4u, startKind());
    EXPECT_TRUE(logged(L"ServiceControl::OpenServiceHandle: opened '" + name + L"' on ''"));
}

TEST_F(ServiceControlTest, BadKindsChangeNothing)
{
    EXPECT_EQ(87u, install(L"", 1));
    EXPECT_EQ(87u, control.InstallService(name.c_str(), L"x.exe", nullptr, nullptr, nullptr, 3, nullptr, 2));
    bool installed = true;
    EXPECT_EQ(0u, control.IsServiceInstalled(name.c_str(), installed));
    EXPECT_FALSE(installed);
    EXPECT_TRUE(logged(L"ServiceControl::InstallService: bad StartType parameter 1; cannot install '" + name + L"'"));

    ASSERT_EQ(0u, install(L""));
    EXPECT_EQ(87u, control.SetServiceConfig(nullptr, nullptr, 6, nullptr, nullptr, 1));
    EXPECT_EQ(87u, control.SetServiceConfig(nullptr, nullptr, SERVICE_DISABLED, nullptr, nullptr, 3));
    EXPECT_EQ(3u, startKind());
    EXPECT_TRUE(logged(L"bad ErrorControl parameter 3; cannot change config of '" + name + L"'"));
}

TEST_F(ServiceControlTest, ConfigTextsAreHandedBackOnlyWhenTheyFit)
{
    const std::wstring path = L"C:\\kito\\0123456789012345678901234567.exe";
    ASSERT_EQ(40u, path.size());
    ASSERT_EQ(0u, control.InstallService(name.c_str(), path.c_str(), nullptr, nullptr, nullptr, 3, nullptr, 1));

    wchar_t small[10];
    wmemset(small, L'#', 10);
    DWORD size = 10;
    EXPECT_EQ(8u, control.GetServiceConfig(small, &size, nullptr, nullptr, nullptr));
    EXPECT_EQ(41u, size);
    EXPECT_EQ(L'#', small[0]) << "nothing is copied into a buffer that is too small";

    size = 0;
    EXPECT_EQ(8u, control.GetServiceConfig(nullptr, &size, nullptr, nullptr, nullptr));
    EXPECT_EQ(41u, size) << "a size pointer alone asks for the size";
    EXPECT_EQ(87u, control.GetServiceConfig(small, nullptr, nullptr, nullptr, nullptr));
    EXPECT_TRUE(logged(L"ServiceControl::GetServiceConfig: buffer size ptr NULL but buffer not"));

    wchar_t exact[41];
    DWORD exactSize = 41, accountSize = 1;
    EXPECT_EQ(8u, control.GetServiceConfig(exact, &exactSize, small, &accountSize, nullptr));
    EXPECT_EQ(path, exact) << "the path fits with its terminator even when the account does not";
    EXPECT_EQ(12u, accountSize);
}

TEST_F(ServiceControlTest, ConfigLargerThanTheFirstBufferIsRead)
{
    const std::wstring path = L"C:\\kito\\" + std::wstring(700, L'p') + L".exe";
    ASSERT_EQ(0u, control.InstallService(name.c_str(), path.c_str(), nullptr, nullptr, nullptr, 2, nullptr, 1));
    std::wstring buffer(800, L'\0');
    DWORD size = 800, kind = 99;
    ASSERT_EQ(0u, control.GetServiceConfig(&buffer[0], &size, nullptr, nullptr, &kind));
    EXPECT_EQ(path, buffer.c_str());
    EXPECT_EQ(2u, kind);
}

TEST_F(ServiceControlTest, StartAndStopFollowTheServiceState)
{
    // The service reports its stop a moment after the control, as one that reports from its main thread does.
    ASSERT_EQ(0u, install(L"--start-delay=600 --stop-report-delay=300 --stop-delay=600 --specific-exit=42"));
    DWORD result = 99;
    EXPECT_LE(500u, timed([&] { return control.StartService(); }, result));
    EXPECT_EQ(0u, result);
    EXPECT_EQ(Running, state());
    EXPECT_TRUE(logged(L"ServiceControl::StartService: started '" + name + L"' on ''"));

    bool installed = false, enabled = false, running = false;
    EXPECT_EQ(0u, FGetServiceInformation(nullptr, name.c_str(), installed, &enabled, &running));
    EXPECT_TRUE(installed && enabled && running);

    EXPECT_LE(500u, timed([&] { return control.StopService(); }, result));
    EXPECT_EQ(0u, result);
    DWORD current = 99, win32Exit = 0, specificExit = 0;
    EXPECT_EQ(0u, control.GetServiceStatus(&current, &win32Exit, &specificExit));
    EXPECT_EQ(Stopped, current);
    EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_SPECIFIC_ERROR), win32Exit);
    EXPECT_EQ(42u, specificExit);
    EXPECT_TRUE(logged(L"ServiceControl::MonitorServiceState: service '" + name + L"' entered into running state"));
}

TEST_F(ServiceControlTest, StoppingAStoppedServiceFailsWithoutPolling)
{
    ASSERT_EQ(0u, install(L""));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_NOT_ACTIVE), control.StopService());
    EXPECT_FALSE(logged(L"Oldcheckpoint"));
}

TEST_F(ServiceControlTest, StartThatEndsStoppedIsAFailure)
{
    ASSERT_EQ(0u, install(L"--start-delay=200 --fail-start"));
    EXPECT_EQ(static_cast<DWORD>(E_FAIL), control.StartService());
    EXPECT_TRUE(logged(L"Service is not starting. 1"));
    ASSERT_EQ(0u, control.SetServiceConfig(nullptr, nullptr, SERVICE_DISABLED, nullptr, nullptr, 1));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_DISABLED), control.StartService());
}

// The wait loops on a scripted manager: each status query answers the next status of the script (the last one for
// ever), and each sleep is recorded and moves on a clock that otherwise moves 1 ms a reading. What ends a wait, and
// the sleeps it made, are then the same however slow or busy the machine is.
struct ScriptedManager {
    static inline std::vector<SERVICE_STATUS> script;
    static inline size_t queries = 0;
    static inline std::vector<DWORD> sleeps;
    static inline DWORD clock = 0;

    static BOOL WINAPI QueryServiceStatus(SC_HANDLE, SERVICE_STATUS* status)
    {
        *status = script[std::min(queries++, script.size() - 1)];
        return TRUE;
    }
    static VOID WINAPI Sleep(DWORD milliseconds)
    {
        sleeps.push_back(milliseconds);
        clock += milliseconds;
    }
    static DWORD WINAPI GetTickCount() { return ++clock; }

    // The service reports `polls` times that it is pending (starting, else stopping), with the wait hint and its
    // checkpoint moving on or frozen, then that it is there.
    static void Play(bool start, DWORD polls, DWORD waitHint, bool moving)
    {
        const DWORD pending = start ? SERVICE_START_PENDING : SERVICE_STOP_PENDING;
        const DWORD there = start ? SERVICE_RUNNING : SERVICE_STOPPED;
        script.clear();
        for (DWORD poll = 1; poll <= polls; ++poll)
            script.push_back({SERVICE_WIN32_OWN_PROCESS, pending, 0, 0, 0, moving ? poll : 1, waitHint});
        script.push_back({SERVICE_WIN32_OWN_PROCESS, there, 0, 0, 0, 0, 0});
        queries = 0;
        sleeps.clear();
    }
};

// The start's wait polls every 400 ms until the poll limit; the stop's sleeps the wait hint, in slices of at most
// 2000 ms, until the limit or until a frozen checkpoint outlived its wait hint. A service that would get there
// after the limit ends the wait at the limit all the same.
TEST_F(ServiceControlTest, WaitsEndAtThePollLimitOrWhenTheServiceStopsProgressing)
{
    const DWORD TimedOut = ERROR_SERVICE_REQUEST_TIMEOUT, NoLimit = ServiceControl::DefaultPollLimitMs;
    struct Row {
        const char* what;
        bool start;
        DWORD polls, waitHint;
        bool moving;
        DWORD pollLimit, result;
        std::vector<DWORD> sleeps;
    };
    const Row rows[] = {
        {"start done before the limit", true, 3, 0, true, 1500, 0, {400, 400, 400}},
        {"start done after the limit", true, 6, 0, true, 1500, TimedOut, {400, 400, 400, 400}},
        {"stop progressing past the limit", false, 9, 1000, true, 2500, TimedOut, {1000, 1000, 1000}},
        {"frozen stop past its wait hint", false, 9, 1000, false, NoLimit, TimedOut, {1000}},
        {"frozen stop without a wait hint", false, 9, 0, false, NoLimit, TimedOut, {0}},
        {"frozen stop within a long wait hint", false, 4, 30000, false, NoLimit, 0, {2000, 2000, 2000, 2000}},
    };
    ASSERT_EQ(0u, install(L""));
    HMODULE self = GetModuleHandleW(nullptr);
    for (const Row& row : rows) {
        ScriptedManager::Play(row.start, row.polls, row.waitHint, row.moving);
        control.SetPollLimit(row.pollLimit);
        ImportRedirect query(self, "QueryServiceStatus", reinterpret_cast<void*>(ScriptedManager::QueryServiceStatus));
        ImportRedirect sleep(self, "Sleep", reinterpret_cast<void*>(ScriptedManager::Sleep));
        ImportRedirect clock(self, "GetTickCount", reinterpret_cast<void*>(ScriptedManager::GetTickCount));
        ASSERT_TRUE(query.active() && sleep.active() && clock.active());
        DWORD result = row.start ? control.IsServiceStarted() : control.MonitorServiceState(SERVICE_STOPPED);
        EXPECT_EQ(row.result, result) << row.what;
        EXPECT_EQ(row.sleeps, ScriptedManager::sleeps) << row.what;
    }
}

TEST_F(ServiceControlTest, DeletingARunningServiceKeepsTheConnection)
{
    ASSERT_EQ(0u, install(L""));
    ASSERT_EQ(0u, control.StartService());
    EXPECT_EQ(0u, control.DeleteService());
    EXPECT_TRUE(control.IsConnected());
    EXPECT_FALSE(control.IsOpen());
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), servicetest::currentState(name)) << "deletion waits for the stop";
    servicetest::cleanUp(name);
    bool installed = true;
    EXPECT_EQ(0u, control.IsServiceInstalled(name.c_str(), installed));
    EXPECT_FALSE(installed);
}

TEST_F(ServiceControlTest, InstalledCheckLeavesTheFlagOnOtherFailures)
{
    for (bool before : {true, false}) {
        bool installed = before;
        EXPECT_EQ(0u, control.IsServiceInstalled(L"bad\\name", installed));
        EXPECT_EQ(before, installed);
    }
    EXPECT_TRUE(logged(L"ServiceControl::IsServiceInstalled: error 123 opening service 'bad\\name'"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST), control.OpenServiceHandle(name.c_str()));
    bool installed = true;
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_NAME),
              FGetServiceInformation(nullptr, L"bad\\name", installed, nullptr, nullptr))
        << "a service that could not be looked at is never reported absent";
    EXPECT_FALSE(installed);
}

TEST_F(ServiceControlTest, ServiceInformationOfAbsentDisabledAndUnreadableServices)
{
    bool installed = true, enabled = true, running = true;
    EXPECT_EQ(0u, FGetServiceInformation(nullptr, name.c_str(), installed, &enabled, &running));
    EXPECT_FALSE(installed || enabled || running);

    ASSERT_EQ(0u, install(L"", SERVICE_DISABLED));
    EXPECT_EQ(0u, FGetServiceInformation(L"", name.c_str(), installed, &enabled, &running));
    EXPECT_TRUE(installed);
    EXPECT_FALSE(enabled || running);
    EXPECT_EQ(0u, FGetServiceInformation(nullptr, name.c_str(), installed, nullptr, nullptr));

    // A status that cannot be read is reported as the failure, never as "stopped".
    ImportRedirect redirect(GetModuleHandleW(nullptr), "QueryServiceStatus", reinterpret_cast<void*>(failingQuery));
    ASSERT_TRUE(redirect.active());
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE),
              FGetServiceInformation(nullptr, name.c_str(), installed, &enabled, &running));
    EXPECT_TRUE(logged(L"FGetServiceInformation: error getting status info for service '" + name + L"' on ''"));
}

TEST_F(ServiceControlTest, ConnectionFailureIsReportedAndLeavesNoConnection)
{
    ImportRedirect redirect(GetModuleHandleW(nullptr), "OpenSCManagerW",
                            reinterpret_cast<void*>(servicetest::unreachableManager));
    ASSERT_TRUE(redirect.active());
    EXPECT_EQ(static_cast<DWORD>(RPC_S_SERVER_UNAVAILABLE), control.ConnectToSCM(L"\\\\elsewhere", nullptr));
    EXPECT_FALSE(control.IsConnected());
    EXPECT_TRUE(logged(L"ServiceControl::ConnectToSCM: error 1722 connecting to SCM on '\\\\elsewhere'"));
    bool installed = true;
    EXPECT_EQ(static_cast<DWORD>(RPC_S_SERVER_UNAVAILABLE),
              FGetServiceInformation(L"elsewhere", name.c_str(), installed, nullptr, nullptr));
    EXPECT_FALSE(installed);
    EXPECT_TRUE(logged(L"FGetServiceInformation: unable to connect to SCM on 'elsewhere'"));
}

} // namespace
