// What the repository records as installed on the discovered nodes, and its language-pack solutions.

#include "keyvalues.h"
#include "kitorepository.h"
#include "logger.h"
#include "stringutils.h"

namespace {

const wchar_t* const kLanguagePacks[] = {
    L"plov.soln.mesaw.server.lp",
    L"plov.soln.mesa.gui.lp",
    L"plov.soln.mesawha.server.lp",
    L"plov.soln.mesaha.gui.lp",
};

// The node's key of that list and id under the root's release; null where a part is not one name.
const RepositoryKey* installedKey(const wchar_t* list, const std::wstring& id, const std::wstring& domain,
                                  const std::wstring& host)
{
    if (!KitoDb)
        return nullptr;
    const std::wstring path = KitoRepository::releaseListPath(domain, host, KitoDb->getGuid(), list);
    return path.empty() ? nullptr : keyValues::childNamed(KitoDb->getSubKey(path), id);
}

} // namespace

bool KitoRepository::isSolutionInstalled(const std::wstring& solutionId, const std::wstring& domain,
                                         const std::wstring& host) const
{
    ScopeTracer tracer(L"KitoRepository::isSolutionInstalled", &g_logger);
    if (!installedKey(L"Solutions", solutionId, domain, host)) {
        KITO_LOG_DEBUG(LOG_DBG_6, tracer, L"solnKey is empty. The solution %s is not installed on node %s",
                       solutionId.c_str(), host.c_str());
        return false;
    }
    KITO_LOG_DEBUG(LOG_DBG_6, tracer, L"solnKey is not empty. The solution %s is installed on node %s",
                   solutionId.c_str(), host.c_str());
    return true;
}

bool KitoRepository::isComponentInstalled(const std::wstring& componentId, const std::wstring& domain,
                                          const std::wstring& host) const
{
    ScopeTracer tracer(L"KitoRepository::isComponentInstalled", &g_logger);
    const RepositoryKey* component = installedKey(L"Components", componentId, domain, host);
    return component && !component->subKeys().empty();
}

bool KitoRepository::hasLanguagePackSelected() const
{
    for (const RepositoryKey* solution : getSolutions(ListSelected)) {
        if (isLanguagePack(solution->name()))
            return true;
    }
    return false;
}

bool KitoRepository::isLanguagePack(const std::wstring& solutionId)
{
    for (const wchar_t* pack : kLanguagePacks) {
        if (equalsNoCase(solutionId, pack))
            return true;
    }
    return false;
}

bool KitoRepository::isSolutionSelected(const std::wstring& solutionId) const
{
    if (!KitoDb)
        return false;
    for (const RepositoryKey* solution : KitoDb->getSolutions(ListSelected)) {
        if (solution && equalsNoCase(solution->name(), solutionId))
            return true;
    }
    return false;
}

bool KitoRepository::is64BitOS() const
{
    int32_t flag = 0;
    getIntValue(L"64BitOS", flag);
    return flag == 1;
}
