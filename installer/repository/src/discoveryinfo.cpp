// A node's key in the discovery subtree: the names that lead to it, its cache state, its removal.

#include "discoveryinfo.h"

#include "discoveryreading.h"
#include "kitorepository.h"

using namespace discoveryReading;

namespace {

const wchar_t kDefaultDomain[] = L"KITODOMAIN";

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
