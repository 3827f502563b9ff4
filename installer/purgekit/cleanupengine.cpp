// Carries out the cleanup list: files and folders depth-first below their location, registry keys
// below HKEY_LOCAL_MACHINE. Single failures are logged and the walk goes on.

#include "hostcleanup.h"

#include <windows.h>
#include <shlobj.h>

#include <vector>

#include "logger.h"
#include "owners.h"
#include "registryhelper.h"
#include "repositorykey.h"
#include "stringutils.h"

namespace {

// The size that SHGetFolderPathW fills.
constexpr size_t FolderPathCapacity = MAX_PATH;

const wchar_t* const FlagsValue = L"Flags";
const wchar_t* const LocationValue = L"Location";
constexpr int32_t FlagDeleteAll = 2;
constexpr int32_t FlagRemoveIfEmpty = 1;

int32_t flagsOf(const RepositoryKey* key)
{
    int32_t flags = 0;
    key->getIntValue(FlagsValue, flags);
    return flags;
}

std::wstring locationOf(const RepositoryKey* entry)
{
    std::wstring location;
    entry->getStringValue(LocationValue, location);
    return location;
}

// Only a drive-rooted or UNC path names a place independent of the process's current folder.
bool isAbsolutePath(const std::wstring& path)
{
    wchar_t drive = path.empty() ? L'\0' : upperCase(path[0]);
    bool driveRooted = path.size() >= 3 && drive >= L'A' && drive <= L'Z' && path[1] == L':' && path[2] == L'\\';
    bool unc = path.size() >= 3 && path[0] == L'\\' && path[1] == L'\\' && path[2] != L'\\';
    return driveRooted || unc;
}

void removeFolder(const ScopeTracer& tracer, const std::wstring& path)
{
    KITO_LOG_DEBUG(LOG_DBG_6, tracer, L"RemoveDirectory dir %s", path.c_str());
    if (!RemoveDirectoryW(path.c_str()))
        KITO_LOG_DEBUG(LOG_DBG_6, tracer, L"Delete dir failed for %s with errorCode=%0x", path.c_str(),
                       static_cast<unsigned>(GetLastError()));
}

bool isLink(DWORD attributes)
{
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// A junction or symbolic link goes itself; what it points to is never entered.
void removeLink(const ScopeTracer& tracer, const std::wstring& path, DWORD attributes)
{
    KITO_LOG_DEBUG(LOG_DBG_6, tracer, L"%s is a link. Removing the link only", path.c_str());
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        removeFolder(tracer, path);
    else
        deleteFileLogged(tracer, path, L"Deleting file %s");
}

// A name taken from the repository may only lead below the shared folder: no root, drive, wildcard,
// alternate stream or "."/".." step.
bool isPlainRelativeName(const std::wstring& name)
{
    if (name.empty() || name[0] == L'\\' || name[0] == L'/' || name.find_first_of(L":*?") != std::wstring::npos)
        return false;
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = name.find_first_of(L"\\/", start);
        if (end == std::wstring::npos)
            end = name.size();
        std::wstring component = name.substr(start, end - start);
        if (component == L"." || component == L"..")
            return false;
        start = end + 1;
    }
    return true;
}

// The full path of candidate, when it lies strictly below base once both are resolved; below is the
// index in it of the first character below base.
bool resolveBelow(const std::wstring& base, const std::wstring& candidate, std::wstring& resolved, size_t& below)
{
    wchar_t fullBase[CleanupPathCapacity];
    wchar_t fullCandidate[CleanupPathCapacity];
    DWORD baseLength = GetFullPathNameW(base.c_str(), CleanupPathCapacity, fullBase, nullptr);
    DWORD candidateLength = GetFullPathNameW(candidate.c_str(), CleanupPathCapacity, fullCandidate, nullptr);
    if (baseLength == 0 || baseLength >= CleanupPathCapacity || candidateLength == 0
        || candidateLength >= CleanupPathCapacity)
        return false;
    std::wstring parent(fullBase, baseLength);
    std::wstring child(fullCandidate, candidateLength);
    if (parent.back() != L'\\')
        parent += L'\\';
    if (child.size() <= parent.size() || !equalsNoCase(child.substr(0, parent.size()), parent))
        return false;
    resolved = child;
    below = parent.size();
    return true;
}

// The first link (reparse point) that resolved passes through from index below on: each folder on the
// way, and the last item too when a backslash follows it. An item named exactly may itself be a link,
// since deleteFilesRecursive removes only the link then.
bool linkOnTheWay(const std::wstring& resolved, size_t below, std::wstring& link)
{
    for (size_t end = resolved.find(L'\\', below); end != std::wstring::npos; end = resolved.find(L'\\', end + 1)) {
        // Two backslashes in a row hold no item between them.
        if (resolved[end - 1] == L'\\')
            continue;
        std::wstring item = resolved.substr(0, end);
        if (isLink(GetFileAttributesW(item.c_str()))) {
            link = item;
            return true;
        }
    }
    return false;
}

bool appendPath(std::wstring& path, const std::wstring& name, size_t capacity)
{
    if (path.size() + 1 + name.size() + 1 > capacity)
        return false;
    path += L'\\';
    path += name;
    return true;
}

} // namespace

void deleteFileLogged(const ScopeTracer& tracer, const std::wstring& path, const wchar_t* announcement)
{
    if (announcement)
        KITO_LOG_DEBUG(LOG_DBG_6, tracer, announcement, path.c_str());
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!DeleteFileW(path.c_str()))
        KITO_LOG_DEBUG(LOG_DBG_6, tracer, L"Delete file failed for %s with errorCode=%0x", path.c_str(),
                       static_cast<unsigned>(GetLastError()));
}

bool appendPathOrLog(const ScopeTracer& tracer, std::wstring& path, const std::wstring& name, size_t capacity)
{
    if (appendPath(path, name, capacity))
        return true;
    KITO_LOG_DEBUG(LOG_DBG_6, tracer, L"Path %s\\%s does not fit into %d characters. Skipping it", path.c_str(),
                   name.c_str(), static_cast<int>(capacity));
    return false;
}

bool listFolder(const ScopeTracer& tracer, const std::wstring& folder, std::vector<std::wstring>& items)
{
    std::wstring pattern = folder;
    if (!appendPathOrLog(tracer, pattern, L"*", CleanupPathCapacity))
        return false;
    WIN32_FIND_DATAW found;
    FindOwner find(FindFirstFileW(pattern.c_str(), &found));
    if (!find)
        return false;
    do {
        std::wstring item = folder;
        if (wcscmp(found.cFileName, L".") != 0 && wcscmp(found.cFileName, L"..") != 0
            && appendPathOrLog(tracer, item, found.cFileName, CleanupPathCapacity))
            items.push_back(item);
    } while (FindNextFileW(find.get(), &found));
    return true;
}

bool getSharedKitoFolder(std::wstring& folder)
{
    wchar_t common[FolderPathCapacity] = {};
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILES_COMMON, nullptr, 0, common)))
        return false;
    common[FolderPathCapacity - 1] = L'\0';
    std::wstring path = common;
    if (!isAbsolutePath(path) || !appendPath(path, L"Osmark Shared", FolderPathCapacity)
        || !appendPath(path, L"Kito", FolderPathCapacity))
        return false;
    folder = path;
    return true;
}

uint32_t HostCleanUp::cleanupEngine(RepositoryKey* files)
{
    ScopeTracer tracer(L"HostCleanUp::cleanupEngine", &g_logger);
    if (!files) {
        KITO_LOG_DEBUG(LOG_DBG_6, tracer, L"Bad param");
        return E_KITO_INVALIDARG;
    }
    for (RepositoryKey* entry : files->getSubKeys()) {
        std::wstring location = locationOf(entry);
        if (location.empty())
            continue;
        if (!isAbsolutePath(location)) {
            KITO_LOG_DEBUG(LOG_DBG_6, tracer, L"Location %s is not an absolute path. Skipping it", location.c_str());
            continue;
        }
        for (RepositoryKey* child : entry->getSubKeys()) {
            KITO_LOG_DEBUG(LOG_DBG_6, tracer, L"Calling processCleanupKey");
            if (uint32_t rc = processFileCleanupKey(child, location))
                return rc;
        }
    }
    return 0;
}

uint32_t HostCleanUp::processFileCleanupKey(RepositoryKey* key, const std::wstring& location)
{
    ScopeTracer tracer(L"HostCleanUp::processFileCleanupKey", &g_logger);
    if (!key)
        return E_KITO_INVALIDARG;
    int32_t flags = flagsOf(key);
    std::wstring name = key->getName();
    std::wstring path = location;
    if (!appendPathOrLog(tracer, path, name, CleanupPathCapacity))
        return 0;
    if (flags & FlagDeleteAll) {
        KITO_LOG_DEBUG(LOG_DBG_6, tracer, L"Deleting file %s recursively from location %s", name.c_str(), path.c_str());
        deleteFilesRecursive(path);
        return 0;
    }
    for (RepositoryKey* child : key->getSubKeys())
        processFileCleanupKey(child, path);
    if (flags & FlagRemoveIfEmpty) {
        KITO_LOG_DEBUG(LOG_DBG_6, tracer, L"Deleting file %s on empty from location %s", name.c_str(), path.c_str());
        if (!RemoveDirectoryW(path.c_str()))
            KITO_LOG_DEBUG(LOG_DBG_1, tracer, L"Remove dir failed for %s", name.c_str());
    }
    return 0;
}

uint32_t HostCleanUp::deleteFilesRecursive(const std::wstring& path)
{
    ScopeTracer tracer(L"HostCleanUp::deleteFilesRecursive", &g_logger);
    if (path.empty())
        return 0;
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (isLink(attributes)) {
        removeLink(tracer, path, attributes);
        return 0;
    }
    // A missing path reports every attribute bit and is handled as a folder whose removal fails.
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        deleteFileLogged(tracer, path, L"Deleting file %s");
        return 0;
    }
    std::vector<std::wstring> children;
    listFolder(tracer, path, children);
    for (const std::wstring& child : children) {
        DWORD childAttributes = GetFileAttributesW(child.c_str());
        if (isLink(childAttributes)) {
            removeLink(tracer, child, childAttributes);
            continue;
        }
        SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
        childAttributes = GetFileAttributesW(child.c_str());
        if (childAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            deleteFilesRecursive(child);
            // Normally gone already; the failure of this second removal is logged.
            removeFolder(tracer, child);
        } else {
            deleteFileLogged(tracer, child, L"Deleting file %s ");
        }
    }
    removeFolder(tracer, path);
    return 0;
}

uint32_t HostCleanUp::cleanupRegistry(RepositoryKey* registries)
{
    ScopeTracer tracer(L"HostCleanUp::cleanupRegistry", &g_logger);
    if (!registries) {
        KITO_LOG_DEBUG(
            LOG_DBG_6, tracer,
            L"Passed bad param for cleanupRegistry. But considering it a success as there might not be any regKey to cleanup");
        return 0;
    }
    for (RepositoryKey* entry : registries->getSubKeys()) {
        std::wstring location = locationOf(entry);
        if (location.empty())
            continue;
        for (RepositoryKey* child : entry->getSubKeys()) {
            KITO_LOG_DEBUG(LOG_DBG_6, tracer, L"Calling processCleanupRegKey");
            processRegCleanupKey(child, location);
        }
    }
    return 0;
}

uint32_t HostCleanUp::processRegCleanupKey(RepositoryKey* key, const std::wstring& location)
{
    ScopeTracer tracer(L"HostCleanUp::processRegCleanupKey", &g_logger);
    if (!key) {
        KITO_LOG_DEBUG(
            LOG_DBG_6, tracer,
            L"Passed bad param for processRegCleanupKey. But considering it a success as there might not be any regKey to cleanup");
        return 0;
    }
    std::wstring name = key->getName();
    std::wstring target = location + L"\\" + name;
    KITO_LOG_DEBUG(LOG_DBG_6, tracer, L"Deleting registry %s recursively from location %s", name.c_str(),
                   target.c_str());
    // An empty name would make the deletion take the location key itself.
    if (name.empty()) {
        KITO_LOG_DEBUG(LOG_DBG_6, tracer, L"Empty registry key name below %s. Skipping it", location.c_str());
        return 0;
    }
    RegistryHelper registry;
    uint32_t rc = registry.Reg_RemoveRegKey(HKEY_LOCAL_MACHINE, location, name, KEY_ALL_ACCESS,
                                            static_cast<uint32_t>(flagsOf(key)));
    if (rc)
        KITO_LOG_DEBUG(LOG_DBG_6, tracer, L"Reg_RemoveRegKey for %s failed with error message %0x", target.c_str(), rc);
    return 0;
}

bool DeleteFilesUnderDir(const std::wstring& name)
{
    ScopeTracer tracer(L"DeleteFilesUnderDir", &g_logger);
    if (!isPlainRelativeName(name)) {
        KITO_LOG_DEBUG(LOG_DBG_6, tracer, L"Folder name '%s' is not a plain relative path. Not deleting anything",
                       name.c_str());
        return false;
    }
    std::wstring shared;
    if (!getSharedKitoFolder(shared)) {
        KITO_LOG_DEBUG(LOG_DBG_6, tracer, L"The common program files folder is not known. Not deleting %s",
                       name.c_str());
        return false;
    }
    std::wstring path = shared;
    std::wstring resolved;
    size_t below = 0;
    if (!appendPathOrLog(tracer, path, name, FolderPathCapacity))
        return false;
    if (!resolveBelow(shared, path, resolved, below)) {
        KITO_LOG_DEBUG(LOG_DBG_6, tracer, L"%s does not lie below %s. Not deleting it", path.c_str(), shared.c_str());
        return false;
    }
    std::wstring link;
    if (linkOnTheWay(resolved, below, link)) {
        KITO_LOG_DEBUG(LOG_DBG_6, tracer, L"Folder name '%s' passes through the link %s. Not deleting anything",
                       name.c_str(), link.c_str());
        return false;
    }
    HostCleanUp::deleteFilesRecursive(resolved);
    return true;
}

void Cleanups(const std::wstring& name)
{
    ScopeTracer tracer(L"Cleanups", &g_logger);
    if (DeleteFilesUnderDir(name))
        KITO_LOG_DEBUG(LOG_DBG_6, tracer, L"Delete files under %s seccessed", name.c_str());
}
