// Installed solutions, options and components of a node.

#include "discoveryinfo.h"

#include "discoveryreading.h"

using namespace discoveryReading;

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
