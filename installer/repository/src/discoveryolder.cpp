// Older layouts and update packs of a node, and the names of its operating system.

#include "discoveryinfo.h"

#include "discoveryreading.h"

using namespace discoveryReading;

namespace {

struct OsName {
    uint32_t server;
    uint32_t workstation;
};

// Message ids of the OS names by code 1 to 12; anything else is the unknown system.
const OsName kOsNames[] = {
    {0x4008000C, 0x40080016}, {0x4008000B, 0x40080016}, {0x40080001, 0x40080015}, {0x40080002, 0x40080015},
    {0x40080003, 0x40080015}, {0x40080004, 0x40080015}, {0x40080005, 0x40080014}, {0x40080006, 0x40080014},
    {0x40080008, 0x40080013}, {0x40080007, 0x40080013}, {0x40080009, 0x40080013}, {0x4008000A, 0x40080013},
};
const int32_t kUnknownOs = 13;
const uint32_t kUnknownOsName = 0x4008000D;

} // namespace

std::vector<SolutionInfo> DiscoveryInfo::GetKito40Solutions() const
{
    ScopeTracer tracer(L"DiscoveryInfo::GetKito40Solutions", &g_logger);
    std::vector<SolutionInfo> records;
    const RepositoryKey* osmark = getOsmarkKey();
    const RepositoryKey* kito = osmark ? osmark->getSubKey(L"Kito") : nullptr;
    const RepositoryKey* groups = kito ? kito->getSubKey(L"Solutions") : nullptr;
    if (!groups)
        return records;
    for (const RepositoryKey* group : groups->subKeys()) {
        for (const RepositoryKey* solution : group->subKeys()) {
            SolutionInfo record;
            record.solutionId = group->name() + L"." + solution->name();
            record.version = textOf(*kito, L"Version");
            record.installLocation = textOf(*kito, L"InstallLocation");
            record.installedLanguage = textOf(*kito, L"InstalledLanguage");
            record.displayTitle = textOf(*group, L"DisplayTitle");
            records.push_back(record);
            KITO_LOG_DEBUG(LOG_DBG_1, tracer, L"Found solution %s", record.displayTitle.c_str());
        }
    }
    return records;
}

std::vector<SolutionInfo> DiscoveryInfo::GetKitoInstalledMPs(const std::wstring& release) const
{
    ScopeTracer tracer(L"DiscoveryInfo::GetKitoInstalledMPs", &g_logger);
    std::vector<SolutionInfo> records;
    if (!nodeKey)
        return records;
    const RepositoryKey* packs = nullptr;
    if (!release.empty()) {
        packs = releaseKey(nodeKey, release, L"MaintenancePacks");
    } else if (const RepositoryKey* osmark = getOsmarkKey()) {
        const RepositoryKey* kito = osmark->getSubKey(L"Kito");
        if (!kito) {
            KITO_LOG_DEBUG(LOG_DBG_1, tracer, L"Kito key is not found");
            return records;
        }
        for (const RepositoryKey* child : kito->subKeys()) {
            if ((packs = child->getSubKey(L"MaintenancePacks")) != nullptr)
                break;
        }
    }
    if (!packs) {
        KITO_LOG_DEBUG(LOG_DBG_1, tracer, L"MaintenancePack key is not found");
        return records;
    }
    std::vector<RepositoryKey*> lists;
    addMaintenancePackLists(packs, lists);
    if (lists.empty())
        KITO_LOG_DEBUG(LOG_DBG_1, tracer, kNoSolutionsKey);
    const SolutionReading reading = {L"DiscoveryInfo::GetKitoInstalledMPs", L"Found MP %s",
                                     L"Found installed os info for MP %s", false};
    for (const RepositoryKey* list : lists) {
        for (const RepositoryKey* child : list->subKeys())
            records.push_back(solutionRecord(*child, reading, false));
    }
    return records;
}

SolutionInfo DiscoveryInfo::GetInstalledSolutionInfo(const std::wstring& solutionId, const std::wstring& version) const
{
    ScopeTracer tracer(L"DiscoveryInfo::GetInstalledSolutionInfo", &g_logger);
    SolutionInfo found;
    eachInstalledSolution(std::wstring(), &solutionId, [&](const SolutionInfo& record) {
        if (!version.empty() && !equalsNoCase(record.version, version))
            return true;
        KITO_LOG_DEBUG(LOG_DBG_1, tracer, L"Found solution id %s\n", record.solutionId.c_str());
        found = record;
        return false;
    });
    return found;
}

int32_t DiscoveryInfo::IsInstalled(const std::wstring& id, const std::wstring& version,
                                   const std::wstring& servicePackVersion, const std::wstring& hotfixVersion,
                                   int32_t mode) const
{
    int32_t installed = IsSolutionInstalled(id, version, servicePackVersion, hotfixVersion, mode);
    return installed != 0 ? installed : ComponentExists(id, version, servicePackVersion, hotfixVersion, mode);
}

void DiscoveryInfo::setOSLevel(OSInfo& record, int32_t code, int32_t serverFlag)
{
    uint32_t message = kUnknownOsName;
    record.osCode = kUnknownOs;
    if (code >= 1 && code <= 12) {
        record.osCode = code;
        const OsName& names = kOsNames[code - 1];
        message = serverFlag != 0 ? names.server : names.workstation;
    }
    std::wstring name = formatMessage(message);
    while (!name.empty() && (name.back() == L'\n' || name.back() == L'\r'))
        name.pop_back();
    // Without a catalogue text the name the discoverer recorded is better than none.
    if (!name.empty())
        record.name = name;
}
