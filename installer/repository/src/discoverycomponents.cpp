// Installed component lookup by product id, release and update kind.

#include "discoveryinfo.h"

#include "discoveryreading.h"
#include "kitorepository.h"
#include "solution.h"

using namespace discoveryReading;

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
