// The service manager object against the real service manager.

#include <gtest/gtest.h>

#include "LibSCM.h"
#include "LibService.h"
#include "ServiceTestSupport.h"

namespace {

class QLibSCMTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(IsOK(manager.Open(nullptr, SC_MANAGER_ALL_ACCESS))); }

    QLibSCM manager;
};

TEST_F(QLibSCMTest, OpenServiceByDisplayNameGivesTheKeyName)
{
    TestService service;
    QLibService byDisplay;
    EXPECT_TRUE(IsOK(manager.OpenServiceW(service.DisplayName(), SERVICE_ALL_ACCESS, byDisplay)));
    EXPECT_TRUE(byDisplay.IsValid());
    EXPECT_STREQ(service.Name(), byDisplay.GetServiceName());

    QLibService byKey;
    EXPECT_TRUE(IsOK(manager.OpenServiceW(service.Name(), SERVICE_QUERY_STATUS, byKey)));
    EXPECT_STREQ(service.Name(), byKey.GetServiceName());

    // Through the object's own open by name, as the agent does it.
    QLibService opened(service.DisplayName(), SERVICE_ALL_ACCESS, nullptr);
    EXPECT_STREQ(service.Name(), opened.GetServiceName());

    ThreadTrace trace;
    QLibService unknown;
    EXPECT_TRUE(IsStatus(manager.OpenServiceW(L"QLibSvcTest no such service", SERVICE_ALL_ACCESS, unknown),
                         QLIB_ERR_WIN32, ERROR_SERVICE_DOES_NOT_EXIST));
    EXPECT_FALSE(unknown.IsValid());
    EXPECT_TRUE(trace.Has("QLibSCM::OpenServiceW", L"(1060) GetKeyName failed for QLibSvcTest no such service"));
}

TEST_F(QLibSCMTest, IsServiceInstalledAnswersForKeyAndDisplayNames)
{
    TestService service;
    uint32_t installed = 7;
    EXPECT_TRUE(IsOK(manager.IsServiceInstalled(service.Name(), &installed)));
    EXPECT_EQ(1u, installed);
    installed = 7;
    EXPECT_TRUE(IsOK(manager.IsServiceInstalled(service.DisplayName(), &installed)));
    EXPECT_EQ(1u, installed);
    installed = 7;
    EXPECT_TRUE(IsOK(manager.IsServiceInstalled(L"QLibSvcTest_NotInstalled", &installed)));
    EXPECT_EQ(0u, installed);
}

TEST_F(QLibSCMTest, NamesTranslateBothWays)
{
    TestService service;
    wchar_t* key = nullptr;
    ASSERT_TRUE(IsOK(manager.GetKeyName(service.DisplayName(), &key)));
    EXPECT_STREQ(service.Name(), key);
    EXPECT_EQ((wcslen(key) + 1) * sizeof(wchar_t), HeapSize(GetProcessHeap(), 0, key));
    HeapFree(GetProcessHeap(), 0, key);

    wchar_t* display = nullptr;
    ASSERT_TRUE(IsOK(manager.GetDisplayName(service.Name(), &display)));
    EXPECT_STREQ(service.DisplayName(), display);
    HeapFree(GetProcessHeap(), 0, display);

    ThreadTrace trace;
    display = reinterpret_cast<wchar_t*>(1);
    EXPECT_TRUE(IsStatus(manager.GetDisplayName(L"QLibSvcTest_Unknown", &display), QLIB_ERR_WIN32,
                         ERROR_SERVICE_DOES_NOT_EXIST));
    EXPECT_EQ(nullptr, display);
    EXPECT_TRUE(trace.Has("QLibSCM::GetDisplayName", L"(1060) GetServiceDisplayName failed. key=QLibSvcTest_Unknown"));
}

TEST_F(QLibSCMTest, EnumerationsListTheServices)
{
    TestService idle;
    TestService running;
    ASSERT_TRUE(running.StartRunning());

    ENUM_SERVICE_STATUSW* services = nullptr;
    uint32_t count = 0;
    ASSERT_TRUE(IsOK(manager.EnumServices(SERVICE_WIN32, SERVICE_STATE_ALL, &services, &count)));
    int found = 0;
    for (uint32_t i = 0; i < count; ++i)
        if (wcscmp(services[i].lpServiceName, idle.Name()) == 0
            || wcscmp(services[i].lpServiceName, running.Name()) == 0)
            ++found;
    EXPECT_EQ(2, found);
    HeapFree(GetProcessHeap(), 0, services);

    BYTE* buffer = nullptr;
    ASSERT_TRUE(
        IsOK(manager.EnumServicesEx(SC_ENUM_PROCESS_INFO, SERVICE_WIN32, SERVICE_ACTIVE, &buffer, &count, nullptr)));
    auto* processes = reinterpret_cast<ENUM_SERVICE_STATUS_PROCESSW*>(buffer);
    DWORD pid = 0;
    for (uint32_t i = 0; i < count; ++i) {
        EXPECT_STRNE(idle.Name(), processes[i].lpServiceName) << "a stopped service is not active";
        if (wcscmp(processes[i].lpServiceName, running.Name()) == 0)
            pid = processes[i].ServiceStatusProcess.dwProcessId;
    }
    EXPECT_EQ(running.ProcessId(), pid);
    HeapFree(GetProcessHeap(), 0, buffer);
}

TEST_F(QLibSCMTest, EnumerationWithoutMatchIsEmptyAndFailureLeavesNothing)
{
    // No service matches: the first call succeeds.
    static DWORD answer;
    answer = ERROR_SUCCESS;
    ImportPatch enumerate("EnumServicesStatusW",
                          reinterpret_cast<void*>(+[](SC_HANDLE, DWORD, DWORD, ENUM_SERVICE_STATUSW*, DWORD,
                                                      DWORD* needed, DWORD* returned, DWORD*) -> BOOL {
                              *needed = 0;
                              *returned = 0;
                              SetLastError(answer);
                              return answer == ERROR_SUCCESS;
                          }));
    ENUM_SERVICE_STATUSW* services = reinterpret_cast<ENUM_SERVICE_STATUSW*>(1);
    uint32_t count = 9;
    EXPECT_TRUE(IsOK(manager.EnumServices(SERVICE_DRIVER, SERVICE_ACTIVE, &services, &count)));
    EXPECT_EQ(nullptr, services);
    EXPECT_EQ(0u, count);

    answer = ERROR_INVALID_PARAMETER;
    ThreadTrace trace;
    services = reinterpret_cast<ENUM_SERVICE_STATUSW*>(1);
    count = 9;
    EXPECT_TRUE(IsStatus(manager.EnumServices(SERVICE_WIN32, 0x10, &services, &count), QLIB_ERR_WIN32,
                         ERROR_INVALID_PARAMETER));
    EXPECT_EQ(nullptr, services);
    EXPECT_EQ(0u, count);
    EXPECT_TRUE(trace.Has("QLibSCM::EnumServices", L"(87) EnumServiceStatus failed. Type=48, State=16"));
}

TEST_F(QLibSCMTest, EnumerationStartsOverWhenTheListGrowsBetweenItsCalls)
{
    // The first fetch finds one service more than its size query said; every size query must start afresh.
    static int fetches;
    static DWORD resumeAtSizeQuery;
    fetches = 0;
    resumeAtSizeQuery = 99;
    ImportPatch enumerate("EnumServicesStatusW",
                          reinterpret_cast<void*>(+[](SC_HANDLE, DWORD, DWORD, ENUM_SERVICE_STATUSW* buffer, DWORD size,
                                                      DWORD* needed, DWORD* returned, DWORD* resume) -> BOOL {
                              *returned = 0;
                              if (buffer == nullptr) {
                                  resumeAtSizeQuery = *resume;
                                  *needed = sizeof(ENUM_SERVICE_STATUSW) + 64;
                                  SetLastError(ERROR_MORE_DATA);
                                  return FALSE;
                              }
                              if (++fetches == 1) {
                                  *needed = size + 64;
                                  *resume = 5;
                                  SetLastError(ERROR_MORE_DATA);
                                  return FALSE;
                              }
                              static wchar_t name[] = L"Grown";
                              *buffer = {};
                              buffer->lpServiceName = name;
                              buffer->lpDisplayName = name;
                              *returned = 1;
                              return TRUE;
                          }));
    ENUM_SERVICE_STATUSW* services = nullptr;
    uint32_t count = 0;
    ASSERT_TRUE(IsOK(manager.EnumServices(SERVICE_WIN32, SERVICE_STATE_ALL, &services, &count)));
    EXPECT_EQ(2, fetches);
    EXPECT_EQ(0u, resumeAtSizeQuery);
    ASSERT_EQ(1u, count);
    EXPECT_STREQ(L"Grown", services[0].lpServiceName);
    HeapFree(GetProcessHeap(), 0, services);
}

TEST_F(QLibSCMTest, LockIsReleasedByUnlockAndByClose)
{
    EXPECT_TRUE(IsOK(manager.Unlock())) << "nothing held, nothing to do";
    ASSERT_TRUE(IsOK(manager.Lock()));
    EXPECT_TRUE(IsOK(manager.Unlock()));
    EXPECT_TRUE(IsOK(manager.Unlock()));

    static int unlocks;
    unlocks = 0;
    ImportPatch unlock("UnlockServiceDatabase", reinterpret_cast<void*>(+[](SC_LOCK) -> BOOL {
                           ++unlocks;
                           return TRUE;
                       }));
    ASSERT_TRUE(IsOK(manager.Lock()));
    EXPECT_TRUE(IsOK(manager.Close()));
    EXPECT_EQ(1, unlocks);
    EXPECT_FALSE(manager.IsValid());
}

// Windows gives the database one lock at a time and refuses (1055) the next until it is released; Wine's lock is a
// fake that never refuses, so the database's lock is played by a redirect.
TEST_F(QLibSCMTest, LockAskedForAgainKeepsTheHeldOneUntilClose)
{
    static bool locked;
    locked = false;
    ImportPatch lock("LockServiceDatabase", reinterpret_cast<void*>(+[](SC_HANDLE) -> SC_LOCK {
                         SetLastError(ERROR_SERVICE_DATABASE_LOCKED);
                         return locked ? nullptr : (locked = true, reinterpret_cast<SC_LOCK>(0x10c4));
                     }));
    ImportPatch unlock("UnlockServiceDatabase", reinterpret_cast<void*>(+[](SC_LOCK) -> BOOL {
                           locked = false;
                           return TRUE;
                       }));
    QLibSCM other(nullptr, SC_MANAGER_ALL_ACCESS);
    ASSERT_TRUE(IsOK(manager.Lock()));
    EXPECT_TRUE(IsOK(manager.Lock()));
    EXPECT_FALSE(IsOK(other.Lock())) << "the database is still locked";
    EXPECT_TRUE(IsOK(manager.Close()));
    EXPECT_TRUE(IsOK(other.Lock())) << "Close released the lock it held";
}

// The manager here opens the local database for any machine name, so the refusal is scripted.
TEST(QLibSCM, FailedOpenNamesTheMachine)
{
    ImportPatch open("OpenSCManagerW", reinterpret_cast<void*>(+[](LPCWSTR machine, LPCWSTR, DWORD) -> SC_HANDLE {
                         SetLastError(machine ? RPC_S_SERVER_UNAVAILABLE : ERROR_ACCESS_DENIED);
                         return nullptr;
                     }));
    ThreadTrace trace;
    QLibSCM manager;
    EXPECT_TRUE(
        IsStatus(manager.Open(L"QLIBNOSUCHHOST", SC_MANAGER_CONNECT), QLIB_ERR_WIN32, RPC_S_SERVER_UNAVAILABLE));
    EXPECT_FALSE(manager.IsValid());
    EXPECT_TRUE(trace.Has("QLibSCM::Open", L"(1722) Failed to open SCM. Name=QLIBNOSUCHHOST, Access=1"));

    EXPECT_TRUE(IsStatus(manager.Open(nullptr, SC_MANAGER_ALL_ACCESS), QLIB_ERR_WIN32, ERROR_ACCESS_DENIED));
    EXPECT_TRUE(trace.Has("QLibSCM::Open", L"(5) Failed to open SCM. Name=, Access=983103"));

    QLibService service(L"AnyService", SERVICE_ALL_ACCESS, nullptr);
    EXPECT_FALSE(service.IsValid());
    EXPECT_TRUE(trace.Has("QLibService::Open", L"(5) Failed to open the service manager. service = 'AnyService'"));
}

TEST(QLibSCM, CreateServiceKeepsNoHandle)
{
    QLibSCM manager(nullptr, SC_MANAGER_ALL_ACCESS);
    std::wstring name = L"QLibSvcCreate_" + std::to_wstring(GetCurrentProcessId());
    std::wstring path = L"\"" + ProgramFolder() + L"testservice.exe\"";
    ASSERT_TRUE(IsOK(manager.CreateServiceW(name.c_str(), name.c_str(), SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                            SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, path.c_str(), nullptr, nullptr,
                                            nullptr, nullptr, nullptr)));
    // Deleted through the only handle left, the service is gone at once.
    QLibService service(name.c_str(), SERVICE_ALL_ACCESS, nullptr);
    ASSERT_TRUE(service.IsValid());
    EXPECT_TRUE(IsOK(service.DeleteService()));
    uint32_t installed = 7;
    EXPECT_TRUE(IsOK(manager.IsServiceInstalled(name.c_str(), &installed)));
    EXPECT_EQ(0u, installed);

    ThreadTrace trace;
    EXPECT_TRUE(IsStatus(manager.CreateServiceW(L"", L"", SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                                SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, path.c_str(), nullptr,
                                                nullptr, nullptr, nullptr, nullptr),
                         QLIB_ERR_WIN32, ERROR_INVALID_NAME));
    EXPECT_TRUE(trace.Has("QLibSCM::CreateServiceW", L"(123) Failed to create service ."));
}

} // namespace
