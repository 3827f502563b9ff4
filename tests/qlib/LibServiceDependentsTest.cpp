// Stopping a service's dependents, depth first, against real test services. The manager here never
// reports dependents, so the test program's import of EnumDependentServicesW answers from a graph of its own.

#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "LibService.h"
#include "ServiceTestSupport.h"

namespace {

struct Dependent {
    std::wstring name;
    std::wstring displayName;
};

// Dependents by the display name of the service they depend on.
std::map<std::wstring, std::vector<Dependent>> g_Graph;

DWORD CurrentState(const wchar_t* name)
{
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = OpenServiceW(manager, name, SERVICE_QUERY_STATUS);
    SERVICE_STATUS status = {};
    DWORD state = service && QueryServiceStatus(service, &status) ? status.dwCurrentState : 0;
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return state;
}

BOOL WINAPI EnumFromGraph(SC_HANDLE service, DWORD state, ENUM_SERVICE_STATUSW* buffer, DWORD size, DWORD* needed,
                          DWORD* returned)
{
    BYTE config[8192] = {};
    DWORD configSize = 0;
    QueryServiceConfigW(service, reinterpret_cast<QUERY_SERVICE_CONFIGW*>(config), sizeof(config), &configSize);
    std::vector<Dependent> listed;
    for (const Dependent& dependent : g_Graph[reinterpret_cast<QUERY_SERVICE_CONFIGW*>(config)->lpDisplayName]) {
        DWORD current = CurrentState(dependent.name.c_str());
        bool active = current != SERVICE_STOPPED;
        if ((active && (state & SERVICE_ACTIVE)) || (!active && (state & SERVICE_INACTIVE)))
            listed.push_back(dependent);
    }
    *returned = 0;
    *needed = static_cast<DWORD>(listed.size() * sizeof(ENUM_SERVICE_STATUSW));
    for (const Dependent& dependent : listed)
        *needed += static_cast<DWORD>((dependent.name.size() + dependent.displayName.size() + 2) * sizeof(wchar_t));
    if (listed.empty())
        return TRUE;
    if (size < *needed) {
        SetLastError(ERROR_MORE_DATA);
        return FALSE;
    }
    auto* text = reinterpret_cast<wchar_t*>(buffer + listed.size());
    for (const Dependent& dependent : listed) {
        ENUM_SERVICE_STATUSW& entry = buffer[(*returned)++];
        entry = {};
        for (const std::wstring* part : {&dependent.name, &dependent.displayName}) {
            (part == &dependent.name ? entry.lpServiceName : entry.lpDisplayName) = text;
            wcscpy(text, part->c_str());
            text += part->size() + 1;
        }
        entry.ServiceStatus.dwCurrentState = CurrentState(dependent.name.c_str());
    }
    return TRUE;
}

class QLibServiceDependents : public ::testing::Test {
protected:
    void SetUp() override { g_Graph.clear(); }
    void TearDown() override { g_Graph.clear(); }

    static void DependsOn(const TestService& parent, const TestService& dependent)
    {
        g_Graph[parent.DisplayName()].push_back({dependent.Name(), dependent.DisplayName()});
    }
    QLibStatus StopAll(const TestService& root, uint32_t timeout)
    {
        QLibService object(root.Name(), SERVICE_ALL_ACCESS, nullptr);
        ImportPatch patch("EnumDependentServicesW", reinterpret_cast<void*>(&EnumFromGraph));
        PauseCount counted;
        QLibStatus status = object.StopAllDependentServices(timeout, failures);
        pauses = counted.Pauses();
        return status;
    }

    std::map<std::wstring, QLibStatus> failures;
    // The waits of 100 ms the last StopAll made.
    int pauses = 0;
};

TEST_F(QLibServiceDependents, WithoutDependentsNothingWaits)
{
    TestService root;
    EXPECT_TRUE(IsOK(StopAll(root, 5000)));
    EXPECT_EQ(0, pauses);
    EXPECT_TRUE(failures.empty());
}

TEST_F(QLibServiceDependents, RunningDependentsAreStoppedAndWaitedFor)
{
    TestService root, quick, slow(L"--stop-delay=300"), idle;
    DependsOn(root, quick);
    DependsOn(root, slow);
    DependsOn(root, idle);
    ASSERT_TRUE(quick.StartRunning());
    ASSERT_TRUE(slow.StartRunning());
    EXPECT_TRUE(IsOK(StopAll(root, 5000)));
    EXPECT_TRUE(failures.empty());
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), quick.State());
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), slow.State());
    EXPECT_EQ(0, idle.LogCount("control")) << "a stopped dependent is not listed as active";
}

TEST_F(QLibServiceDependents, DependentThatRefusesToStopFailsTheWhole)
{
    TestService root, stubborn(L"--no-stop"), quick;
    DependsOn(root, stubborn);
    DependsOn(root, quick);
    ASSERT_TRUE(stubborn.StartRunning());
    ASSERT_TRUE(quick.StartRunning());
    EXPECT_TRUE(IsStatus(StopAll(root, 30000), QLIB_ERR_SERVICE_STATE, ERROR_DEPENDENT_SERVICES_RUNNING));
    EXPECT_LT(pauses, 150) << "the wait ends once the others have stopped, long before its 300 passes";
    ASSERT_EQ(1u, failures.size());
    EXPECT_TRUE(IsStatus(failures[stubborn.Name()], QLIB_ERR_WIN32, ERROR_INVALID_SERVICE_CONTROL));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), quick.State());
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), stubborn.State());
}

TEST_F(QLibServiceDependents, NoTimeSendsTheStopsAndReturns)
{
    TestService root, slow(L"--stop-delay=1500");
    DependsOn(root, slow);
    ASSERT_TRUE(slow.StartRunning());
    EXPECT_TRUE(IsOK(StopAll(root, 0)));
    EXPECT_EQ(0, pauses);
    EXPECT_TRUE(WaitUntil([&] { return slow.LogCount("control 1") == 1; }, 10000)) << "the stop was sent";

    TestService other, stubborn(L"--no-stop");
    DependsOn(other, stubborn);
    ASSERT_TRUE(stubborn.StartRunning());
    EXPECT_TRUE(IsStatus(StopAll(other, 0), QLIB_ERR_SERVICE_STATE, ERROR_DEPENDENT_SERVICES_RUNNING));
}

TEST_F(QLibServiceDependents, SlowDependentRunsOutOfTime)
{
    TestService root, slow(L"--stop-delay=1000");
    DependsOn(root, slow);
    ASSERT_TRUE(slow.StartRunning());
    EXPECT_TRUE(IsStatus(StopAll(root, 150), QLIB_ERR_SERVICE_STATE, ERROR_SERVICE_REQUEST_TIMEOUT));
    EXPECT_EQ(2, pauses) << "two passes of 100 ms";
    EXPECT_TRUE(failures.empty());
}

TEST_F(QLibServiceDependents, FailureDeeperDownLeavesTheParentRunning)
{
    TestService root, middle, leaf(L"--no-stop");
    DependsOn(root, middle);
    DependsOn(middle, leaf);
    ASSERT_TRUE(middle.StartRunning());
    ASSERT_TRUE(leaf.StartRunning());
    ThreadTrace trace;
    EXPECT_TRUE(IsStatus(StopAll(root, 1000), QLIB_ERR_SERVICE_STATE, ERROR_DEPENDENT_SERVICES_RUNNING));
    ASSERT_EQ(1u, failures.size());
    EXPECT_TRUE(IsStatus(failures[middle.Name()], QLIB_ERR_SERVICE_STATE, ERROR_DEPENDENT_SERVICES_RUNNING));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), middle.State());
    EXPECT_EQ(0, middle.LogCount("control"));
    EXPECT_TRUE(trace.Has("QLibService::StopAllDependentServices",
                          L"Cannot Stop Parent Services of the service " + std::wstring(middle.DisplayName())
                              + L", Service - error codes : " + leaf.Name() + L" - 1052"));
}

TEST_F(QLibServiceDependents, DependentThatCannotBeOpenedIsAFailureAtOnce)
{
    TestService root;
    g_Graph[root.DisplayName()].push_back({L"QLibSvcTest_Gone", L"Gone"});
    ThreadTrace trace;
    // The listing asks for the dependent's state; a missing one reads as active.
    EXPECT_TRUE(IsStatus(StopAll(root, 5000), QLIB_ERR_SERVICE_STATE, ERROR_DEPENDENT_SERVICES_RUNNING));
    EXPECT_EQ(0, pauses);
    EXPECT_TRUE(IsStatus(failures[L"QLibSvcTest_Gone"], QLIB_ERR_WIN32, ERROR_SERVICE_DOES_NOT_EXIST));
    EXPECT_TRUE(trace.Has("QLibService::StopAllDependentServices",
                          L"Cannot Open Service handle for Gone (Windows Error Code = 1060)"));
}

} // namespace
