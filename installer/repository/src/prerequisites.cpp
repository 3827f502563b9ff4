// The software that a solution or component needs, or must not find, on a node; the release settings.

#include "discoveryinfo.h"
#include "keyvalues.h"
#include "kitorepository.h"
#include "logger.h"
#include "product.h"
#include "solution.h"

namespace {

const wchar_t kSolutionsTracer[] = L"KitoRepository::arePreRequisiteSolnsInstalled";
const wchar_t kCompsTracer[] = L"KitoRepository::getPreRequisiteComps";

} // namespace

const RepositoryKey* KitoRepository::preRequisiteList(const wchar_t* part, const std::wstring& id, bool include,
                                                      const wchar_t* function) const
{
    const RepositoryKey* owner = keyValues::childNamed(getSubKey(part), id);
    const RepositoryKey* preRequisites = owner ? owner->getSubKey(L"PreRequisitesSw") : nullptr;
    if (!preRequisites) {
        KITO_LOG_DEBUG_NAMED(LOG_DBG_6, function, L"preReqKey is empty");
        return nullptr;
    }
    const RepositoryKey* list = preRequisites->getSubKey(include ? L"Include" : L"Exclude");
    if (!list)
        KITO_LOG_DEBUG_NAMED(LOG_DBG_6, function,
                             include ? L"includeSoftwares key is empty" : L"excludeSoftwares key is empty");
    return list;
}

std::vector<std::wstring> KitoRepository::arePreRequisiteSolnsInstalled(const std::wstring& solutionId,
                                                                        bool include) const
{
    ScopeTracer tracer(kSolutionsTracer, &g_logger);
    std::vector<std::wstring> ids;
    const RepositoryKey* list = preRequisiteList(L"Solutions", solutionId, include, kSolutionsTracer);
    if (!list)
        return ids;
    for (const auto& value : list->values()) {
        if (value.second.empty())
            continue;
        KITO_LOG_DEBUG(LOG_DBG_6, tracer, L"Adding %s to preReqSolns", value.second.c_str());
        ids.push_back(value.second);
    }
    return ids;
}

bool KitoRepository::arePreRequisiteSolnsInstalled(const std::wstring& solutionId, const std::wstring& domain,
                                                   const std::wstring& host, bool include) const
{
    ScopeTracer tracer(kSolutionsTracer, &g_logger);
    if (!keyValues::isOneName(solutionId)) {
        KITO_LOG_DEBUG(LOG_DBG_6, tracer, L"Solution id %s is not one name", solutionId.c_str());
        return false;
    }
    const std::vector<std::wstring> ids = arePreRequisiteSolnsInstalled(solutionId, include);
    if (ids.empty()) {
        KITO_LOG_DEBUG(LOG_DBG_6, tracer, L"preReqSolns key is empty");
        return true;
    }
    // The node's installed solutions are recorded in the process's root only.
    const std::wstring path = releaseListPath(domain, host, KitoDb ? KitoDb->getGuid() : std::wstring(), L"Solutions");
    const RepositoryKey* installed = KitoDb && !path.empty() ? KitoDb->getSubKey(path) : nullptr;
    if (!installed) {
        KITO_LOG_DEBUG(LOG_DBG_6, tracer, L"solnsKey is empty in key %s", path.c_str());
        return false;
    }
    for (const std::wstring& id : ids) {
        if (!keyValues::childNamed(installed, id))
            return false;
    }
    return true;
}

RepositoryKey::KeyList KitoRepository::getPreRequisiteComps(const std::wstring& componentId, bool include) const
{
    ScopeTracer tracer(kCompsTracer, &g_logger);
    const RepositoryKey* list = preRequisiteList(L"Components", componentId, include, kCompsTracer);
    return list ? list->getSubKeys() : KeyList();
}

void KitoRepository::getPreRequisiteComps(const std::wstring& componentId, bool include,
                                          std::vector<std::wstring>& names) const
{
    ScopeTracer tracer(kCompsTracer, &g_logger);
    for (const RepositoryKey* key : getPreRequisiteComps(componentId, include)) {
        KITO_LOG_DEBUG(LOG_DBG_6, tracer, L"Adding %s to preReqComps", key->name().c_str());
        names.push_back(key->name());
    }
}

bool KitoRepository::arePreRequisiteCompsInstalled(const std::wstring& componentId, const std::wstring& domain,
                                                   const std::wstring& host, bool include) const
{
    ScopeTracer tracer(L"KitoRepository::arePreRequisiteCompsInstalled", &g_logger);
    if (!keyValues::isOneName(componentId)) {
        KITO_LOG_DEBUG(LOG_DBG_6, tracer, L"Component id %s is not one name", componentId.c_str());
        return false;
    }
    const KeyList products = getPreRequisiteComps(componentId, include);
    if (products.empty()) {
        KITO_LOG_DEBUG(LOG_DBG_6, tracer, L"preReqComps key is empty for component %s", componentId.c_str());
        return true;
    }
    DiscoveryInfo node;
    if (node.CacheNodeInfo(domain, host) != DiscoveryInfo::NodeCached)
        return false;
    for (const RepositoryKey* product : products) {
        // A product without "TYPE" is the product itself, as the product view reads it.
        if (node.IsComponentPresent(Product::getProductID(*product), Product::getGuid(*product),
                                    Product::getType(*product), std::wstring()))
            return true;
    }
    return false;
}

int32_t KitoRepository::getReleaseMode() const
{
    return keyValues::number(*this, L"ReleaseMode");
}

void KitoRepository::setReleaseMode(int32_t mode)
{
    keyValues::setNumber(*this, L"ReleaseMode", mode);
}

void KitoRepository::setReleaseArch(int32_t arch)
{
    keyValues::setNumber(*this, L"ReleaseArch", arch);
}

int32_t KitoRepository::getReleaseArch() const
{
    const KeyList selected = getSolutions(ListSelected);
    return selected.empty() ? 2 : Solution::getReleaseArch(*selected.front());
}
