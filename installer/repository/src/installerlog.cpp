// The installer's per-run log folder below the machine's application-data folder.

#include <windows.h>
#include <shlobj.h>

#include <cstdlib>
#include <ctime>
#include <cwchar>

#include "kitorepository.h"
#include "logger.h"
#include "owners.h"
#include "registryhelper.h"
#include "stringutils.h"

namespace {

const wchar_t FolderStamp[] = L"%m_%d_%Y %H.%M.%S";
const size_t LanguageChars = MAX_PATH;
// A folder's path leaves room for an 8.3 file name below it: under 248 characters.
const size_t FolderChars = MAX_PATH - 12;
const size_t TimeChars = 128;
const int32_t InstallerCatalogue = 13;
const uint32_t InstallerLogLevel = 5;

std::wstring formatTime(const SYSTEMTIME& local, const wchar_t* format)
{
    std::tm parts = {};
    parts.tm_year = local.wYear - 1900;
    parts.tm_mon = local.wMonth - 1;
    parts.tm_mday = local.wDay;
    parts.tm_hour = local.wHour;
    parts.tm_min = local.wMinute;
    parts.tm_sec = local.wSecond;
    parts.tm_wday = local.wDayOfWeek;
    wchar_t text[TimeChars] = {};
    size_t length = wcsftime(text, TimeChars, format, &parts);
    return std::wstring(text, length);
}

// The display form of the time in the installer's language; null when the language cannot be read.
const wchar_t* displayFormat(const std::wstring& keyPath)
{
    wchar_t language[LanguageChars] = {};
    RegistryHelper registry;
    if (registry.Reg_ReadStringItem(HKEY_LOCAL_MACHINE, keyPath, L"InstallerLanguage", language, LanguageChars,
                                    KEY_ALL_ACCESS)
        != 0)
        return nullptr;
    return equalsNoCase(language, L"1041") ? L"%Y/%m/%d %H:%M:%S" : L"%m/%d/%Y %H:%M:%S";
}

// 0 when the folder was made or was there already.
uint32_t makeFolder(const std::wstring& path)
{
    if (CreateDirectoryW(path.c_str(), nullptr))
        return 0;
    DWORD error = GetLastError();
    return error == ERROR_ALREADY_EXISTS ? 0 : error;
}

} // namespace

uint32_t initInstallerLog(const std::wstring& logFileName, std::wstring& startTime)
{
    SYSTEMTIME now = {};
    GetLocalTime(&now);

    MallocOwner<wchar_t> keyPath;
    if (uint32_t result = GetRegKeyPath(L"", keyPath.put(), 1, 0, REG_PATH_KITO))
        return result;

    wchar_t appData[MAX_PATH] = {};
    HRESULT shell = SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, 0, appData);
    if (FAILED(shell))
        return static_cast<uint32_t>(shell);

    const std::wstring stamp = formatTime(now, FolderStamp);
    const std::wstring folder = std::wstring(appData) + L"\\Osmark\\Kito\\log\\" + stamp;
    const size_t fileChars = logFileName.empty() ? 0 : folder.size() + 1 + logFileName.size();
    if (folder.size() >= FolderChars || fileChars >= MAX_PATH)
        return ERROR_FILENAME_EXCED_RANGE;

    std::wstring level = appData;
    for (const wchar_t* name : {L"Osmark", L"Kito", L"log"}) {
        level = level + L"\\" + name;
        if (uint32_t result = makeFolder(level))
            return result;
    }
    startTime = stamp;
    if (const wchar_t* format = displayFormat(keyPath.get()))
        startTime = formatTime(now, format);
    if (uint32_t result = makeFolder(folder))
        return result;
    if (uint32_t result = g_logger.init(logFileName.c_str(), InstallerCatalogue, folder.c_str(), InstallerLogLevel))
        return result;
    RegistryHelper registry;
    return registry.Reg_WriteStringItem(HKEY_LOCAL_MACHINE, REG_SZ, keyPath.get(), L"LogPath", folder, KEY_ALL_ACCESS);
}
