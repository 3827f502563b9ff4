// What earlier installer releases left that the current cleanup list does not name. Each routine is a
// fixed sequence of deletions; a failure never stops the sequence.

#include "olderinstallers.h"

#include <windows.h>

#include <string>
#include <vector>

#include "hostcleanup.h"
#include "logger.h"
#include "registryhelper.h"

namespace {

const wchar_t* const KitoKey = L"Software\\Osmark\\Kito";
const wchar_t* const UninstallKey = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\UnInstall";

void removeKeyTree(const std::wstring& parent, const std::wstring& name)
{
    RegistryHelper registry;
    registry.Reg_RemoveRegKey(HKEY_LOCAL_MACHINE, parent, name, KEY_ALL_ACCESS, RegistryHelper::RemoveTree);
}

void deleteFolderUnderKito(const ScopeTracer& tracer, const wchar_t* name)
{
    if (DeleteFilesUnderDir(name))
        KITO_LOG_DEBUG(LOG_DBG_6, tracer, L"Delete files under %s seccessed", name);
}

// The files directly in the shared "Kito" folder; its sub-folders and the folder itself stay.
void deleteFilesInSharedKito(const ScopeTracer& tracer)
{
    std::wstring folder;
    if (!getSharedKitoFolder(folder)) {
        KITO_LOG_DEBUG(LOG_DBG_6, tracer, L"The common program files folder is not known. Not deleting any file");
        return;
    }
    std::vector<std::wstring> items;
    listFolder(tracer, folder, items);
    for (const std::wstring& item : items) {
        SetFileAttributesW(item.c_str(), FILE_ATTRIBUTE_NORMAL);
        DWORD attributes = GetFileAttributesW(item.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY))
            deleteFileLogged(tracer, item, nullptr);
    }
}

} // namespace

void CleanupKito40()
{
    ScopeTracer tracer(L"CleanupKito40", &g_logger);
    // While the 4.0 solution is registered its leftovers stay; a key that cannot be checked counts as there.
    LONG windowsError = ERROR_SUCCESS;
    if (presenceOf(HKEY_LOCAL_MACHINE, std::wstring(KitoKey) + L"\\Solutions\\plov.sol.mesaw", windowsError)
        != Presence::Absent)
        return;
    for (const wchar_t* productCode : kito40ProductCodes)
        removeKeyTree(UninstallKey, productCode);
    removeKeyTree(KitoKey, L"Solutions");
    deleteFilesInSharedKito(tracer);
}

void CleanupKito42()
{
    ScopeTracer tracer(L"CleanupKito42", &g_logger);
    RegistryHelper registry;
    if (registry.Reg_KeyExists(HKEY_LOCAL_MACHINE, std::wstring(KitoKey) + L"\\42", KEY_ALL_ACCESS) == 0)
        removeKeyTree(KitoKey, L"42");
    deleteFolderUnderKito(tracer, L"{4.2.0.21}");
    deleteFolderUnderKito(tracer, L"Release\\{42}");
}

void CleanupKito41()
{
    ScopeTracer tracer(L"CleanupKito41", &g_logger);
    deleteFolderUnderKito(tracer, L"{4.1.73.0}");
}

void CleanupKito41LP()
{
    ScopeTracer tracer(L"CleanupKito41LP", &g_logger);
    deleteFolderUnderKito(tracer, L"{4.1.75.0}");
}

void CleanupKito42NETAPP()
{
    ScopeTracer tracer(L"CleanupKito42NETAPP", &g_logger);
    deleteFolderUnderKito(tracer, L"{4.2.81.5}");
}
