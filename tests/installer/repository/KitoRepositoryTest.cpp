#include "kitorepository.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <typeinfo>
#include <vector>

#include "InstallerTestSupport.h"
#include "RepositoryTestSupport.h"
#include "component.h"
#include "kitoresult.h"
#include "nodetextform.h"
#include "solution.h"
#include "stringutils.h"
#include "userinput.h"

using installertest::ScratchDir;

namespace {

std::wstring textOf(const RepositoryKey* key, const wchar_t* name)
{
    std::wstring text = L"<missing>";
    if (key) {
        key->getStringValue(name, text);
    }
    return text;
}

std::vector<std::wstring> namesOf(const RepositoryKey::KeyList& keys)
{
    std::vector<std::wstring> names;
    for (const RepositoryKey* key : keys) {
        names.push_back(key->getName());
    }
    return names;
}

RepositoryKey* addChild(RepositoryKey* parent, const wchar_t* name,
                        std::initializer_list<std::pair<const wchar_t*, const wchar_t*>> values = {})
{
    RepositoryKey* child = parent->createSubKey(name);
    for (const auto& value : values) {
        child->setStringValue(value.first, value.second);
    }
    return child;
}

// The product information as the installer's packaging writes it, with every part the root reads.
RepositoryKey* productInformation()
{
    RepositoryKey* top = RepositoryKey::create(L"ProductInformation");
    RepositoryKey* kito = addChild(top, L"Kito", {{L"Guid", L"{A1}"}, {L"KitoCacheSpaceRequired", L"250"}});
    addChild(kito, L"Help", {{L"Topic", L"removal"}});
    RepositoryKey* components = addChild(top, L"Components");
    addChild(components, L"CompA", {{L"Name", L"A"}});
    addChild(components, L"CompB", {{L"Name", L"B"}});
    // Only the exact-name setter can give a second child whose name differs in case.
    RepositoryKey* twin = addChild(components, L"twin", {{L"Extra", L"1"}});
    twin->setName(L"compa");
    RepositoryKey* solutions = addChild(top, L"Solutions");
    RepositoryKey* first = addChild(solutions, L"Sol1", {{L"SolutionID", L"S1"}, {L"Selected", L"1"}});
    addChild(first, L"CleanupOperations\\Op1", {{L"Flags", L"2"}});
    addChild(solutions, L"Sol2", {{L"SolutionID", L"S2"}, {L"Selected", L"01"}});
    addChild(solutions, L"Sol3", {{L"SolutionID", L"s3"}, {L"Selected", L"true"}});
    addChild(top, L"InstallSequence", {{L"CompA", L"20"}, {L"CompB", L"10"}});
    addChild(top, L"Platforms\\x86", {{L"Supported", L"1"}});
    return top;
}

class RepositoryRoot : public ::testing::Test {
protected:
    void save(RepositoryKey* information, const wchar_t* fileName)
    {
        TreeGuard guard(information);
        ASSERT_EQ(0u, saveKeyToFile(information, fileName, dir.path()));
    }

    ScratchDir dir;
    TreeGuard root{new KitoRepository(std::wstring(L"KitoRepository"))};
    KitoRepository* repository() const { return static_cast<KitoRepository*>(root.get()); }
};

TEST_F(RepositoryRoot, FilledFromProductInformation)
{
    save(productInformation(), L"productInformation.xml");
    EXPECT_EQ(0u, repository()->initFromProdInfoXML(nullptr, dir.path().c_str(), nullptr));

    EXPECT_EQ(L"Kito", root->getName());
    EXPECT_EQ(L"1", textOf(root.get(), L"64BitOS")) << "either build runs on a 64-bit system";
    EXPECT_EQ(L"6", textOf(root.get(), L"KeyType"));
    EXPECT_EQ(L"{A1}", repository()->getGuid());
    EXPECT_EQ(250, repository()->getKitoCacheSpaceRequired());
    EXPECT_EQ(L"removal", textOf(root->getSubKey(L"Help"), L"Topic"));
    EXPECT_NE(nullptr, dynamic_cast<UserInput*>(root->getSubKey(L"UserInput")));

    RepositoryKey* components = root->getSubKey(L"Components");
    ASSERT_NE(nullptr, components);
    EXPECT_EQ((std::vector<std::wstring>{L"CompA", L"CompB"}), namesOf(components->subKeys()));
    EXPECT_NE(nullptr, dynamic_cast<Component*>(components->getSubKey(L"CompA")));
    EXPECT_EQ(L"1", textOf(components->getSubKey(L"CompA"), L"KeyType"));
    EXPECT_EQ(L"1", textOf(components->getSubKey(L"CompA"), L"Extra")) << "the namesake merged into it";
    RepositoryKey* first = root->getSubKey(L"Solutions\\Sol1");
    EXPECT_NE(nullptr, dynamic_cast<Solution*>(first));
    EXPECT_EQ(L"2", textOf(first, L"KeyType"));
    EXPECT_EQ(L"20", textOf(root->getSubKey(L"InstallSequence"), L"CompA"));
    EXPECT_NE(nullptr, root->getSubKey(L"Platforms\\x86"));
    EXPECT_EQ(L"", textOf(root.get(), L"Version")) << "the test program has no version resource";
}

TEST_F(RepositoryRoot, MissingPartEndsTheLoadAndKeepsWhatCameBefore)
{
    RepositoryKey* information = productInformation();
    RepositoryKey::releaseTree(information->getSubKey(L"Platforms"));
    save(information, L"partial.xml");
    EXPECT_EQ(E_KITO_PRODINFO, repository()->_initFromProdInfoXML(L"partial.xml", dir.path().c_str()));
    EXPECT_NE(nullptr, root->getSubKey(L"Components"));
    EXPECT_NE(nullptr, root->getSubKey(L"Solutions"));
    EXPECT_NE(nullptr, root->getSubKey(L"InstallSequence"));
    EXPECT_EQ(nullptr, root->getSubKey(L"Platforms"));
}

TEST_F(RepositoryRoot, MissingFileLeavesOnlySystemFacts)
{
    EXPECT_EQ(KitoRepository::FileNotLoaded, repository()->_initFromProdInfoXML(L"absent.xml", dir.path().c_str()));
    EXPECT_EQ(0u, repository()->initFromProdInfoXML(L"absent.xml", dir.path().c_str(), nullptr));
    EXPECT_EQ(L"KitoRepository", root->getName());
    EXPECT_EQ((std::vector<std::wstring>{L"UserInput"}), namesOf(root->subKeys()));
    EXPECT_EQ((std::vector<std::wstring>{L"64BitOS", L"KeyType", L"Version"}), root->getValueNames());
}

TEST_F(RepositoryRoot, InstallFileRebuiltAsViewsByKind)
{
    TreeGuard install(RepositoryKey::create(L"Kito"));
    install->setStringValue(L"Guid", L"{B2}");
    addChild(install.get(), L"Components\\C1", {{L"KeyType", L"1"}});
    addChild(install.get(), L"Solutions\\S1", {{L"KeyType", L"2"}});
    addChild(install.get(), L"Solutions\\S1\\Options\\O1", {{L"KeyType", L"3"}});
    addChild(install.get(), L"Repository", {{L"KeyType", L"6"}});
    addChild(install.get(), L"Unused", {{L"KeyType", L"4"}});
    addChild(install.get(), L"UserInput", {{L"KeyType", L"5"}});
    addChild(install.get(), L"Params", {{L"KeyType", L"7"}});
    ASSERT_EQ(0u, saveKeyToFile(install.get(), L"install.xml", dir.path()));

    EXPECT_EQ(0u, repository()->initFromInstallXML(nullptr, dir.path().c_str()));
    EXPECT_EQ(L"{B2}", repository()->getGuid());
    EXPECT_NE(nullptr, dynamic_cast<Component*>(root->getSubKey(L"Components\\C1")));
    EXPECT_NE(nullptr, dynamic_cast<Solution*>(root->getSubKey(L"Solutions\\S1")));
    EXPECT_EQ(L"3", textOf(root->getSubKey(L"Solutions\\S1\\Options\\O1"), L"KeyType"));
    EXPECT_NE(nullptr, dynamic_cast<UserInput*>(root->getSubKey(L"UserInput")));
    for (const wchar_t* plain : {L"Repository", L"Unused", L"Components"}) {
        RepositoryKey* key = root->getSubKey(plain);
        ASSERT_NE(nullptr, key);
        EXPECT_EQ(typeid(RepositoryKey), typeid(*key)) << testing::PrintToString(std::wstring(plain));
    }
    EXPECT_EQ(KitoRepository::FileNotLoaded, repository()->initFromInstallXML(L"absent.xml", dir.path().c_str()));
}

TEST_F(RepositoryRoot, VersionFromTheRemovalLibrarysOwnResource)
{
    HMODULE library = LoadLibraryW(L"Purgekit.dll");
    ASSERT_NE(nullptr, library);
    EXPECT_EQ(0u, repository()->_setKitoVersion(L"Purgekit.dll"));
    EXPECT_EQ(L"4.3.0.0", repository()->getVersion());
    // A module that is not loaded stands for the program, which has no version resource.
    EXPECT_EQ(0u, repository()->_setKitoVersion(L"notloaded.dll"));
    EXPECT_EQ(L"", repository()->getVersion());
    EXPECT_TRUE(root->hasValue(L"Version"));
    FreeLibrary(library);
}

TEST_F(RepositoryRoot, DumpAndLogPath)
{
    EXPECT_EQ(0u, repository()->setLogPath(L"C:\\logs"));
    EXPECT_EQ(L"C:\\logs", textOf(root.get(), L"LogPath"));
    EXPECT_EQ(0u, repository()->dump());
    TreeGuard dumped(loadKeyFromFile(L"repositoryDump.xml", L""));
    std::filesystem::remove(getModuleDirectory() + L"\\repositoryDump.xml");
    ASSERT_NE(nullptr, dumped.get());
    EXPECT_EQ(L"C:\\logs", textOf(dumped.get(), L"LogPath"));
}

class RepositoryLists : public ::testing::Test {
protected:
    void SetUp() override
    {
        RepositoryKey* information = productInformation();
        root->mergeKey(*information->getSubKey(L"Kito"));
        root->addSubKey(information->getSubKey(L"Solutions")->clone());
        RepositoryKey* components = root->createSubKey(L"Components");
        for (const wchar_t* name : {L"A", L"B", L"C", L"D"}) {
            components->createSubKey(name)->setIntValue(L"Selected", name[0] == L'B' ? 0 : 1);
        }
        addChild(root.get(), L"InstallSequence", {{L"C", L"10"}, {L"a", L"20"}, {L"B", L"10"}});
        RepositoryKey::releaseTree(information);
    }

    TreeGuard root{new KitoRepository(std::wstring(L"KitoRepository"))};
    KitoRepository* repository() const { return static_cast<KitoRepository*>(root.get()); }
};

TEST_F(RepositoryLists, SolutionsByMode)
{
    EXPECT_EQ((std::vector<std::wstring>{L"Sol1", L"Sol2"}), namesOf(repository()->getSolutions(2)));
    EXPECT_EQ((std::vector<std::wstring>{L"Sol1", L"Sol2", L"Sol3"}), namesOf(repository()->getSolutions(3)));
    EXPECT_TRUE(repository()->getSolutions(1).empty());
    EXPECT_TRUE(repository()->getSolutions(4).empty());
}

TEST_F(RepositoryLists, SolutionByExactIdAndItsCleanup)
{
    EXPECT_EQ(L"Sol2", repository()->findSolution(L"S2")->getName());
    EXPECT_EQ(nullptr, repository()->findSolution(L"S3")) << "ids compare case-sensitively";
    EXPECT_EQ(L"Sol3", repository()->findSolution(L"s3")->getName());
    RepositoryKey* cleanup = repository()->getCleanupOperations(L"S1");
    ASSERT_NE(nullptr, cleanup);
    EXPECT_EQ(L"2", textOf(cleanup->getSubKey(L"Op1"), L"Flags"));
    EXPECT_EQ(nullptr, repository()->getCleanupOperations(L"S2"));
    EXPECT_EQ(nullptr, repository()->getCleanupOperations(L"none"));
}

TEST_F(RepositoryLists, ComponentsInInstallOrder)
{
    // Sequence names in map order are B, C, a: B and C share 10 and keep that order; D is not named.
    EXPECT_EQ((std::vector<std::wstring>{L"B", L"C", L"A"}), namesOf(repository()->getComponents(3)));
    EXPECT_EQ((std::vector<std::wstring>{L"C", L"A"}), namesOf(repository()->getComponents(2)));
    RepositoryKey::releaseTree(root->getSubKey(L"InstallSequence"));
    EXPECT_EQ((std::vector<std::wstring>{L"A", L"B", L"C", L"D"}), namesOf(repository()->getComponents(3)));
    RepositoryKey::KeyList untouched;
    EXPECT_EQ(E_KITO_PRODINFO, repository()->orderByInstallSequence(repository()->getComponents(3), untouched));
    EXPECT_TRUE(untouched.empty());
}

TEST(RepositoryValues, DefaultsOfAnEmptyRoot)
{
    TreeGuard root(new KitoRepository(std::wstring(L"KitoRepository")));
    KitoRepository* repository = static_cast<KitoRepository*>(root.get());
    EXPECT_EQ(L"", repository->getGuid());
    EXPECT_EQ(L"", repository->getVersion());
    EXPECT_EQ(0, repository->getKitoCacheSpaceRequired());
    EXPECT_TRUE(repository->getSolutions(3).empty());
    EXPECT_TRUE(repository->getComponents(3).empty());
    EXPECT_EQ(nullptr, repository->findSolution(L"S1"));
    EXPECT_TRUE(repository->getValidation());
    repository->setValidation(0);
    EXPECT_FALSE(repository->getValidation());
    repository->setValidation(0x101);
    EXPECT_TRUE(repository->getValidation());
    EXPECT_EQ(L"1", textOf(root.get(), L"VALIDATION"));
}

} // namespace
