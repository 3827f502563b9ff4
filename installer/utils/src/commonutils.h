#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

class RepositoryKey;

// The integer "Type" of a solution: the product itself or one kind of update.
enum UpdateKind {
    UPDATE_KIND_PRODUCT = 1,
    UPDATE_KIND_ROLLUP_PATCHES = 3,
    UPDATE_KIND_MAINTENANCE_PACKS = 4,
    UPDATE_KIND_HOTFIXES = 5,
    UPDATE_KIND_ADDONS = 6,
};

// Kinds of registry path that GetRegKeyPath builds.
enum RegKeyPathKind {
    REG_PATH_KITO = 0,
    REG_PATH_UNINSTALL = 1,
};

// Result codes of the package list.
const uint32_t E_PKGS_SECTION_MISSING = 0xC003000B;
const uint32_t E_PKGS_ARCH_MISSING = 0xC002000D;
const uint32_t W_PKGS_UNKNOWN_OS = 0x4002000E;

// Writes the installer's registry path into a new buffer of MAX_PATH characters that the caller
// frees with free(); 87 without an out pointer, 8 without memory, 122 when the path does not fit.
uint32_t GetRegKeyPath(const wchar_t* subPath, wchar_t** path, int viewFlag, int is32Bit, int pathKind);
uint32_t getRegAccessMask(bool is32Bit, REGSAM* mask);
// True when this process is a 32-bit process on 64-bit Windows.
bool isWow64();
// Splits a comma list into trimmed items; 12 for an empty text.
uint32_t splitList(const std::wstring& text, std::vector<std::wstring>& items);
uint32_t getUpdateKindSubKey(std::wstring& subKey, int kind);
void GetConsoleHostLogFileLocation(std::wstring& location);
uint32_t GetPkgs(const std::wstring& solutionName, int osKind, int unused, int archKind,
                 std::vector<std::wstring>& packages);
uint32_t ReadFiles(RepositoryKey* filesKey, const std::wstring& prefix, std::vector<std::wstring>& files);
// The longest wait for a command run with the wait flag: half an hour, far beyond any command the
// installer runs, so that a command that never ends cannot hold the installer forever.
const DWORD runCommandLineWaitMs = 30 * 60 * 1000;
// Runs a command line of at most 255 characters, which inherits no handle; with wait set, waits for
// it to end, at most runCommandLineWaitMs. The exit code as the process reports it then (STILL_ACTIVE
// while it runs), or 0 when nothing was started; a structured exception inside ends the run with the
// exit code read so far.
uint32_t runCommandLine(const std::wstring& commandLine, bool wait, int show);
uint32_t splitPath(const std::wstring& path, std::wstring& directory, std::wstring& fileName);
void getProgramDirectory(std::wstring& directory);
std::wstring toUpperCase(const std::wstring& text);
