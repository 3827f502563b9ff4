// The service object against the real service manager: control, waits, kill, delete and the buffer queries.

#include <gtest/gtest.h>

#include <vector>

#include "LibSCM.h"
#include "LibService.h"
#include "ServiceTestSupport.h"

namespace {

TEST(QLibServiceControl, StartAndStopWaitForTheirStatesAndRepeatNothing)
{
    TestService service;
    QLibService object(service.Name(), SERVICE_ALL_ACCESS, nullptr);
    ASSERT_TRUE(object.IsValid());
    EXPECT_STREQ(service.Name(), object.GetServiceName());

    const wchar_t* args[] = {L"--stop-delay=200", L"extra"};
    ASSERT_TRUE(IsOK(object.Start(2, args)));
    EXPECT_TRUE(IsOK(object.WaitForStart(5000)));
    uint32_t running = 7;
    EXPECT_TRUE(IsOK(object.IsServiceRunning(&running)));
    EXPECT_EQ(1u, running);
    EXPECT_TRUE(IsOK(object.Start())) << "a running service needs no start request";
    EXPECT_EQ(1, service.LogCount("start --stop-delay=200 extra"));
    EXPECT_EQ(1, service.LogCount("ignored extra"));

    ASSERT_TRUE(IsOK(object.Stop()));
    EXPECT_TRUE(IsOK(object.WaitForStop(5000)));
    uint32_t stopped = 7;
    EXPECT_TRUE(IsOK(object.IsServiceStopped(&stopped)));
    EXPECT_EQ(1u, stopped);
    EXPECT_TRUE(IsOK(object.IsServiceRunning(&running)));
    EXPECT_EQ(0u, running);
    EXPECT_TRUE(IsOK(object.Stop())) << "a stopped service gets no control";
    EXPECT_EQ(1, service.LogCount("control 1"));
}

TEST(QLibServiceControl, SlowStartTimesOutWithinItsBudget)
{
    TestService service(L"--start-delay=2000");
    QLibService object(service.Name(), SERVICE_ALL_ACCESS, nullptr);
    ASSERT_TRUE(IsOK(object.Start()));
    ASSERT_TRUE(WaitUntil([&] { return service.State() == SERVICE_START_PENDING; }, 3000));

    ThreadTrace trace;
    {
        PauseCount counted;
        EXPECT_TRUE(IsStatus(object.WaitForStart(300), QLIB_ERR_WIN32, WAIT_TIMEOUT));
        EXPECT_EQ(300, counted.SleptMs());
    }
    EXPECT_TRUE(
        trace.Has("QLibService::WaitForServiceStatus", std::wstring(L"Wait timed out for service ") + service.Name()));

    EXPECT_TRUE(IsStatus(object.WaitForStart(QLibService::TimeoutFromTimeLeft(-20)), QLIB_ERR_WIN32, WAIT_TIMEOUT));

    // In START_PENDING a new start request is made and its refusal reported.
    QLibStatus again = object.Start();
    EXPECT_EQ(QLIB_ERR_WIN32, again.GetType());
    EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_ALREADY_RUNNING), again.GetCode());
}

TEST(QLibServiceControl, WaitForRunningEndsWhenTheServiceStopsInstead)
{
    TestService service(L"--start-delay=300 --fail-start");
    QLibService object(service.Name(), SERVICE_ALL_ACCESS, nullptr);
    ASSERT_TRUE(IsOK(object.Start()));
    // A time-out would read (2, 258): the state, not the clock, ended the wait.
    EXPECT_TRUE(IsStatus(object.WaitForStart(10000), QLIB_ERR_SERVICE_STATE, 1));
}

TEST(QLibServiceControl, WaitForRunningOnAStoppedService)
{
    TestService service;
    QLibService object(service.Name(), SERVICE_ALL_ACCESS, nullptr);
    PauseCount counted;
    EXPECT_TRUE(IsStatus(object.WaitForStart(10000), QLIB_ERR_SERVICE_STATE, 1));
    EXPECT_EQ(1, counted.Pauses()) << "one poll of 50 ms, then the state is known to be wrong";
    EXPECT_TRUE(IsStatus(object.WaitForStart(QLibService::NoTimeLimit), QLIB_ERR_SERVICE_STATE, 1));
    EXPECT_EQ(1, counted.Pauses()) << "the unlimited wait tests the pending state before it sleeps";
    EXPECT_TRUE(IsOK(object.WaitForStop(0)));
}

TEST(QLibServiceControl, SlowStopWaitsAndASecondStopIsSentAgain)
{
    TestService service(L"--stop-delay=1500");
    QLibService object(service.Name(), SERVICE_ALL_ACCESS, nullptr);
    ASSERT_TRUE(service.StartRunning());
    ASSERT_TRUE(IsOK(object.Stop()));
    EXPECT_TRUE(IsStatus(object.WaitForStop(120), QLIB_ERR_WIN32, WAIT_TIMEOUT));

    // In STOP_PENDING the control goes out again; the manager refuses it.
    QLibStatus again = object.Stop();
    EXPECT_EQ(QLIB_ERR_WIN32, again.GetType());
    EXPECT_NE(0u, again.GetCode());

    EXPECT_TRUE(IsOK(object.WaitForStop(QLibService::NoTimeLimit)));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), service.State());
}

TEST(QLibServiceControl, ServiceThatRefusesStopReportsTheControlFailure)
{
    TestService service(L"--no-stop");
    QLibService object(service.Name(), SERVICE_ALL_ACCESS, nullptr);
    ASSERT_TRUE(service.StartRunning());
    ThreadTrace trace;
    QLibStatus status = object.Stop();
    EXPECT_TRUE(IsStatus(status, QLIB_ERR_WIN32, ERROR_INVALID_SERVICE_CONTROL));
    EXPECT_TRUE(trace.Has("QLibService::Stop",
                          L"ControlService failed for service " + std::wstring(service.Name()) + L". state = 4."));
}

TEST(QLibServiceControl, TimeLeftBecomesABoundedLimit)
{
    EXPECT_EQ(0u, QLibService::TimeoutFromTimeLeft(0));
    EXPECT_EQ(0u, QLibService::TimeoutFromTimeLeft(-1));
    EXPECT_EQ(0u, QLibService::TimeoutFromTimeLeft(INT64_MIN));
    EXPECT_EQ(1234u, QLibService::TimeoutFromTimeLeft(1234));
    EXPECT_EQ(0xFFFFFFFEu, QLibService::TimeoutFromTimeLeft(0xFFFFFFFFll));
    EXPECT_EQ(0xFFFFFFFEu, QLibService::TimeoutFromTimeLeft(INT64_MAX));
}

// The poll schedule, measured on a scripted manager: every status query and every sleep is recorded.
struct PollScript {
    static inline std::vector<DWORD> states;
    static inline size_t queries = 0;
    static inline std::vector<DWORD> sleeps;

    static BOOL WINAPI QueryServiceStatus(SC_HANDLE, SERVICE_STATUS* status)
    {
        *status = {};
        status->dwCurrentState = states[queries < states.size() ? queries : states.size() - 1];
        ++queries;
        return TRUE;
    }
    static VOID WINAPI Sleep(DWORD ms) { sleeps.push_back(ms); }

    // Runs the wait with the manager answering the states in turn (the last one for ever).
    static QLibStatus Wait(std::vector<DWORD> script, uint32_t target, uint32_t pending, uint32_t timeout)
    {
        states = std::move(script);
        queries = 0;
        sleeps.clear();
        TestService service;
        QLibService object(service.Name(), SERVICE_ALL_ACCESS, nullptr);
        ImportPatch query("QueryServiceStatus", reinterpret_cast<void*>(&PollScript::QueryServiceStatus));
        ImportPatch sleep("Sleep", reinterpret_cast<void*>(&PollScript::Sleep));
        return object.WaitForServiceStatus(target, pending, timeout);
    }
};

TEST(QLibServiceWaitSchedule, TimedWaitSleepsExactlyItsTimeout)
{
    EXPECT_TRUE(IsStatus(PollScript::Wait({SERVICE_START_PENDING}, SERVICE_RUNNING, SERVICE_START_PENDING, 120),
                         QLIB_ERR_WIN32, WAIT_TIMEOUT));
    EXPECT_EQ((std::vector<DWORD>{50, 50, 20}), PollScript::sleeps);
    EXPECT_EQ(4u, PollScript::queries);

    EXPECT_TRUE(IsStatus(PollScript::Wait({SERVICE_START_PENDING}, SERVICE_RUNNING, SERVICE_START_PENDING, 100),
                         QLIB_ERR_WIN32, WAIT_TIMEOUT));
    EXPECT_EQ((std::vector<DWORD>{50, 50}), PollScript::sleeps);
    EXPECT_EQ(3u, PollScript::queries);

    EXPECT_TRUE(IsStatus(PollScript::Wait({SERVICE_STOP_PENDING}, SERVICE_STOPPED, SERVICE_STOP_PENDING, 0),
                         QLIB_ERR_WIN32, WAIT_TIMEOUT));
    EXPECT_TRUE(PollScript::sleeps.empty());
    EXPECT_EQ(1u, PollScript::queries);
}

TEST(QLibServiceWaitSchedule, FirstStateIsComparedWithTheTargetOnly)
{
    EXPECT_TRUE(IsOK(PollScript::Wait({SERVICE_RUNNING}, SERVICE_RUNNING, SERVICE_START_PENDING, 0)));
    EXPECT_EQ(1u, PollScript::queries);

    // A stopped service waited for RUNNING: one sleep (all of a short timeout), then the wrong state.
    EXPECT_TRUE(IsStatus(PollScript::Wait({SERVICE_STOPPED}, SERVICE_RUNNING, SERVICE_START_PENDING, 30),
                         QLIB_ERR_SERVICE_STATE, 1));
    EXPECT_EQ((std::vector<DWORD>{30}), PollScript::sleeps);
    EXPECT_TRUE(IsStatus(PollScript::Wait({SERVICE_STOPPED}, SERVICE_RUNNING, SERVICE_START_PENDING, 5000),
                         QLIB_ERR_SERVICE_STATE, 1));
    EXPECT_EQ((std::vector<DWORD>{50}), PollScript::sleeps);

    EXPECT_TRUE(IsOK(PollScript::Wait({SERVICE_START_PENDING, SERVICE_START_PENDING, SERVICE_RUNNING}, SERVICE_RUNNING,
                                      SERVICE_START_PENDING, 1000)));
    EXPECT_EQ((std::vector<DWORD>{50, 50}), PollScript::sleeps);
}

TEST(QLibServiceWaitSchedule, UnlimitedWaitPollsEvery100MsWhilePending)
{
    EXPECT_TRUE(
        IsOK(PollScript::Wait({SERVICE_STOP_PENDING, SERVICE_STOP_PENDING, SERVICE_STOP_PENDING, SERVICE_STOPPED},
                              SERVICE_STOPPED, SERVICE_STOP_PENDING, QLibService::NoTimeLimit)));
    EXPECT_EQ((std::vector<DWORD>{100, 100, 100}), PollScript::sleeps);
    EXPECT_TRUE(IsStatus(PollScript::Wait({SERVICE_STOP_PENDING, SERVICE_RUNNING}, SERVICE_STOPPED,
                                          SERVICE_STOP_PENDING, QLibService::NoTimeLimit),
                         QLIB_ERR_SERVICE_STATE, 1));
    EXPECT_EQ((std::vector<DWORD>{100}), PollScript::sleeps);
}

TEST(QLibServiceKill, KillEndsTheServiceProcessWithTheExitCode)
{
    TestService service;
    QLibService object(service.Name(), SERVICE_ALL_ACCESS, nullptr);
    ASSERT_TRUE(service.StartRunning());
    DWORD pid = service.ProcessId();
    ASSERT_NE(0u, pid);
    HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    ASSERT_NE(nullptr, process);

    EXPECT_TRUE(IsOK(object.Kill(77)));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process, 5000));
    DWORD exitCode = 0;
    EXPECT_TRUE(GetExitCodeProcess(process, &exitCode));
    EXPECT_EQ(77u, exitCode);
    CloseHandle(process);
}

TEST(QLibServiceKill, StoppedServiceIsLeftAlone)
{
    TestService service;
    QLibService object(service.Name(), SERVICE_ALL_ACCESS, nullptr);
    static int terminations = 0;
    ImportPatch terminate("TerminateProcess", reinterpret_cast<void*>(+[](HANDLE, UINT) -> BOOL {
                              ++terminations;
                              return TRUE;
                          }));
    EXPECT_TRUE(IsOK(object.Kill(1)));
    EXPECT_EQ(0, terminations);
}

TEST(QLibServiceKill, ProcessThatCannotBeOpenedIsNeverTerminated)
{
    TestService service;
    QLibService object(service.Name(), SERVICE_ALL_ACCESS, nullptr);
    ASSERT_TRUE(service.StartRunning());
    static int terminations = 0;
    ImportPatch open("OpenProcess", reinterpret_cast<void*>(+[](DWORD, BOOL, DWORD) -> HANDLE {
                         SetLastError(ERROR_ACCESS_DENIED);
                         return nullptr;
                     }));
    ImportPatch terminate("TerminateProcess", reinterpret_cast<void*>(+[](HANDLE, UINT) -> BOOL {
                              ++terminations;
                              return TRUE;
                          }));
    ThreadTrace trace;
    EXPECT_TRUE(IsStatus(object.Kill(1), QLIB_ERR_WIN32, ERROR_ACCESS_DENIED));
    EXPECT_EQ(0, terminations);
    EXPECT_TRUE(trace.Has("QLibService::Kill",
                          L"(5) Failed to open pid = " + std::to_wstring(service.ProcessId()) + L". svc = "
                              + service.Name() + L". state=4"));
}

TEST(QLibServiceObject, DeleteClosesTheObjectEvenWhenItFails)
{
    TestService service;
    QLibService first(service.Name(), SERVICE_ALL_ACCESS, nullptr);
    QLibService second(service.Name(), SERVICE_ALL_ACCESS, nullptr);
    EXPECT_TRUE(IsOK(first.DeleteService()));
    EXPECT_FALSE(first.IsValid());
    EXPECT_STREQ(L"", first.GetServiceName());

    ThreadTrace trace;
    QLibStatus status = second.DeleteService();
    EXPECT_TRUE(IsStatus(status, QLIB_ERR_WIN32, ERROR_SERVICE_MARKED_FOR_DELETE));
    EXPECT_FALSE(second.IsValid());
    EXPECT_STREQ(L"", second.GetServiceName());
    EXPECT_TRUE(trace.Has("QLibService::DeleteService", L"Failed to delete service " + std::wstring(service.Name())));

    QLibService closed;
    EXPECT_TRUE(IsStatus(closed.DeleteService(), QLIB_ERR_WIN32, ERROR_INVALID_HANDLE));
}

TEST(QLibServiceObject, OpenFailureLeavesTheObjectClosed)
{
    TestService service;
    QLibService object(service.Name(), SERVICE_ALL_ACCESS, nullptr);
    ASSERT_TRUE(object.IsValid());
    ThreadTrace trace;
    EXPECT_TRUE(IsStatus(object.Open(L"QLibSvcTest_NoSuchService", SERVICE_ALL_ACCESS, nullptr), QLIB_ERR_WIN32,
                         ERROR_SERVICE_DOES_NOT_EXIST));
    EXPECT_FALSE(object.IsValid());
    EXPECT_STREQ(L"", object.GetServiceName());
    EXPECT_TRUE(trace.Has("QLibService::Open", L"(1060) Failed to open the service 'QLibSvcTest_NoSuchService'."));

    QLibService byManager(nullptr, L"x", SERVICE_ALL_ACCESS);
    EXPECT_FALSE(byManager.IsValid());
}

TEST(QLibServiceObject, AttachFindsTheKeyNameAndDetachHandsTheHandleBack)
{
    TestService service;
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE handle = OpenServiceW(manager, service.Name(), SERVICE_ALL_ACCESS);
    ASSERT_NE(nullptr, handle);
    QLibService object;
    EXPECT_TRUE(IsOK(object.Attach(handle)));
    EXPECT_STREQ(service.Name(), object.GetServiceName());
    EXPECT_EQ(handle, object.Detach());
    EXPECT_FALSE(object.IsValid());
    EXPECT_STREQ(L"", object.GetServiceName());
    SERVICE_STATUS status = {};
    EXPECT_TRUE(QueryServiceStatus(handle, &status)) << "a detached handle stays open";
    CloseServiceHandle(handle);
    CloseServiceHandle(manager);
}

TEST(QLibServiceObject, AttachWithoutConfigurationRightsLeavesTheHandleWithTheCaller)
{
    TestService service;
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE handle = OpenServiceW(manager, service.Name(), SERVICE_QUERY_STATUS);
    ASSERT_NE(nullptr, handle);
    QLibService object;
    ThreadTrace trace;
    EXPECT_TRUE(IsStatus(object.Attach(handle), QLIB_ERR_WIN32, ERROR_ACCESS_DENIED));
    EXPECT_FALSE(object.IsValid());
    EXPECT_STREQ(L"", object.GetServiceName());
    EXPECT_TRUE(trace.Has("QLibService::Attach", L"(5) Failed to query service config."));
    SERVICE_STATUS status = {};
    EXPECT_TRUE(QueryServiceStatus(handle, &status)) << "the handle is still open";
    CloseServiceHandle(handle);
    CloseServiceHandle(manager);
}

TEST(QLibServiceQueries, BuffersDescribeTheService)
{
    TestService service(L"--child");
    QLibService object(service.Name(), SERVICE_ALL_ACCESS, nullptr);
    ASSERT_TRUE(service.StartRunning());

    BYTE* buffer = nullptr;
    ASSERT_TRUE(IsOK(object.QueryStatusEx(SC_STATUS_PROCESS_INFO, &buffer)));
    auto* process = reinterpret_cast<SERVICE_STATUS_PROCESS*>(buffer);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), process->dwCurrentState);
    EXPECT_EQ(service.ProcessId(), process->dwProcessId);
    HeapFree(GetProcessHeap(), 0, buffer);

    QUERY_SERVICE_CONFIGW* config = nullptr;
    ASSERT_TRUE(IsOK(object.QueryConfig(&config)));
    EXPECT_EQ(service.BinaryPath(), config->lpBinaryPathName);
    EXPECT_STREQ(service.DisplayName(), config->lpDisplayName);
    HeapFree(GetProcessHeap(), 0, config);

    SERVICE_DESCRIPTIONW description = {const_cast<wchar_t*>(L"what the test service does")};
    ASSERT_TRUE(ChangeServiceConfig2W(service.Handle(), SERVICE_CONFIG_DESCRIPTION, &description));
    ASSERT_TRUE(IsOK(object.QueryConfig2(SERVICE_CONFIG_DESCRIPTION, &buffer)));
    EXPECT_STREQ(L"what the test service does", reinterpret_cast<SERVICE_DESCRIPTIONW*>(buffer)->lpDescription);
    HeapFree(GetProcessHeap(), 0, buffer);

    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(IsOK(object.QueryObjectSecurity(DACL_SECURITY_INFORMATION, &descriptor)));
    EXPECT_TRUE(IsValidSecurityDescriptor(descriptor));
    HeapFree(GetProcessHeap(), 0, descriptor);

    ENUM_SERVICE_STATUSW* dependents = reinterpret_cast<ENUM_SERVICE_STATUSW*>(1);
    uint32_t count = 9;
    EXPECT_TRUE(IsOK(object.EnumDependents(SERVICE_ACTIVE, &dependents, &count)));
    EXPECT_EQ(nullptr, dependents);
    EXPECT_EQ(0u, count);
}

TEST(QLibServiceQueries, FailedQueryLeavesNoBuffer)
{
    TestService service;
    QLibService object(service.Name(), SERVICE_ALL_ACCESS, nullptr);
    ThreadTrace trace;
    BYTE* buffer = reinterpret_cast<BYTE*>(1);
    QLibStatus status = object.QueryStatusEx(77, &buffer);
    EXPECT_EQ(QLIB_ERR_WIN32, status.GetType());
    EXPECT_EQ(nullptr, buffer);
    EXPECT_TRUE(
        trace.Has("QLibService::QueryStatusEx", L"QueryServiceStatusEx failed for " + std::wstring(service.Name())));

    // The second call failing (the size asked for shrinks to nothing) frees what was allocated.
    static int calls;
    calls = 0;
    ImportPatch config("QueryServiceConfigW",
                       reinterpret_cast<void*>(+[](SC_HANDLE, QUERY_SERVICE_CONFIGW*, DWORD, DWORD* needed) -> BOOL {
                           *needed = 64;
                           SetLastError(++calls == 1 ? ERROR_INSUFFICIENT_BUFFER : ERROR_ACCESS_DENIED);
                           return FALSE;
                       }));
    QUERY_SERVICE_CONFIGW* configuration = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(1);
    EXPECT_TRUE(IsStatus(object.QueryConfig(&configuration), QLIB_ERR_WIN32, ERROR_ACCESS_DENIED));
    EXPECT_EQ(nullptr, configuration);
    EXPECT_EQ(2, calls);
}

} // namespace
