#pragma once
// What the discovery queries share: the texts and numbers of a node's keys, the records read from them
// and the lines they write. Used by the discovery's own sources only.

#include <string>
#include <vector>

#include "discoveryinfo.h"
#include "logger.h"
#include "repositorykey.h"
#include "stringutils.h"

#define DISCOVERY_LOG(function, ...) KITO_LOG_DEBUG_NAMED(LOG_DBG_1, (function), __VA_ARGS__)

namespace discoveryReading {

inline constexpr wchar_t kNoSysKey[] = L"Sys Key is not found\n";
inline constexpr wchar_t kNoSolutionsKey[] = L"Installed Solutions Key is not found\n";

std::wstring textOf(const RepositoryKey& key, const wchar_t* name);
int32_t intOf(const RepositoryKey& key, const wchar_t* name);
int32_t decimalOf(const std::wstring& text);
// The key "Software\Osmark\Kito\<release>\<rest>" below the node; null for a release that is not one name.
RepositoryKey* releaseKey(const RepositoryKey* node, const std::wstring& release, const wchar_t* rest);
bool hasChildren(const RepositoryKey* key);
// An empty given version is not compared; mode 0 equal ignoring case, mode 1 either contains the
// other (case-sensitive), any other mode accepts every version.
bool versionPasses(const std::wstring& given, const std::wstring& stored, int32_t mode);
// Maintenance packs are recorded either directly ("MaintenancePacks\Solutions") or per pack
// ("MaintenancePacks\<pack>\Solutions"): the direct layout when it holds solutions, else every pack's.
void addMaintenancePackLists(const RepositoryKey* packs, std::vector<RepositoryKey*>& lists);
ComponentInfo componentRecord(const RepositoryKey& key);

// How one query reads a solution key: its messages, and whether it takes the cache path and child names.
struct SolutionReading {
    const wchar_t* function;
    const wchar_t* found;
    const wchar_t* foundOs;
    bool full;
};

SolutionInfo solutionRecord(const RepositoryKey& key, const SolutionReading& reading, bool alpha41);

} // namespace discoveryReading

// Hands take each installed solution (of wantedId only, ignoring case, when given) in the order of
// GetKitoInstalledSolutions until take returns false. Keys of other ids are passed over unread.
template <class Take>
void DiscoveryInfo::eachInstalledSolution(const std::wstring& release, const std::wstring* wantedId, Take take) const
{
    const wchar_t* function = L"DiscoveryInfo::GetKitoInstalledSolutions";
    if (!nodeKey) {
        DISCOVERY_LOG(function, discoveryReading::kNoSysKey);
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
    const discoveryReading::SolutionReading reading = {function, L"Found solution %s",
                                                       L"Found installed os info for solution %s", true};
    bool alpha41 = false;
    for (const RepositoryKey* list : installedSolutionKeys(release, alpha41)) {
        if (!list) {
            DISCOVERY_LOG(function, discoveryReading::kNoSolutionsKey);
            continue;
        }
        for (const RepositoryKey* child : list->subKeys()) {
            if (wanted(child->name()) && !take(discoveryReading::solutionRecord(*child, reading, alpha41)))
                return;
        }
    }
}
