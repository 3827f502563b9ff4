#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

class RepositoryKey;

// Result codes of the package list.
const uint32_t E_PKGS_SECTION_MISSING = 0xC003000B;
const uint32_t E_PKGS_ARCH_MISSING = 0xC002000D;
const uint32_t W_PKGS_UNKNOWN_OS = 0x4002000E;

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
