#include "discoveryreading.h"

#include <cwchar>

namespace discoveryReading {

namespace {

const wchar_t kKitoPath[] = L"Software\\Osmark\\Kito";

int32_t installStatusOf(const std::wstring& text)
{
    if (equalsNoCase(text, L"InProgress"))
        return InstallStatusInProgress;
    if (equalsNoCase(text, L"Complete"))
        return InstallStatusComplete;
    return InstallStatusUnknown;
}

void fillUpdatePart(UpdatePartInfo& part, const RepositoryKey* key)
{
    if (!key)
        return;
    part.displayName = textOf(*key, L"DisplayName");
    part.version = textOf(*key, L"Version");
    part.installLocation = textOf(*key, L"InstallLocation");
    part.guid = textOf(*key, L"GUID");
}

void readSolutionOs(OSInfo& os, const RepositoryKey& key, const SolutionReading& reading, const std::wstring& title)
{
    DISCOVERY_LOG(reading.function, reading.foundOs, title.c_str());
    const std::wstring major = textOf(key, L"MajorVersion");
    const std::wstring minor = textOf(key, L"MinorVersion");
    const std::wstring value = textOf(key, L"Value");
    const std::wstring servicePack = textOf(key, L"ServicePackMajorVersion");
    DISCOVERY_LOG(reading.function, L"OS major version is %s", major.c_str());
    DISCOVERY_LOG(reading.function, L"OS minor version is %s", minor.c_str());
    DISCOVERY_LOG(reading.function, L"OS value is %s", value.c_str());
    DISCOVERY_LOG(reading.function, L"OS sp is %s", servicePack.c_str());
    os.majorVersion = decimalOf(major);
    os.minorVersion = decimalOf(minor);
    os.servicePackMajorVersion = decimalOf(servicePack);
    DiscoveryInfo::setOSLevel(os, decimalOf(value), 1);
}

} // namespace

std::wstring textOf(const RepositoryKey& key, const wchar_t* name)
{
    std::wstring text;
    key.getStringValue(name, text);
    return text;
}

int32_t intOf(const RepositoryKey& key, const wchar_t* name)
{
    int32_t number = 0;
    key.getIntValue(name, number);
    return number;
}

int32_t decimalOf(const std::wstring& text)
{
    return static_cast<int32_t>(std::wcstol(text.c_str(), nullptr, 10));
}

RepositoryKey* releaseKey(const RepositoryKey* node, const std::wstring& release, const wchar_t* rest)
{
    if (!node || !DiscoveryInfo::isOneName(release))
        return nullptr;
    return node->getSubKey(std::wstring(kKitoPath) + L"\\" + release + L"\\" + rest);
}

bool hasChildren(const RepositoryKey* key)
{
    return key && !key->subKeys().empty();
}

bool versionPasses(const std::wstring& given, const std::wstring& stored, int32_t mode)
{
    if (given.empty())
        return true;
    if (mode == DiscoveryInfo::MatchEqual)
        return equalsNoCase(given, stored);
    if (mode == DiscoveryInfo::MatchContains)
        return stored.find(given) != std::wstring::npos || given.find(stored) != std::wstring::npos;
    return true;
}

void addMaintenancePackLists(const RepositoryKey* packs, std::vector<RepositoryKey*>& lists)
{
    if (!packs)
        return;
    RepositoryKey* direct = packs->getSubKey(L"Solutions");
    if (hasChildren(direct)) {
        lists.push_back(direct);
        return;
    }
    for (const RepositoryKey* pack : packs->subKeys()) {
        RepositoryKey* solutions = pack == direct ? nullptr : pack->getSubKey(L"Solutions");
        if (solutions)
            lists.push_back(solutions);
    }
}

ComponentInfo componentRecord(const RepositoryKey& key)
{
    ComponentInfo record;
    record.name = key.name();
    record.displayName = textOf(key, L"DisplayName");
    record.version = textOf(key, L"Version");
    record.installLocation = textOf(key, L"InstallLocation");
    record.guid = textOf(key, L"GUID");
    fillUpdatePart(record.hotfix, key.getSubKey(L"HOTFIX"));
    fillUpdatePart(record.servicePack, key.getSubKey(L"SERVICEPACK"));
    return record;
}

SolutionInfo solutionRecord(const RepositoryKey& key, const SolutionReading& reading, bool alpha41)
{
    SolutionInfo record;
    record.solutionId = key.name();
    record.version = alpha41 ? L"4.1Alpha" : textOf(key, L"Version");
    record.installLocation = textOf(key, L"InstallLocation");
    record.guid = textOf(key, L"GUID");
    record.installedLanguage = textOf(key, L"InstalledLanguage");
    record.displayTitle = textOf(key, L"DisplayTitle");
    record.uninstallString = textOf(key, L"UninstallString");
    if (reading.full)
        record.cachePath = textOf(key, L"CachePath");
    DISCOVERY_LOG(reading.function, reading.found, record.displayTitle.c_str());
    if (const RepositoryKey* os = key.getSubKey(L"OS"))
        readSolutionOs(record.os, *os, reading, record.displayTitle);
    record.installStatus = installStatusOf(textOf(key, L"InstallStatus"));
    if (reading.full) {
        for (const RepositoryKey* child : key.subKeys())
            record.childNames.push_back(child->name());
    }
    return record;
}

} // namespace discoveryReading
