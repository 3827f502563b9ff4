#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "DiscoveryFixture.h"
#include "FreshProcess.h"
#include "ImportHook.h"
#include "RepositoryTestSupport.h"
#include "ViewTestSupport.h"
#include "stringutils.h"

namespace {

using discoveryfixture::Release1;
using discoveryfixture::Release2;
using discoveryfixture::Site;

std::wstring summary(const std::vector<SolutionInfo>& records)
{
    std::wstring text;
    for (const SolutionInfo& record : records)
        text += record.solutionId + L":" + record.version + L":" + std::to_wstring(record.installStatus) + L" ";
    return text;
}

std::wstring joined(const std::vector<std::wstring>& names)
{
    std::wstring text;
    for (const std::wstring& name : names)
        text += name + L" ";
    return text;
}

std::wstring keyName(const RepositoryKey* key)
{
    return key ? key->getName() : L"-";
}

TEST(DiscoveryNodes, CacheNodeInfoResultAndBoundKey)
{
    Site site;
    struct Row {
        const wchar_t *domain, *node;
        int32_t result;
        const wchar_t* bound;
    };
    const Row rows[] = {
        {L"", L"HOST1", 0, L"HOST1"},
        {L"kitodomain", L"host1", 0, L"HOST1"},
        {L"CORP", L"HOST2", 0, L"HOST2"},
        {L"NOWHERE", L"HOST1", 0, L"HOST1"},
        {L"CORP", L"HOSTERR", 5, L"HOSTERR"},
        {L"CORP", L"HOSTNEW", 1, L"HOSTNEW"},
        {L"CORP", L"HOST1", 1, L"-"},
        {L"", L"NOSUCH", 1, L"-"},
        {L"", L"", 1, L"-"},
        {L"", L"HOST1\\Software", 1, L"-"},
        {L"KITODOMAIN\\HOST1", L"Software", 1, L"-"},
    };
    for (const Row& row : rows) {
        DiscoveryInfo info = site.node(L"", L"BARE");
        EXPECT_EQ(row.result, info.CacheNodeInfo(row.domain, row.node)) << row.domain << L" " << row.node;
        EXPECT_EQ(row.bound, keyName(info.getNodeKey())) << row.domain << L" " << row.node;
    }
    // Without a "Discovery" key, or without a root at all: 2, and the key bound before stays.
    KitoRepository empty(std::wstring(L"KitoRepository"));
    for (KitoRepository* root : {&empty, static_cast<KitoRepository*>(nullptr)}) {
        RootInUse inUse(root);
        DiscoveryInfo info = site.node(L"", L"BARE");
        EXPECT_EQ(2, info.CacheNodeInfo(L"", L"HOST1"));
        EXPECT_EQ(L"BARE", keyName(info.getNodeKey()));
    }
}

TEST(DiscoveryNodes, RemoveNodeDestroysOnlyAWholeNamedNode)
{
    struct Row {
        const wchar_t *node, *domain, *gone, *kept;
    };
    const Row rows[] = {
        {L"HOST1", L"", L"KITODOMAIN\\HOST1", L"KITODOMAIN\\HOST40"},
        {L"host2", L"corp", L"CORP\\HOST2", L"CORP\\HOSTERR"},
        {L"HOST1\\Software", L"", L"-", L"KITODOMAIN\\HOST1\\Software"},
        {L"Software", L"KITODOMAIN\\HOST1", L"-", L"KITODOMAIN\\HOST1\\Software"},
        {L"HOST2", L"NOWHERE", L"-", L"CORP\\HOST2"},
        {L"NOSUCH", L"", L"-", L"KITODOMAIN\\HOST1"},
    };
    for (const Row& row : rows) {
        Site site;
        site.nodeKey(L"", L"HOST1")->addSubKey(new CountedKey(L"Counted"));
        site.nodeKey(L"CORP", L"HOST2")->addSubKey(new CountedKey(L"Counted"));
        DiscoveryInfo::RemoveNode(row.node, row.domain);
        EXPECT_EQ(nullptr, site.root().getSubKey(std::wstring(L"Discovery\\") + row.gone)) << row.node;
        EXPECT_NE(nullptr, site.root().getSubKey(std::wstring(L"Discovery\\") + row.kept)) << row.node;
        // A removed node takes everything below it along.
        EXPECT_EQ(std::wstring(row.gone) == L"-" ? 2 : 1, CountedKey::alive) << row.node;
    }
    RootInUse noRoot(nullptr);
    DiscoveryInfo::RemoveNode(L"HOST1", L"");
}

TEST(InstalledSolutions, ListsByNodeAndRelease)
{
    Site site;
    struct Row {
        const wchar_t *node, *release, *solutions;
    };
    const Row rows[] = {
        {L"HOST1", L"", L"A:1.0:0 S2:3.0:1 mp.direct:1.1:3 rp.one:1.0.1:3 ao.one::3 A:2.0:3 "},
        {L"HOST1", Release2.c_str(), L"A:2.0:3 "},
        {L"HOST1", L"NOSUCH", L""},
        {L"HOST40", L"", L"plov.server:4.0:3 plov.gui:4.0:3 "},
        {L"HOST41", L"", L"B:4.1Alpha:3 "},
        {L"HOST41", Release1.c_str(), L"B:4.1.0:3 "},
        {L"HOSTMP", L"", L"mp.one:1.1:3 mp.two:1.2:1 "},
        {L"BARE", L"", L""},
        {L"ABSENT", L"", L""},
    };
    for (const Row& row : rows)
        EXPECT_EQ(row.solutions, summary(site.node(L"", row.node).GetKitoInstalledSolutions(row.release)))
            << row.node << L" " << row.release;

    const SolutionInfo a = site.node(L"", L"HOST1").GetKitoInstalledSolutions(L"").front();
    EXPECT_EQ(L"{A-GUID} Alpha C:\\A C:\\Cache\\A en remove A",
              a.guid + L" " + a.displayTitle + L" " + a.installLocation + L" " + a.cachePath + L" "
                  + a.installedLanguage + L" " + a.uninstallString);
    EXPECT_EQ((std::vector<std::wstring>{L"OS", L"Extras"}), a.childNames);
    EXPECT_EQ(L"9 4 5 2 0",
              std::to_wstring(a.os.osCode) + L" " + std::to_wstring(a.os.architecture) + L" "
                  + std::to_wstring(a.os.majorVersion) + L" " + std::to_wstring(a.os.minorVersion) + L" "
                  + std::to_wstring(a.os.servicePackMajorVersion));
}

TEST(InstalledSolutions, MaintenancePacksInBothLayouts)
{
    Site site;
    struct Row {
        const wchar_t *node, *release, *packs;
    };
    const Row rows[] = {
        {L"HOST1", L"", L"mp.direct:1.1:3 "},
        {L"HOST1", Release1.c_str(), L"mp.direct:1.1:3 "},
        {L"HOST1", Release2.c_str(), L""},
        {L"HOSTMP", L"", L"mp.one:1.1:3 mp.two:1.2:1 "},
        {L"HOSTMP", Release1.c_str(), L"mp.one:1.1:3 mp.two:1.2:1 "},
        {L"HOST40", L"", L""},
        {L"ABSENT", L"", L""},
    };
    for (const Row& row : rows)
        EXPECT_EQ(row.packs, summary(site.node(L"", row.node).GetKitoInstalledMPs(row.release)))
            << row.node << L" " << row.release;
    const SolutionInfo one = site.node(L"", L"HOSTMP").GetKitoInstalledMPs(L"").front();
    EXPECT_EQ(L"7 5", std::to_wstring(one.os.osCode) + L" " + std::to_wstring(one.os.majorVersion));
    EXPECT_TRUE(one.cachePath.empty() && one.childNames.empty());
}

TEST(InstalledSolutions, MatchModes)
{
    Site site;
    const DiscoveryInfo host1 = site.node(L"", L"HOST1");
    enum Ask { Solution, Component, Either };
    struct Row {
        Ask ask;
        const wchar_t *id, *version, *servicePack, *hotfix;
        int32_t mode, expected;
    };
    const Row rows[] = {
        {Solution, L"A", L"2.0", L"", L"", 0, 1},
        {Solution, L"A", L"2.0", L"", L"", 1, 0},
        {Solution, L"a", L"1.0", L"", L"", 0, 1},
        {Solution, L"A", L"3.0", L"", L"", 0, 0},
        {Solution, L"A", L"", L"", L"", 0, 1},
        {Solution, L"A", L"", L"SP1", L"", 0, 0},
        {Solution, L"A", L"1.0", L"SP1", L"", 1, 1},
        {Solution, L"A", L"9", L"", L"HF", 2, 1},
        {Solution, L"S2", L"3", L"", L"", 1, 1},
        {Solution, L"", L"", L"", L"", 2, 0},
        {Solution, L"Agent", L"", L"", L"", 2, 0},
        {Component, L"Agent", L"5.0", L"", L"", 1, 1},
        {Component, L"Agent", L"5.0", L"", L"", 0, 0},
        {Component, L"agent", L"5.0.1234", L"", L"", 0, 1},
        {Component, L"Agent", L"1", L"", L"", 2, 1},
        {Component, L"Viewer", L"", L"SP1", L"", 2, 0},
        {Component, L"Agent", L"", L"SP2", L"HF7", 0, 1},
        {Component, L"Agent", L"", L"sp2", L"", 1, 0},
        {Component, L"Agent", L"", L"", L"HF8", 0, 0},
        {Component, L"Nothing", L"", L"", L"", 2, 0},
        {Either, L"Agent", L"5.0", L"", L"", 1, 1},
        {Either, L"A", L"2.0", L"", L"", 0, 1},
        {Either, L"Viewer", L"3", L"", L"", 0, 0},
    };
    for (const Row& row : rows) {
        int32_t answer = row.ask == Solution
            ? host1.IsSolutionInstalled(row.id, row.version, row.servicePack, row.hotfix, row.mode)
            : row.ask == Component ? host1.ComponentExists(row.id, row.version, row.servicePack, row.hotfix, row.mode)
                                   : host1.IsInstalled(row.id, row.version, row.servicePack, row.hotfix, row.mode);
        EXPECT_EQ(row.expected, answer) << row.ask << L" " << row.id << L" " << row.version << L" " << row.mode;
    }
    EXPECT_EQ(0, site.node(L"", L"ABSENT").IsInstalled(L"A", L"", L"", L"", 2));
    EXPECT_EQ(1, site.node(L"", L"HOST40").IsSolutionInstalled(L"PLOV.gui", L"4", L"", L"", 1));
}

TEST(InstalledSolutions, OptionsComponentsAndOneSolution)
{
    Site site;
    const DiscoveryInfo host1 = site.node(L"", L"HOST1");
    auto optionNames = [&](const std::wstring& release) {
        std::vector<std::wstring> names;
        for (const SolutionOptionInfo& option : host1.GetKitoInstalledSolutionOptions(release))
            names.push_back(option.name + L"=" + option.displayTitle);
        return joined(names);
    };
    EXPECT_EQ(L"opt.one=Option One ", optionNames(L""));
    EXPECT_EQ(L"opt.two= ", optionNames(Release2));
    EXPECT_EQ(L"", optionNames(L"NOSUCH"));
    EXPECT_EQ(1, host1.IsSolutionOptionInstalled(L"OPT.ONE"));
    EXPECT_EQ(0, host1.IsSolutionOptionInstalled(L"opt.two"));

    std::vector<std::wstring> components;
    for (const ComponentInfo& component : host1.GetInstalledComponents())
        components.push_back(component.name);
    EXPECT_EQ(L"Agent Viewer Osmark ", joined(components));
    const ComponentInfo agent = host1.GetInstalledComponentInfo(L"AGENT", L"5.0", L"SP", L"");
    EXPECT_EQ(L"Agent 5.0.1234 {AGENT-GUID} Backup Agent C:\\Agent | SP2 C:\\Agent\\SP | HF7 Agent fix {HF} 3",
              agent.name + L" " + agent.version + L" " + agent.guid + L" " + agent.displayName + L" "
                  + agent.installLocation + L" | " + agent.servicePack.version + L" "
                  + agent.servicePack.installLocation + L" | " + agent.hotfix.version + L" " + agent.hotfix.displayName
                  + L" " + agent.hotfix.guid + L" " + std::to_wstring(agent.installStatus));
    EXPECT_EQ(L"", host1.GetInstalledComponentInfo(L"Agent", L"6", L"", L"").name);
    EXPECT_EQ(L"1 0 0",
              std::to_wstring(host1.ComponentExists(L"{VIEWER-GUID}")) + L" "
                  + std::to_wstring(host1.ComponentExists(L"{viewer-guid}")) + L" "
                  + std::to_wstring(site.node(L"", L"ABSENT").ComponentExists(L"{VIEWER-GUID}")));
    EXPECT_EQ(L"Osmark", keyName(host1.getOsmarkKey()));

    EXPECT_EQ(L"1.0", host1.GetInstalledSolutionInfo(L"a", L"").version);
    EXPECT_EQ(L"2.0", host1.GetInstalledSolutionInfo(L"A", L"2.0").version);
    EXPECT_EQ(L"", host1.GetInstalledSolutionInfo(L"A", L"2").solutionId);
}

TEST(NodeFacts, ValuesAndTheirDefaults)
{
    Site site;
    using Fact = std::function<std::wstring(const DiscoveryInfo&)>;
    auto number = [](int32_t (DiscoveryInfo::*get)() const) {
        return Fact([get](const DiscoveryInfo& info) { return std::to_wstring((info.*get)()); });
    };
    auto text = [](std::wstring (DiscoveryInfo::*get)() const) {
        return Fact([get](const DiscoveryInfo& info) { return (info.*get)(); });
    };
    auto folder = [](std::wstring (DiscoveryInfo::*get)(int32_t) const, int32_t selector) {
        return Fact([get, selector](const DiscoveryInfo& info) { return (info.*get)(selector); });
    };
    // The name depends on the message module a process loaded: OsNames checks it.
    auto os = [](const DiscoveryInfo& info) {
        OSInfo record = info.GetOSDetails(1);
        return std::to_wstring(record.osCode) + L"/" + std::to_wstring(record.architecture) + L"/"
            + std::to_wstring(record.majorVersion) + L"." + std::to_wstring(record.minorVersion) + L"."
            + std::to_wstring(record.servicePackMajorVersion);
    };
    auto drives = [](const DiscoveryInfo& info) {
        std::wstring text;
        for (const DriveInfo& drive : info.GetDriveDetails())
            text += drive.name + L"=" + std::to_wstring(drive.freeSpace) + L"/" + std::to_wstring(drive.totalSpace)
                + L" ";
        return text;
    };
    auto nics = [](const DiscoveryInfo& info) {
        std::wstring text;
        for (const NICInfo& nic : info.GetNICs())
            text += nic.ip + L"," + nic.subnet + L"," + nic.networkName + L" ";
        return text;
    };
    struct Row {
        Fact fact;
        const wchar_t *host1, *host2, *bare;
    };
    const Row rows[] = {
        {number(&DiscoveryInfo::UserIsAdmin), L"1", L"0", L"0"},
        {number(&DiscoveryInfo::IsSelected), L"1", L"0", L"0"},
        {text(&DiscoveryInfo::GetInstallFolder), L"D:\\Kito", L"", L""},
        {text(&DiscoveryInfo::GetCurrentLanguage), L"en", L"", L""},
        {text(&DiscoveryInfo::GetCurrentLocale), L"0409", L"", L""},
        {text(&DiscoveryInfo::GetCommonAppDataFolder), L"C:\\AppData", L"", L""},
        {text(&DiscoveryInfo::GetSystemDrive), L"C:", L"", L""},
        {number(&DiscoveryInfo::GetDriverSigningSetting), L"2", L"0", L"0"},
        {folder(&DiscoveryInfo::GetCommonFilesFolder, 1), L"C:\\Common32", L"", L""},
        {folder(&DiscoveryInfo::GetCommonFilesFolder, 2), L"C:\\Common64", L"", L""},
        {folder(&DiscoveryInfo::GetProgramFilesFolder, 1), L"C:\\Programs32", L"", L""},
        {folder(&DiscoveryInfo::GetProgramFilesFolder, 2), L"C:\\Programs64", L"", L""},
        {folder(&DiscoveryInfo::GetProgramFilesFolder, 3), L"", L"", L""},
        {os, L"10/3/5.2.1", L"13/1/6.0.0", L"13/4/0.0.0"},
        {drives, L"C:=4294967297/85899345920 D:=0/500 ", L"", L""},
        {nics, L"10.0.0.1,255.0.0.0,Public 192.168.1.1,, ", L"", L""},
        {number(&DiscoveryInfo::Is64BitNode), L"1", L"0", L"0"},
        {text(&DiscoveryInfo::GetLastError), L"access denied", L"", L""},
        {number(&DiscoveryInfo::GetMachineType), L"7", L"0", L"0"},
    };
    const DiscoveryInfo nodes[] = {site.node(L"", L"HOST1"), site.node(L"CORP", L"HOST2"), site.node(L"", L"BARE"),
                                   DiscoveryInfo()};
    for (size_t i = 0; i < sizeof rows / sizeof rows[0]; ++i) {
        const Row& row = rows[i];
        const wchar_t* expected[] = {row.host1, row.host2, row.bare, row.bare};
        for (size_t n = 0; n < 4; ++n)
            EXPECT_EQ(expected[n], row.fact(nodes[n])) << L"row " << i << L" node " << n;
    }
}

TEST(NodeFacts, SettersWriteTheBoundNode)
{
    Site site;
    DiscoveryInfo bare = site.node(L"", L"BARE");
    bare.SetSelected(0);
    bare.SetInstallFolder(L"E:\\Apps");
    EXPECT_EQ(0, bare.IsSelected());
    std::wstring stored;
    site.nodeKey(L"", L"BARE")->getStringValue(L"IsSelected", stored);
    EXPECT_EQ(L"FALSE", stored);
    bare.SetSelected(5);
    EXPECT_EQ(1, bare.IsSelected());
    EXPECT_EQ(L"E:\\Apps", bare.GetInstallFolder());
    DiscoveryInfo unbound;
    unbound.SetSelected(1);
    unbound.SetInstallFolder(L"X:\\");
    EXPECT_EQ(0, unbound.IsSelected());
}

TEST(FurtherNodeQueries, RunOnceEntriesClusterAndUninstallKeys)
{
    Site site;
    const DiscoveryInfo host1 = site.node(L"", L"HOST1"), host2 = site.node(L"CORP", L"HOST2"), none;
    EXPECT_EQ(L"x y z ", joined(host1.GetRunOnceEntries()));
    EXPECT_EQ(L"0 1 1 1",
              std::to_wstring(host1.IsRunOnceEntryGone(L"Y")) + L" " + std::to_wstring(host1.IsRunOnceEntryGone(L"w"))
                  + L" " + std::to_wstring(host2.IsRunOnceEntryGone(L"x")) + L" "
                  + std::to_wstring(none.IsRunOnceEntryGone(L"x")));
    const ClusterInfo both = host1.GetClusterDetails(), nameOnly = host2.GetClusterDetails();
    EXPECT_EQ(L"CL-B 42 HOST1 HOST2 ", both.clusterName + L" " + both.clusterId + L" " + joined(both.nodes));
    EXPECT_EQ(L"CL-A", nameOnly.clusterName);
    EXPECT_EQ(L"  ", none.GetClusterDetails().clusterName + L" " + none.GetClusterDetails().clusterId + L" ");
    EXPECT_EQ(L"Patch", keyName(host1.GetDiscoveryKey(L"prod.one\\Patch")));
    EXPECT_EQ(L"-", keyName(none.GetDiscoveryKey(L"prod.one")));
}

TEST(InstalledComponentLookup, ByProductReleaseAndKindWithAndWithoutARoot)
{
    Site site;
    const DiscoveryInfo host1 = site.node(L"", L"HOST1");
    struct Row {
        const wchar_t *product, *release;
        int32_t kind;
        const wchar_t* guid;
        bool withRoot, withoutRoot;
    };
    const Row rows[] = {
        {L"comp.x", L"", 1, L"", true, false},
        {L"COMP.X", L"", 1, L"{abcdef}", true, false},
        {L"comp.x", L"", 1, L"{OTHER}", false, false},
        {L"comp.x", Release1.c_str(), 1, L"", true, true},
        {L"comp.x", Release2.c_str(), 1, L"", false, false},
        {L"comp.empty", L"", 1, L"", false, false},
        {L"mp.comp", L"", 4, L"", true, false},
        {L"mp.comp", L"", 1, L"", false, false},
        {L"comp.x", L"", 2, L"", false, false},
        {L"Files", L"", 1, L"", false, false},
    };
    for (bool withRoot : {true, false}) {
        RootInUse root(withRoot ? &site.root() : nullptr);
        for (const Row& row : rows)
            EXPECT_EQ(withRoot ? row.withRoot : row.withoutRoot,
                      host1.IsComponentPresent(row.product, row.release, row.kind, row.guid))
                << row.product << L" " << row.release << L" " << row.kind << (withRoot ? L"" : L" no root");
    }
    EXPECT_EQ(nullptr, DiscoveryInfo().GetInstalledComponent(L"comp.x", Release1, 1));
}

TEST(OsNames, FromTheCatalogueOrTheRecordedName)
{
    struct Row {
        int32_t code, flag;
        const wchar_t *withoutCatalogue, *withCatalogue;
        int32_t codeSet;
    };
    const Row rows[] = {
        {10, 1, L"kept", L"Server 10 x64", 10},  {10, 0, L"kept", L"Group 9-12", 10},
        {1, 7, L"kept", L"Server 1", 1},         {0, 1, L"kept", L"Unknown system", 13},
        {14, 0, L"kept", L"Unknown system", 13}, {2, 1, L"kept", L"kept", 2}, // an id the catalogue lacks
    };
    auto expectNames = [&rows](bool loaded) {
        Site site;
        for (const Row& row : rows) {
            OSInfo record;
            record.name = L"kept";
            DiscoveryInfo::setOSLevel(record, row.code, row.flag);
            EXPECT_EQ(loaded ? row.withCatalogue : row.withoutCatalogue, record.name) << row.code << L" " << row.flag;
            EXPECT_EQ(row.codeSet, record.osCode);
        }
        EXPECT_EQ(loaded ? L"Server 10 x64" : L"Recorded OS", site.node(L"", L"HOST1").GetOSDetails(1).name);
        EXPECT_EQ(loaded ? L"Unknown system" : L"Recorded OS", site.node(L"CORP", L"HOST2").GetOSDetails(0).name);
    };
    expectInFreshProcess([&] { expectNames(false); });
    ASSERT_EQ(0u, loadMessageModule(L"kito_testmessages.dll", L""));
    expectNames(true);
}

std::wstring g_askedShare;

BOOL WINAPI recordShare(const wchar_t* path, ULARGE_INTEGER* available, ULARGE_INTEGER*, ULARGE_INTEGER*)
{
    g_askedShare = path;
    available->QuadPart = 12345;
    return TRUE;
}

TEST(FreeDiskSpace, AsksTheShareRootAndRefusesNodeNames)
{
    ImportHook hook(GetModuleHandleW(nullptr), "GetDiskFreeSpaceExW", reinterpret_cast<const void*>(&recordShare));
    ASSERT_TRUE(hook.Active());
    struct Row {
        const wchar_t *node, *path, *asked;
        int32_t result;
    };
    const Row rows[] = {
        {L"HOST1", L"D:\\Data", L"\\\\HOST1\\D$\\", 0},
        {L"HOST1", L"", L"\\\\HOST1\\$\\", 0},
        {L"", L"C:\\", L"-", 1},
        {L"HOST1\\C$\\..\\OTHER", L"C:\\", L"-", 1},
        {L"HOST1/C$/../OTHER", L"C:\\", L"-", 1},
        {L"..", L"C:\\", L"-", 1},
    };
    for (const Row& row : rows) {
        RepositoryKey node(row.node);
        DiscoveryInfo info;
        info.setNodeKey(&node);
        g_askedShare = L"-";
        uint64_t free = 0;
        EXPECT_EQ(row.result, info.GetFreeDiskSpace(row.path, free)) << row.node;
        EXPECT_EQ(row.asked, g_askedShare) << row.node;
        EXPECT_EQ(row.result == 0 ? 12345u : 0u, free) << row.node;
    }
    uint64_t free = 0;
    EXPECT_EQ(1, DiscoveryInfo().GetFreeDiskSpace(L"C:\\", free));
}

TEST(FreeDiskSpace, ThroughAShareOfTheWinePrefix)
{
    // Wine answers \\HOST\D$ from the folder $WINEPREFIX/dosdevices/unc/host/d$.
    wchar_t prefix[MAX_PATH] = {};
    DWORD length = GetEnvironmentVariableW(L"WINEPREFIX", prefix, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        GTEST_SKIP() << "not under Wine";
    }
    std::wstring folder = L"Z:" + std::wstring(prefix, length);
    for (wchar_t& c : folder)
        c = c == L'/' ? L'\\' : c;
    const std::wstring host = L"qzshare" + std::to_wstring(GetCurrentProcessId());
    const std::wstring share = folder + L"\\dosdevices\\unc\\" + host + L"\\d$";
    for (const std::wstring& part : {folder + L"\\dosdevices\\unc", folder + L"\\dosdevices\\unc\\" + host, share})
        CreateDirectoryW(part.c_str(), nullptr);
    RepositoryKey node(host);
    DiscoveryInfo info;
    info.setNodeKey(&node);
    uint64_t free = 0;
    EXPECT_EQ(0, info.GetFreeDiskSpace(L"D:\\Kito", free));
    EXPECT_GT(free, 0u);
    EXPECT_EQ(1, info.GetFreeDiskSpace(L"Q:\\Kito", free));
    RemoveDirectoryW(share.c_str());
    RemoveDirectoryW((folder + L"\\dosdevices\\unc\\" + host).c_str());
}

TEST(RepositoryInstalledChecks, SolutionsAndComponentsOfANodeWithAndWithoutARoot)
{
    Site site;
    struct Row {
        bool solution;
        const wchar_t *id, *domain, *host;
        bool expected;
    };
    const Row rows[] = {
        {true, L"A", L"", L"HOST1", true},
        {true, L"s2", L"kitodomain", L"host1", true},
        {true, L"A", L"CORP", L"HOST1", false},
        {true, L"B", L"", L"HOST41", true},
        {true, L"A\\OS", L"", L"HOST1", false},
        {true, L"", L"", L"HOST1", false},
        {false, L"comp.x", L"", L"HOST1", true},
        {false, L"comp.empty", L"", L"HOST1", false},
        {false, L"comp.x", L"CORP", L"HOST2", false},
    };
    for (bool withRoot : {true, false}) {
        RootInUse root(withRoot ? &site.root() : nullptr);
        for (const Row& row : rows) {
            bool answer = row.solution ? site.root().isSolutionInstalled(row.id, row.domain, row.host)
                                       : site.root().isComponentInstalled(row.id, row.domain, row.host);
            EXPECT_EQ(withRoot && row.expected, answer)
                << row.id << L" " << row.domain << (withRoot ? L"" : L" no root");
        }
    }
}

TEST(RepositoryInstalledChecks, LanguagePacksSelectionAndWidth)
{
    Site site;
    TreeGuard other(new KitoRepository(std::wstring(L"Other")));
    put(&site.root(), L"Solutions\\plov.soln.mesa.gui.lp", {{L"Selected", L"1"}});
    put(&site.root(), L"Solutions\\plain", {{L"Selected", L"0"}});
    put(other.get(), L"Solutions\\plain", {{L"Selected", L"1"}});
    const KitoRepository& mine = *static_cast<KitoRepository*>(other.get());
    EXPECT_TRUE(KitoRepository::isLanguagePack(L"PLOV.SOLN.MESA.GUI.LP"));
    EXPECT_FALSE(KitoRepository::isLanguagePack(L"plov.soln.mesa.gui"));
    EXPECT_TRUE(site.root().hasLanguagePackSelected());
    EXPECT_FALSE(mine.hasLanguagePackSelected());
    EXPECT_TRUE(mine.isSolutionSelected(L"Plov.Soln.Mesa.Gui.Lp")) << "asks the root's selection";
    EXPECT_FALSE(mine.isSolutionSelected(L"plain"));
    for (const wchar_t* flag : {L"1", L"2", L""}) {
        other->setStringValue(L"64BitOS", flag);
        EXPECT_EQ(flag == std::wstring(L"1"), mine.is64BitOS()) << flag;
    }
    RootInUse noRoot(nullptr);
    EXPECT_FALSE(mine.isSolutionSelected(L"plov.soln.mesa.gui.lp"));
}

} // namespace
