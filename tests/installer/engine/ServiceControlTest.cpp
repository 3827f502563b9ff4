#include <gtest/gtest.h>

#include <string>

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
    DWORD timedFrozenStop(DWORD waitHint, DWORD stopDelay, DWORD& result);
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

TEST_F(ServiceControlTest, StartThatNeverCompletesEndsAtThePollLimit)
{
    ASSERT_EQ(0u, install(L"--start-delay=3000"));
    control.SetPollLimit(1500);
    DWORD result = 0;
    DWORD took = timed([&] { return control.StartService(); }, result);
    EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_REQUEST_TIMEOUT), result);
    EXPECT_LE(1400u, took);
    EXPECT_GT(4000u, took);
    EXPECT_TRUE(logged(L"ServiceControl::StartService: unable to start '" + name + L"' on ''"));
}

TEST_F(ServiceControlTest, StopThatKeepsProgressingEndsAtThePollLimit)
{
    ASSERT_EQ(0u, install(L"--stop-delay=4000"));
    ASSERT_EQ(0u, control.StartService());
    control.SetPollLimit(1000);
    DWORD result = 0;
    DWORD took = timed([&] { return control.StopService(); }, result);
    EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_REQUEST_TIMEOUT), result);
    EXPECT_LE(900u, took);
    EXPECT_GT(3500u, took) << "the service moves its checkpoint, so only the poll limit ends the wait";
    EXPECT_FALSE(logged(L"is not responding"));
}

// Stops with a frozen checkpoint and the given wait hint; the service itself stops after `stopDelay`.
DWORD ServiceControlTest::timedFrozenStop(DWORD waitHint, DWORD stopDelay, DWORD& result)
{
    EXPECT_EQ(0u,
              install(L"--freeze-checkpoint --wait-hint=" + std::to_wstring(waitHint) + L" --stop-delay="
                      + std::to_wstring(stopDelay)));
    EXPECT_EQ(0u, control.StartService());
    return timed([&] { return control.StopService(); }, result);
}

TEST_F(ServiceControlTest, FrozenCheckpointWithoutWaitHintIsNotRespondingAtOnce)
{
    // Wait hint 0: declared at the second poll, long before the service stops by itself and the wait succeeds.
    DWORD result = 0;
    timedFrozenStop(0, 5000, result);
    EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_REQUEST_TIMEOUT), result);
    EXPECT_TRUE(logged(L"ServiceControl::MonitorServiceState: service '" + name + L"' is not responding"));
    EXPECT_TRUE(logged(L"ServiceControl::StopService: unable to stop '" + name + L"' on ''"));
}

TEST_F(ServiceControlTest, FrozenCheckpointIsNotRespondingOnceTheWaitHintPassed)
{
    DWORD result = 0;
    DWORD took = timedFrozenStop(1000, 4000, result);
    EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_REQUEST_TIMEOUT), result);
    EXPECT_LE(1000u, took);
    EXPECT_GT(3500u, took);
}

TEST_F(ServiceControlTest, LongWaitHintIsWaitedInSlicesUntilTheServiceStops)
{
    DWORD result = 99;
    DWORD took = timedFrozenStop(30000, 2500, result);
    EXPECT_EQ(0u, result) << "no progress, but the 30 s wait hint has not passed";
    EXPECT_LE(2400u, took);
    EXPECT_GT(4800u, took) << "each sleep is at most 2000 ms";
    EXPECT_TRUE(logged(L"Sleeping for  2000"));
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
