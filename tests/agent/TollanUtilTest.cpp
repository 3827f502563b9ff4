#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "ImportHook.h"
#include "LogonHook.h"
#include "ServiceTestSupport.h"
#include "TarnApiTest.h"
#include "TarnTestCluster.h"
#include "TollanAgent.h"
#include "TollanUtil.h"

namespace {

HMODULE Self()
{
    return GetModuleHandleW(nullptr);
}

std::wstring TempFolder()
{
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH - 1, temp);
    return temp;
}

// A file and a folder of the test's own, removed afterwards; the file's name holds a character above 255.
struct Paths {
    Paths()
    {
        std::wstring base = TempFolder() + L"tollanutil-" + std::to_wstring(GetCurrentProcessId());
        folder = base + L"-dir";
        file = base + L"-\u4e00.txt";
        CreateDirectoryW(folder.c_str(), nullptr);
        HANDLE h = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        CloseHandle(h);
    }
    ~Paths()
    {
        DeleteFileW(file.c_str());
        RemoveDirectoryW(folder.c_str());
    }
    std::wstring folder, file;
};

TEST(TollanUtilFiles, FilesAndDirectoriesOnRealPaths)
{
    Paths paths;
    const struct {
        std::wstring path;
        uint8_t file, directory;
    } rows[] = {
        {L"C:\\", 0, 1},           {L"C:\\windows", 0, 1},           {L"C:\\windows\\", 0, 1},
        {L"C:\\windows\\*", 0, 0}, {L"C:\\window?", 0, 0},           {paths.folder, 0, 1},
        {paths.file, 1, 0},        {paths.file + L"-missing", 0, 0}, {L"", 0, 0},
    };
    for (const auto& row : rows) {
        uint8_t file = 7, directory = 7;
        EXPECT_TRUE(IsOK(CTollanUtil::DoesExistFile(row.path, &file)));
        EXPECT_TRUE(IsOK(CTollanUtil::IsDirectory(row.path, &directory)));
        EXPECT_EQ(row.file, file) << std::string(row.path.begin(), row.path.end());
        EXPECT_EQ(row.directory, directory) << std::string(row.path.begin(), row.path.end());
    }
}

TEST(TollanUtilText, NullPathBeforeAndArchitecture)
{
    const struct {
        const wchar_t* text;
        uint8_t isNull;
    } nulls[] = {{L"", 1}, {L" ", 1}, {L"\t", 1}, {L"  ", 0}, {L"x", 0}};
    for (const auto& row : nulls) {
        uint8_t isNull = 7;
        EXPECT_TRUE(IsOK(CTollanUtil::IsNull(row.text, &isNull)));
        EXPECT_EQ(row.isNull, isNull) << row.text;
    }

    const struct {
        const wchar_t *path, *marker, *before;
    } cuts[] = {
        {L"C:\\usr\\sap\\PRD\\SYS", L"PRD", L"C:\\usr\\sap"},
        {L"c:\\usr\\sap\\prd\\sys\\exe\\run", L"PRD", L"c:\\usr\\sap"},
        {L"D:\\DATA\\usr\\sap\\DAT\\SYS\\exe\\run", L"DAT", L"D:\\DATA\\usr\\sap"},
        {L"D:\\usr\\sap\\DAT", L"DAT", L"D:\\usr\\sap"},
        {L"D:\\xDATx\\y", L"DAT", L"D:\\"},
        {L"PRD\\SYS", L"PRD", L"PRD\\SYS"},
        {L"C:\\usr\\sap\\QAS\\SYS", L"PRD", L""},
    };
    for (const auto& row : cuts)
        EXPECT_EQ(std::wstring(row.before), CTollanUtil::GetPathBefore(row.path, row.marker)) << row.path;

    const struct {
        std::vector<std::wstring> procMon;
        uint32_t arch;
    } archs[] = {
        {{L"disp+work.exe", L"JCONTROL.EXE"}, TOLLAN_ARCH_ADDIN},
        {{L"MSG_SERVER.EXE", L"DISP+WORK.EXE"}, TOLLAN_ARCH_ABAP},
        {{L"jcontrol.exe"}, TOLLAN_ARCH_JAVA},
        {{L"enserver.exe"}, TOLLAN_ARCH_NONE},
        {{}, TOLLAN_ARCH_NONE},
    };
    for (const auto& row : archs)
        EXPECT_EQ(row.arch, CTollanUtil::FindSAPArch(row.procMon));
}

// Kill: a child of the test, and redirects of the agent's OpenProcess and TerminateProcess.
struct KillRedirect {
    static HANDLE target;
    static BOOL inherit;
    static DWORD terminateError;
    static HANDLE WINAPI Open(DWORD, BOOL inheritHandle, DWORD)
    {
        inherit = inheritHandle;
        HANDLE copy = nullptr;
        DuplicateHandle(GetCurrentProcess(), target, GetCurrentProcess(), &copy, 0, FALSE, DUPLICATE_SAME_ACCESS);
        return copy;
    }
    static BOOL WINAPI Terminate(HANDLE, UINT)
    {
        SetLastError(terminateError);
        return FALSE;
    }
};
HANDLE KillRedirect::target = nullptr;
BOOL KillRedirect::inherit = TRUE;
DWORD KillRedirect::terminateError = 0;

PROCESS_INFORMATION StartChild(const std::wstring& arguments)
{
    std::wstring command = L"\"" + ProgramFolder() + L"testchild.exe\" " + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    EXPECT_TRUE(CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info));
    CloseHandle(info.hThread);
    return info;
}

TEST(TollanUtilKill, LiveVanishedAndUnkillableProcesses)
{
    ThreadTrace trace;
    PROCESS_INFORMATION live = StartChild(L"--sleep 30000");
    EXPECT_TRUE(IsOK(CTollanUtil::KillProcess(live.dwProcessId)));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(live.hProcess, 5000));

    // An id nobody has counts as killed.
    EXPECT_TRUE(IsOK(CTollanUtil::KillProcess(0x7FFFFFF0)));
    EXPECT_TRUE(trace.Has("CTollanUtil::KillProcess", L"Process with PID [2147483632] doesn't exist."));

    PROCESS_INFORMATION stubborn = StartChild(L"--sleep 30000");
    {
        ImportHook open(Self(), "OpenProcess", reinterpret_cast<void*>(&KillRedirect::Open));
        ImportHook terminate(Self(), "TerminateProcess", reinterpret_cast<void*>(&KillRedirect::Terminate));
        ASSERT_TRUE(open.Active() && terminate.Active());
        KillRedirect::terminateError = ERROR_ACCESS_DENIED;
        // A process that ended while its terminate failed is killed; one that still runs is not.
        KillRedirect::target = live.hProcess;
        EXPECT_TRUE(IsOK(CTollanUtil::KillProcess(live.dwProcessId)));
        EXPECT_FALSE(KillRedirect::inherit);
        KillRedirect::target = stubborn.hProcess;
        EXPECT_TRUE(IsStatus(CTollanUtil::KillProcess(stubborn.dwProcessId), QLIB_ERR_WIN32, ERROR_ACCESS_DENIED));
    }
    TerminateProcess(stubborn.hProcess, 0);
    CloseHandle(stubborn.hProcess);
    CloseHandle(live.hProcess);
}

// The profile check's identity changes, redirected where a test needs them to fail.
struct IdentityRedirect {
    static BOOL WINAPI Fail(...)
    {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
};

bool ThreadImpersonates()
{
    HANDLE token = nullptr;
    if (!OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token))
        return false;
    CloseHandle(token);
    return true;
}

TEST(TollanUtilProfile, NetworkProfileIsOpenedAsTheUserAndTheThreadNeverStaysImpersonating)
{
    Paths paths;
    std::wstring network = L"\\\\?\\" + paths.file;
    LogonHook logon(Self(), L"prdadm", L"VM", L"Secr3t!");
    ASSERT_TRUE(logon.Active());

    const struct {
        const char* failing[2];
        const wchar_t* password;
        uint32_t type, code;
        uint8_t exists;
    } rows[] = {
        {{}, L"Secr3t!", QLIB_ERR_NONE, 0, 1},
        {{}, L"wrong", QLIB_ERR_WIN32, ERROR_LOGON_FAILURE, 7},
        {{"ImpersonateLoggedOnUser"}, L"Secr3t!", QLIB_ERR_WIN32, ERROR_ACCESS_DENIED, 7},
        {{"RevertToSelf"}, L"Secr3t!", QLIB_ERR_NONE, 0, 1},
        {{"RevertToSelf", "SetThreadToken"}, L"Secr3t!", QLIB_ERR_WIN32, ERROR_ACCESS_DENIED, 7},
    };
    for (const auto& row : rows) {
        std::vector<std::unique_ptr<ImportHook>> failing;
        for (const char* name : row.failing)
            if (name != nullptr)
                failing.push_back(
                    std::make_unique<ImportHook>(Self(), name, reinterpret_cast<void*>(&IdentityRedirect::Fail)));
        uint8_t exists = 7;
        QLibStatus status = CTollanUtil::DoesExistInstProfile(network, L"prdadm", L"VM", row.password, &exists);
        bool impersonating = ThreadImpersonates();
        failing.clear();
        RevertToSelf();
        EXPECT_TRUE(IsStatus(status, row.type, row.code)) << (row.failing[0] ? row.failing[0] : "none");
        EXPECT_EQ(row.exists, exists);
        // Success is never reported while the thread is still the user.
        EXPECT_FALSE(status.IsOK() && impersonating);
    }
    uint8_t local = 7;
    EXPECT_TRUE(IsOK(CTollanUtil::DoesExistInstProfile(paths.file, L"nobody", L"", L"", &local)));
    EXPECT_EQ(1, local);
    EXPECT_EQ(5u, logon.Journal().size()); // a local path needs no logon
}

struct ErrorRedirect {
    static TarnError* WINAPI None() { return nullptr; }
};

TEST(TollanUtilCluster, ResourceTypesAndFailures)
{
    TarnTestCluster files("system N1\ntype Other\nresource ERS\n    Type = Tollan\nresource IP\n    Type = Other\n"
                          "resource BARE\n    Type = Tollan\nresource GONE\n    Type = Tollan\n"
                          "fail TarnResGetType BARE empty\nfail TarnResGetType GONE 0x2002\n");
    ASSERT_EQ(0, TarnApiInit(0, 0));
    g_TarnCluster = TarnClusterOpenLocal(0xFFFFFFFF, 0);
    ASSERT_NE(nullptr, g_TarnCluster.load());
    const struct {
        const wchar_t* name;
        uint32_t type, code;
        uint8_t exists;
    } rows[] = {
        {L"ERS", QLIB_ERR_NONE, 0, 1},       {L"IP", QLIB_ERR_NONE, 0, 0},
        {L"BARE", QLIB_ERR_NONE, 0, 0},      {L"GONE", QLIB_ERR_CLUSTER_API, 0x2002, 7},
        {L"ERS\u4e00", QLIB_ERR_NONE, 0, 0},
    };
    for (const auto& row : rows) {
        uint8_t exists = 7;
        EXPECT_TRUE(IsStatus(CTollanUtil::DoesExistTarnResource(row.name, &exists), row.type, row.code)) << row.name;
        EXPECT_EQ(row.exists, exists) << row.name;
    }
    {
        ImportHook noRecord(Self(), "TarnApiGetLastError", reinterpret_cast<void*>(&ErrorRedirect::None));
        ASSERT_TRUE(noRecord.Active());
        uint8_t exists = 7;
        EXPECT_TRUE(IsStatus(CTollanUtil::DoesExistTarnResource(L"MISSING", &exists), QLIB_ERR_CLUSTER_API, 0));
    }
    EXPECT_EQ(0, TarnClusterClose(g_TarnCluster.load(), 0));
    g_TarnCluster = nullptr;
    uint8_t exists = 7;
    EXPECT_TRUE(IsOK(CTollanUtil::DoesExistTarnResource(L"ERS", &exists)));
    EXPECT_EQ(0, exists);
    EXPECT_EQ(0, TarnApiExit(0));
    EXPECT_TRUE(files.JournalHas("unreleased 0"));
}

TEST(TollanUtilService, StartAndStopWithinTheTimeLeftAndNothingWithoutIt)
{
    TestService service;
    uint32_t running = 7;
    EXPECT_TRUE(IsStatus(CTollanUtil::StartService(service.Name(), 0), QLIB_ERR_WIN32, WAIT_TIMEOUT));
    EXPECT_TRUE(IsStatus(CTollanUtil::StartService(service.Name(), -5000), QLIB_ERR_WIN32, WAIT_TIMEOUT));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), service.State());
    // A budget beyond 49 days is clamped, never a wait without end.
    EXPECT_TRUE(IsOK(CTollanUtil::StartService(service.Name(), int64_t{1} << 40)));
    EXPECT_TRUE(IsOK(CTollanUtil::IsServiceRunning(service.Name(), &running)));
    EXPECT_EQ(1u, running);
    EXPECT_TRUE(IsStatus(CTollanUtil::StopService(service.Name(), 0), QLIB_ERR_WIN32, WAIT_TIMEOUT));
    EXPECT_TRUE(IsOK(CTollanUtil::StopService(service.Name(), 10000)));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), service.State());
    EXPECT_TRUE(IsStatus(CTollanUtil::IsServiceRunning(L"NoSuchService_Tollan", &running), QLIB_ERR_WIN32,
                         ERROR_SERVICE_DOES_NOT_EXIST));
}

} // namespace
