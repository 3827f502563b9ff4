#include <gtest/gtest.h>

#include <functional>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "RepositoryTestSupport.h"
#include "ViewTestSupport.h"
#include "kitorepository.h"
#include "nodetextform.h"
#include "repositoryinitparams.h"
#include "solution.h"
#include "userinput.h"

namespace {

std::wstring selected(const RepositoryKey* key)
{
    std::wstring text = L"-";
    key->getStringValue(L"Selected", text);
    return key->getName() + L"=" + text;
}

KitoRepository* newRoot()
{
    return new KitoRepository(std::wstring(L"KitoRepository"));
}

std::wstring flagText(bool answer)
{
    return answer ? L"true" : L"false";
}

std::wstring codeAndText(uint32_t code, const std::wstring& text)
{
    return std::to_wstring(code) + L":" + text;
}

TEST(SelectedSolutionQueries, AnswersOfTheSelectedSolutionsWithAndWithoutARoot)
{
    TreeGuard mine(newRoot()), other(newRoot());
    KitoRepository& repository = *static_cast<KitoRepository*>(mine.get());
    RepositoryKey* first = put(mine.get(), L"Solutions\\S1",
                               {{L"Selected", L"1"},
                                {L"RebootRequired", L"1"},
                                {L"RemoteInstall", L"0"},
                                {L"DisplayTitle", L"One"},
                                {L"Version", L"1.0"},
                                {L"Type", L"3"},
                                {L"WarningMsgOnReboot", L"Restart"}});
    put(first, L"Components", {{L"1", L"CompA"}});
    put(first, L"UpgradableProducts\\P", {{L"IsParent", L"1"}});
    RepositoryKey* second = put(mine.get(), L"Solutions\\S2",
                                {{L"Selected", L"1"}, {L"Repairable", L"1"}, {L"Type", L"4"}});
    put(second, L"Components", {{L"1", L"compb"}});
    put(second, L"SolutionOptions\\O1", {{L"Selected", L"1"}});
    put(second, L"SolutionOptions\\O2");
    put(mine.get(), L"Solutions\\S3",
        {{L"Repairable", L"1"}, {L"RebootRequired", L"1"}, {L"Version", L"3.0"}, {L"Type", L"5"}});
    put(mine.get(), L"Solutions\\S3\\SolutionOptions\\O3", {{L"Selected", L"1"}});
    RepositoryKey* lone = put(other.get(), L"Solutions\\X", {{L"Selected", L"1"}, {L"RemoteInstall", L"2"}});
    put(lone, L"UpgradableProducts\\P", {{L"IsParent", L"1"}});

    struct Row {
        const wchar_t* query;
        std::function<std::wstring()> answer;
        std::wstring ownRoot, noRoot, otherRoot;
    };
    const Row rows[] = {
        {L"isRepairable", [&] { return flagText(repository.isRepairable()); }, L"true", L"true", L"false"},
        {L"isRebootRequired", [&] { return flagText(repository.isRebootRequired()); }, L"true", L"true", L"false"},
        {L"isRemoteInstall", [&] { return flagText(repository.isRemoteInstall()); }, L"true", L"true", L"false"},
        {L"hasSolutionOptions", [&] { return flagText(repository.hasSolutionOptions()); }, L"true", L"true", L"false"},
        {L"isInstallPathSelectable", [&] { return flagText(repository.isInstallPathSelectable()); }, L"true", L"true",
         L"true"},
        {L"getWarningMsgOnReboot",
         [&] {
             std::wstring text;
             return codeAndText(repository.getWarningMsgOnReboot(text), text);
         },
         L"0:Restart", L"0:Restart", L"0:Restart"},
        {L"getDisplayTitle",
         [&] {
             std::wstring text = L"kept";
             return codeAndText(repository.getDisplayTitle(text), text);
         },
         L"0:One", L"0:One", L"0:One"},
        {L"getSelectedSolutionVersion", [&] { return repository.getSelectedSolutionVersion(); }, L"1.0", L"1.0",
         L"1.0"},
        {L"getComponentSolutionType", [&] { return std::to_wstring(repository.getComponentSolutionType(L"COMPB")); },
         L"4", L"4", L"4"},
        {L"getComponentSolutionType none", [&] { return std::to_wstring(repository.getComponentSolutionType(L"Z")); },
         L"1", L"1", L"1"},
        {L"collectSolutionOptions 2", [&] { return namesOf(repository.collectSolutionOptions(2)).at(0); }, L"O1", L"O1",
         L"O1"},
        {L"collectSolutionOptions 3", [&] { return std::to_wstring(repository.collectSolutionOptions(3).size()); },
         L"3", L"3", L"3"},
    };
    for (const Row& row : rows) {
        {
            RootInUse root(&repository);
            EXPECT_EQ(row.ownRoot, row.answer()) << row.query << L" with its own root";
        }
        {
            RootInUse root(nullptr);
            EXPECT_EQ(row.noRoot, row.answer()) << row.query << L" without a root";
        }
        RootInUse root(static_cast<KitoRepository*>(other.get()));
        EXPECT_EQ(row.otherRoot, row.answer()) << row.query << L" with another root";
    }
}

TEST(SelectedSolutionQueries, TextsWithNothingSelectedKeepTheCallersText)
{
    TreeGuard empty(newRoot());
    KitoRepository& repository = *static_cast<KitoRepository*>(empty.get());
    std::wstring text;
    EXPECT_EQ(10u, repository.getWarningMsgOnReboot(text));
    text = L"kept";
    EXPECT_EQ(0u, repository.getWarningMsgOnReboot(text));
    EXPECT_EQ(L"kept", text);
    EXPECT_EQ(0u, repository.getDisplayTitle(text));
    EXPECT_EQ(L"kept", text);
    EXPECT_FALSE(repository.isRepairable());
    EXPECT_EQ(L"", repository.getSelectedSolutionVersion());
}

// A root whose solutions S1 (id X) and S2 (id Y) share component B; S2's own option O2 is chosen and
// names A, like the root's options O1 and O2.
class UserChoices : public ::testing::Test {
protected:
    void SetUp() override
    {
        KitoDb = newRoot();
        for (const wchar_t* name : {L"A", L"B", L"C"})
            put(KitoDb, (std::wstring(L"Components\\") + name).c_str());
        put(KitoDb, L"InstallSequence", {{L"A", L"1"}, {L"B", L"2"}, {L"C", L"3"}});
        put(KitoDb, L"Solutions\\S1\\Components", {{L"1", L"A"}, {L"2", L"B"}});
        put(KitoDb, L"Solutions\\S1", {{L"SolutionID", L"X"}, {L"DisplayTitle", L"Server"}});
        put(KitoDb, L"Solutions\\S1\\CleanupOperations");
        put(KitoDb, L"Solutions\\S2\\Components", {{L"1", L"B"}, {L"2", L"C"}});
        put(KitoDb, L"Solutions\\S2", {{L"SolutionID", L"Y"}});
        put(KitoDb, L"Solutions\\S2\\SolutionOptions\\O2\\Components", {{L"1", L"A"}});
        put(KitoDb, L"Solutions\\S2\\SolutionOptions\\O2", {{L"Selected", L"1"}});
        put(KitoDb, L"Solutions\\S3\\Components", {{L"1", L"C"}});
        put(KitoDb, L"SolutionOptions\\O1\\Components", {{L"1", L"A"}});
        put(KitoDb, L"SolutionOptions\\O2\\Components", {{L"1", L"A"}});
        input = new UserInput(std::wstring(L"UserInput"));
        KitoDb->addSubKey(input);
    }
    void TearDown() override
    {
        RepositoryKey::releaseTree(KitoDb);
        KitoDb = nullptr;
    }

    Names componentStates() const
    {
        Names states;
        for (const RepositoryKey* key : KitoDb->getSubKey(L"Components")->subKeys())
            states.push_back(selected(key));
        return states;
    }
    Names solutionIds() const
    {
        Names ids;
        input->getSolutionIDs(ids);
        return ids;
    }

    UserInput* input = nullptr;
};

TEST_F(UserChoices, SolutionsAndOptionsRoundTrip)
{
    Names ids;
    EXPECT_EQ(E_KITO_FAILED, input->getSolutionOptionIDs(ids));
    EXPECT_EQ(0u, input->addSolution(L"S1"));
    EXPECT_EQ(0u, input->addSolution(L"s2"));
    EXPECT_EQ(0u, input->addSolution(L"S3")) << "a solution without an id is selected and not recorded";
    EXPECT_EQ(E_KITO_INVALIDARG, input->addSolution(L"S9"));
    EXPECT_EQ((Names{L"X", L"Y"}), solutionIds());
    EXPECT_EQ((Names{L"A=1", L"B=1", L"C=1"}), componentStates());

    EXPECT_EQ(0u, input->removeSolution(L"S1"));
    EXPECT_EQ((Names{L"A=0", L"B=1", L"C=1"}), componentStates()) << "B stays: S2 names it too";
    EXPECT_EQ((Names{L"Y"}), solutionIds());
    Names chosen{L"before"};
    input->getSelectedSolutionNames(chosen);
    EXPECT_EQ((Names{L"before", L"S2", L"S3"}), chosen);

    EXPECT_EQ(E_KITO_INVALIDARG, input->addSolutionOption(L"O9"));
    EXPECT_EQ(0u, input->addSolutionOption(L"O1"));
    EXPECT_EQ(L"A=1", componentStates()[0]);
    EXPECT_EQ(0u, input->removeSolutionOption(L"O1"));
    EXPECT_EQ(L"A=1", componentStates()[0]) << "S2's chosen option O2 names A too";
    ids.clear();
    EXPECT_EQ(0u, input->getSolutionOptionIDs(ids));
    EXPECT_EQ((Names{L"O9"}), ids);
}

TEST_F(UserChoices, NamesThatAreNotOneKeyNameAreRefusedAndChangeNothing)
{
    input->addHosts(L"h1");
    const std::function<uint32_t()> calls[] = {
        [&] { return input->addSolution(L""); },
        [&] { return input->addSolution(L"S1\\CleanupOperations"); },
        [&] { return input->removeSolution(L"S1\\CleanupOperations"); },
        [&] { return input->addSolutionOption(L"O1\\Components"); },
        [&] { return input->removeSolutionOption(L""); },
        [&] { return input->setHostDomain(L"", L"corp"); },
        [&] { return input->setHostInstallPath(L"h1\\sub", L"C:\\x"); },
        [&] { return input->removeHost(L""); },
        [&] { return input->addHosts(L"h2,h1\\sub"); },
    };
    const std::wstring before = writeKey(KitoDb);
    for (size_t i = 0; i < std::size(calls); ++i) {
        EXPECT_EQ(E_KITO_INVALIDARG, calls[i]()) << i;
        EXPECT_EQ(before, writeKey(KitoDb)) << i;
    }
}

TEST_F(UserChoices, WithoutARootChoicesAreRefusedAndListsEmpty)
{
    put(input, L"Solutions", {{L"plov.soln.tarn.gui", L""}});
    KitoRepository* root = KitoDb;
    {
        RootInUse none(nullptr);
        EXPECT_EQ(E_KITO_INVALIDARG, input->addSolution(L"S1"));
        EXPECT_EQ(E_KITO_INVALIDARG, input->removeSolution(L"S1"));
        EXPECT_EQ(E_KITO_INVALIDARG, input->addSolutionOption(L"O1"));
        EXPECT_EQ(E_KITO_INVALIDARG, input->removeSolutionOption(L"O1"));
        Names names;
        EXPECT_EQ(0u, input->getSelectedSolutionNames(names));
        EXPECT_TRUE(names.empty());
        EXPECT_EQ(L"", input->getPrimarySolutionTitle());
    }
    EXPECT_EQ(root, KitoDb);
    EXPECT_EQ((Names{L"A=-", L"B=-", L"C=-"}), componentStates());
}

TEST_F(UserChoices, PrimarySolutionTitleByTheFixedOrder)
{
    EXPECT_EQ(L"", input->getPrimarySolutionTitle());
    RepositoryKey* server = KitoDb->getSubKey(L"Solutions\\S1");
    server->setName(L"plov.soln.mesaw.server");
    put(KitoDb, L"Solutions\\plov.soln.tarn.gui", {{L"DisplayTitle", L"Console"}});
    put(input, L"Solutions", {{L"plov.soln.tarn.gui", L""}});
    EXPECT_EQ(L"Console", input->getPrimarySolutionTitle());
    put(input, L"Solutions", {{L"PLOV.SOLN.MESAW.SERVER", L""}});
    EXPECT_EQ(L"Server", input->getPrimarySolutionTitle());
}

TEST(UserInputHosts, HostsDomainsAndRemoval)
{
    TreeGuard key(RepositoryKey::create(L"UserInput"));
    RepositoryKey& input = *key.get();
    EXPECT_EQ(0u, UserInput::addHosts(input, L""));
    EXPECT_EQ(nullptr, input.getSubKey(L"Hosts"));
    EXPECT_EQ(0u, UserInput::addHosts(input, L"h1, h2,,h3"));
    EXPECT_EQ(0u, UserInput::addHosts(input, L"H1,h2"));
    EXPECT_EQ((Names{L"h1", L"h2", L"h3"}), namesOf(input.getSubKey(L"Hosts")->subKeys()));

    UserInput::setHostDomain(input, L"h1", L"Corp");
    UserInput::setHostDomain(input, L"h2", L"CORP");
    UserInput::setHostDomain(input, L"h3", L"Lab");
    UserInput::setHostInstallPath(input, L"h4", L"D:\\Kito");
    UserInput::setHostDomain(input, L"h5", L"");
    Names domains{L"lab"};
    UserInput::getDomains(input, domains);
    EXPECT_EQ((Names{L"lab", L"Corp", L""}), domains);
    const std::pair<const wchar_t*, Names> ofDomain[] = {{L"corp", {L"h1", L"h2"}},
                                                         {L"", {L"h4", L"h5"}},
                                                         {L"none", {}}};
    for (const auto& row : ofDomain) {
        Names hosts;
        UserInput::getHostsOfDomain(input, row.first, hosts);
        EXPECT_EQ(row.second, hosts) << row.first;
    }
    EXPECT_EQ(L"D:\\Kito", UserInput::getHostInstallPath(input, L"H4"));
    EXPECT_EQ(L"", UserInput::getHostInstallPath(input, L"h9"));

    input.getSubKey(L"Hosts\\h4")->addSubKey(new CountedKey(L"Detail"));
    EXPECT_EQ(0u, UserInput::removeHost(input, L"h4"));
    EXPECT_EQ(0, CountedKey::alive) << "the host goes with everything below it";
    EXPECT_EQ(0u, UserInput::removeHost(input, L"h4"));
    EXPECT_EQ(4u, input.getSubKey(L"Hosts")->subKeys().size());
}

TEST(UserInputValues, FlagsNumbersAndMasterHost)
{
    UserInput input(std::wstring(L"UserInput"));
    int32_t number = 42;
    EXPECT_EQ(E_KITO_INVALIDARG, input.getIgnoreOnFailure(number));
    EXPECT_EQ(E_KITO_INVALIDARG, input.getRemoteAutoReboot(number));
    EXPECT_EQ(42, number);
    EXPECT_EQ(0u, input.setRemoteAutoReboot(7));
    EXPECT_EQ(0u, input.getRemoteAutoReboot(number));
    EXPECT_EQ(7, number);
    EXPECT_FALSE(input.getReboot());
    input.setReboot(true);
    input.setInstallerLanguage(1041);
    EXPECT_TRUE(input.getReboot());
    EXPECT_EQ(1041, input.getInstallerLanguage());
    EXPECT_EQ(0, input.getInstallMode());

    RepositoryInitParams params;
    EXPECT_EQ(L"RepositoryInitParams", params.getName());
    EXPECT_EQ(0, params.getMasterPort());
    EXPECT_EQ(0u, params.setMasterHost(L"master"));
    EXPECT_EQ(0u, params.setMasterDomain(L"corp"));
    EXPECT_EQ(0u, params.setMasterIP(L"10.0.0.1"));
    EXPECT_EQ(0u, params.setMasterPort(4711));
    TreeGuard copy(params.clone());
    EXPECT_EQ(nullptr, dynamic_cast<RepositoryInitParams*>(copy.get()));
    const RepositoryKey& plain = *copy.get();
    EXPECT_EQ((Names{L"master", L"corp", L"10.0.0.1", L"4711", L"7"}),
              (Names{RepositoryInitParams::getMasterHost(plain), RepositoryInitParams::getMasterDomain(plain),
                     RepositoryInitParams::getMasterIP(plain),
                     std::to_wstring(RepositoryInitParams::getMasterPort(plain)),
                     std::to_wstring(plain.values().count(L"KeyType") ? std::stoi(plain.values().at(L"KeyType"))
                                                                      : 0)}));
}

} // namespace
