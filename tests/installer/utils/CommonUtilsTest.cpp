#include "commonutils.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "ImportHook.h"
#include "InstallerTestSupport.h"
#include "logger.h"
#include "nodetextform.h"
#include "owners.h"
#include "registryhelper.h"
#include "repositorykey.h"
#include "solution.h"
#include "stringutils.h"

using installertest::PrivateLocalMachine;
using installertest::readUtf16;
using installertest::ScratchDir;

namespace {

typedef std::vector<std::wstring> Texts;

// The path GetRegKeyPath builds, or the code it refused with.
std::wstring regKeyPath(const wchar_t* subPath, int viewFlag, int is32Bit, int kind, uint32_t expected = 0)
{
    wchar_t* path = reinterpret_cast<wchar_t*>(1);
    EXPECT_EQ(expected, GetRegKeyPath(subPath, &path, viewFlag, is32Bit, kind));
    std::wstring text = path ? path : L"<null>";
    free(path);
    return text;
}

TEST(RegKeyPath, ViewsKindsAndBounds)
{
    EXPECT_EQ(L"SOFTWARE\\Osmark\\Kito", regKeyPath(L"", 1, 0, 0));
    EXPECT_EQ(L"SOFTWARE\\Osmark\\Kito", regKeyPath(nullptr, 0, 0, 0));
    EXPECT_EQ(L"SOFTWARE\\Wow6432Node\\Osmark\\Kito\\Solutions", regKeyPath(L"Solutions", 0, 1, 0));
    EXPECT_EQ(L"SOFTWARE\\Osmark\\Kito\\Solutions", regKeyPath(L"Solutions", 1, 1, 0));
    EXPECT_EQ(L"SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall", regKeyPath(L"Ignored", 0, 1, 1));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, GetRegKeyPath(L"", nullptr, 1, 0, 0));

    const std::wstring base = L"SOFTWARE\\Osmark\\Kito\\";
    const std::wstring longest(MAX_PATH - 1 - base.size(), L's');
    EXPECT_EQ(base + longest, regKeyPath(longest.c_str(), 1, 0, 0));
    EXPECT_EQ(L"<null>", regKeyPath((longest + L"s").c_str(), 1, 0, 0, ERROR_INSUFFICIENT_BUFFER));

    REGSAM mask = 0;
    EXPECT_EQ(0u, getRegAccessMask(true, &mask));
    EXPECT_EQ(static_cast<REGSAM>(KEY_ALL_ACCESS), mask);
    // The 32-bit build's tests run under WoW64, the 64-bit build's natively.
    EXPECT_EQ(sizeof(void*) == 4, isWow64());
}

TEST(SplitList, ItemsTrimmedEmptyKeptTrailingCommaDropped)
{
    Texts items;
    EXPECT_EQ(0u, splitList(L"x86 ,x64", items));
    EXPECT_EQ((Texts{L"x86", L"x64"}), items);

    items = {L"kept"};
    EXPECT_EQ(12u, splitList(L"", items));
    EXPECT_EQ((Texts{L"kept"}), items);
    EXPECT_EQ(0u, splitList(L" host1 ", items));
    EXPECT_EQ((Texts{L"kept", L"host1"}), items);

    items.clear();
    EXPECT_EQ(0u, splitList(L"a, b,,c,", items));
    EXPECT_EQ((Texts{L"a", L"b", L"", L"c"}), items);

    items.clear();
    EXPECT_EQ(0u, splitList(L"\"W2K,W2K3\"", items));
    EXPECT_EQ((Texts{L"W2K", L"W2K3"}), items);

    items.clear();
    EXPECT_EQ(12u, splitList(L"\"", items));
    EXPECT_TRUE(items.empty());
}

TEST(UpdateKinds, SubKeyNames)
{
    const std::pair<int, const wchar_t*> kinds[] = {
        {1, L""},         {2, L"\\"}, {3, L"RollupPatches\\"}, {4, L"MaintenancePacks\\"}, {5, L"HotFixes\\"},
        {6, L"AddOns\\"}, {7, L"\\"},
    };
    for (const auto& kind : kinds) {
        std::wstring subKey;
        EXPECT_EQ(0u, getUpdateKindSubKey(subKey, kind.first));
        EXPECT_EQ(kind.second, subKey) << "kind " << kind.first;
    }
}

TEST(PathsAndText, SplitPathProgramDirectoryUpperCase)
{
    std::wstring directory;
    std::wstring file = L"untouched";
    splitPath(L"C:\\Kito\\sub", directory, file);
    EXPECT_EQ(L"C:\\Kito\\sub", directory);
    EXPECT_EQ(L"untouched", file);
    splitPath(L"C:\\Kito\\setup.exe", directory, file);
    EXPECT_EQ(L"C:\\Kito", directory);
    EXPECT_EQ(L"setup.exe", file);
    splitPath(L"setup.exe", directory, file);
    EXPECT_EQ(L"", directory);
    EXPECT_EQ(L"setup.exe", file);

    std::wstring program;
    getProgramDirectory(program);
    EXPECT_EQ(getModuleDirectory(), program);
    EXPECT_TRUE(std::filesystem::exists(program + L"\\kito_utils_tests.exe"));

    EXPECT_EQ(L"KITO-4.3_X", toUpperCase(L"kito-4.3_x"));
    EXPECT_EQ(L"", toUpperCase(L""));
}

TEST(ConsoleHostLog, LocationFromRegistry)
{
    PrivateLocalMachine registry;
    std::wstring location = L"unchanged";
    GetConsoleHostLogFileLocation(location);
    EXPECT_EQ(L"unchanged", location);
    ASSERT_EQ(ERROR_SUCCESS,
              PrivateLocalMachine::setString(L"SOFTWARE\\Osmark\\Kito", L"LogPath", std::wstring(MAX_PATH, L'x')));
    GetConsoleHostLogFileLocation(location);
    EXPECT_EQ(L"unchanged", location) << "a value longer than the buffer is refused";
    ASSERT_EQ(ERROR_SUCCESS, PrivateLocalMachine::setString(L"SOFTWARE\\Osmark\\Kito", L"LogPath", L"C:\\Kito\\logs"));
    GetConsoleHostLogFileLocation(location);
    EXPECT_EQ(L"C:\\Kito\\logs", location);
}

TEST(RunCommandLine, ExitCodeAndRefusals)
{
    EXPECT_EQ(7u, runCommandLine(L"cmd.exe /c exit 7", true, 0));
    EXPECT_EQ(0u, runCommandLine(L"no-such-program-here.exe", true, 0));
    std::wstring tooLong = L"cmd.exe /c exit 9 " + std::wstring(240, L' ');
    EXPECT_EQ(0u, runCommandLine(tooLong, true, 0)) << "refused, not truncated";
    EXPECT_EQ(9u, runCommandLine(tooLong.substr(0, 255), true, 1));
}

DWORD g_waitLimit = 0;

DWORD WINAPI timedOutWait(HANDLE, DWORD milliseconds)
{
    g_waitLimit = milliseconds;
    return WAIT_TIMEOUT;
}

DWORD WINAPI faultingWait(HANDLE, DWORD)
{
    static int* volatile nowhere = nullptr;
    *nowhere = 0;
    return WAIT_OBJECT_0;
}

BOOL WINAPI raisingExitCode(HANDLE, DWORD*)
{
    RaiseException(0xE0000001, 0, 0, nullptr);
    return FALSE;
}

// A child of the test's own folder that runs until the test lets it go, however long starting it took, and has
// ended by the time the holder goes.
class HeldChild {
public:
    HeldChild()
        : m_name(L"KitoHeldChild_" + std::to_wstring(GetCurrentProcessId())),
          m_go(CreateEventW(nullptr, TRUE, FALSE, (m_name + L"_go").c_str())),
          m_done(CreateEventW(nullptr, TRUE, FALSE, (m_name + L"_done").c_str()))
    {
    }
    ~HeldChild()
    {
        SetEvent(m_go.get());
        WaitForSingleObject(m_done.get(), 30000);
    }
    std::wstring commandLine() const
    {
        return L"testchild.exe --wait " + m_name + L"_go --signal " + m_name + L"_done";
    }

private:
    std::wstring m_name;
    HandleOwner m_go, m_done;
};

TEST(RunCommandLine, WaitIsBoundedAndStructuredExceptionsEndTheRun)
{
    struct Row {
        const char* import;
        const void* replacement;
        bool child;
        uint32_t exitCode;
    };
    const Row rows[] = {
        {"WaitForSingleObject", reinterpret_cast<const void*>(&timedOutWait), true, STILL_ACTIVE},
        {"WaitForSingleObject", reinterpret_cast<const void*>(&faultingWait), false, 0},
        {"GetExitCodeProcess", reinterpret_cast<const void*>(&raisingExitCode), false, 0},
    };
    g_waitLimit = 0;
    HeldChild running;
    for (const Row& row : rows) {
        ImportHook hook(GetModuleHandleW(nullptr), row.import, row.replacement);
        ASSERT_TRUE(hook.Active()) << row.import;
        EXPECT_EQ(row.exitCode, runCommandLine(row.child ? running.commandLine() : L"cmd.exe /c exit 7", true, 0))
            << row.import;
    }
    EXPECT_EQ(runCommandLineWaitMs, g_waitLimit) << "the bound, never INFINITE";
}

TEST(RunCommandLine, CommandInheritsNoHandle)
{
    HandleOwner readEnd, writeEnd;
    SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
    ASSERT_TRUE(CreatePipe(readEnd.put(), writeEnd.put(), &inheritable, 0));
    HeldChild running;
    EXPECT_EQ(static_cast<uint32_t>(STILL_ACTIVE), runCommandLine(running.commandLine(), false, 0));
    // Our write end gone, only a child that inherited it could keep the pipe whole.
    writeEnd.reset();
    DWORD waiting = 0;
    EXPECT_FALSE(PeekNamedPipe(readEnd.get(), nullptr, 0, nullptr, &waiting, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_BROKEN_PIPE), GetLastError());
}

// A files section of packages.xml: each named entry a file, an entry without "src" a directory.
void addFiles(RepositoryKey* section, std::initializer_list<const wchar_t*> sources)
{
    int index = 0;
    for (const wchar_t* source : sources) {
        RepositoryKey* entry = section->createSubKey(L"e" + std::to_wstring(index++));
        if (source) {
            entry->setStringValue(L"src", source);
        }
    }
}

class PackageFiles : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(0u, g_logger.init(L"utils.log", 13, logDir.path().c_str(), 5)); }
    // Closes the log, so that its folder goes too.
    void TearDown() override { g_logger.init(L"", 13, L"", 5); }
    std::wstring log() const { return readUtf16(logDir.file(L"utils.log")); }

    ScratchDir logDir;
};

TEST_F(PackageFiles, ReadFilesSkipsDirectoriesWithAMessage)
{
    RepositoryKey* common = RepositoryKey::create(L"Common");
    addFiles(common, {L"f1.dll", nullptr, L"f2.dll"});
    Texts files;
    EXPECT_EQ(0u, ReadFiles(common, L"pkgs\\32\\Common", files));
    RepositoryKey::releaseTree(common);
    EXPECT_EQ((Texts{L"pkgs\\32\\Common\\f1.dll", L"pkgs\\32\\Common\\f2.dll"}), files);
    std::wstring text = log();
    EXPECT_NE(std::wstring::npos, text.find(L"Kito DBG_1 Q-16-13-0 commonutils.cpp:ReadFiles:"));
    EXPECT_NE(std::wstring::npos, text.find(L"] Could not read package at location '1'\r\n"));
    EXPECT_EQ(text.find(L"location '0'"), std::wstring::npos);
    EXPECT_EQ(static_cast<uint32_t>(ERROR_INVALID_PARAMETER), ReadFiles(nullptr, L"", files));
}

TEST_F(PackageFiles, PackageListsBySystemAndArchitecture)
{
    Texts packages = {L"stale"};
    EXPECT_EQ(E_PKGS_SECTION_MISSING, GetPkgs(L"Sol", 7, 0, 1, packages)) << "no packages.xml";
    EXPECT_TRUE(packages.empty());

    RepositoryKey* root = RepositoryKey::create(L"Packages");
    RepositoryKey* bits32 = root->createSubKey(L"Sol\\32");
    addFiles(bits32->createSubKey(L"Common"), {L"c32.dll"});
    addFiles(bits32->createSubKey(L"w2k"), {L"w2k.dll"});
    RepositoryKey* bits64 = root->createSubKey(L"Sol\\64");
    addFiles(bits64->createSubKey(L"Common"), {L"c64.dll", nullptr});
    addFiles(bits64->createSubKey(L"W2K3"), {L"w2k3.dll"});
    addFiles(bits64->createSubKey(L"W2K3\\x64"), {L"amd64.sys"});
    root->createSubKey(L"NoArch\\32");
    const std::wstring file = getModuleDirectory() + L"\\packages.xml";
    ASSERT_EQ(0u, saveKeyToFile(root, L"packages.xml", L""));
    RepositoryKey::releaseTree(root);

    EXPECT_EQ(0u, GetPkgs(L"Sol", 7, 0, 3, packages));
    EXPECT_EQ((Texts{L"pkgs\\64\\Common\\c64.dll", L"pkgs\\64\\W2K3\\w2k3.dll", L"pkgs\\64\\W2K3\\x64\\amd64.sys"}),
              packages);
    packages.clear();
    EXPECT_EQ(0u, GetPkgs(L"Sol", 4, 0, 1, packages));
    EXPECT_EQ((Texts{L"pkgs\\32\\Common\\c32.dll", L"pkgs\\32\\w2k\\w2k.dll"}), packages);
    packages.clear();
    EXPECT_EQ(0u, GetPkgs(L"Sol", 8, 0, 2, packages)) << "no IA64 section";
    EXPECT_EQ((Texts{L"pkgs\\64\\Common\\c64.dll", L"pkgs\\64\\W2K3\\w2k3.dll"}), packages);
    packages.clear();
    EXPECT_EQ(0u, GetPkgs(L"Sol", 9, 0, 1, packages)) << "no W2K3 section for 32 bits";
    EXPECT_EQ((Texts{L"pkgs\\32\\Common\\c32.dll"}), packages);
    packages.clear();
    EXPECT_EQ(W_PKGS_UNKNOWN_OS, GetPkgs(L"Sol", 2, 0, 1, packages));
    EXPECT_TRUE(packages.empty());
    EXPECT_EQ(E_PKGS_SECTION_MISSING, GetPkgs(L"Other", 7, 0, 1, packages));
    EXPECT_EQ(E_PKGS_ARCH_MISSING, GetPkgs(L"NoArch", 7, 0, 3, packages));
    EXPECT_EQ(E_PKGS_SECTION_MISSING, GetPkgs(L"NoArch", 7, 0, 1, packages)) << "no Common section";
    std::filesystem::remove(file);
    EXPECT_NE(std::wstring::npos, log().find(L"] Always default to x86.\r\n"));
}

} // namespace
