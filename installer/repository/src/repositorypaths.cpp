// Where the installer's things lie: its key of a node, a solution's install folder and install cache.

#include "discoveryinfo.h"
#include "keyvalues.h"
#include "kitorepository.h"
#include "logger.h"
#include "solution.h"
#include "userinput.h"

namespace {

const wchar_t kNoUserInput[] = L"UserInput is not initialised. Something seriously wrong";

// "Osmark Shared\Kito\" and the kind's update sub-key.
std::wstring sharedKitoPath(int32_t kind)
{
    std::wstring update;
    getUpdateKindSubKey(update, kind);
    return L"Osmark Shared\\Kito\\" + update;
}

// The install location of a solution recorded on the node; empty when it is not installed there.
std::wstring installedLocation(const DiscoveryInfo& node, const std::wstring& id)
{
    if (!node.IsInstalled(id, std::wstring(), std::wstring(), std::wstring(), DiscoveryInfo::MatchContains))
        return std::wstring();
    return node.GetInstalledSolutionInfo(id, std::wstring()).installLocation;
}

DiscoveryInfo boundNode(const std::wstring& domain, const std::wstring& host)
{
    DiscoveryInfo node;
    node.CacheNodeInfo(domain, host);
    return node;
}

} // namespace

std::wstring KitoRepository::kitoKeyPath(const std::wstring& domain, const std::wstring& host)
{
    const std::wstring node = DiscoveryInfo::nodeKeyPath(domain, host);
    return node.empty() ? node : node + L"\\Software\\Osmark\\Kito";
}

std::wstring KitoRepository::releaseListPath(const std::wstring& domain, const std::wstring& host,
                                             const std::wstring& release, const wchar_t* list)
{
    const std::wstring kito = kitoKeyPath(domain, host);
    if (kito.empty() || !DiscoveryInfo::isOneName(release))
        return std::wstring();
    return kito + L"\\" + release + L"\\" + list;
}

RepositoryKey* KitoRepository::getKitoKey(const std::wstring& domain, const std::wstring& host) const
{
    ScopeTracer tracer(L"KitoRepository::getKitoKey", &g_logger);
    const std::wstring path = kitoKeyPath(domain, host);
    RepositoryKey* kito = path.empty() ? nullptr : getSubKey(path);
    if (!kito)
        KITO_LOG_DEBUG(LOG_DBG_6, tracer, L"kitoKey is found to be empty in %s.", path.c_str());
    return kito;
}

std::wstring KitoRepository::getInstallPath(const std::wstring& domain, const std::wstring& host,
                                            const std::wstring& solutionId) const
{
    ScopeTracer tracer(L"KitoRepository::getInstallPath", &g_logger);
    const RepositoryKey* userInput = getSubKey(L"UserInput");
    if (!userInput) {
        KITO_LOG_DEBUG(LOG_DBG_1, tracer, kNoUserInput);
        return std::wstring();
    }
    std::wstring path;
    if (UserInput::getInstallMode(*userInput) == 1) {
        const RepositoryKey* solution = findSolution(solutionId);
        if (!solution) {
            KITO_LOG_DEBUG(LOG_DBG_1, tracer, L"Solution is not initialized. Something seriously wrong");
            return std::wstring();
        }
        if (Solution::isInstallPathSelectable(*solution)) {
            path = UserInput::getHostInstallPath(*userInput, host);
        } else {
            const DiscoveryInfo node = boundNode(domain, host);
            // The last installed parent with a location wins; one without a location (a component)
            // keeps what an earlier parent gave.
            for (const std::wstring& parent : Solution::getUpgradableParentProductIDs(*solution)) {
                std::wstring location = installedLocation(node, parent);
                if (!location.empty())
                    path = location;
            }
        }
    } else {
        path = installedLocation(boundNode(domain, host), solutionId);
    }
    if (!path.empty()) {
        KITO_LOG_DEBUG(LOG_DBG_6, tracer, L"For domain %s and host %s, returning %s string for getInstallPath()",
                       domain.c_str(), host.c_str(), path.c_str());
        return path;
    }
    KITO_LOG_DEBUG(LOG_DBG_6, tracer, L"For domain %s and host %s, returning null string for getInstallPath()",
                   domain.c_str(), host.c_str());
    KITO_LOG_DEBUG(LOG_DBG_6, tracer, L"Default with getHostInstallPath()");
    return UserInput::getHostInstallPath(*userInput, host);
}

std::wstring KitoRepository::getCachePath(const std::wstring& domain, const std::wstring& host,
                                          const std::wstring& solutionId) const
{
    ScopeTracer tracer(L"KitoRepository::getCachePath", &g_logger);
    const RepositoryKey* solution = findSolution(solutionId);
    // An id that names no solution is cached as the product itself.
    int32_t kind = UPDATE_KIND_PRODUCT;
    if (solution)
        kind = Solution::getType(*solution);
    else
        KITO_LOG_DEBUG(LOG_DBG_6, tracer, L"No solution %s; its cache is looked for as the product's",
                       solutionId.c_str());
    const RepositoryKey* userInput = getSubKey(L"UserInput");
    if (!userInput) {
        KITO_LOG_DEBUG(LOG_DBG_1, tracer, kNoUserInput);
        return std::wstring();
    }
    if (UserInput::getInstallMode(*userInput) == 1) {
        // Without the node's folder there is no path; a bare sub-path would name the current drive's root.
        const std::wstring folder = boundNode(domain, host).GetCommonFilesFolder(DiscoveryInfo::Folder32);
        if (folder.empty()) {
            KITO_LOG_DEBUG(LOG_DBG_6, tracer,
                           L"No common files folder for domain %s and host %s, so returning null string",
                           domain.c_str(), host.c_str());
            return std::wstring();
        }
        std::wstring path = folder + L"\\" + processRoot().getCacheSubPath(kind);
        path.pop_back();
        return path;
    }
    if (!getKitoKey(domain, host)) {
        KITO_LOG_DEBUG(LOG_DBG_6, tracer, L"kitoKey is null for domain %s and host %s, so returning null string",
                       domain.c_str(), host.c_str());
        return std::wstring();
    }
    const std::wstring solutions = releaseListPath(domain, host, processRoot().getGuid(), L"Solutions");
    const RepositoryKey* installed = solutions.empty() ? nullptr
                                                       : keyValues::childNamed(getSubKey(solutions), solutionId);
    if (!installed) {
        KITO_LOG_DEBUG(LOG_DBG_6, tracer, L"solnKey is null for domain %s and host %s", domain.c_str(), host.c_str());
        return std::wstring();
    }
    const std::wstring path = keyValues::text(*installed, L"CachePath");
    if (path.empty())
        KITO_LOG_DEBUG(LOG_DBG_6, tracer, L"For domain %s and host %s, returning null string", domain.c_str(),
                       host.c_str());
    else
        KITO_LOG_DEBUG(LOG_DBG_6, tracer, L"For domain %s and host %s, returning %s string", domain.c_str(),
                       host.c_str(), path.c_str());
    return path;
}

std::wstring KitoRepository::getCacheSubPath(int32_t kind) const
{
    return sharedKitoPath(kind) + L"{" + getVersion() + L"}\\";
}

std::wstring KitoRepository::getReleaseSubPath(int32_t kind) const
{
    return sharedKitoPath(kind) + L"Release\\{" + getGuid() + L"}\\";
}
