#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "ImportHook.h"
#include "InstallerTestSupport.h"
#include "kitorepository.h"
#include "logger.h"
#include "registryhelper.h"

namespace {

using installertest::PrivateLocalMachine;
using installertest::ScratchDir;

const wchar_t KitoKey[] = L"SOFTWARE\\Osmark\\Kito";
std::wstring g_appData;

void WINAPI fixedLocalTime(SYSTEMTIME* time)
{
    *time = {};
    time->wYear = 2006;
    time->wMonth = 3;
    time->wDay = 7;
    time->wDayOfWeek = 2;
    time->wHour = 14;
    time->wMinute = 5;
    time->wSecond = 9;
}

HRESULT WINAPI scratchAppData(HWND, int folder, HANDLE, DWORD, wchar_t* path)
{
    if (folder != CSIDL_COMMON_APPDATA)
        return E_INVALIDARG;
    wcscpy(path, g_appData.c_str());
    return S_OK;
}

std::wstring logPath()
{
    wchar_t text[MAX_PATH] = {};
    RegistryHelper registry;
    registry.Reg_ReadStringItem(HKEY_LOCAL_MACHINE, KitoKey, L"LogPath", text, MAX_PATH, KEY_READ);
    return text;
}

// The local time and the application-data folder pinned, HKEY_LOCAL_MACHINE private, the logger
// closed again at the end.
class InstallerLog : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_appData = scratch.path();
        ASSERT_TRUE(clock.Active());
        ASSERT_TRUE(shell.Active());
    }
    void TearDown() override { g_logger.init(L"", 13, L"", 5); }

    std::wstring stampedFolder() const { return scratch.path() + L"\\Osmark\\Kito\\log\\03_07_2006 14.05.09"; }

    ScratchDir scratch;
    PrivateLocalMachine machine;
    ImportHook clock{GetModuleHandleW(nullptr), "GetLocalTime", reinterpret_cast<const void*>(&fixedLocalTime)};
    ImportHook shell{GetModuleHandleW(nullptr), "SHGetFolderPathW", reinterpret_cast<const void*>(&scratchAppData)};
};

TEST_F(InstallerLog, StartTimeInTheInstallersLanguage)
{
    const std::pair<const wchar_t*, std::wstring> rows[] = {
        {nullptr, L"03_07_2006 14.05.09"}, {L"1033", L"03/07/2006 14:05:09"}, {L"1041", L"2006/03/07 14:05:09"},
        {L"2057", L"03/07/2006 14:05:09"}, {L"", L"03/07/2006 14:05:09"},     {nullptr, L"03_07_2006 14.05.09"},
    };
    std::wstring longLanguage(MAX_PATH, L'1');
    for (const auto& row : rows) {
        if (row.first)
            ASSERT_EQ(ERROR_SUCCESS, PrivateLocalMachine::setString(KitoKey, L"InstallerLanguage", row.first));
        else
            PrivateLocalMachine::setString(KitoKey, L"InstallerLanguage", longLanguage);
        std::wstring startTime;
        // The same second every time: the stamped folder is there already from the second call on.
        EXPECT_EQ(0u, initInstallerLog(L"install.log", startTime)) << (row.first ? row.first : L"unreadable");
        EXPECT_EQ(row.second, startTime) << (row.first ? row.first : L"unreadable");
    }
    EXPECT_EQ(stampedFolder(), logPath());
    EXPECT_TRUE(std::filesystem::exists(stampedFolder() + L"\\install.log"));
}

TEST_F(InstallerLog, EmptyFileNameLeavesTheLogClosedAndRecordsTheFolder)
{
    std::wstring startTime;
    EXPECT_EQ(0u, initInstallerLog(L"", startTime));
    EXPECT_EQ(L"03_07_2006 14.05.09", startTime);
    EXPECT_EQ(stampedFolder(), logPath());
    EXPECT_TRUE(std::filesystem::is_empty(stampedFolder()));
}

// Windows refuses a folder path of 248 characters or more (room for an 8.3 name); Wine does not.
BOOL WINAPI folderWithinWindowsLimit(const wchar_t* path, SECURITY_ATTRIBUTES* security)
{
    if (wcslen(path) >= MAX_PATH - 12) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return FALSE;
    }
    static const auto create = reinterpret_cast<decltype(&CreateDirectoryW)>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32"), "CreateDirectoryW")));
    return create(path, security);
}

TEST_F(InstallerLog, PathsBeyondTheLimitsAreRefusedBeforeAnythingIsMade)
{
    ImportHook folders(GetModuleHandleW(nullptr), "CreateDirectoryW",
                       reinterpret_cast<const void*>(&folderWithinWindowsLimit));
    ASSERT_TRUE(folders.Active());
    const std::wstring base = scratch.path();
    struct Row {
        size_t appDataChars;
        std::wstring fileName;
    };
    // The stamped folder adds 36 characters below the application-data folder: 276, 246 with a file
    // path of 266, and 250 with a file path of 256.
    const Row rows[] = {{240, L"install.log"}, {MAX_PATH - 50, L"a-log-file-name.log"}, {214, L"a.log"}};
    for (const Row& row : rows) {
        g_appData = base + L"\\" + std::wstring(row.appDataChars - base.size() - 1, L'x');
        ASSERT_TRUE(CreateDirectoryW(g_appData.c_str(), nullptr));
        std::wstring startTime = L"untouched";
        EXPECT_EQ(static_cast<uint32_t>(ERROR_FILENAME_EXCED_RANGE), initInstallerLog(row.fileName, startTime));
        EXPECT_EQ(L"untouched", startTime);
        EXPECT_FALSE(std::filesystem::exists(g_appData + L"\\Osmark")) << row.appDataChars;
        EXPECT_EQ(L"", logPath());
    }
}

} // namespace
