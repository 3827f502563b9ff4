#pragma once
// The read side of the repository's "Discovery" subtree: "Discovery" \ domain \ node, written by the
// discoverer of a site's machines. A DiscoveryInfo is bound to one node's key (which the tree owns) and
// answers from the keys below it; a query without a node key gives its answer for an unknown node.

#include <cstdint>
#include <string>
#include <vector>

class RepositoryKey;

struct OSInfo {
    std::wstring name;
    int32_t osCode = 13;
    int32_t architecture = 4;
    int32_t servicePackMajorVersion = 0;
    int32_t majorVersion = 0;
    int32_t minorVersion = 0;
};

// The "SERVICEPACK" or "HOTFIX" part of an installed component or solution.
struct UpdatePartInfo {
    std::wstring version;
    std::wstring spare; // keeps the record's shape; no query fills it
    std::wstring guid;
    std::wstring displayName;
    std::wstring installLocation;
};
struct ServicePackInfo : UpdatePartInfo {};
struct HotfixInfo : UpdatePartInfo {};

// Install status of the records.
enum : int32_t {
    InstallStatusComplete = 0,
    InstallStatusInProgress = 1,
    InstallStatusUnknown = 3,
};

struct ComponentInfo {
    std::wstring version;
    std::wstring name;
    std::wstring guid;
    std::wstring displayName;
    std::wstring installLocation;
    ServicePackInfo servicePack;
    HotfixInfo hotfix;
    OSInfo os;
    int32_t installStatus = InstallStatusUnknown;
};

struct SolutionOptionInfo {
    std::wstring spare1; // the spare fields keep the record's shape; no query fills them
    std::wstring name;
    std::wstring displayTitle;
    std::wstring spare2;
    int32_t installStatus = InstallStatusUnknown;
    std::wstring spare3;
};

struct SolutionInfo {
    std::wstring version;
    std::wstring solutionId;
    std::wstring guid;
    std::wstring displayTitle;
    std::wstring installLocation;
    std::wstring cachePath;
    std::wstring spare; // keeps the record's shape; no query fills it
    int32_t installStatus = InstallStatusUnknown;
    std::wstring installedLanguage;
    std::wstring uninstallString;
    std::vector<SolutionOptionInfo> options;
    ServicePackInfo servicePack;
    HotfixInfo hotfix;
    OSInfo os;
    std::vector<std::wstring> childNames;
};

struct DriveInfo {
    std::wstring name;
    std::wstring spare; // keeps the record's shape; no query fills it
    int64_t freeSpace = 0;
    int64_t totalSpace = 0;
};

struct NICInfo {
    std::wstring ip;
    std::wstring subnet;
    std::wstring networkName;
};

struct ClusterInfo {
    std::wstring clusterName;
    std::wstring clusterId;
    std::vector<std::wstring> nodes;
};

class DiscoveryInfo {
public:
    // Results of CacheNodeInfo besides a node's own discovery error code.
    static constexpr int32_t NodeCached = 0;
    static constexpr int32_t NodeUnknown = 1;
    static constexpr int32_t NoDiscovery = 2;
    // Version match modes: equal ignoring case, either contains the other, any version.
    static constexpr int32_t MatchEqual = 0;
    static constexpr int32_t MatchContains = 1;
    // Folder selectors: software of 32 or of 64 bits.
    static constexpr int32_t Folder32 = 1;
    static constexpr int32_t Folder64 = 2;

    DiscoveryInfo() = default;
    DiscoveryInfo(const DiscoveryInfo&) = default;
    DiscoveryInfo& operator=(const DiscoveryInfo&) = default;
    virtual ~DiscoveryInfo() = default;

    // The domain key's name: an empty domain is "KITODOMAIN", as the discoverer files such machines.
    static std::wstring domainKeyName(const std::wstring& domain);
    // Whether a text can stand for one key name in a path: not empty, no backslash.
    static bool isOneName(const std::wstring& name);
    // Whether a text names one machine in a UNC path: one name, and no "/" or ".." to step elsewhere.
    static bool isMachineName(const std::wstring& name);
    // The node key's path below the repository root; empty when the domain (when given) or the node is
    // not one name.
    static std::wstring nodeKeyPath(const std::wstring& domain, const std::wstring& node);

    // 0 cached, 1 unknown or not cached (also for a domain or node that is not one name), 2 no
    // discovery or domain key (also without a repository root), else the node's discovery error code.
    int32_t CacheNodeInfo(const std::wstring& domain, const std::wstring& node);
    // Destroys the node's key with everything below it; a DiscoveryInfo bound to it must not be used.
    static void RemoveNode(const std::wstring& node, const std::wstring& domain);
    void setNodeKey(RepositoryKey* key) { nodeKey = key; }
    RepositoryKey* getNodeKey() const { return nodeKey; }

    // Installed solutions, options and components. An empty release reads every release.
    std::vector<SolutionInfo> GetKitoInstalledSolutions(const std::wstring& release) const;
    std::vector<SolutionOptionInfo> GetKitoInstalledSolutionOptions(const std::wstring& release) const;
    int32_t IsSolutionInstalled(const std::wstring& solutionId, const std::wstring& version,
                                const std::wstring& servicePackVersion, const std::wstring& hotfixVersion,
                                int32_t mode) const;
    int32_t IsSolutionOptionInstalled(const std::wstring& name) const;
    std::vector<ComponentInfo> GetInstalledComponents() const;
    ComponentInfo GetInstalledComponentInfo(const std::wstring& name, const std::wstring& version,
                                            const std::wstring& servicePackVersion,
                                            const std::wstring& hotfixVersion) const;
    int32_t ComponentExists(const std::wstring& guid) const;
    int32_t ComponentExists(const std::wstring& name, const std::wstring& version,
                            const std::wstring& servicePackVersion, const std::wstring& hotfixVersion,
                            int32_t mode) const;
    RepositoryKey* getOsmarkKey() const;

    // Older layouts and update packs.
    std::vector<SolutionInfo> GetKito40Solutions() const;
    std::vector<SolutionInfo> GetKitoInstalledMPs(const std::wstring& release) const;
    SolutionInfo GetInstalledSolutionInfo(const std::wstring& solutionId, const std::wstring& version) const;
    int32_t IsInstalled(const std::wstring& id, const std::wstring& version, const std::wstring& servicePackVersion,
                        const std::wstring& hotfixVersion, int32_t mode) const;
    // Codes outside 1 to 12 become 13. The name comes from the message module; without a text there the
    // name stays as it was.
    static void setOSLevel(OSInfo& record, int32_t code, int32_t serverFlag);

    // Node facts.
    int32_t UserIsAdmin() const;
    int32_t IsSelected() const;
    void SetSelected(int32_t flag);
    std::wstring GetInstallFolder() const;
    void SetInstallFolder(const std::wstring& folder);
    std::wstring GetCurrentLanguage() const;
    std::wstring GetCurrentLocale() const;
    std::wstring GetCommonAppDataFolder() const;
    std::wstring GetSystemDrive() const;
    int32_t GetDriverSigningSetting() const;
    std::wstring GetCommonFilesFolder(int32_t selector) const;
    std::wstring GetProgramFilesFolder(int32_t selector) const;
    OSInfo GetOSDetails(int32_t serverFlag) const;
    std::vector<DriveInfo> GetDriveDetails() const;
    std::vector<NICInfo> GetNICs() const;

    // Further node queries.
    std::wstring GetLastError() const;
    int32_t GetMachineType() const;
    std::vector<std::wstring> GetRunOnceEntries() const;
    // 1 also for a node that is not known: nothing is pending there.
    int32_t IsRunOnceEntryGone(const std::wstring& name) const;
    ClusterInfo GetClusterDetails() const;
    // Asks the node's administrative share of the path's drive (\\NODE\D$\); 0 or 1. Blocks for the
    // network's time-outs when the node does not answer. A node name that is empty or holds a
    // backslash gives 1 without asking.
    int32_t GetFreeDiskSpace(const std::wstring& path, uint64_t& freeBytes) const;
    int32_t Is64BitNode() const;
    RepositoryKey* GetDiscoveryKey(const std::wstring& name) const;

    // Installed component lookup by product id, release (empty: the repository root's "Guid") and
    // update kind.
    RepositoryKey* GetInstalledComponent(const std::wstring& productId, const std::wstring& release,
                                         int32_t kind) const;
    bool IsComponentPresent(const std::wstring& productId, const std::wstring& release, int32_t kind,
                            const std::wstring& expectedGuid) const;

private:
    template <class Take>
    void eachInstalledSolution(const std::wstring& release, const std::wstring* wantedId, Take take) const;
    std::vector<RepositoryKey*> installedSolutionKeys(const std::wstring& release, bool& alpha41) const;
    std::wstring nodeText(const wchar_t* function, const wchar_t* name) const;
    RepositoryKey* nodeChild(const wchar_t* function, const wchar_t* name, const wchar_t* missing) const;
    std::wstring folderText(const wchar_t* function, int32_t selector, const wchar_t* name32, const wchar_t* name64,
                            const wchar_t* message32, const wchar_t* message64) const;
    void setNodeText(const wchar_t* function, const wchar_t* name, const std::wstring& text);

    RepositoryKey* nodeKey = nullptr;
};
