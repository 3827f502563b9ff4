#pragma once
// A fake machine on which the installer is installed, built in the Wine prefix for one removal run:
// the installer's registry keys, its product information, its common files, the 4.0 installer's
// leftovers, its service, and unlisted neighbours that the removal must never touch.

#include <windows.h>

#include <map>
#include <string>
#include <vector>

namespace fakemachine {

// The installer release that the product information names.
extern const wchar_t* const releaseGuid;

struct Layout {
    // HKLM\SOFTWARE\Osmark exists at all; without it nothing of the installer is in the registry.
    bool osmarkKey = true;
    // HKLM\SOFTWARE\Osmark\Kito with "DestinationPath".
    bool kitoKey = true;
    // The release key SOFTWARE\Osmark\Kito\<Guid>\MaintenancePacks.
    bool releaseKey = true;
    // Children of the release key's "Solutions"; -1: no "Solutions" key at all.
    int releaseSolutions = 0;
    // The 4.0 installer's solution "plov.sol.mesaw" is still registered.
    bool kito40Solution = false;
    // The "Guid" of the product information ("" leaves the value out).
    std::wstring guid = releaseGuid;
    // "Name" values of the one solution's CleanupOperations\Folders; a solution without "Folders"
    // when foldersKey is false.
    std::vector<std::wstring> folderNames = {L"SolFolder"};
    bool foldersKey = true;
    // Unlisted neighbours in the registry and in "Osmark Shared".
    bool neighbours = true;
    // The release's roll-up patches beside its maintenance packs, in the registry and in "Kito".
    bool otherUpdates = true;
    // A file of the 4.0 installer directly in "Kito".
    bool kito40File = true;
    // The service "qzInstaller".
    bool service = true;
    // The same installation in the other registry view and the other common files folder, as an installer of
    // the other bitness leaves it; else that view holds only an emptied "Kito" key and a neighbour.
    bool otherInstallation = false;
};

// The registry view and common files folder of the running process (what Purgekit of the same build writes
// through), or those of the other bitness.
enum class View { Own, Other };

// Paths of the fixture as the product sees them.
std::wstring commonFiles(); // the common program files folder
std::wstring otherCommonFiles(); // that of the other bitness
std::wstring kitoFiles(); // <common files>\Osmark Shared\Kito
std::wstring destination(); // "DestinationPath": folder of productInformation.xml
std::wstring victimFolder(); // a folder outside "Osmark Shared" that nothing may delete

// Everything that a run may change, as path -> content: registry keys and values below the
// fixture's roots in both views, files and folders with attributes and bytes in both common files
// folders, the service.
using Snapshot = std::map<std::wstring, std::wstring>;

class Machine {
public:
    // Removes whatever an earlier run left, then builds the layout.
    explicit Machine(const Layout& layout);
    // Removes everything the fixture may have created.
    ~Machine();
    Machine(const Machine&) = delete;
    Machine& operator=(const Machine&) = delete;

    static Snapshot snapshot();
    // before without every entry at or below one of the removed paths ("R:" registry, "F:" files, "S:" service).
    static Snapshot without(const Snapshot& before, const std::vector<std::wstring>& removed);

    // Creates a file and the folders above it, with the given attributes (full paths).
    static void addFile(const std::wstring& path, DWORD attributes, const std::string& bytes);
    static void addFolder(const std::wstring& path);
    // A directory symbolic link made on the Unix side (Wine cannot create reparse points itself).
    static bool addFolderLink(const std::wstring& relativeLink, const std::wstring& unixTarget);

    static void removeAll();

private:
    static void writeProductInformation(const Layout& layout);
    static void buildRegistry(const Layout& layout, View view);
    static void buildFiles(const Layout& layout, View view);
    static void buildOtherViewLeftovers(const Layout& layout);
};

// Runs a program to its end (60 s at most) with the given environment changes (an empty value
// removes the variable) and working directory; returns its exit code, or ~0u when it did not start or end.
DWORD runProgram(const std::wstring& commandLine, const std::map<std::wstring, std::wstring>& environment,
                 const std::wstring& workingDirectory);

// The unix path of a Windows path, for Unix-side helpers.
std::string unixPath(const std::wstring& windowsPath);

// Named entries of the fixture, as used in snapshots. A registry entry is named as the 64-bit view shows it
// (the 32-bit view's "SOFTWARE" below "SOFTWARE\Wow6432Node"); a path naming "Wow6432Node" itself is taken as
// it stands, as a process of either bitness reaches the 32-bit view's key through it.
std::wstring registryEntry(const std::wstring& path, View view = View::Own);
std::wstring fileEntry(const std::wstring& relativeToCommonFiles, View view = View::Own);
extern const wchar_t* const serviceEntry;

} // namespace fakemachine
