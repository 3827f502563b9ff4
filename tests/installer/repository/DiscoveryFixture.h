#pragma once
// One discovered site for every test of the discovery queries: the "Discovery" subtree as a discoverer
// writes it, read through the node text form into a repository root that stands in KitoDb while a
// Site lives. Use:
//   discoveryfixture::Site site;                        // the whole site below
//   DiscoveryInfo node = site.node(L"", L"HOST1");     // bound as CacheNodeInfo binds it
// or change the tree first: auto tree = discoveryfixture::tree(); tree.at(L"CORP\\HOST9", {...}); Site site(tree);
//
// Nodes ("" is KITODOMAIN):
//   KITODOMAIN\HOST1   cached; every node fact; OS code 10 on x64 with a recorded "Name"; disks C: (over
//                      32 bits) and D:; two NICs; Software: Agent (HOTFIX and SERVICEPACK), Viewer, and the
//                      installer's Release1 (solutions A 1.0 and S2, maintenance packs in the direct layout,
//                      rollup patch, add-on, options, components) and Release2 (A 2.0, options); run-once
//                      entries x, y, z; cluster details; uninstall entries
//   KITODOMAIN\HOST40  the 4.0 layout (group plov with server and gui) beside a newer release
//   KITODOMAIN\HOST41  a release and the 4.1 key
//   KITODOMAIN\HOSTMP  maintenance packs per pack (MP1, MP2) and a release "Solutions" without children
//   KITODOMAIN\BARE    cached and nothing else
//   CORP\HOST2         cached; "AdminAccount" in lower case, an OS key without "Value", cluster "Name" only
//   CORP\HOSTERR       discovery error 5
//   CORP\HOSTNEW       never cached

#include <string>

#include "NodeTextFixture.h"
#include "RepositoryTestSupport.h"
#include "discoveryinfo.h"
#include "kitorepository.h"
#include "nodetextform.h"

namespace discoveryfixture {

// The repository root's "Guid", and a second release of the installer.
inline const std::wstring Release1 = L"{6B3D0001-2A51-4C3E-9D11-00000000A001}";
inline const std::wstring Release2 = L"{6B3D0002-2A51-4C3E-9D11-00000000A002}";

inline installertest::Node tree()
{
    using installertest::Node;
    Node discovery{L"Discovery", {}, {}};
    const std::wstring host1 = L"KITODOMAIN\\HOST1";
    const std::wstring kito1 = host1 + L"\\Software\\Osmark\\Kito\\" + Release1;
    const std::wstring kito2 = host1 + L"\\Software\\Osmark\\Kito\\" + Release2;
    discovery.at(host1,
                 {{L"Cached", L"1"},
                  {L"AdminAccount", L"TRUE"},
                  {L"Language", L"en"},
                  {L"Locale", L"0409"},
                  {L"CommonFilesDir(x86)", L"C:\\Common32"},
                  {L"CommonFilesDir", L"C:\\Common64"},
                  {L"CommonAppDataDirProp", L"C:\\AppData"},
                  {L"ProgramFilesDir(x86)", L"C:\\Programs32"},
                  {L"ProgramFilesDir", L"C:\\Programs64"},
                  {L"InstallDir", L"D:\\Kito"},
                  {L"IsSelected", L"TRUE"},
                  {L"DriverSigning", L"2"},
                  {L"OSDrive", L"C:"},
                  {L"MachineType", L"7"},
                  {L"DiscoveryErrorMsg", L"access denied"}});
    discovery.at(host1 + L"\\OS",
                 {{L"Name", L"Recorded OS"},
                  {L"MajorVersion", L"5"},
                  {L"MinorVersion", L"2"},
                  {L"ServicePackMajorVersion", L"1"},
                  {L"Value", L"10"},
                  {L"ProcessorArchitecture", L"9"}});
    discovery.at(host1 + L"\\Disks\\C:", {{L"DiskSpaceTotal", L"85899345920"}, {L"DiskSpaceAvail", L"4294967297"}});
    discovery.at(host1 + L"\\Disks\\D:", {{L"DiskSpaceTotal", L"500"}});
    discovery.at(host1 + L"\\NICS\\0", {{L"IP", L"10.0.0.1"}, {L"Subnet", L"255.0.0.0"}, {L"NetworkName", L"Public"}});
    discovery.at(host1 + L"\\NICS\\1", {{L"IP", L"192.168.1.1"}});
    const std::wstring agent = host1 + L"\\Software\\Agent";
    discovery.at(agent,
                 {{L"DisplayName", L"Backup Agent"},
                  {L"Version", L"5.0.1234"},
                  {L"InstallLocation", L"C:\\Agent"},
                  {L"GUID", L"{AGENT-GUID}"}});
    discovery.at(agent + L"\\HOTFIX", {{L"Version", L"HF7"}, {L"DisplayName", L"Agent fix"}, {L"GUID", L"{HF}"}});
    discovery.at(agent + L"\\SERVICEPACK", {{L"Version", L"SP2"}, {L"InstallLocation", L"C:\\Agent\\SP"}});
    discovery.at(host1 + L"\\Software\\Viewer", {{L"Version", L"2.1"}, {L"GUID", L"{VIEWER-GUID}"}});
    discovery.at(kito1 + L"\\Solutions\\A",
                 {{L"Version", L"1.0"},
                  {L"InstallLocation", L"C:\\A"},
                  {L"GUID", L"{A-GUID}"},
                  {L"InstalledLanguage", L"en"},
                  {L"DisplayTitle", L"Alpha"},
                  {L"CachePath", L"C:\\Cache\\A"},
                  {L"UninstallString", L"remove A"},
                  {L"InstallStatus", L"complete"}});
    discovery
        .at(kito1 + L"\\Solutions\\A\\OS",
            {{L"MajorVersion", L"5"}, {L"MinorVersion", L"2"}, {L"Value", L"9"}, {L"ServicePackMajorVersion", L"x"}});
    discovery.at(kito1 + L"\\Solutions\\A\\Extras");
    discovery.at(kito1 + L"\\Solutions\\S2", {{L"Version", L"3.0"}, {L"InstallStatus", L"InProgress"}});
    discovery.at(kito1 + L"\\MaintenancePacks\\Solutions\\mp.direct",
                 {{L"Version", L"1.1"}, {L"InstallStatus", L"Done"}});
    discovery.at(kito1 + L"\\RollupPatches\\Solutions\\rp.one", {{L"Version", L"1.0.1"}});
    discovery.at(kito1 + L"\\AddOns\\Solutions\\ao.one");
    discovery.at(kito1 + L"\\SolutionOptions\\opt.one", {{L"DisplayTitle", L"Option One"}});
    discovery.at(kito1 + L"\\Components\\comp.x\\Files", {});
    discovery.at(kito1 + L"\\Components\\comp.x", {{L"Guid", L"{ABCDEF}"}});
    discovery.at(kito1 + L"\\Components\\comp.empty", {{L"Guid", L"{EMPTY}"}});
    discovery.at(kito1 + L"\\MaintenancePacks\\Components\\mp.comp\\Files");
    discovery.at(kito2 + L"\\Solutions\\A", {{L"Version", L"2.0"}});
    discovery.at(kito2 + L"\\SolutionOptions\\opt.two");
    discovery.at(host1 + L"\\RunEntries\\g1", {{L"x", L"run x"}, {L"y", L"run y"}});
    discovery.at(host1 + L"\\RunEntries\\g2", {{L"z", L"run z"}});
    discovery.at(host1 + L"\\ClusterDetails", {{L"Name", L"CL-A"}, {L"ClusterName", L"CL-B"}, {L"ID", L"42"}});
    discovery.at(host1 + L"\\ClusterDetails\\HOST1");
    discovery.at(host1 + L"\\ClusterDetails\\HOST2");
    discovery.at(host1 + L"\\Uninstall\\prod.one\\Patch", {{L"DisplayName", L"Patch"}});

    const std::wstring kito40 = L"KITODOMAIN\\HOST40\\Software\\Osmark\\Kito";
    discovery.at(L"KITODOMAIN\\HOST40", {{L"Cached", L"1"}});
    discovery.at(kito40, {{L"Version", L"4.0"}, {L"InstallLocation", L"C:\\Kito40"}, {L"InstalledLanguage", L"de"}});
    discovery.at(kito40 + L"\\Solutions\\plov\\server");
    discovery.at(kito40 + L"\\Solutions\\plov\\gui");
    discovery.at(kito40 + L"\\Solutions\\plov", {{L"DisplayTitle", L"Plov Suite"}});
    discovery.at(kito40 + L"\\Solutions\\lonely", {{L"DisplayTitle", L"No solutions"}});
    discovery.at(kito40 + L"\\" + Release1 + L"\\Solutions\\newer", {{L"Version", L"9.0"}});

    discovery.at(L"KITODOMAIN\\HOST41", {{L"Cached", L"1"}});
    discovery.at(L"KITODOMAIN\\HOST41\\Software\\Osmark\\Kito\\" + Release1 + L"\\Solutions\\B",
                 {{L"Version", L"4.1.0"}});
    discovery.at(L"KITODOMAIN\\HOST41\\Software\\Osmark\\Kito41\\Solutions\\B");

    const std::wstring packs = L"KITODOMAIN\\HOSTMP\\Software\\Osmark\\Kito\\" + Release1 + L"\\MaintenancePacks";
    discovery.at(L"KITODOMAIN\\HOSTMP", {{L"Cached", L"1"}});
    discovery.at(L"KITODOMAIN\\HOSTMP\\Software\\Osmark\\Kito\\" + Release1 + L"\\Solutions");
    discovery.at(packs + L"\\MP1\\Solutions\\mp.one", {{L"Version", L"1.1"}, {L"CachePath", L"C:\\Cache"}});
    discovery.at(packs + L"\\MP1\\Solutions\\mp.one\\OS", {{L"Value", L"7"}, {L"MajorVersion", L"5"}});
    discovery.at(packs + L"\\MP2\\Solutions\\mp.two", {{L"Version", L"1.2"}, {L"InstallStatus", L"InProgress"}});

    discovery.at(L"KITODOMAIN\\BARE", {{L"Cached", L"1"}});
    discovery.at(L"CORP\\HOST2", {{L"Cached", L"1"}, {L"AdminAccount", L"true"}});
    discovery.at(L"CORP\\HOST2\\OS", {{L"Name", L"Recorded OS"}, {L"MajorVersion", L"6"}});
    discovery.at(L"CORP\\HOST2\\ClusterDetails", {{L"Name", L"CL-A"}});
    discovery.at(L"CORP\\HOSTERR", {{L"DiscoveryErrorID", L"5"}, {L"Cached", L"1"}});
    discovery.at(L"CORP\\HOSTNEW", {{L"DiscoveryErrorMsg", L"unreachable"}});
    return discovery;
}

// A repository root (its "Guid" Release1) holding the discovery subtree, in KitoDb while the Site lives.
class Site {
public:
    explicit Site(const installertest::Node& discovery = tree())
        : repository(new KitoRepository(std::wstring(L"KitoRepository"))), inUse(repository)
    {
        repository->setStringValue(L"Guid", Release1);
        repository->addSubKey(parseText(installertest::nodeText(discovery)));
    }
    ~Site() { RepositoryKey::releaseTree(repository); }
    Site(const Site&) = delete;
    Site& operator=(const Site&) = delete;

    KitoRepository& root() const { return *repository; }
    // The node's key, found without the code under test; null when absent.
    RepositoryKey* nodeKey(const std::wstring& domain, const std::wstring& host) const
    {
        return repository->getSubKey(L"Discovery\\" + (domain.empty() ? L"KITODOMAIN" : domain) + L"\\" + host);
    }
    // Bound to the node's key as CacheNodeInfo leaves it (unbound for a node that is absent).
    DiscoveryInfo node(const std::wstring& domain, const std::wstring& host) const
    {
        DiscoveryInfo info;
        info.setNodeKey(nodeKey(domain, host));
        return info;
    }

private:
    KitoRepository* repository;
    RootInUse inUse;
};

} // namespace discoveryfixture
