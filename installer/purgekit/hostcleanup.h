#pragma once
// The removal's decision and its deletions: whether the machine may be cleaned, the list of what to
// delete, and the engine that deletes it. Static operations; nothing is kept between calls.

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "repositorykey.h"

class ScopeTracer;

class HostCleanUp {
public:
    // True only when the registry shows no installed solution of this installer release. Creates
    // and loads KitoDb when it is null.
    static bool canBeCleaned();

    // Builds the cleanup list "Cleanup" into *root; the caller owns the tree, also after a failure.
    static uint32_t formCleanupFile(RepositoryKey** root);

    // The "Files" branch: 0, E_KITO_INVALIDARG for a null branch, or the first failing key's code.
    static uint32_t cleanupEngine(RepositoryKey* files);
    // One key of the "Files" branch (and its children) below the folder location.
    static uint32_t processFileCleanupKey(RepositoryKey* key, const std::wstring& location);
    // Deletes a file, or a folder with everything in it; links are removed, never followed. Always 0.
    static uint32_t deleteFilesRecursive(const std::wstring& path);
    // The "Registries" branch; always 0.
    static uint32_t cleanupRegistry(RepositoryKey* registries);
    // Deletes the sub-key named by key below HKEY_LOCAL_MACHINE\location; always 0.
    static uint32_t processRegCleanupKey(RepositoryKey* key, const std::wstring& location);
};

uint32_t createFileCleanupKeys(RepositoryKey* root);
uint32_t createRegCleanupKeys(RepositoryKey* root);

// Deletes name, with everything in it, below the "Kito" folder of "Osmark Shared" in the common
// program files folder. False, with nothing deleted, when the name is not a plain relative path
// strictly below that folder or the folder cannot be found.
bool DeleteFilesUnderDir(const std::wstring& name);
// DeleteFilesUnderDir for one folder of a solution's cleanup operations, with the outcome logged.
void Cleanups(const std::wstring& name);

// <common program files>\Osmark Shared\Kito; false when the shell cannot tell the common folder.
bool getSharedKitoFolder(std::wstring& folder);
// Only "not found" means absent: a key that exists but cannot be opened leaves the state unknown, with
// the Windows code in windowsError.
enum class Presence { Present, Absent, Unknown };
Presence presenceOf(HKEY root, const std::wstring& path, LONG& windowsError);

// The walk's pattern and item paths fit MAX_PATH plus one characters, the terminator included.
inline constexpr size_t CleanupPathCapacity = 261;

// Appends a backslash and name unless the result would not fit a buffer of capacity characters,
// terminator included; then path is left as it was, a line in the tracer's scope says so, and the
// answer is false. Paths are never cut short.
bool appendPathOrLog(const ScopeTracer& tracer, std::wstring& path, const std::wstring& name, size_t capacity);
// The paths of the items in a folder other than "." and "..", read completely before anything is
// deleted; an item whose path would not fit is left out with a line.
bool listFolder(const ScopeTracer& tracer, const std::wstring& folder, std::vector<std::wstring>& items);
// Resets the attributes, so that read-only, hidden and system files go too, and deletes the file; the
// announcement (a format taking the path, or null) comes first, a failure is logged.
void deleteFileLogged(const ScopeTracer& tracer, const std::wstring& path, const wchar_t* announcement);
