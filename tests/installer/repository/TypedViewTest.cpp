#include <gtest/gtest.h>

#include <functional>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "FreshProcess.h"
#include "RepositoryTestSupport.h"
#include "ViewTestSupport.h"
#include "component.h"
#include "kitorepository.h"
#include "product.h"
#include "solution.h"
#include "solutionoption.h"
#include "stringutils.h"
#include "systemcheck.h"

namespace {

std::wstring selected(const RepositoryKey* key)
{
    std::wstring text = L"-";
    key->getStringValue(L"Selected", text);
    return text;
}

template <class View>
RepositoryKey* viewOrPlain(bool typed)
{
    return typed ? new View(std::wstring(L"Entry")) : RepositoryKey::create(L"Entry");
}

struct ValueRow {
    RepositoryKey* (*make)(bool typed);
    const wchar_t* name;
    const wchar_t* stored; // null: the value is missing
    std::function<std::wstring(RepositoryKey&)> read;
    std::wstring expected;
};

template <class Number>
std::function<std::wstring(RepositoryKey&)> asText(Number (*read)(const RepositoryKey&))
{
    return [read](RepositoryKey& key) { return std::to_wstring(read(key)); };
}

std::function<std::wstring(RepositoryKey&)> asText(std::wstring (*read)(const RepositoryKey&))
{
    return [read](RepositoryKey& key) { return read(key); };
}

TEST(TypedViews, ValuesAndDefaultsOnViewsAndPlainKeys)
{
    const ValueRow rows[] = {
        {viewOrPlain<Solution>, L"RemoteInstall", nullptr, asText(&Solution::isRemoteInstall), L"1"},
        {viewOrPlain<Solution>, L"RemoteInstall", L"0", asText(&Solution::isRemoteInstall), L"0"},
        {viewOrPlain<Solution>, L"RemoteInstall", L"2", asText(&Solution::isRemoteInstall), L"0"},
        {viewOrPlain<Solution>, L"Selected", L"yes", asText(&Solution::isSelected), L"0"},
        {viewOrPlain<Solution>, L"InstallStatus", nullptr, asText(&Solution::getInstallStatus), L"0"},
        {viewOrPlain<Solution>, L"SolutionID", L"S1", asText(&Solution::getSolutionID), L"S1"},
        {viewOrPlain<SolutionOption>, L"Selected", L"1", asText(&SolutionOption::isSelected), L"1"},
        {viewOrPlain<SolutionOption>, L"Selected", nullptr, asText(&SolutionOption::isSelected), L"0"},
        {viewOrPlain<Component>, L"ComponentType", nullptr, asText(&Component::getComponentType), L"2"},
        {viewOrPlain<Component>, L"IsSigned", nullptr, asText(&Component::isSigned), L"1"},
        {viewOrPlain<Component>, L"IsSigned", L"0", asText(&Component::isSigned), L"0"},
        {viewOrPlain<Component>, L"UpgradedCacheAvailable", nullptr, asText(&Component::isUpgradedCacheAvailable),
         L"1"},
        {viewOrPlain<Component>, L"UpgradedCacheAvailable", L"NO", asText(&Component::isUpgradedCacheAvailable), L"0"},
        {viewOrPlain<Component>, L"CommonSource", L"yes", asText(&Component::isCommonSource), L"1"},
        {viewOrPlain<Component>, L"ReInstallable", L"2", asText(&Component::isReInstallable), L"1"},
        {viewOrPlain<Component>, L"InstallStatus", nullptr, asText(&Component::getInstallStatus), L"0"},
        {viewOrPlain<Component>, L"DiskSpaceRequired", L"4294967301", asText(&Component::getDiskSpaceRequired),
         L"4294967301"},
        {viewOrPlain<Product>, L"TYPE", nullptr, asText(&Product::getType), L"1"},
        {viewOrPlain<Product>, L"CheckCondition", nullptr, asText(&Product::getCheckCondition), L"2"},
        {viewOrPlain<Product>, L"Mode", nullptr, asText(&Product::getMode), L"1"},
        {viewOrPlain<Product>, L"Mode", L"3", asText(&Product::getMode), L"1"},
        {viewOrPlain<Product>, L"Mode", L"4", asText(&Product::getMode), L"4"},
        {viewOrPlain<Product>, L"IsParent", L"2", asText(&Product::isParent), L"0"},
        {viewOrPlain<Product>, L"OSLevel", nullptr, asText(&Product::getOSLevel), L"0"},
        {viewOrPlain<Product>, L"OSFromLevel", nullptr, asText(&Product::getOSFromLevel), L"0"},
        {viewOrPlain<Product>, L"OSSP", nullptr, asText(&Product::getOSSP), L"0"},
        {viewOrPlain<SystemCheck>, L"Mode", nullptr, asText(&SystemCheck::getMode), L"1"},
        {viewOrPlain<SystemCheck>, L"Value", nullptr, asText(&SystemCheck::getValue), L"0"},
        {viewOrPlain<SystemCheck>, L"Name", L"Disk", asText(&SystemCheck::getCheckName), L"Disk"},
    };
    for (const ValueRow& row : rows) {
        for (bool typed : {true, false}) {
            TreeGuard key(row.make(typed));
            if (row.stored)
                key->setStringValue(row.name, row.stored);
            EXPECT_EQ(row.expected, row.read(*key.get()))
                << row.name << L" " << (row.stored ? row.stored : L"-") << (typed ? L" typed" : L" plain");
        }
    }
}

TEST(TypedViews, MembersReadTheViewAndEachReadStartsAfresh)
{
    SystemCheck check(std::wstring(L"Check"));
    check.setParam1(L"a");
    check.setParam3(L"c");
    EXPECT_EQ((Names{L"a", L""}), check.getParams());
    EXPECT_EQ(L"", check.getCheckName()) << "the key's own name is not its check name";

    TreeGuard owned(new Component(std::wstring(L"Comp")));
    Component& component = *static_cast<Component*>(owned.get());
    component.setDiskSpaceRequired(-5000000000LL);
    EXPECT_EQ(-5000000000LL, component.getDiskSpaceRequired());
    std::wstring owner = L"kept";
    component.setStringValue(L"OptionOf", L"");
    EXPECT_FALSE(component.getOptionOf(owner));
    EXPECT_EQ(L"kept", owner);
    component.setSelected(true);
    EXPECT_TRUE(component.isSelected());

    put(owned.get(), L"PreRequisitesSw\\Include\\P1");
    put(owned.get(), L"PreRequisitesSw\\Exclude\\P2");
    const std::pair<int, Names> kinds[] = {{3, {L"P1"}}, {1, {L"P2"}}, {2, {}}};
    for (const auto& kind : kinds)
        EXPECT_EQ(kind.second, namesOf(component.getPreRequisitesSw(kind.first))) << kind.first;
}

struct GuidRow {
    bool commonSource;
    int32_t osLevel, is64Bit, arch;
    std::wstring slot; // empty: no slot is read
};

TEST(ComponentView, GuidSlotsByPlatform)
{
    const GuidRow rows[] = {
        {false, 7, 1, 3, L"64_W2K3_x64"}, {true, 7, 1, 3, L"64_COMMON"},  {false, 7, 0, 1, L"32_W2K3"},
        {false, 4, 2, 2, L"32_W2K_IA64"}, {true, 99, 0, 9, L"32_COMMON"}, {false, 2, 0, 1, L""},
        {false, 13, 1, 1, L""},           {false, 7, 0, 4, L""},
    };
    for (const GuidRow& row : rows) {
        TreeGuard key(RepositoryKey::create(L"Comp"));
        if (row.commonSource)
            key->setStringValue(L"CommonSource", L"YES");
        RepositoryKey* guids = key->createSubKey(L"Guid");
        for (const wchar_t* slot : {L"64_W2K3_x64", L"64_COMMON", L"32_W2K3", L"32_W2K_IA64", L"32_COMMON"})
            guids->setStringValue(slot, slot);
        EXPECT_EQ(row.slot, Component::getGuid(*key.get(), row.osLevel, row.is64Bit, row.arch)) << row.slot;

        TreeGuard fresh(new Component(std::wstring(L"Comp")));
        if (row.commonSource)
            fresh->setStringValue(L"CommonSource", L"Yes");
        const uint32_t result = Component::setGuid(*fresh.get(), L"{G}", row.osLevel, row.is64Bit, row.arch);
        EXPECT_EQ(row.slot.empty() ? 87u : 0u, result) << row.slot;
        ASSERT_NE(nullptr, fresh->getSubKey(L"Guid"));
        EXPECT_EQ(row.slot.empty() ? 0u : 1u, fresh->getSubKey(L"Guid")->values().size()) << row.slot;
    }
}

struct SupportRow {
    const wchar_t* platforms;
    const wchar_t* archs;
    int32_t osLevel, arch;
    bool supported;
};

TEST(ComponentView, SupportByPlatformAndArchitectureLists)
{
    const SupportRow rows[] = {
        {nullptr, nullptr, 99, 9, true},     {L"W2K3,W2K", nullptr, 4, 9, true}, {L"W2K3,W2K", nullptr, 13, 1, true},
        {L"W2K3,W2K", nullptr, 2, 1, false}, {L" w2k3 ", nullptr, 8, 1, true},   {nullptr, L"x86", 5, 1, true},
        {nullptr, L"x86", 5, 3, false},      {nullptr, L"x86", 5, 4, true},      {L"W2K", L"x64,IA64", 4, 2, true},
        {L"W2K", L"x64,IA64", 9, 2, false},  {L",", nullptr, 4, 1, false},
    };
    for (const SupportRow& row : rows) {
        TreeGuard key(RepositoryKey::create(L"Comp"));
        if (row.platforms)
            key->setStringValue(L"SupportedPlatforms", row.platforms);
        if (row.archs)
            key->setStringValue(L"SupportedArchs", row.archs);
        EXPECT_EQ(row.supported, Component::isSupported(*key.get(), row.osLevel, row.arch))
            << (row.platforms ? row.platforms : L"-") << L" / " << (row.archs ? row.archs : L"-") << L" " << row.osLevel
            << L"," << row.arch;
    }
}

// A repository root in KitoDb: components A to E, a solution naming some of them, with options, product
// lists and system checks.
class ViewsOverRepository : public ::testing::Test {
protected:
    void SetUp() override
    {
        KitoDb = new KitoRepository(std::wstring(L"KitoRepository"));
        RepositoryKey* components = KitoDb->createSubKey(L"Components");
        for (const wchar_t* name : {L"A", L"B", L"C", L"D", L"E"})
            components->addSubKey(new Component(std::wstring(name)));
        put(components, L"B", {{L"OptionOf", L"A"}});
        put(components, L"C", {{L"OptionOf", L"A"}, {L"Selected", L"1"}});
        put(components, L"D", {{L"OptionOf", L"a"}, {L"Selected", L"1"}});
        put(components, L"A\\Guid", {{L"32_COMMON", L"{G}"}});
        put(KitoDb, L"InstallSequence", {{L"C", L"1"}, {L"B", L"2"}, {L"A", L"3"}});

        solution = new Solution(std::wstring(L"Sol"));
        KitoDb->addSubKeyAt(L"Solutions", solution);
        put(solution, L"Components", {{L"1", L"A"}, {L"2", L"B"}, {L"3", L"Z"}, {L"4", L"E"}});
        put(solution, L"SolutionOptions\\O1", {{L"Selected", L"1"}, {L"DisplayTitle", L"First"}});
        option = put(solution, L"SolutionOptions\\O2", {{L"Selected", L"0"}});
        put(option, L"Components", {{L"1", L"E"}, {L"2", L"A\\Guid"}, {L"3", L"B"}, {L"4", L""}});
    }
    void TearDown() override
    {
        RepositoryKey::releaseTree(KitoDb);
        KitoDb = nullptr;
    }

    RepositoryKey* component(const wchar_t* name) const
    {
        return KitoDb->getSubKey(std::wstring(L"Components\\") + name);
    }
    Names selectedComponents() const
    {
        Names names;
        for (const RepositoryKey* key : KitoDb->getSubKey(L"Components")->subKeys())
            names.push_back(key->getName() + L"=" + selected(key));
        return names;
    }

    Solution* solution = nullptr;
    RepositoryKey* option = nullptr;
};

TEST_F(ViewsOverRepository, ComponentOptionsByOwnerNameAndMode)
{
    Component& a = *static_cast<Component*>(component(L"A"));
    EXPECT_EQ((Names{L"C", L"B"}), namesOf(a.getComponentOptions(Component::OptionsAll)));
    EXPECT_EQ((Names{L"C"}), namesOf(a.getComponentOptions(Component::OptionsSelected)));
    EXPECT_TRUE(a.getComponentOptions(1).empty());
    RepositoryKey::releaseTree(KitoDb->getSubKey(L"InstallSequence"));
    EXPECT_EQ((Names{L"B", L"C"}), namesOf(a.getComponentOptions(Component::OptionsAll)));
    EXPECT_EQ((Names{L"C"}), namesOf(a.getComponentOptions(Component::OptionsSelected)));
}

TEST_F(ViewsOverRepository, SolutionComponentsInInstallOrderAndTheSelectionCascade)
{
    EXPECT_EQ((Names{L"B", L"A"}), namesOf(solution->getComponents()));
    solution->setSelected(true);
    EXPECT_TRUE(solution->isSelected());
    EXPECT_EQ((Names{L"A=1", L"B=1", L"C=1", L"D=1", L"E=-"}), selectedComponents());
    solution->setSelected(false);
    EXPECT_EQ((Names{L"A=0", L"B=0", L"C=1", L"D=1", L"E=-"}), selectedComponents());

    // Without an install sequence the solution lists nothing and selects only itself.
    RepositoryKey::releaseTree(KitoDb->getSubKey(L"InstallSequence"));
    EXPECT_TRUE(solution->getComponents().empty());
    Solution::setSelected(*solution, true);
    EXPECT_EQ(L"1", selected(solution));
    EXPECT_EQ((Names{L"A=0", L"B=0", L"C=1", L"D=1", L"E=-"}), selectedComponents());
}

TEST_F(ViewsOverRepository, OptionSelectionOnAPlainKeyInValueOrder)
{
    // Names that are not one key name ("A\Guid", empty) select nothing below a component.
    EXPECT_EQ((Names{L"E", L"B"}), namesOf(SolutionOption::getComponents(*option)));
    SolutionOption::setSelected(*option, true);
    EXPECT_TRUE(SolutionOption::isSelected(*option));
    EXPECT_EQ((Names{L"A=-", L"B=1", L"C=1", L"D=1", L"E=1"}), selectedComponents());
    EXPECT_EQ(L"-", selected(component(L"A\\Guid")));
    RepositoryKey::releaseTree(KitoDb->getSubKey(L"InstallSequence"));
    SolutionOption::setSelected(*option, false);
    EXPECT_EQ((Names{L"A=-", L"B=0", L"C=1", L"D=1", L"E=0"}), selectedComponents());

    EXPECT_EQ((Names{L"O1"}), namesOf(solution->getSolutionOptions(KitoRepository::ListSelected)));
    EXPECT_EQ((Names{L"O1", L"O2"}), namesOf(solution->getSolutionOptions(KitoRepository::ListAll)));
    EXPECT_EQ((Names{L"O1", L"O2"}), namesOf(solution->getSolutionOptions(7)));
    EXPECT_EQ(L"First", SolutionOption::getDisplayTitle(*solution->getSolutionOptions(3).front()));
}

TEST_F(ViewsOverRepository, WithoutARootListsAreEmptyAndOnlyTheKeyChanges)
{
    Component& a = *static_cast<Component*>(component(L"A"));
    KitoRepository* root = KitoDb;
    KitoDb = nullptr;
    EXPECT_TRUE(a.getComponentOptions(Component::OptionsAll).empty());
    EXPECT_TRUE(solution->getComponents().empty());
    EXPECT_TRUE(SolutionOption::getComponents(*option).empty());
    solution->setSelected(true);
    SolutionOption::setSelected(*option, true);
    KitoDb = root;
    EXPECT_EQ(L"1", selected(solution));
    EXPECT_EQ(L"1", selected(option));
    EXPECT_EQ((Names{L"A=-", L"B=-", L"C=1", L"D=1", L"E=-"}), selectedComponents());
}

TEST(RepositoryOrder, FirstNamesakeAndFirstNumberOfEachFoldedName)
{
    TreeGuard root(new KitoRepository(std::wstring(L"KitoRepository")));
    put(root.get(), L"InstallSequence", {{L"A", L"5"}, {L"B", L"1"}});
    root->getSubKey(L"InstallSequence")->setValueExactly(L"b", L"9");
    TreeGuard first(RepositoryKey::create(L"b")), second(RepositoryKey::create(L"B")),
        third(RepositoryKey::create(L"a"));
    RepositoryKey::KeyList ordered;
    ASSERT_EQ(0u,
              static_cast<KitoRepository*>(root.get())
                  ->orderByInstallSequence({first.get(), second.get(), third.get()}, ordered));
    EXPECT_EQ((RepositoryKey::KeyList{first.get(), first.get(), third.get()}), ordered);
}

TEST(SolutionView, ProductListsParentsAndInstallPath)
{
    TreeGuard key(RepositoryKey::create(L"Sol"));
    RepositoryKey& solution = *key.get();
    put(&solution, L"CannotCoExistProducts\\P1");
    put(&solution, L"UpgradableProducts\\U1", {{L"ProductID", L"X"}, {L"IsParent", L"1"}});
    put(&solution, L"UpgradableProducts\\U2", {{L"ProductID", L"Y"}, {L"IsParent", L"2"}});
    put(&solution, L"UpgradableProducts\\U3", {{L"IsParent", L"1"}});
    put(&solution, L"UpgradableProducts\\U4", {{L"ProductID", L"W"}});
    put(&solution, L"WarningProducts\\W1");
    const std::pair<int, Names> lists[] = {
        {0, {}}, {1, {L"P1"}}, {2, {L"U1", L"U2", L"U3", L"U4"}}, {3, {}}, {4, {L"W1"}}, {5, {}},
    };
    for (const auto& list : lists)
        EXPECT_EQ(list.second, namesOf(Solution::getProductList(solution, list.first))) << list.first;
    EXPECT_EQ((Names{L"X", L""}), Solution::getUpgradableParentProductIDs(solution));
    EXPECT_FALSE(Solution::isInstallPathSelectable(solution));
    solution.setIntValue(L"InstallPathSelectable", 1);
    EXPECT_TRUE(Solution::isInstallPathSelectable(solution));

    TreeGuard plain(RepositoryKey::create(L"Sol"));
    put(plain.get(), L"UpgradableProducts\\U2", {{L"IsParent", L"0"}});
    EXPECT_TRUE(Solution::isInstallPathSelectable(*plain.get()));
}

TEST(SolutionView, SystemChecksByModeAndExactName)
{
    TreeGuard solution(new Solution(std::wstring(L"Sol")));
    put(solution.get(), L"SystemChecks\\K1", {{L"Mode", L"1"}, {L"Name", L"Disk"}});
    put(solution.get(), L"SystemChecks\\K2", {{L"Mode", L"1"}, {L"Name", L"disk"}});
    put(solution.get(), L"SystemChecks\\K3", {{L"Mode", L"2"}, {L"Name", L"Disk"}});
    put(solution.get(), L"SystemChecks\\K4", {{L"Name", L"Disk"}});
    put(solution.get(), L"SystemChecks\\K5", {{L"Mode", L"1"}, {L"Name", L"Disk"}});
    put(solution.get(), L"SupportedPlatforms\\W2K3");
    EXPECT_EQ((Names{L"K1", L"K5"}), namesOf(Solution::getSystemChecks(*solution.get(), 1, L"Disk")));
    EXPECT_EQ((Names{L"K3"}), namesOf(SolutionOption::getSystemChecks(*solution.get(), 2, L"Disk")));
    EXPECT_EQ(5u, Solution::getSystemChecks(*solution.get()).size());
    EXPECT_EQ((Names{L"W2K3"}), namesOf(SolutionOption::getSupportedPlatforms(*solution.get())));
}

TEST(SolutionView, RebootWarningFromTheCatalogueOrTheStoredText)
{
    struct Row {
        const wchar_t* id;
        std::wstring withoutCatalogue, withCatalogue;
    };
    const Row rows[] = {
        {nullptr, L"stored", L"stored"}, {L"257", L"stored", L"Restart %1 to finish."}, {L"0", L"stored", L"stored"},
        {L"none", L"stored", L"stored"}, {L"732819469", L"stored", L"stored"},
    };
    auto expectWarnings = [&rows](bool loaded) {
        for (const Row& row : rows) {
            TreeGuard solution(RepositoryKey::create(L"Sol"));
            solution->setStringValue(L"WarningMsgOnReboot", L"stored");
            if (row.id)
                solution->setStringValue(L"WarningMsgIDOnReboot", row.id);
            EXPECT_EQ(loaded ? row.withCatalogue : row.withoutCatalogue,
                      Solution::getWarningMsgOnReboot(*solution.get()))
                << (row.id ? row.id : L"-") << (loaded ? L" loaded" : L"");
        }
    };
    expectInFreshProcess([&] { expectWarnings(false); });
    ASSERT_EQ(0u, loadMessageModule(L"kito_testmessages.dll", L""));
    expectWarnings(true);
}

} // namespace
