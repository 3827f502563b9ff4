#include "discoveryinfo.h"

#include <windows.h>

#include <cwchar>

#include "solution.h"
#include "kitorepository.h"
#include "logger.h"
#include "repositorykey.h"
#include "stringutils.h"

namespace {

const wchar_t kDefaultDomain[] = L"KITODOMAIN";
const wchar_t kKitoPath[] = L"Software\\Osmark\\Kito";
const wchar_t kNoSysKey[] = L"Sys Key is not found\n";
const wchar_t kNoSolutionsKey[] = L"Installed Solutions Key is not found\n";

#define DISCOVERY_LOG(function, ...) KITO_LOG_DEBUG_NAMED(LOG_DBG_1, (function), __VA_ARGS__)

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

// The key "Software\Osmark\Kito\<release>\<rest>" below the node; null for a release that is not one name.
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

// An empty given version is not compared; mode 0 equal ignoring case, mode 1 either contains the
// other (case-sensitive), any other mode accepts every version.
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

int32_t installStatusOf(const std::wstring& text)
{
    if (equalsNoCase(text, L"InProgress"))
        return InstallStatusInProgress;
    if (equalsNoCase(text, L"Complete"))
        return InstallStatusComplete;
    return InstallStatusUnknown;
}

// Maintenance packs are recorded either directly ("MaintenancePacks\Solutions") or per pack
// ("MaintenancePacks\<pack>\Solutions"): the direct layout when it holds solutions, else every pack's.
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

void fillUpdatePart(UpdatePartInfo& part, const RepositoryKey* key)
{
    if (!key)
        return;
    part.displayName = textOf(*key, L"DisplayName");
    part.version = textOf(*key, L"Version");
    part.installLocation = textOf(*key, L"InstallLocation");
    part.guid = textOf(*key, L"GUID");
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

// How one query reads a solution key: its messages, and whether it takes the cache path and child names.
struct SolutionReading {
    const wchar_t* function;
    const wchar_t* found;
    const wchar_t* foundOs;
    bool full;
};

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

int32_t architectureOf(int32_t processor)
{
    if (processor == 6)
        return 2;
    if (processor == 9 || processor == 10)
        return 3;
    return 1;
}

} // namespace

std::wstring DiscoveryInfo::domainKeyName(const std::wstring& domain)
{
    return domain.empty() ? std::wstring(kDefaultDomain) : domain;
}

bool DiscoveryInfo::isOneName(const std::wstring& name)
{
    return !name.empty() && name.find(L'\\') == std::wstring::npos;
}

bool DiscoveryInfo::isMachineName(const std::wstring& name)
{
    return isOneName(name) && name.find(L'/') == std::wstring::npos && name.find(L"..") == std::wstring::npos;
}

std::wstring DiscoveryInfo::nodeKeyPath(const std::wstring& domain, const std::wstring& node)
{
    if (!isOneName(node) || !isOneName(domainKeyName(domain)))
        return std::wstring();
    return L"Discovery\\" + domainKeyName(domain) + L"\\" + node;
}

int32_t DiscoveryInfo::CacheNodeInfo(const std::wstring& domain, const std::wstring& node)
{
    ScopeTracer tracer(L"Function CacheNodeInfo\n", &g_logger);
    const RepositoryKey* discovery = KitoDb ? KitoDb->getSubKey(L"Discovery") : nullptr;
    if (!discovery) {
        KITO_LOG_DEBUG(LOG_DBG_1, tracer, L"Discovery Key is not found\n");
        return NoDiscovery;
    }
    const RepositoryKey* domainKey = nullptr;
    if (!nodeKeyPath(domain, node).empty()) {
        domainKey = discovery->getSubKey(domainKeyName(domain));
        if (!domainKey) {
            KITO_LOG_DEBUG(LOG_DBG_1, tracer, L"Domain Key is not found.  Now look into default KitoDomain\n");
            domainKey = discovery->getSubKey(kDefaultDomain);
            if (!domainKey) {
                KITO_LOG_DEBUG(LOG_DBG_1, tracer, L"KITO_DOMAIN Key is also not found.\n");
                return NoDiscovery;
            }
        }
    }
    nodeKey = domainKey ? domainKey->getSubKey(node) : nullptr;
    if (!nodeKey) {
        KITO_LOG_DEBUG(LOG_DBG_1, tracer, L"Sys Key for node %s is also not found.\n", node.c_str());
        return NodeUnknown;
    }
    int32_t error = intOf(*nodeKey, L"DiscoveryErrorID");
    if (error != 0)
        return error;
    if (intOf(*nodeKey, L"Cached") == 1)
        return NodeCached;
    KITO_LOG_DEBUG(LOG_DBG_1, tracer, L"Sys Key for node %s is also not found.\n", node.c_str());
    return NodeUnknown;
}

void DiscoveryInfo::RemoveNode(const std::wstring& node, const std::wstring& domain)
{
    ScopeTracer tracer(L"Function RemoveNode\n", &g_logger);
    const RepositoryKey* discovery = KitoDb ? KitoDb->getSubKey(L"Discovery") : nullptr;
    if (!discovery) {
        KITO_LOG_DEBUG(LOG_DBG_1, tracer, L"Discovery Key is not found\n");
        return;
    }
    if (nodeKeyPath(domain, node).empty())
        return;
    const RepositoryKey* domainKey = discovery->getSubKey(domainKeyName(domain));
    if (!domainKey) {
        KITO_LOG_DEBUG(LOG_DBG_1, tracer, L"Domain Key is not found\n");
        return;
    }
    if (RepositoryKey* found = domainKey->getSubKey(node))
        RepositoryKey::releaseTree(found);
}

// ---- Installed solutions, options and components ----

std::vector<RepositoryKey*> DiscoveryInfo::installedSolutionKeys(const std::wstring& release, bool& alpha41) const
{
    const wchar_t* function = L"DiscoveryInfo::GetKitoInstalledSolutions";
    std::vector<RepositoryKey*> lists;
    if (!release.empty()) {
        lists.push_back(releaseKey(nodeKey, release, L"Solutions"));
        return lists;
    }
    const RepositoryKey* osmark = getOsmarkKey();
    const RepositoryKey* kito = osmark ? osmark->getSubKey(L"Kito") : nullptr;
    if (!osmark)
        DISCOVERY_LOG(function, L"Osmark Key is not found");
    else if (!kito)
        DISCOVERY_LOG(function, L"Kito Key is not found");
    if (kito) {
        for (const RepositoryKey* child : kito->subKeys()) {
            RepositoryKey* solutions = child->getSubKey(L"Solutions");
            if (hasChildren(solutions))
                lists.push_back(solutions);
            addMaintenancePackLists(child->getSubKey(L"MaintenancePacks"), lists);
            for (const wchar_t* update : {L"RollupPatches\\Solutions", L"AddOns\\Solutions"}) {
                if (RepositoryKey* more = child->getSubKey(update))
                    lists.push_back(more);
            }
        }
    }
    alpha41 = nodeKey->getSubKey(L"Software\\Osmark\\Kito41\\Solutions") != nullptr;
    return lists;
}

// Hands take each installed solution (of wantedId only, ignoring case, when given) in the order of
// GetKitoInstalledSolutions until take returns false. Keys of other ids are passed over unread.
template <class Take>
void DiscoveryInfo::eachInstalledSolution(const std::wstring& release, const std::wstring* wantedId, Take take) const
{
    const wchar_t* function = L"DiscoveryInfo::GetKitoInstalledSolutions";
    if (!nodeKey) {
        DISCOVERY_LOG(function, kNoSysKey);
        return;
    }
    auto wanted = [wantedId](const std::wstring& id) { return !wantedId || equalsNoCase(id, *wantedId); };
    if (release.empty()) {
        const std::vector<SolutionInfo> older = GetKito40Solutions();
        for (const SolutionInfo& record : older) {
            if (wanted(record.solutionId) && !take(record))
                return;
        }
        if (!older.empty())
            return;
    }
    const SolutionReading reading = {function, L"Found solution %s", L"Found installed os info for solution %s", true};
    bool alpha41 = false;
    for (const RepositoryKey* list : installedSolutionKeys(release, alpha41)) {
        if (!list) {
            DISCOVERY_LOG(function, kNoSolutionsKey);
            continue;
        }
        for (const RepositoryKey* child : list->subKeys()) {
            if (wanted(child->name()) && !take(solutionRecord(*child, reading, alpha41)))
                return;
        }
    }
}

std::vector<SolutionInfo> DiscoveryInfo::GetKitoInstalledSolutions(const std::wstring& release) const
{
    ScopeTracer tracer(L"DiscoveryInfo::GetKitoInstalledSolutions", &g_logger);
    std::vector<SolutionInfo> records;
    eachInstalledSolution(release, nullptr, [&records](const SolutionInfo& record) {
        records.push_back(record);
        return true;
    });
    return records;
}

std::vector<SolutionOptionInfo> DiscoveryInfo::GetKitoInstalledSolutionOptions(const std::wstring& release) const
{
    ScopeTracer tracer(L"DiscoveryInfo::GetKitoInstalledSolutionOptions", &g_logger);
    std::vector<SolutionOptionInfo> records;
    if (!nodeKey) {
        KITO_LOG_DEBUG(LOG_DBG_1, tracer, kNoSysKey);
        return records;
    }
    const RepositoryKey* options = nullptr;
    if (!release.empty()) {
        options = releaseKey(nodeKey, release, L"SolutionOptions");
    } else if (const RepositoryKey* osmark = getOsmarkKey()) {
        const RepositoryKey* kito = osmark->getSubKey(L"Kito");
        if (!kito)
            KITO_LOG_DEBUG(LOG_DBG_1, tracer, L"Kito Key is not found");
        else if (hasChildren(kito->getSubKey(L"SolutionOptions")))
            options = kito->getSubKey(L"SolutionOptions");
        else {
            for (const RepositoryKey* child : kito->subKeys()) {
                if (hasChildren(child->getSubKey(L"SolutionOptions"))) {
                    options = child->getSubKey(L"SolutionOptions");
                    break;
                }
            }
        }
    } else {
        KITO_LOG_DEBUG(LOG_DBG_1, tracer, L"Osmark Key is not found");
    }
    if (!options) {
        KITO_LOG_DEBUG(LOG_DBG_1, tracer, L"Installed Solution options Key is not found\n");
        return records;
    }
    for (const RepositoryKey* child : options->subKeys()) {
        SolutionOptionInfo record;
        record.name = child->name();
        record.displayTitle = textOf(*child, L"DisplayTitle");
        records.push_back(record);
    }
    return records;
}

int32_t DiscoveryInfo::IsSolutionInstalled(const std::wstring& solutionId, const std::wstring& version,
                                           const std::wstring& servicePackVersion, const std::wstring& hotfixVersion,
                                           int32_t mode) const
{
    ScopeTracer tracer(L"DiscoveryInfo::IsSolutionInstalled", &g_logger);
    int32_t installed = 0;
    eachInstalledSolution(std::wstring(), &solutionId, [&](const SolutionInfo& record) {
        bool found = true;
        if (!versionPasses(version, record.version, mode)) {
            // Mode 1 lets the first record of the id decide; mode 0 goes on to a later record.
            if (mode == MatchContains)
                return false;
            found = false;
        }
        if (!versionPasses(servicePackVersion, record.servicePack.version, mode)
            || !versionPasses(hotfixVersion, record.hotfix.version, mode))
            return false;
        installed = found ? 1 : 0;
        return !found;
    });
    return installed;
}

int32_t DiscoveryInfo::IsSolutionOptionInstalled(const std::wstring& name) const
{
    for (const SolutionOptionInfo& option : GetKitoInstalledSolutionOptions(std::wstring())) {
        if (equalsNoCase(option.name, name))
            return 1;
    }
    return 0;
}

std::vector<ComponentInfo> DiscoveryInfo::GetInstalledComponents() const
{
    ScopeTracer tracer(L"DiscoveryInfo::GetInstalledComponents", &g_logger);
    std::vector<ComponentInfo> records;
    const RepositoryKey* software = nodeChild(L"DiscoveryInfo::GetInstalledComponents", L"Software",
                                              L"SOFTWARE_KEY is not found\n");
    if (software) {
        for (const RepositoryKey* child : software->subKeys())
            records.push_back(componentRecord(*child));
    }
    return records;
}

ComponentInfo DiscoveryInfo::GetInstalledComponentInfo(const std::wstring& name, const std::wstring& version,
                                                       const std::wstring& servicePackVersion,
                                                       const std::wstring& hotfixVersion) const
{
    ScopeTracer tracer(L"DiscoveryInfo::GetInstalledComponentInfo", &g_logger);
    const RepositoryKey* software = nodeChild(L"DiscoveryInfo::GetInstalledComponentInfo", L"Software",
                                              L"SOFTWARE_KEY is not found\n");
    const RepositoryKey* component = software ? software->getSubKey(name) : nullptr;
    if (component && ComponentExists(name, version, servicePackVersion, hotfixVersion, MatchContains) == 1)
        return componentRecord(*component);
    return ComponentInfo();
}

int32_t DiscoveryInfo::ComponentExists(const std::wstring& guid) const
{
    ScopeTracer tracer(L"DiscoveryInfo::ComponentExists", &g_logger);
    if (!nodeKey)
        return 0;
    const RepositoryKey* software = nodeChild(L"DiscoveryInfo::ComponentExists", L"Software",
                                              L"SOFTWARE_KEY is not found\n");
    return software && !software->findSubKeysByStringValue(L"GUID", CompareEqual, guid).empty() ? 1 : 0;
}

int32_t DiscoveryInfo::ComponentExists(const std::wstring& name, const std::wstring& version,
                                       const std::wstring& servicePackVersion, const std::wstring& hotfixVersion,
                                       int32_t mode) const
{
    ScopeTracer tracer(L"DiscoveryInfo::ComponentExists", &g_logger);
    const RepositoryKey* software = nodeChild(L"DiscoveryInfo::ComponentExists", L"Software",
                                              L"Software Key is not found\n");
    if (!software)
        return 0;
    for (const RepositoryKey* child : software->subKeys()) {
        if (!equalsNoCase(child->name(), name))
            continue;
        auto partPasses = [&](const wchar_t* partName, const std::wstring& given) {
            const RepositoryKey* part = child->getSubKey(partName);
            return given.empty() || (part && versionPasses(given, textOf(*part, L"Version"), mode));
        };
        return versionPasses(version, textOf(*child, L"Version"), mode)
                && partPasses(L"SERVICEPACK", servicePackVersion) && partPasses(L"HOTFIX", hotfixVersion)
            ? 1
            : 0;
    }
    return 0;
}

RepositoryKey* DiscoveryInfo::getOsmarkKey() const
{
    return nodeKey ? nodeKey->getSubKey(L"Software\\Osmark") : nullptr;
}

// ---- Older layouts and update packs ----

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

// ---- Node facts ----

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

// ---- Further node queries ----

std::wstring DiscoveryInfo::GetLastError() const
{
    return nodeText(L"DiscoveryInfo::GetLastError", L"DiscoveryErrorMsg");
}

int32_t DiscoveryInfo::GetMachineType() const
{
    ScopeTracer tracer(L"DiscoveryInfo::GetMachineType", &g_logger);
    if (!nodeKey) {
        KITO_LOG_DEBUG(LOG_DBG_1, tracer, kNoSysKey);
        return 0;
    }
    int32_t type = intOf(*nodeKey, L"MachineType");
    KITO_LOG_DEBUG(LOG_DBG_1, tracer, L"Machine %s is a Proliant\n", nodeKey->name().c_str());
    return type;
}

std::vector<std::wstring> DiscoveryInfo::GetRunOnceEntries() const
{
    ScopeTracer tracer(L"DiscoveryInfo::GetRunOnceEntries", &g_logger);
    std::vector<std::wstring> entries;
    const RepositoryKey* groups = nodeChild(L"DiscoveryInfo::GetRunOnceEntries", L"RunEntries", nullptr);
    if (!groups)
        return entries;
    for (const RepositoryKey* group : groups->subKeys()) {
        for (const std::wstring& name : group->getValueNames())
            entries.push_back(name);
    }
    KITO_LOG_DEBUG(LOG_DBG_1, tracer, L"Found Run Entries Remained\n");
    return entries;
}

int32_t DiscoveryInfo::IsRunOnceEntryGone(const std::wstring& name) const
{
    for (const std::wstring& entry : GetRunOnceEntries()) {
        if (equalsNoCase(entry, name))
            return 0;
    }
    return 1;
}

ClusterInfo DiscoveryInfo::GetClusterDetails() const
{
    ScopeTracer tracer(L"DiscoveryInfo::GetClusterDetails", &g_logger);
    ClusterInfo cluster;
    const RepositoryKey* details = nodeChild(L"DiscoveryInfo::GetClusterDetails", L"ClusterDetails", nullptr);
    if (!details)
        return cluster;
    details->getStringValue(L"ID", cluster.clusterId);
    details->getStringValue(L"Name", cluster.clusterName);
    for (const RepositoryKey* node : details->subKeys()) {
        cluster.nodes.push_back(node->name());
        KITO_LOG_DEBUG(LOG_DBG_1, tracer, L"Found node %s configured in cluster \n", node->name().c_str());
    }
    details->getStringValue(L"ClusterName", cluster.clusterName);
    KITO_LOG_DEBUG(LOG_DBG_1, tracer, L"Found cluster name %s\n", cluster.clusterName.c_str());
    return cluster;
}

int32_t DiscoveryInfo::GetFreeDiskSpace(const std::wstring& path, uint64_t& freeBytes) const
{
    ScopeTracer tracer(L"DiscoveryInfo::GetFreeDiskSpace", &g_logger);
    if (!nodeKey) {
        KITO_LOG_DEBUG(LOG_DBG_1, tracer, kNoSysKey);
        return 1;
    }
    if (!isMachineName(nodeKey->name())) {
        KITO_LOG_DEBUG(LOG_DBG_1, tracer, L"Node name %s is not a machine name\n", nodeKey->name().c_str());
        return 1;
    }
    // A share root is only answered with its trailing backslash.
    const std::wstring share = L"\\\\" + nodeKey->name() + L"\\" + path.substr(0, 1) + L"$\\";
    ULARGE_INTEGER available = {};
    if (!GetDiskFreeSpaceExW(share.c_str(), &available, nullptr, nullptr)) {
        KITO_LOG_DEBUG(LOG_DBG_1, tracer, L"GetDiskFreeSpaceEx failed with error code. %0x",
                       static_cast<unsigned>(::GetLastError()));
        return 1;
    }
    freeBytes = available.QuadPart;
    return 0;
}

int32_t DiscoveryInfo::Is64BitNode() const
{
    const int32_t architecture = GetOSDetails(1).architecture;
    return architecture == 2 || architecture == 3 ? 1 : 0;
}

RepositoryKey* DiscoveryInfo::GetDiscoveryKey(const std::wstring& name) const
{
    ScopeTracer tracer(L"DiscoveryInfo::GetDiscoveryKey", &g_logger);
    return nodeKey ? nodeKey->getSubKey(L"Uninstall\\" + name) : nullptr;
}

// ---- Installed component lookup ----

RepositoryKey* DiscoveryInfo::GetInstalledComponent(const std::wstring& productId, const std::wstring& release,
                                                    int32_t kind) const
{
    ScopeTracer tracer(L"DiscoveryInfo::GetInstalledComponent", &g_logger);
    // Without a root there is no release of its own to read.
    const std::wstring chosen = !release.empty() ? release : KitoDb ? KitoDb->getGuid() : std::wstring();
    if (!nodeKey || !isOneName(productId))
        return nullptr;
    std::wstring update;
    getUpdateKindSubKey(update, kind);
    RepositoryKey* component = releaseKey(nodeKey, chosen, (update + L"Components\\" + productId).c_str());
    return hasChildren(component) ? component : nullptr;
}

bool DiscoveryInfo::IsComponentPresent(const std::wstring& productId, const std::wstring& release, int32_t kind,
                                       const std::wstring& expectedGuid) const
{
    const RepositoryKey* component = GetInstalledComponent(productId, release, kind);
    if (!component)
        return false;
    return expectedGuid.empty() || equalsNoCase(textOf(*component, L"Guid"), expectedGuid);
}
