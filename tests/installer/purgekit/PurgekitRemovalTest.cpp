// The removal end to end: Purgekit.dll is loaded by the driver (or rundll32) on a fake installed
// machine, and afterwards the whole machine is compared with what must survive.

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <memory>

#include "FakeMachine.h"
#include "olderinstallers.h"
#include "owners.h"

using namespace fakemachine;

namespace {

const std::wstring releaseKeyPath = std::wstring(L"SOFTWARE\\Osmark\\Kito\\") + releaseGuid;
const std::wstring uninstallPath = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\UnInstall\\";

const std::wstring maintenanceFiles = fileEntry(L"Osmark Shared\\Kito\\MaintenancePacks");
const std::wstring solutionFolder = fileEntry(L"Osmark Shared\\Kito\\SolFolder");
const std::wstring kito40File = fileEntry(L"Osmark Shared\\Kito\\kito40.ini");
const std::wstring maintenanceKey = registryEntry(releaseKeyPath + L"\\MaintenancePacks");
// The cleanup list's "Software\Wow6432Node\Osmark" names the 32-bit view's key from either build: for the
// 64-bit one that is the other view's emptied "Kito", which goes; the 32-bit one reaches its own "Kito"
// through it, which still holds the release key, and the 64-bit view's stays.
const std::wstring wowKitoKey = registryEntry(L"SOFTWARE\\Wow6432Node\\Osmark\\Kito");
const bool wowKitoIsOtherView = wowKitoKey == registryEntry(L"SOFTWARE\\Osmark\\Kito", View::Other);
const std::wstring kito40Solutions = registryEntry(L"SOFTWARE\\Osmark\\Kito\\Solutions");

std::vector<std::wstring> kito40Leftovers()
{
    return {kito40File, kito40Solutions, registryEntry(uninstallPath + kito40ProductCodes[0]),
            registryEntry(uninstallPath + kito40ProductCodes[1])};
}

std::vector<std::wstring> operator+(std::vector<std::wstring> a, const std::vector<std::wstring>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::vector<std::wstring> except(std::vector<std::wstring> all, const std::wstring& kept)
{
    all.erase(std::remove(all.begin(), all.end(), kept), all.end());
    return all;
}

// What a cleanable machine loses: the maintenance packs (files and key), the other view's emptied key
// when the list reaches it, the solution's folder, the 4.0 leftovers and the service.
std::vector<std::wstring> cleanedMachine()
{
    std::vector<std::wstring> lost{maintenanceFiles, solutionFolder, maintenanceKey, serviceEntry};
    if (wowKitoIsOtherView)
        lost.push_back(wowKitoKey);
    return lost + kito40Leftovers();
}

// What a machine that must not be cleaned loses.
std::vector<std::wstring> uncleanedMachine()
{
    return std::vector<std::wstring>{serviceEntry} + kito40Leftovers();
}

std::string narrow(const std::wstring& text)
{
    return std::string(text.begin(), text.end());
}

// The entries that differ, one per line; empty when the snapshots agree.
std::string differences(const Snapshot& expected, const Snapshot& actual)
{
    std::string text;
    for (const auto& entry : expected) {
        auto found = actual.find(entry.first);
        if (found == actual.end())
            text += "missing: " + narrow(entry.first) + "\n";
        else if (found->second != entry.second)
            text += "changed: " + narrow(entry.first) + "\n";
    }
    for (const auto& entry : actual) {
        if (!expected.count(entry.first))
            text += "unexpected: " + narrow(entry.first) + "\n";
    }
    return text;
}

std::wstring programFolder()
{
    wchar_t path[MAX_PATH + 1] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder = path;
    return folder.substr(0, folder.rfind(L'\\'));
}

class PurgekitRemoval : public ::testing::Test {
protected:
    // The machine is one per prefix: ctest runs these cases one at a time (see CMakeLists.txt).
    void SetUp() override
    {
        logFolder = L"C:\\qzPurgeLog";
        CreateDirectoryW(logFolder.c_str(), nullptr);
        DeleteFileW(logPath().c_str());
    }

    void TearDown() override { machine.reset(); }

    void build(const Layout& layout = Layout())
    {
        machine.reset();
        machine = std::make_unique<Machine>(layout);
        before = Machine::snapshot();
    }

    // Runs the driver with the removal log in logFolder; extra environment changes on top.
    DWORD purge(const std::wstring& arguments, std::map<std::wstring, std::wstring> environment = {},
                const std::wstring& workingDirectory = programFolder())
    {
        environment.emplace(L"ALLUSERSPROFILE", logFolder);
        return runProgram(L"\"" + programFolder() + L"\\purgedriver.exe\" " + arguments, environment, workingDirectory);
    }

    void expectRemoved(const std::vector<std::wstring>& removed)
    {
        EXPECT_EQ("", differences(Machine::without(before, removed), Machine::snapshot()));
    }

    // build and purge in one, for cases that change nothing between the two.
    void purgeOn(const Layout& layout, const std::wstring& arguments = L"MaintenancePacks")
    {
        build(layout);
        EXPECT_EQ(0u, purge(arguments));
    }

    std::wstring logPath() const { return logFolder + L"\\qzPurgekit.log"; }

    std::wstring log() const
    {
        std::wstring text;
        FILE* file = _wfopen(logPath().c_str(), L"rb");
        if (!file)
            return text;
        wchar_t chunk[1024];
        size_t got;
        while ((got = fread(chunk, sizeof(wchar_t), 1024, file)) > 0)
            text.append(chunk, got);
        fclose(file);
        return text;
    }

    void expectLogged(const std::wstring& line)
    {
        EXPECT_NE(std::wstring::npos, log().find(line)) << "not in the log: " << narrow(line);
    }

    void expectNotLogged(const std::wstring& line)
    {
        EXPECT_EQ(std::wstring::npos, log().find(line)) << "in the log: " << narrow(line);
    }

    std::wstring logFolder;
    std::unique_ptr<Machine> machine;
    Snapshot before;
};

TEST_F(PurgekitRemoval, CleanableMachineLosesExactlyTheListedItems)
{
    purgeOn(Layout(), L"MaintenancePacks");
    expectRemoved(cleanedMachine());
    expectLogged(L"qzInstaller service removed successfully.");
    expectLogged(L"CommandLine is : MaintenancePacks");
    expectLogged(L"There are no solutions under the solutions key. Returning true for cleanup");
    expectLogged(L"The system can be cleaned\r\n");
    // "Kito" still holds the roll-up patches, so the walk leaves it with a line.
    expectLogged(L"Remove dir failed for Kito");
    expectLogged(L"Delete dir failed for " + kitoFiles() + L"\\MaintenancePacks\\Sub with errorCode=2");
    expectLogged(L"Reg_RemoveRegKey for Software\\Osmark\\Kito failed with error message c0060008");
    expectLogged(L"Folder name is: 'SolFolder'");
    expectLogged(L"Delete files under SolFolder seccessed");
}

TEST_F(PurgekitRemoval, EmptiedFoldersGoUpToOsmarkShared)
{
    Layout layout;
    layout.otherUpdates = false;
    layout.neighbours = false;
    layout.kito40File = false;
    layout.folderNames.clear();
    purgeOn(layout);
    expectRemoved(cleanedMachine() + std::vector<std::wstring>{fileEntry(L"Osmark Shared")});
}

TEST_F(PurgekitRemoval, OtherCommandLinesAreLoggedAndReplacedByMaintenancePacks)
{
    for (const wchar_t* arguments : {L"RollupPatches", L"\"\"", L"--null"}) {
        build();
        ASSERT_EQ(0u, purge(arguments));
        expectRemoved(cleanedMachine());
        expectLogged(L"CommandLine is not MaintenancePacks");
        expectLogged(L"Cmdline is 'MaintenancePacks'");
        expectLogged(L"currentKeyStr is Software\\Osmark\\Kito\\" + std::wstring(releaseGuid) + L"\\MaintenancePacks");
    }
    expectLogged(L"CommandLine is: ''");
    expectLogged(L"CommandLine wstring name is: ''");
}

TEST_F(PurgekitRemoval, RollupPatchesCommandLineIsLoggedAsGiven)
{
    purgeOn(Layout(), L"RollupPatches");
    expectLogged(L"CommandLine is: 'RollupPatches'");
    expectLogged(L"CommandLine wstring name is: 'RollupPatches'");
}

TEST_F(PurgekitRemoval, WithoutAllUsersProfileNothingIsLoggedAndTheRemovalRuns)
{
    wchar_t usual[MAX_PATH] = {};
    GetEnvironmentVariableW(L"ALLUSERSPROFILE", usual, MAX_PATH);
    std::wstring usualLog = std::wstring(usual) + L"\\qzPurgekit.log";
    DeleteFileW(usualLog.c_str());
    purgeOn(Layout(), L"--set-env=ALLUSERSPROFILE= MaintenancePacks");
    expectRemoved(cleanedMachine());
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(logPath().c_str()));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(usualLog.c_str()));
}

TEST_F(PurgekitRemoval, AbsentServiceCountsAsRemoved)
{
    Layout layout;
    layout.service = false;
    purgeOn(layout);
    expectRemoved(cleanedMachine());
    expectLogged(L"qzInstaller service removed successfully.");
}

TEST_F(PurgekitRemoval, NoOsmarkKeyMeansCleanable)
{
    Layout layout;
    layout.osmarkKey = false;
    purgeOn(layout);
    // Without "DestinationPath" no product information is read, so no solution names a folder.
    expectRemoved(except(cleanedMachine(), solutionFolder));
    expectLogged(L"The Software\\osmark key is not present, we can do Kito file level cleanup");
}

TEST_F(PurgekitRemoval, UnreadableOsmarkKeyMeansNotCleanable)
{
    purgeOn(Layout(), L"--deny-open=Software\\Osmark MaintenancePacks");
    expectRemoved(uncleanedMachine());
    expectLogged(L"RegOpen failed for Software\\osmark key. Reason 5.");
    expectLogged(L"The system can't be cleaned");
}

TEST_F(PurgekitRemoval, NoKitoKeyMeansCleanable)
{
    Layout layout;
    layout.kitoKey = false;
    purgeOn(layout);
    expectRemoved(except(cleanedMachine(), solutionFolder));
    expectLogged(L"The Kito key is not present, we can do Kito file level cleanup");
}

TEST_F(PurgekitRemoval, NoReleaseKeyMeansCleanable)
{
    Layout layout;
    layout.releaseKey = false;
    purgeOn(layout);
    expectRemoved(cleanedMachine());
    expectLogged(L"The KitoGUID key is not present, we can do Kito file level cleanup");
}

TEST_F(PurgekitRemoval, UnreadableReleaseKeyMeansNotCleanable)
{
    build();
    ASSERT_EQ(0u, purge(L"\"--deny-open=" + releaseKeyPath + L"\\MaintenancePacks\" MaintenancePacks"));
    expectRemoved(uncleanedMachine());
    expectLogged(L"RegOpen failed for Kito43 key. Reason 5.");
}

TEST_F(PurgekitRemoval, IncompletelyLoadedReleaseKeyMeansNotCleanable)
{
    Layout layout;
    layout.releaseSolutions = 1;
    build(layout);
    // The load cannot open "Solutions": a partial tree would look as if nothing were installed.
    ASSERT_EQ(0u, purge(L"--deny-open=Solutions MaintenancePacks"));
    expectRemoved(uncleanedMachine());
    expectLogged(L"Some problem in converting Kito43 regkey. Taking safer action. Not to clean.");
}

TEST_F(PurgekitRemoval, ReleaseKeyWithoutSolutionsMeansCleanable)
{
    Layout layout;
    layout.releaseSolutions = -1;
    purgeOn(layout);
    expectRemoved(cleanedMachine());
    expectLogged(L"Solutions key is not found. Returning true for cleanup");
}

TEST_F(PurgekitRemoval, RegisteredSolutionsKeepTheInstaller)
{
    Layout layout;
    layout.releaseSolutions = 2;
    purgeOn(layout);
    expectRemoved(uncleanedMachine());
    expectLogged(L"There are 2 solutions under the solutions key. Returning false for cleanup");
    expectLogged(L"The system can't be cleaned");
}

TEST_F(PurgekitRemoval, OnlyAWellFormedGuidNamesTheReleaseKey)
{
    struct Row {
        std::wstring guid;
        bool cleanable;
    };
    const Row rows[] = {
        {L"", false},
        {L"{" + std::wstring(300, L'A') + L"}", false},
        {L"Solutions", false},
        {L"MaintenancePacks", false},
        {L"*", false},
        {L" ", false},
        {L"4D3C2B1A-43A0-4C10-9F00-0000000043A0", false},
        {L"{4D3C2B1A-43A0-4C10-9F00-0000000043A}", false},
        {L"{4D3C2B1A-43A0-4C10-9F00-0000000043AG}", false},
        {L"{4D3C2B1A-43A0-4C10-9F0-00000000043A0}", false},
        // Another release's key is absent, which the rule reads as nothing installed of it; its
        // cleanup list then names that release's key, so the fixture's release key stays.
        {L"{0F0E0D0C-0B0A-4908-8706-050403020100}", true},
        // The fixture's release in lower case: its registered solutions keep the installer.
        {L"{4d3c2b1a-43a0-4c10-9f00-0000000043a0}", false},
    };
    for (const Row& row : rows) {
        Layout layout;
        layout.guid = row.guid;
        layout.releaseSolutions = 2;
        build(layout);
        ASSERT_EQ(0u, purge(L"MaintenancePacks"));
        SCOPED_TRACE(narrow(row.guid));
        expectRemoved(row.cleanable ? except(cleanedMachine(), maintenanceKey) : uncleanedMachine());
    }
    expectLogged(L"The Kito GUID '4D3C2B1A-43A0-4C10-9F00-0000000043A0' does not name a release key. Not allowing to "
                 L"clean up the system");
}

TEST_F(PurgekitRemoval, FailedCleanupListEndsTheCallAtOnce)
{
    build();
    // Wine sets CommonProgramFiles anew in every process, so the driver removes it inside.
    ASSERT_EQ(0u, purge(L"--set-env=CommonProgramFiles= MaintenancePacks"));
    expectRemoved({serviceEntry});
    expectLogged(L"createFileCleanupKeys failed c0060001");
    expectLogged(L"The system can be cleaned as formCleanupDbKey failed");
}

TEST_F(PurgekitRemoval, SolutionWithoutFoldersRemovesNoFolder)
{
    Layout layout;
    layout.foldersKey = false;
    purgeOn(layout);
    expectRemoved(except(cleanedMachine(), solutionFolder));
    expectNotLogged(L"Folder name is:");
}

TEST_F(PurgekitRemoval, UnsafeFolderNamesAreRefused)
{
    Layout layout;
    layout.folderNames = {L"",
                          L".",
                          L"..",
                          L"...",
                          L"..\\..\\qzVictim",
                          L"SolFolder\\..\\..\\..\\qzVictim",
                          L"../../qzVictim",
                          L"C:\\qzKitoInstall",
                          L"C:qzVictim",
                          L"\\qzVictim",
                          L"/qzVictim",
                          L"Sol*",
                          L"SolF?lder",
                          L"RollupPatches:stream"};
    purgeOn(layout);
    expectRemoved(except(cleanedMachine(), solutionFolder));
    expectLogged(L"Folder name '' is not a plain relative path. Not deleting anything");
    expectLogged(L"Folder name '..\\..\\qzVictim' is not a plain relative path. Not deleting anything");
    expectNotLogged(L"seccessed");
}

TEST_F(PurgekitRemoval, NestedFolderNameRemovesOnlyThatFolder)
{
    Layout layout;
    layout.folderNames = {L"SolFolder\\Nested"};
    purgeOn(layout);
    expectRemoved(except(cleanedMachine(), solutionFolder) + std::vector<std::wstring>{solutionFolder + L"\\Nested"});
}

TEST_F(PurgekitRemoval, UnknownCommonFilesFolderDeletesNoNamedFolderAndNoOldFile)
{
    purgeOn(Layout(), L"--fail-folder MaintenancePacks");
    expectRemoved(except(except(cleanedMachine(), solutionFolder), kito40File));
    expectLogged(L"The common program files folder is not known. Not deleting SolFolder");
}

TEST_F(PurgekitRemoval, RelativeLocationDeletesNothingBelowIt)
{
    build();
    std::wstring current = L"C:\\qzKitoInstall\\cwd";
    std::wstring relativeFile = current + L"\\relfiles\\Osmark Shared\\Kito\\MaintenancePacks\\keep.txt";
    Machine::addFile(relativeFile, FILE_ATTRIBUTE_NORMAL, "relative");
    ASSERT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(relativeFile.c_str()));
    before = Machine::snapshot();
    ASSERT_EQ(0u, purge(L"--set-env=CommonProgramFiles=relfiles MaintenancePacks", {}, current));
    expectRemoved(except(cleanedMachine(), maintenanceFiles));
    expectLogged(L"Location relfiles is not an absolute path. Skipping it");
}

TEST_F(PurgekitRemoval, PathsTooLongForTheWalkAreSkippedNotCut)
{
    build();
    std::wstring longFolder = L"Osmark Shared\\Kito\\MaintenancePacks\\" + std::wstring(150, L'd');
    Machine::addFile(commonFiles() + L"\\" + longFolder + L"\\" + std::wstring(60, L'f') + L".txt",
                     FILE_ATTRIBUTE_READONLY, "long");
    before = Machine::snapshot();
    ASSERT_EQ(0u, purge(L"MaintenancePacks"));
    // The folder holding the long path and the folders above it stay; everything else in them goes.
    std::vector<std::wstring> removed = except(cleanedMachine(), maintenanceFiles);
    for (const wchar_t* child : {L"mp.dll", L"hidden.dat", L"Sub"})
        removed.push_back(maintenanceFiles + L"\\" + child);
    expectRemoved(removed);
    expectLogged(L"does not fit into 261 characters. Skipping it");
}

TEST_F(PurgekitRemoval, LinkInsideADeletedFolderIsNotFollowed)
{
    build();
    std::string victim = unixPath(victimFolder());
    ASSERT_TRUE(Machine::addFolderLink(L"Osmark Shared\\Kito\\MaintenancePacks\\link",
                                       std::wstring(victim.begin(), victim.end())));
    before = Machine::snapshot();
    ASSERT_EQ(L"link 1040", before[maintenanceFiles + L"\\link"]);
    ASSERT_EQ(0u, purge(L"MaintenancePacks"));
    // Wine cannot remove a Unix link itself, so it and the folder holding it stay here; what it
    // points to is what matters.
    std::vector<std::wstring> removed = except(cleanedMachine(), maintenanceFiles);
    for (const wchar_t* child : {L"mp.dll", L"hidden.dat", L"Sub"})
        removed.push_back(maintenanceFiles + L"\\" + child);
    expectRemoved(removed);
    expectLogged(L"MaintenancePacks\\link is a link. Removing the link only");
}

TEST_F(PurgekitRemoval, FolderNamesThroughALinkAreRefused)
{
    const std::vector<std::wstring> throughLink
        = {L"SolFolder\\link\\victim.txt", L"SolFolder\\link\\", L"solfolder\\LINK\\victim.txt",
           L"SOLFOLDER\\Link\\",           L"SolFolder/link/",   L"SolFolder\\link\\\\victim.txt"};
    Layout layout;
    // Then the link itself and the folder holding it, which remove the link only.
    layout.folderNames = throughLink + std::vector<std::wstring>{L"SolFolder\\link", L"SolFolder"};
    build(layout);
    std::string victim = unixPath(victimFolder());
    ASSERT_TRUE(
        Machine::addFolderLink(L"Osmark Shared\\Kito\\SolFolder\\link", std::wstring(victim.begin(), victim.end())));
    before = Machine::snapshot();
    ASSERT_EQ(0u, purge(L"MaintenancePacks"));
    // Wine cannot remove the Unix link, so it and the folder holding it stay.
    expectRemoved(except(cleanedMachine(), solutionFolder)
                  + std::vector<std::wstring>{solutionFolder + L"\\a.txt", solutionFolder + L"\\Nested"});
    for (const std::wstring& name : throughLink)
        expectLogged(L"Folder name '" + name + L"' passes through the link ");
    expectLogged(L"SolFolder\\link is a link. Removing the link only");
}

TEST_F(PurgekitRemoval, RegisteredKito40SolutionKeepsItsLeftovers)
{
    Layout layout;
    layout.kito40Solution = true;
    layout.releaseSolutions = 2;
    purgeOn(layout);
    expectRemoved({serviceEntry});
}

TEST_F(PurgekitRemoval, UncheckableKito40SolutionKeepsItsLeftovers)
{
    Layout layout;
    layout.releaseSolutions = 2;
    build(layout);
    ASSERT_EQ(0u, purge(L"--deny-open=Software\\Osmark\\Kito\\Solutions\\plov.sol.mesaw MaintenancePacks"));
    expectRemoved({serviceEntry});
}

bool keyReached(const std::wstring& path, REGSAM view)
{
    KeyOwner key;
    return RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ | view, key.put()) == ERROR_SUCCESS;
}

// Installers of both bitnesses left the same installation: the removal takes what its own view and
// common files folder hold, and nothing of the other's.
TEST_F(PurgekitRemoval, OnlyTheOwnViewAndCommonFilesFolderAreCleaned)
{
    Layout layout;
    layout.otherInstallation = true;
    build(layout);
    ASSERT_EQ(0u, purge(L"MaintenancePacks"));
    const Snapshot after = Machine::snapshot();
    struct Row {
        bool registry;
        std::wstring path;
        bool goesFromOwn;
    };
    const Row rows[] = {
        {true, releaseKeyPath + L"\\MaintenancePacks", true},    {true, L"SOFTWARE\\Osmark\\Kito\\Solutions", true},
        {true, uninstallPath + kito40ProductCodes[0], true},     {true, releaseKeyPath + L"\\RollupPatches", false},
        {false, L"Osmark Shared\\Kito\\MaintenancePacks", true}, {false, L"Osmark Shared\\Kito\\SolFolder", true},
        {false, L"Osmark Shared\\Kito\\kito40.ini", true},       {false, L"Osmark Shared\\Kito\\RollupPatches", false},
    };
    for (const Row& row : rows) {
        for (View view : {View::Own, View::Other}) {
            std::wstring entry = row.registry ? registryEntry(row.path, view) : fileEntry(row.path, view);
            ASSERT_EQ(1u, before.count(entry)) << narrow(entry);
            EXPECT_EQ(row.goesFromOwn && view == View::Own, after.count(entry) == 0) << narrow(entry);
        }
    }
    // The name with "Wow6432Node" reaches the 32-bit view's key from either build: the 32-bit build's own.
    const std::wstring packs = L"\\Osmark\\Kito\\" + std::wstring(releaseGuid) + L"\\MaintenancePacks";
    EXPECT_EQ(keyReached(L"SOFTWARE" + packs, KEY_WOW64_32KEY), keyReached(L"SOFTWARE\\Wow6432Node" + packs, 0));
}

TEST_F(PurgekitRemoval, Rundll32CallsTheExport)
{
    build();
    std::wstring library = programFolder() + L"\\Purgekit.dll";
    std::map<std::wstring, std::wstring> environment = {{L"ALLUSERSPROFILE", logFolder}};
    // The host of the library's own bitness: a 32-bit process's system folder is "syswow64".
    wchar_t system[MAX_PATH] = {};
    ASSERT_NE(0u, GetSystemDirectoryW(system, MAX_PATH));
    // rundll32 always ends with 0, so the machine and the log tell what happened.
    runProgram(L"\"" + std::wstring(system) + L"\\rundll32.exe\" \"" + library + L"\",Purgekit MaintenancePacks",
               environment, programFolder());
    expectRemoved(cleanedMachine());
    expectLogged(L"CommandLine is : MaintenancePacks");
    expectLogged(L"The system can be cleaned\r\n");
    // Either build runs on a 64-bit system.
    expectLogged(L"_64BitOS_=\"1\"");
}

} // namespace
