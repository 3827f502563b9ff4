#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "DiscoveryFixture.h"
#include "RepositoryTestSupport.h"
#include "ViewTestSupport.h"
#include "userinput.h"

namespace {

using discoveryfixture::Release1;
using discoveryfixture::Release2;
using installertest::Node;

// The install file: the user's choices and solutions and components with their prerequisites.
Node installFile()
{
    Node file{L"KitoRepository", {}, {}};
    file.at(L"UserInput", {{L"KeyType", L"5"}, {L"InstallMode", L"1"}});
    file.at(L"UserInput\\Hosts\\node1", {{L"InstallPath", L"C:\\Dir"}, {L"Domain", L"d"}});
    file.at(L"UserInput\\Hosts\\HOST1", {{L"InstallPath", L"C:\\Host1"}});
    file.at(L"UserInput\\Hosts\\BARE", {{L"InstallPath", L"C:\\Bare"}});
    const auto solution = [&file](const std::wstring& id, const Node::Values& values) -> Node& {
        Node& key = file.at(L"Solutions\\" + id, {{L"KeyType", L"2"}, {L"SolutionID", id}});
        key.values.insert(key.values.end(), values.begin(), values.end());
        return key;
    };
    solution(L"sel", {{L"InstallPathSelectable", L"1"}, {L"Type", L"4"}, {L"Selected", L"1"}, {L"ReleaseArch", L"3"}});
    const auto parents = [&solution](const std::wstring& id, std::vector<std::wstring> products) {
        Node& key = solution(id, {{L"Type", L"1"}});
        for (size_t i = 0; i < products.size(); ++i)
            key.at(L"UpgradableProducts\\p" + std::to_wstring(i), {{L"ProductID", products[i]}, {L"IsParent", L"1"}});
    };
    parents(L"up.component", {L"A", L"comp.x"});
    parents(L"up.both", {L"A", L"S2"});
    parents(L"up.none", {L"NOPE"});
    solution(L"base", {{L"Type", L"1"}}).at(L"PreRequisitesSw\\Include", {{L"1", L"A"}, {L"2", L""}, {L"3", L"s2"}});
    file.at(L"Solutions\\base\\PreRequisitesSw\\Exclude", {{L"1", L"A"}, {L"2", L"NOPE"}});
    solution(L"walker", {}).at(L"PreRequisitesSw\\Include", {{L"1", L"A\\OS"}});
    solution(L"lonely", {}).at(L"PreRequisitesSw");
    solution(L"emptyinc", {}).at(L"PreRequisitesSw\\Include");
    solution(L"notype", {});
    const std::wstring comps = L"Components\\";
    file.at(comps + L"comp1\\PreRequisitesSw\\Include\\first", {{L"ProductID", L"missing"}, {L"TYPE", L"1"}});
    file.at(comps + L"comp1\\PreRequisitesSw\\Include\\second", {{L"ProductID", L"COMP.X"}, {L"TYPE", L"1"}});
    file.at(comps + L"comp1\\PreRequisitesSw\\Exclude\\e", {{L"ProductID", L"comp.empty"}, {L"TYPE", L"1"}});
    file.at(comps + L"comp2\\PreRequisitesSw\\Include\\untyped", {{L"ProductID", L"comp.x"}});
    file.at(comps + L"comp3\\PreRequisitesSw\\Include\\pack", {{L"ProductID", L"mp.comp"}, {L"TYPE", L"4"}});
    file.at(comps + L"comp3\\PreRequisitesSw\\Exclude\\other",
            {{L"ProductID", L"comp.x"}, {L"Guid", Release2}, {L"TYPE", L"1"}});
    file.at(comps + L"comp4\\PreRequisitesSw");
    return file;
}

Node siteTree()
{
    Node tree = discoveryfixture::tree();
    tree.at(L"KITODOMAIN\\HOST1\\Software\\Osmark\\Kito\\" + Release1 + L"\\Solutions\\S2",
            {{L"InstallLocation", L"C:\\S2"}});
    // What a host or domain holding a backslash would reach.
    const std::wstring nested = L"KITODOMAIN\\HOST1\\Nested\\Software\\Osmark\\Kito\\" + Release1 + L"\\Solutions\\";
    tree.at(nested + L"A", {{L"CachePath", L"C:\\Nested"}});
    tree.at(nested + L"S2");
    return tree;
}

// The discovery site in KitoDb, loaded with the install file as the installer loads it.
class InstalledSite : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(installertest::writeNodeFile(folder.path + L"\\install.xml", installFile()));
        ASSERT_EQ(0u, root().initFromInstallXML(L"install.xml", folder.path.c_str()));
        root().setStringValue(L"Version", L"4.3");
    }
    KitoRepository& root() { return site.root(); }
    void setMode(int32_t mode) { UserInput::setInstallMode(*root().getSubKey(L"UserInput"), mode); }

    ScratchFolder folder;
    discoveryfixture::Site site{siteTree()};
};

TEST_F(InstalledSite, PrerequisiteLists)
{
    struct Row {
        bool solution;
        const wchar_t* id;
        bool include;
        Names expected;
    };
    const Row rows[] = {
        {true, L"base", true, {L"A", L"s2"}},
        {true, L"BASE", true, {L"A", L"s2"}},
        {true, L"base", false, {L"A", L"NOPE"}},
        {true, L"lonely", true, {}},
        {true, L"emptyinc", true, {}},
        {true, L"nosuch", true, {}},
        {true, L"", true, {}},
        {false, L"comp1", true, {L"first", L"second"}},
        {false, L"comp1", false, {L"e"}},
        {false, L"comp4", true, {}},
        {false, L"comp1\\PreRequisitesSw", true, {}},
    };
    for (const Row& row : rows) {
        Names names;
        if (row.solution) {
            names = root().arePreRequisiteSolnsInstalled(row.id, row.include);
        } else {
            root().getPreRequisiteComps(row.id, row.include, names);
            EXPECT_EQ(names, namesOf(root().getPreRequisiteComps(row.id, row.include))) << row.id;
        }
        EXPECT_EQ(row.expected, names) << row.id << L" " << row.include;
    }
}

TEST_F(InstalledSite, PrerequisiteChecksAgainstANodeWithAndWithoutARoot)
{
    struct Row {
        bool solution;
        const wchar_t *id, *domain, *host;
        bool include, expected, withoutRoot;
    };
    const Row rows[] = {
        {true, L"base", L"", L"HOST1", true, true, false},
        {true, L"Base", L"kitodomain", L"host1", true, true, false},
        {true, L"base", L"", L"HOST1", false, false, false},
        {true, L"base", L"", L"HOST41", true, false, false},
        {true, L"base", L"", L"HOSTMP", true, false, false},
        {true, L"base", L"CORP", L"HOST1", true, false, false},
        {true, L"base", L"", L"HOST1\\Nested", true, false, false},
        {true, L"base", L"KITODOMAIN\\HOST1", L"Nested", true, false, false},
        {true, L"walker", L"", L"HOST1", true, false, false},
        {true, L"lonely", L"", L"NOSUCH", true, true, true},
        {true, L"", L"", L"HOST1", true, false, false},
        {true, L"base\\PreRequisitesSw", L"", L"HOST1", true, false, false},
        {false, L"comp1", L"", L"HOST1", true, true, false},
        {false, L"comp1", L"", L"HOST1", false, false, false},
        {false, L"comp1", L"CORP", L"HOST2", true, false, false},
        {false, L"comp1", L"CORP", L"HOSTNEW", true, false, false},
        {false, L"comp1", L"CORP", L"HOSTERR", true, false, false},
        {false, L"comp2", L"", L"HOST1", true, true, false},
        {false, L"comp3", L"", L"HOST1", true, true, false},
        {false, L"comp3", L"", L"HOST1", false, false, false},
        {false, L"comp4", L"", L"NOSUCH", true, true, true},
        {false, L"comp1\\PreRequisitesSw", L"", L"HOST1", true, false, false},
    };
    for (bool withRoot : {true, false}) {
        RootInUse inUse(withRoot ? &root() : nullptr);
        for (const Row& row : rows) {
            bool answer = row.solution
                ? root().arePreRequisiteSolnsInstalled(row.id, row.domain, row.host, row.include)
                : root().arePreRequisiteCompsInstalled(row.id, row.domain, row.host, row.include);
            EXPECT_EQ(withRoot ? row.expected : row.withoutRoot, answer)
                << row.id << L" " << row.domain << L" " << row.host << L" " << row.include << L" root " << withRoot;
        }
    }
}

TEST_F(InstalledSite, ReleaseModeAndArchitecture)
{
    EXPECT_EQ(0, root().getReleaseMode());
    root().setReleaseMode(5);
    root().setReleaseArch(7);
    EXPECT_EQ(5, root().getReleaseMode());
    EXPECT_EQ(3, root().getReleaseArch()) << "read from the first selected solution";
    root().getSubKey(L"Solutions\\sel")->removeValue(L"ReleaseArch");
    EXPECT_EQ(0, root().getReleaseArch());
    root().getSubKey(L"Solutions\\sel")->setIntValue(L"Selected", 0);
    EXPECT_EQ(2, root().getReleaseArch());
}

TEST_F(InstalledSite, KitoKeyOfANode)
{
    const RepositoryKey* host1 = root().getSubKey(L"Discovery\\KITODOMAIN\\HOST1\\Software\\Osmark\\Kito");
    ASSERT_NE(nullptr, host1);
    struct Row {
        const wchar_t *domain, *host;
        const RepositoryKey* expected;
    };
    const Row rows[] = {
        {L"", L"HOST1", host1},
        {L"kitodomain", L"host1", host1},
        {L"", L"NOSUCH", nullptr},
        {L"CORP", L"HOST2", nullptr},
        {L"", L"", nullptr},
        {L"KITODOMAIN\\HOST1", L"Nested", nullptr},
        {L"", L"HOST1\\Nested", nullptr},
    };
    for (const Row& row : rows)
        EXPECT_EQ(row.expected, root().getKitoKey(row.domain, row.host)) << row.domain << L" " << row.host;
}

TEST_F(InstalledSite, InstallAndCachePathsByModeWithAndWithoutARoot)
{
    const auto install = &KitoRepository::getInstallPath;
    const auto cache = &KitoRepository::getCachePath;
    const std::wstring common = L"C:\\Common32\\Osmark Shared\\Kito\\";
    struct Row {
        decltype(install) query;
        int32_t mode;
        const wchar_t *domain, *host, *id;
        std::wstring expected, withoutRoot;
    };
    const Row rows[] = {
        {install, 1, L"d", L"node1", L"sel", L"C:\\Dir", L"C:\\Dir"},
        {install, 1, L"", L"HOST1", L"up.component", L"C:\\A", L"C:\\Host1"},
        {install, 1, L"", L"HOST1", L"up.both", L"C:\\S2", L"C:\\Host1"},
        {install, 1, L"", L"HOST1", L"up.none", L"C:\\Host1", L"C:\\Host1"},
        {install, 1, L"", L"BARE", L"up.both", L"C:\\Bare", L"C:\\Bare"},
        {install, 1, L"", L"HOST1", L"unknown", L"", L""},
        {install, 0, L"", L"HOST1", L"A", L"C:\\A", L"C:\\Host1"},
        {install, 0, L"", L"HOST1", L"s2", L"C:\\S2", L"C:\\Host1"},
        {install, 0, L"", L"HOST1", L"NOPE", L"C:\\Host1", L"C:\\Host1"},
        {install, 0, L"CORP", L"HOST2", L"A", L"", L""},
        {install, 0, L"d", L"node1", L"A", L"C:\\Dir", L"C:\\Dir"},
        {cache, 1, L"", L"HOST1", L"base", common + L"{4.3}", L""},
        {cache, 1, L"", L"HOST1", L"sel", common + L"MaintenancePacks\\{4.3}", L""},
        {cache, 1, L"", L"HOST1", L"notype", common + L"\\{4.3}", L""},
        {cache, 1, L"", L"HOST1", L"unknown", common + L"{4.3}", L""},
        {cache, 1, L"", L"BARE", L"base", L"", L""},
        {cache, 1, L"", L"NOSUCH", L"base", L"", L""},
        {cache, 1, L"CORP", L"HOSTNEW", L"base", L"", L""},
        {cache, 0, L"", L"HOST1", L"A", L"C:\\Cache\\A", L"C:\\Cache\\A"},
        {cache, 0, L"kitodomain", L"host1", L"a", L"C:\\Cache\\A", L"C:\\Cache\\A"},
        {cache, 0, L"", L"HOST1", L"S2", L"", L""},
        {cache, 0, L"", L"HOST1", L"unknown", L"", L""},
        {cache, 0, L"", L"BARE", L"A", L"", L""},
        {cache, 0, L"", L"", L"A", L"", L""},
        {cache, 0, L"", L"HOST1\\Nested", L"A", L"", L""},
        {cache, 0, L"KITODOMAIN\\HOST1", L"Nested", L"A", L"", L""},
    };
    for (bool withRoot : {true, false}) {
        RootInUse inUse(withRoot ? &root() : nullptr);
        for (const Row& row : rows) {
            setMode(row.mode);
            EXPECT_EQ(withRoot ? row.expected : row.withoutRoot, (root().*row.query)(row.domain, row.host, row.id))
                << (row.query == cache ? L"cache " : L"install ") << row.mode << L" " << row.host << L" " << row.id
                << L" root " << withRoot;
        }
    }
}

TEST_F(InstalledSite, CacheVersionAndReleaseComeFromTheProcessRoot)
{
    TreeGuard guard(new KitoRepository(std::wstring(L"Other")));
    KitoRepository& other = *static_cast<KitoRepository*>(guard.get());
    other.setStringValue(L"Version", L"1.0");
    other.setStringValue(L"Guid", Release2);
    put(&other, L"UserInput", {{L"InstallMode", L"1"}});
    const std::wstring installed = L"Discovery\\KITODOMAIN\\HOST1\\Software\\Osmark\\Kito\\" + Release1
        + L"\\Solutions\\A";
    put(&other, installed.c_str(), {{L"CachePath", L"C:\\Cache\\A"}});
    EXPECT_EQ(L"C:\\Common32\\Osmark Shared\\Kito\\{4.3}", other.getCachePath(L"", L"HOST1", L"A"));
    other.getSubKey(L"UserInput")->setStringValue(L"InstallMode", L"0");
    EXPECT_EQ(L"C:\\Cache\\A", other.getCachePath(L"", L"HOST1", L"A")) << "the release of KitoDb";
    RootInUse noRoot(nullptr);
    EXPECT_EQ(L"", other.getCachePath(L"", L"HOST1", L"A")) << "its own release";
}

TEST(RepositorySubPaths, CacheAndReleaseBelowTheCommonFiles)
{
    struct Row {
        int32_t kind;
        const wchar_t *version, *guid, *cache, *release;
    };
    const Row rows[] = {
        {1, L"4.3", L"G", L"Osmark Shared\\Kito\\{4.3}\\", L"Osmark Shared\\Kito\\Release\\{G}\\"},
        {3, L"4.3", L"G", L"Osmark Shared\\Kito\\RollupPatches\\{4.3}\\",
         L"Osmark Shared\\Kito\\RollupPatches\\Release\\{G}\\"},
        {6, L"4.3", L"G", L"Osmark Shared\\Kito\\AddOns\\{4.3}\\", L"Osmark Shared\\Kito\\AddOns\\Release\\{G}\\"},
        {0, L"", L"", L"Osmark Shared\\Kito\\\\{}\\", L"Osmark Shared\\Kito\\\\Release\\{}\\"},
    };
    for (const Row& row : rows) {
        KitoRepository root(std::wstring(L"KitoRepository"));
        root.setStringValue(L"Version", row.version);
        root.setStringValue(L"Guid", row.guid);
        EXPECT_EQ(row.cache, root.getCacheSubPath(row.kind)) << row.kind;
        EXPECT_EQ(row.release, root.getReleaseSubPath(row.kind)) << row.kind;
    }
}

} // namespace
