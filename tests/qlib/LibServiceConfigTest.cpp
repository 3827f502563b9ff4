// The service object's accounts, configuration changes and virtual-name environment.

#include <gtest/gtest.h>

#include <winternl.h>

#include <set>
#include <vector>

#include "LibService.h"
#include "ProcAddressHook.h"
#include "ServiceTestSupport.h"

namespace {

std::wstring ConfiguredStartName(const TestService& service)
{
    QLibService object(service.Name(), SERVICE_ALL_ACCESS, nullptr);
    QUERY_SERVICE_CONFIGW* config = nullptr;
    EXPECT_TRUE(IsOK(object.QueryConfig(&config)));
    std::wstring name = config && config->lpServiceStartName ? config->lpServiceStartName : L"";
    HeapFree(GetProcessHeap(), 0, config);
    return name;
}

// What ChangeServiceConfigW was last asked to do.
struct ConfigCall {
    static inline std::wstring account;
    static inline std::wstring password;
    static inline bool accountGiven = false;

    static BOOL WINAPI Change(SC_HANDLE, DWORD, DWORD, DWORD, LPCWSTR, LPCWSTR, LPDWORD, LPCWSTR, LPCWSTR account,
                              LPCWSTR password, LPCWSTR)
    {
        accountGiven = account != nullptr;
        ConfigCall::account = account ? account : L"";
        ConfigCall::password = password ? password : L"(null)";
        return TRUE;
    }
};

class QLibServiceAccount : public ::testing::Test {
protected:
    void Change(const wchar_t* domain, const wchar_t* user, const wchar_t* password)
    {
        QLibService object(service.Name(), SERVICE_ALL_ACCESS, nullptr);
        ImportPatch patch("ChangeServiceConfigW", reinterpret_cast<void*>(&ConfigCall::Change));
        EXPECT_TRUE(IsOK(object.ChangeUserAccount(domain, user, password)));
    }

    TestService service;
};

TEST_F(QLibServiceAccount, AccountStringFollowsTheKindOfUser)
{
    Change(L"CORP", L"lOcAlSyStEm", nullptr);
    EXPECT_EQ(L"lOcAlSyStEm", ConfigCall::account);
    EXPECT_EQ(L"", ConfigCall::password);

    Change(L"CORP", L"Network Service", L"pw");
    EXPECT_EQ(L"NT AUTHORITY\\Network Service", ConfigCall::account);
    EXPECT_EQ(L"pw", ConfigCall::password);
    Change(nullptr, L"localservice", nullptr);
    EXPECT_EQ(L"NT AUTHORITY\\localservice", ConfigCall::account);

    Change(nullptr, L"sapadm", L"secret");
    EXPECT_EQ(L".\\sapadm", ConfigCall::account);
    Change(L"", L"sapadm", L"secret");
    EXPECT_EQ(L".\\sapadm", ConfigCall::account);
    Change(L"CORP", L"sapadm", L"secret");
    EXPECT_EQ(L"CORP\\sapadm", ConfigCall::account);
    EXPECT_EQ(L"secret", ConfigCall::password);
}

TEST_F(QLibServiceAccount, ChangedAccountReadsBackSplitAtTheLastBackslash)
{
    QLibService object(service.Name(), SERVICE_ALL_ACCESS, nullptr);
    wchar_t* domain = reinterpret_cast<wchar_t*>(1);
    wchar_t* user = reinterpret_cast<wchar_t*>(1);
    ASSERT_TRUE(IsOK(object.QueryUserAccountFromSCM(&domain, &user)));
    EXPECT_STREQ(L"LocalSystem", user);
    EXPECT_EQ(nullptr, domain);
    HeapFree(GetProcessHeap(), 0, user);

    ASSERT_TRUE(IsOK(object.ChangeUserAccount(nullptr, L"qlibuser", L"pw")));
    EXPECT_EQ(L".\\qlibuser", ConfiguredStartName(service));
    ASSERT_TRUE(IsOK(object.QueryUserAccountFromSCM(&domain, &user)));
    EXPECT_STREQ(L".", domain);
    EXPECT_STREQ(L"qlibuser", user);
    HeapFree(GetProcessHeap(), 0, domain);
    HeapFree(GetProcessHeap(), 0, user);

    ASSERT_TRUE(IsOK(object.ChangeUserAccount(L"CORP\\EMEA", L"qlibuser", L"pw")));
    ASSERT_TRUE(IsOK(object.QueryUserAccountFromSCM(&domain, &user)));
    EXPECT_STREQ(L"CORP\\EMEA", domain);
    EXPECT_STREQ(L"qlibuser", user);
    HeapFree(GetProcessHeap(), 0, domain);
    HeapFree(GetProcessHeap(), 0, user);
}

TEST_F(QLibServiceAccount, ConfiguredSidOfAnUnknownAccountFails)
{
    QLibService object(service.Name(), SERVICE_ALL_ACCESS, nullptr);
    ASSERT_TRUE(IsOK(object.ChangeUserAccount(L"QLIBNODOMAIN", L"qlibnosuchuser", L"pw")));
    ThreadTrace trace;
    PSID sid = reinterpret_cast<PSID>(1);
    QLibStatus status = object.QueryUserSIDFromSCM(&sid);
    EXPECT_TRUE(IsStatus(status, QLIB_ERR_WIN32, ERROR_NONE_MAPPED));
    EXPECT_EQ(nullptr, sid);
    EXPECT_TRUE(trace.Has("QLibService::QueryUserSIDFromSCM",
                          L"Failed to lookup the account name 'QLIBNODOMAIN\\qlibnosuchuser'. Error = 1332."));
}

TEST_F(QLibServiceAccount, ConfiguredSidOfAWellKnownAccount)
{
    QLibService object(service.Name(), SERVICE_ALL_ACCESS, nullptr);
    ASSERT_TRUE(IsOK(object.ChangeUserAccount(nullptr, L"NetworkService", nullptr)));
    PSID sid = nullptr;
    ASSERT_TRUE(IsOK(object.QueryUserSIDFromSCM(&sid)));
    ASSERT_NE(nullptr, sid);
    EXPECT_TRUE(IsWellKnownSid(sid, WinNetworkServiceSid));
    HeapFree(GetProcessHeap(), 0, sid);
}

TEST_F(QLibServiceAccount, RunningAccountIsTheAccountOfTheServiceProcess)
{
    QLibService object(service.Name(), SERVICE_ALL_ACCESS, nullptr);
    ThreadTrace trace;
    wchar_t* domain = reinterpret_cast<wchar_t*>(1);
    wchar_t* user = reinterpret_cast<wchar_t*>(1);
    EXPECT_TRUE(
        IsStatus(object.QueryUserAccountFromRunningService(&domain, &user), QLIB_ERR_WIN32, ERROR_SERVICE_NOT_ACTIVE));
    EXPECT_EQ(nullptr, domain);
    EXPECT_EQ(nullptr, user);
    EXPECT_TRUE(trace.Has("QLibService::QueryUserAccountFromRunningService",
                          L"(1062) svc " + std::wstring(service.Name()) + L" is not running."));
    PSID sid = reinterpret_cast<PSID>(1);
    EXPECT_TRUE(IsStatus(object.QueryUserSidFromRunningService(&sid), QLIB_ERR_WIN32, ERROR_SERVICE_NOT_ACTIVE));
    EXPECT_EQ(nullptr, sid);

    // Every process here runs as the same user, so the service's account is ours.
    ASSERT_TRUE(service.StartRunning());
    HANDLE token = nullptr;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
    BYTE tokenUser[256] = {};
    DWORD size = 0;
    ASSERT_TRUE(GetTokenInformation(token, TokenUser, tokenUser, sizeof(tokenUser), &size));
    CloseHandle(token);
    PSID ownSid = reinterpret_cast<TOKEN_USER*>(tokenUser)->User.Sid;
    wchar_t ownUser[256] = {}, ownDomain[256] = {};
    DWORD userChars = 255, domainChars = 255;
    SID_NAME_USE use;
    ASSERT_TRUE(LookupAccountSidW(nullptr, ownSid, ownUser, &userChars, ownDomain, &domainChars, &use));

    ASSERT_TRUE(IsOK(object.QueryUserAccountFromRunningService(&domain, &user)));
    EXPECT_STREQ(ownDomain, domain);
    EXPECT_STREQ(ownUser, user);
    HeapFree(GetProcessHeap(), 0, domain);
    HeapFree(GetProcessHeap(), 0, user);
    ASSERT_TRUE(IsOK(object.QueryUserSidFromRunningService(&sid)));
    EXPECT_TRUE(EqualSid(ownSid, sid));
    HeapFree(GetProcessHeap(), 0, sid);
}

TEST(QLibServiceConfig, StartModeAndBinaryPathReadBack)
{
    TestService service;
    QLibService object(service.Name(), SERVICE_ALL_ACCESS, nullptr);
    ASSERT_TRUE(IsOK(object.ChangeStartMode(SERVICE_DISABLED)));
    std::wstring path = service.BinaryPath() + L" --stop-delay=10";
    ASSERT_TRUE(IsOK(object.ChangeBinaryPath(path.c_str())));
    QUERY_SERVICE_CONFIGW* config = nullptr;
    ASSERT_TRUE(IsOK(object.QueryConfig(&config)));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_DISABLED), config->dwStartType);
    EXPECT_EQ(path, config->lpBinaryPathName);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS), config->dwServiceType) << "the rest stays as it was";
    EXPECT_STREQ(L"LocalSystem", config->lpServiceStartName);
    HeapFree(GetProcessHeap(), 0, config);
    EXPECT_TRUE(IsStatus(object.Start(), QLIB_ERR_WIN32, ERROR_SERVICE_DISABLED));

    ThreadTrace trace;
    EXPECT_TRUE(IsStatus(object.ChangeBinaryPath(nullptr), QLIB_ERR_WIN32, ERROR_FILE_NOT_FOUND));
    EXPECT_TRUE(trace.Has("QLibService::ChangeBinaryPath", L"(2) Binary path name not specified."));
    EXPECT_TRUE(IsStatus(object.ChangeStartMode(77), QLIB_ERR_WIN32, ERROR_INVALID_PARAMETER));
    EXPECT_TRUE(trace.Has("QLibService::ChangeStartMode", L"(87) ChangeServiceConfig failed. Start mode = 77"));
}

// The service key's "Environment" value, read and written directly.
class QLibServiceEnvironment : public ::testing::Test {
protected:
    std::wstring KeyPath() const { return std::wstring(L"System\\CurrentControlSet\\Services\\") + service.Name(); }

    void Store(DWORD type, const void* data, DWORD bytes)
    {
        ASSERT_EQ(ERROR_SUCCESS,
                  RegSetKeyValueW(HKEY_LOCAL_MACHINE, KeyPath().c_str(), L"Environment", type, data, bytes));
    }
    void StoreStrings(const std::vector<std::wstring>& strings)
    {
        std::wstring block;
        for (const auto& text : strings)
            block += text + L'\0';
        block += L'\0';
        Store(REG_MULTI_SZ, block.data(), static_cast<DWORD>(block.size() * sizeof(wchar_t)));
    }
    std::set<std::wstring> Stored() const
    {
        wchar_t data[2048] = {};
        DWORD bytes = sizeof(data) - 2 * sizeof(wchar_t);
        std::set<std::wstring> strings;
        if (RegGetValueW(HKEY_LOCAL_MACHINE, KeyPath().c_str(), L"Environment", RRF_RT_REG_MULTI_SZ, nullptr, data,
                         &bytes)
            != ERROR_SUCCESS)
            return strings;
        for (const wchar_t* entry = data; *entry; entry += wcslen(entry) + 1)
            strings.insert(entry);
        return strings;
    }

    TestService service;
    QLibService object{service.Name(), SERVICE_ALL_ACCESS, nullptr};
};

TEST_F(QLibServiceEnvironment, VirtualNameEnvironmentHoldsTheFiveVariablesOnly)
{
    ASSERT_TRUE(IsOK(object.SetVirtualNameEnvironment(L"SAPVHOST")));
    wchar_t domain[261] = {};
    DWORD chars = 260;
    GetComputerNameExW(ComputerNamePhysicalDnsDomain, domain, &chars);
    std::wstring dns = domain;
    std::set<std::wstring> expected = {L"COMPUTERNAME=SAPVHOST", L"_CLUSTER_NETWORK_NAME_=SAPVHOST",
                                       L"_CLUSTER_NETWORK_HOSTNAME_=SAPVHOST", L"_CLUSTER_NETWORK_DOMAIN_=" + dns,
                                       L"_CLUSTER_NETWORK_FQDN_=SAPVHOST." + dns};
    EXPECT_EQ(expected, Stored());

    EXPECT_EQ(1u, object.VNameMatched(L"sapvhost"));
    EXPECT_EQ(0u, object.VNameMatched(L"SAPVHOST2"));
    ASSERT_TRUE(IsOK(object.RemoveVirtualNameEnvironment()));
    EXPECT_EQ(0u, object.VNameMatched(L"SAPVHOST"));

    ThreadTrace trace;
    EXPECT_TRUE(IsStatus(object.RemoveVirtualNameEnvironment(), QLIB_ERR_WIN32, ERROR_FILE_NOT_FOUND));
    EXPECT_TRUE(trace.Has("QLibService::RemoveVirtualNameEnvironment",
                          L"(2) Failed to delete the registry value 'Environment'."));
}

// The library finds RtlSetEnvironmentVariable through GetProcAddress once per process, for every later call: the
// program answers it with this stand-in from the start, which passes on to ntdll unless a case makes it refuse for
// want of memory.
using SetVariableFn = NTSTATUS(NTAPI*)(PVOID*, PUNICODE_STRING, PUNICODE_STRING);
const auto g_ntdllSetVariable = reinterpret_cast<SetVariableFn>(
    reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlSetEnvironmentVariable")));
bool g_refuseVariables = false;

NTSTATUS NTAPI SetVariable(PVOID* block, PUNICODE_STRING name, PUNICODE_STRING value)
{
    return g_refuseVariables ? static_cast<NTSTATUS>(0xC0000017) : g_ntdllSetVariable(block, name, value);
}

ProcAddressHook g_procAddress(GetModuleHandleW(nullptr));
const bool g_answering = [] {
    g_procAddress.Answer("RtlSetEnvironmentVariable", reinterpret_cast<const void*>(&SetVariable));
    return true;
}();

struct RefusedVariables {
    RefusedVariables() { g_refuseVariables = true; }
    ~RefusedVariables() { g_refuseVariables = false; }
};

TEST_F(QLibServiceEnvironment, RefusedVariableFailsTheWriteAndStoresNothing)
{
    RefusedVariables refused;
    ThreadTrace trace;
    EXPECT_TRUE(IsStatus(object.SetVirtualNameEnvironment(L"SAPVHOST"), QLIB_ERR_WIN32, ERROR_NOT_ENOUGH_MEMORY));
    EXPECT_TRUE(trace.Has("QLibService::SetVirtualNameEnvironment", L"(8) Failed to set the variable COMPUTERNAME."));
    EXPECT_TRUE(Stored().empty());
}

// Without a service the object has no key: the key of all services is neither written, read nor emptied.
TEST(QLibServiceWithoutService, EnvironmentOperationsFailAndTouchNothing)
{
    const wchar_t* services = L"System\\CurrentControlSet\\Services";
    const std::wstring planted = std::wstring(L"COMPUTERNAME=vh") + L'\0' + L"_CLUSTER_NETWORK_NAME_=vh" + L'\0'
        + L"_CLUSTER_NETWORK_HOSTNAME_=vh" + L'\0' + L'\0';
    using Emptying = void (*)(QLibService&);
    const struct {
        const char* how;
        Emptying empty;
    } rows[] = {
        {"Close", [](QLibService& object) { (void)object.Close(); }},
        {"Detach", [](QLibService& object) { CloseServiceHandle(static_cast<SC_HANDLE>(object.Detach())); }},
        {"DeleteService", [](QLibService& object) { (void)object.DeleteService(); }},
        {"failed Open",
         [](QLibService& object) { (void)object.Open(L"QLibNoSuchService", SERVICE_ALL_ACCESS, nullptr); }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.how);
        TestService service;
        QLibService object(service.Name(), SERVICE_ALL_ACCESS, nullptr);
        row.empty(object);
        ASSERT_EQ(ERROR_SUCCESS,
                  RegSetKeyValueW(HKEY_LOCAL_MACHINE, services, L"Environment", REG_MULTI_SZ, planted.data(),
                                  static_cast<DWORD>(planted.size() * sizeof(wchar_t))));
        EXPECT_TRUE(IsStatus(object.SetVirtualNameEnvironment(L"other"), QLIB_ERR_DNS, 1));
        EXPECT_EQ(0u, object.VNameMatched(L"vh"));
        EXPECT_TRUE(IsStatus(object.RemoveVirtualNameEnvironment(), QLIB_ERR_DNS, 1));
        wchar_t stored[256] = {};
        DWORD bytes = sizeof(stored);
        RegGetValueW(HKEY_LOCAL_MACHINE, services, L"Environment", RRF_RT_REG_MULTI_SZ, nullptr, stored, &bytes);
        EXPECT_EQ(planted, std::wstring(stored, bytes / sizeof(wchar_t)));
        RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, services, L"Environment");
    }
}

TEST_F(QLibServiceEnvironment, VirtualNameMustCarryAllThreeNames)
{
    StoreStrings({L"COMPUTERNAME=vh", L"_CLUSTER_NETWORK_NAME_=vh", L"_CLUSTER_NETWORK_HOSTNAME_=other"});
    EXPECT_EQ(0u, object.VNameMatched(L"vh"));
    StoreStrings({L"no equals sign", L"computername=VH", L"=odd", L"_cluster_network_name_=vh",
                  L"_CLUSTER_NETWORK_HOSTNAME_=Vh", L"PATH=vh"});
    EXPECT_EQ(1u, object.VNameMatched(L"vh"));
}

TEST_F(QLibServiceEnvironment, StoredValueOfAnyShapeIsReadWithinItsBytes)
{
    // Neither the last string nor the list is terminated, and the byte count is odd.
    std::wstring open = std::wstring(L"COMPUTERNAME=vh") + L'\0' + L"_CLUSTER_NETWORK_NAME_=vh" + L'\0'
        + L"_CLUSTER_NETWORK_HOSTNAME_=vh";
    Store(REG_MULTI_SZ, open.data(), static_cast<DWORD>(open.size() * sizeof(wchar_t)));
    EXPECT_EQ(1u, object.VNameMatched(L"vh"));
    Store(REG_MULTI_SZ, open.data(), static_cast<DWORD>(open.size() * sizeof(wchar_t) - 1));
    EXPECT_EQ(0u, object.VNameMatched(L"vh")) << "the last value is cut to 'v'";
    Store(REG_MULTI_SZ, open.data(), 0);
    EXPECT_EQ(0u, object.VNameMatched(L"vh"));

    ThreadTrace trace;
    Store(REG_SZ, L"COMPUTERNAME=vh", 32);
    EXPECT_EQ(0u, object.VNameMatched(L"vh"));
    EXPECT_TRUE(trace.Has("QLibService::VNameMatched",
                          L"(13) Failed to get data from the Environment registry key '" + KeyPath() + L"'."));
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, KeyPath().c_str(), L"Environment");
    EXPECT_EQ(0u, object.VNameMatched(L"vh"));
    EXPECT_TRUE(trace.Has("QLibService::VNameMatched", L"(2) Failed to get data from the Environment registry key"));
}

} // namespace
