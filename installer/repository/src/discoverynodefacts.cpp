// Node facts: the values of a node's own key, its folders, system, drives and network cards.

#include "discoveryinfo.h"

#include <cwchar>

#include "discoveryreading.h"

using namespace discoveryReading;

namespace {

int32_t architectureOf(int32_t processor)
{
    if (processor == 6)
        return 2;
    if (processor == 9 || processor == 10)
        return 3;
    return 1;
}

} // namespace

RepositoryKey* DiscoveryInfo::nodeChild(const wchar_t* function, const wchar_t* name, const wchar_t* missing) const
{
    if (!nodeKey) {
        DISCOVERY_LOG(function, kNoSysKey);
        return nullptr;
    }
    RepositoryKey* child = nodeKey->getSubKey(name);
    if (!child && missing)
        DISCOVERY_LOG(function, missing);
    return child;
}

std::wstring DiscoveryInfo::nodeText(const wchar_t* function, const wchar_t* name) const
{
    ScopeTracer tracer(function, &g_logger);
    if (!nodeKey) {
        KITO_LOG_DEBUG(LOG_DBG_1, tracer, kNoSysKey);
        return std::wstring();
    }
    return textOf(*nodeKey, name);
}

void DiscoveryInfo::setNodeText(const wchar_t* function, const wchar_t* name, const std::wstring& text)
{
    ScopeTracer tracer(function, &g_logger);
    if (!nodeKey) {
        KITO_LOG_DEBUG(LOG_DBG_1, tracer, kNoSysKey);
        return;
    }
    nodeKey->addValue(name);
    nodeKey->setStringValue(name, text);
}

int32_t DiscoveryInfo::UserIsAdmin() const
{
    return nodeText(L"DiscoveryInfo::UserIsAdmin", L"AdminAccount") == L"TRUE" ? 1 : 0;
}

int32_t DiscoveryInfo::IsSelected() const
{
    return nodeText(L"DiscoveryInfo::IsSelected", L"IsSelected") == L"TRUE" ? 1 : 0;
}

void DiscoveryInfo::SetSelected(int32_t flag)
{
    setNodeText(L"DiscoveryInfo::SetSelected", L"IsSelected", flag != 0 ? L"TRUE" : L"FALSE");
}

std::wstring DiscoveryInfo::GetInstallFolder() const
{
    return nodeText(L"DiscoveryInfo::GetInstallFolder", L"InstallDir");
}

void DiscoveryInfo::SetInstallFolder(const std::wstring& folder)
{
    setNodeText(L"DiscoveryInfo::SetInstallFolder", L"InstallDir", folder);
}

std::wstring DiscoveryInfo::GetCurrentLanguage() const
{
    return nodeText(L"DiscoveryInfo::GetCurrentLanguage", L"Language");
}

std::wstring DiscoveryInfo::GetCurrentLocale() const
{
    return nodeText(L"DiscoveryInfo::GetCurrentLocale", L"Locale");
}

std::wstring DiscoveryInfo::GetCommonAppDataFolder() const
{
    return nodeText(L"DiscoveryInfo::GetCommonAppDataFolder", L"CommonAppDataDirProp");
}

std::wstring DiscoveryInfo::GetSystemDrive() const
{
    return nodeText(L"DiscoveryInfo::GetSystemDrive", L"OSDrive");
}

int32_t DiscoveryInfo::GetDriverSigningSetting() const
{
    return decimalOf(nodeText(L"DiscoveryInfo::GetDriverSigningSetting", L"DriverSigning"));
}

std::wstring DiscoveryInfo::folderText(const wchar_t* function, int32_t selector, const wchar_t* name32,
                                       const wchar_t* name64, const wchar_t* message32, const wchar_t* message64) const
{
    ScopeTracer tracer(function, &g_logger);
    if (!nodeKey) {
        KITO_LOG_DEBUG(LOG_DBG_1, tracer, kNoSysKey);
        return std::wstring();
    }
    if (selector != Folder32 && selector != Folder64)
        return std::wstring();
    const std::wstring folder = textOf(*nodeKey, selector == Folder32 ? name32 : name64);
    KITO_LOG_DEBUG(LOG_DBG_1, tracer, selector == Folder32 ? message32 : message64, folder.c_str());
    return folder;
}

std::wstring DiscoveryInfo::GetCommonFilesFolder(int32_t selector) const
{
    return folderText(L"DiscoveryInfo::GetCommonFilesFolder", selector, L"CommonFilesDir(x86)", L"CommonFilesDir",
                      L"Common files dir for x86 is %s\n", L"Common files dir for 64 is %s\n");
}

std::wstring DiscoveryInfo::GetProgramFilesFolder(int32_t selector) const
{
    return folderText(L"DiscoveryInfo::GetProgramFilesFolder", selector, L"ProgramFilesDir(x86)", L"ProgramFilesDir",
                      L"Program files dir for x86 is %s\n", L"Program files dir for 64 is %s\n");
}

OSInfo DiscoveryInfo::GetOSDetails(int32_t serverFlag) const
{
    ScopeTracer tracer(L"DiscoveryInfo::GetOSDetails", &g_logger);
    OSInfo record;
    const RepositoryKey* os = nodeKey ? nodeKey->getSubKey(L"OS") : nullptr;
    if (!os) {
        if (nodeKey)
            KITO_LOG_DEBUG(LOG_DBG_1, tracer, L"OS Key is not found\n");
        return record;
    }
    os->getStringValue(L"Name", record.name);
    os->getIntValue(L"MajorVersion", record.majorVersion);
    os->getIntValue(L"MinorVersion", record.minorVersion);
    os->getIntValue(L"ServicePackMajorVersion", record.servicePackMajorVersion);
    setOSLevel(record, intOf(*os, L"Value"), serverFlag);
    record.architecture = architectureOf(intOf(*os, L"ProcessorArchitecture"));
    return record;
}

std::vector<DriveInfo> DiscoveryInfo::GetDriveDetails() const
{
    ScopeTracer tracer(L"DiscoveryInfo::GetDriveDetails", &g_logger);
    std::vector<DriveInfo> drives;
    const RepositoryKey* disks = nodeChild(L"DiscoveryInfo::GetDriveDetails", L"Disks", L"DISKS_KEY is not found\n");
    if (!disks)
        return drives;
    for (const RepositoryKey* disk : disks->subKeys()) {
        DriveInfo drive;
        drive.name = disk->name();
        drive.totalSpace = _wcstoi64(textOf(*disk, L"DiskSpaceTotal").c_str(), nullptr, 10);
        drive.freeSpace = _wcstoi64(textOf(*disk, L"DiskSpaceAvail").c_str(), nullptr, 10);
        drives.push_back(drive);
    }
    return drives;
}

std::vector<NICInfo> DiscoveryInfo::GetNICs() const
{
    ScopeTracer tracer(L"DiscoveryInfo::GetNICs", &g_logger);
    std::vector<NICInfo> cards;
    const RepositoryKey* nics = nodeChild(L"DiscoveryInfo::GetNICs", L"NICS", L"NICS_KEY is not found\n");
    if (!nics)
        return cards;
    for (const RepositoryKey* nic : nics->subKeys())
        cards.push_back({textOf(*nic, L"IP"), textOf(*nic, L"Subnet"), textOf(*nic, L"NetworkName")});
    return cards;
}
