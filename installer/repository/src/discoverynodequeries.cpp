// Further node queries: machine type, pending run entries, cluster, free disk space.

#include "discoveryinfo.h"

#include <windows.h>

#include "discoveryreading.h"

using namespace discoveryReading;

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
