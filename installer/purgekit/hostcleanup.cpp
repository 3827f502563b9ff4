// Whether the machine may be cleaned, and the list of what the cleanup engine is to delete.

#include "hostcleanup.h"

#include <windows.h>

#include <cstdlib>
#include <memory>

#include "kitorepository.h"
#include "logger.h"
#include "owners.h"
#include "purgekit.h"
#include "registryhelper.h"
#include "registrytree.h"
#include "repositorykey.h"
#include "stringutils.h"

namespace {

// The registry key paths of the check, the terminator included.
constexpr size_t KeyPathCapacity = MAX_PATH;
constexpr int32_t FlagDeleteAll = 2;
constexpr int32_t FlagRemoveIfEmpty = 1;

// In the order in which g_commandLine is compared with them.
const wchar_t* const UpdateKindWords[] = {L"MaintenancePacks", L"RollupPatches", L"HotFixes", L"AddOns"};

// The update-kind word that the command line equals exactly, or null.
const wchar_t* updateKindOf(const std::wstring& commandLine)
{
    for (const wchar_t* word : UpdateKindWords) {
        if (commandLine == word)
            return word;
    }
    return nullptr;
}

// The code to report for a key that is there but did not open.
uint32_t openFailureCode(LONG windowsError)
{
    return windowsError != ERROR_SUCCESS ? static_cast<uint32_t>(windowsError) : E_KITO_REGOPEN;
}

} // namespace

Presence presenceOf(HKEY root, const std::wstring& path, LONG& windowsError)
{
    RegistryHelper registry;
    windowsError = ERROR_SUCCESS;
    if (registry.Reg_KeyExists(root, path, KEY_ALL_ACCESS, &windowsError) == 0)
        return Presence::Present;
    return windowsError == ERROR_FILE_NOT_FOUND ? Presence::Absent : Presence::Unknown;
}

namespace {

// "DestinationPath" of the installer's key; empty when it cannot be read.
std::wstring readDestinationPath()
{
    MallocOwner<wchar_t> keyPath;
    std::wstring destination;
    if (GetRegKeyPath(L"", keyPath.put(), 1, 0, REG_PATH_KITO) == 0) {
        wchar_t buffer[MAX_PATH] = {};
        RegistryHelper registry;
        if (registry.Reg_ReadStringItem(HKEY_LOCAL_MACHINE, keyPath.get(), L"DestinationPath", buffer, MAX_PATH,
                                        KEY_ALL_ACCESS)
            == 0)
            destination = buffer;
    }
    return destination;
}

bool isHexDigit(wchar_t c)
{
    return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F');
}

// A release GUID names one key below the installer's key. Any other text (a word, a wildcard, a
// blank) would name a key that is never there, and an absent key would read as nothing installed.
bool isGuidForm(const std::wstring& guid)
{
    const wchar_t* const form = L"{HHHHHHHH-HHHH-HHHH-HHHH-HHHHHHHHHHHH}";
    if (guid.size() != wcslen(form))
        return false;
    for (size_t i = 0; i < guid.size(); ++i) {
        bool matches = form[i] == L'H' ? isHexDigit(guid[i]) : guid[i] == form[i];
        if (!matches)
            return false;
    }
    return true;
}

bool fitsKeyPath(const std::wstring& path)
{
    return path.size() + 1 <= KeyPathCapacity;
}

// Answers from the loaded release key: false while any solution is registered below "Solutions".
bool noSolutionsRegistered(const ScopeTracer& tracer, HKEY releaseKey, const std::wstring& guid)
{
    bool complete = true;
    KeyTree tree(loadKeyFromRegistry(releaseKey, guid, KEY_ALL_ACCESS, &complete));
    if (!tree || !complete) {
        KITO_LOG_DEBUG(LOG_DBG_6, tracer,
                       L"Some problem in converting Kito43 regkey. Taking safer action. Not to clean.");
        return false;
    }
    RepositoryKey* solutions = tree->getSubKey(L"Solutions");
    if (!solutions) {
        KITO_LOG_DEBUG(LOG_DBG_6, tracer, L"Solutions key is not found. Returning true for cleanup");
        return true;
    }
    size_t count = solutions->getSubKeys().size();
    if (count == 0) {
        KITO_LOG_DEBUG(LOG_DBG_6, tracer,
                       L"There are no solutions under the solutions key. Returning true for cleanup");
        return true;
    }
    KITO_LOG_DEBUG(LOG_DBG_6, tracer, L"There are %d solutions under the solutions key. Returning false for cleanup",
                   static_cast<int>(count));
    return false;
}

// Creates KitoDb and loads it from the product information in the installer's folder, which is
// handed back for the log; false when the root cannot be created.
bool createRepository(std::wstring& sourcePath)
{
    KitoDb = makeKey<KitoRepository>(L"KitoRepository");
    if (!KitoDb)
        return false;
    sourcePath = readDestinationPath();
    KitoDb->initFromProdInfoXML(L"productInformation.xml", sourcePath.c_str(), L"Purgekit.dll");
    return true;
}

// What a key of the check says: absent, the machine may be cleaned; there but not to be opened, it may
// not; present, the check goes on.
enum class KeyCheck { Absent, Refused, Present };

// The lines of one key's check: for an absent key, and for one that did not open (taking the code).
struct KeyCheckLines {
    const wchar_t* absent;
    const wchar_t* refused;
};

const KeyCheckLines OsmarkKeyLines = {
    L"The Software\\osmark key is not present, we can do Kito file level cleanup",
    L"RegOpen failed for Software\\osmark key. Reason %0x. Something is wrong because we earlier validated that the key is present. Not allowing to clean up the system"};
const KeyCheckLines KitoKeyLines = {L"The Kito key is not present, we can do Kito file level cleanup",
                                    L"RegOpen failed for Kito key. Reason %0x. Not allowing to clean up the system"};
const KeyCheckLines ReleaseKeyLines = {
    L"The KitoGUID key is not present, we can do Kito file level cleanup",
    L"RegOpen failed for Kito43 key. Reason %0x. Something is wrong because we earlier validated that the key is present. Not allowing to clean up the system"};

// Present, open, or refuse: root\path is looked for and, when opened is given, opened into it. A key
// that exists but cannot be opened leaves the state unknown and refuses the cleanup.
KeyCheck checkKey(const ScopeTracer& tracer, HKEY root, const std::wstring& path, const KeyCheckLines& lines,
                  KeyOwner* opened)
{
    LONG windowsError = ERROR_SUCCESS;
    Presence presence = presenceOf(root, path, windowsError);
    if (presence == Presence::Absent) {
        KITO_LOG_DEBUG(LOG_DBG_6, tracer, lines.absent);
        return KeyCheck::Absent;
    }
    uint32_t rc = 0;
    if (presence == Presence::Unknown) {
        rc = openFailureCode(windowsError);
    } else if (opened) {
        RegistryHelper registry;
        rc = registry.Reg_OpenKey(opened->put(), root, path, KEY_ALL_ACCESS);
    }
    if (rc) {
        KITO_LOG_DEBUG(LOG_DBG_6, tracer, lines.refused, rc);
        return KeyCheck::Refused;
    }
    return KeyCheck::Present;
}

// Software\Osmark\Kito\<GUID>, then the update kind the command line names; false, after a line, when
// the GUID names no release key or the path does not fit.
bool buildReleaseKeyPath(const ScopeTracer& tracer, const std::wstring& guid, std::wstring& keyPath)
{
    KITO_LOG_DEBUG(LOG_DBG_6, tracer, L"The Kito version is %s", KitoDb->getVersion().c_str());
    KITO_LOG_DEBUG(LOG_DBG_6, tracer, L"The Kito GUID is %s", guid.c_str());
    keyPath = L"Software\\Osmark\\Kito\\" + guid;
    if (!isGuidForm(guid)) {
        KITO_LOG_DEBUG(LOG_DBG_6, tracer,
                       L"The Kito GUID '%s' does not name a release key. Not allowing to clean up the system",
                       guid.c_str());
        return false;
    }
    KITO_LOG_DEBUG(LOG_DBG_6, tracer, L"The registry key Kito's looking for is %s", keyPath.c_str());
    if (const wchar_t* kind = updateKindOf(g_commandLine))
        keyPath += std::wstring(L"\\") + kind;
    KITO_LOG_DEBUG(LOG_DBG_6, tracer, L"Cmdline is '%s'", g_commandLine.c_str());
    KITO_LOG_DEBUG(LOG_DBG_6, tracer, L"currentKeyStr is %s", keyPath.c_str());
    if (!fitsKeyPath(keyPath)) {
        KITO_LOG_DEBUG(LOG_DBG_6, tracer,
                       L"The release key path does not fit into %d characters. Not allowing to clean up the system",
                       static_cast<int>(KeyPathCapacity));
        return false;
    }
    return true;
}

// Location value and one child with its flags; the child is left out when childName is empty.
uint32_t addRegistryEntry(RepositoryKey* registries, int number, const std::wstring& location,
                          const std::wstring& childName, int32_t flags)
{
    RepositoryKey* entry = registries->createSubKey(L"Entry" + std::to_wstring(number));
    if (!entry)
        return E_KITO_FAILED;
    entry->setStringValue(L"Location", location);
    if (RepositoryKey* child = childName.empty() ? nullptr : entry->createSubKey(childName))
        child->setIntValue(L"Flags", flags);
    return 0;
}

std::wstring repositoryGuid()
{
    return KitoDb ? KitoDb->getGuid() : std::wstring();
}

} // namespace

bool HostCleanUp::canBeCleaned()
{
    ScopeTracer tracer(L"HostCleanUp::canBeCleaned", &g_logger);
    KITO_LOG_DEBUG(LOG_DBG_6, tracer, L"Befor new KitoRepository, canBeCleaned called, KitoDb is %Iu:",
                   reinterpret_cast<uintptr_t>(KitoDb));
    std::wstring sourcePath;
    if (!KitoDb && !createRepository(sourcePath))
        return false;
    KITO_LOG_DEBUG(LOG_DBG_6, tracer, L"canBeCleaned called, source path is %s:", sourcePath.c_str());

    KeyOwner osmarkKey;
    KeyCheck osmark = checkKey(tracer, HKEY_LOCAL_MACHINE, L"Software\\Osmark", OsmarkKeyLines, &osmarkKey);
    if (osmark != KeyCheck::Present)
        return osmark == KeyCheck::Absent;
    KeyCheck kito = checkKey(tracer, osmarkKey.get(), L"Kito", KitoKeyLines, nullptr);
    if (kito != KeyCheck::Present)
        return kito == KeyCheck::Absent;

    std::wstring guid = KitoDb->getGuid();
    std::wstring keyPath;
    if (!buildReleaseKeyPath(tracer, guid, keyPath))
        return false;
    KeyOwner releaseKey;
    KeyCheck release = checkKey(tracer, HKEY_LOCAL_MACHINE, keyPath, ReleaseKeyLines, &releaseKey);
    if (release != KeyCheck::Present)
        return release == KeyCheck::Absent;
    return noSolutionsRegistered(tracer, releaseKey.get(), guid);
}

uint32_t HostCleanUp::formCleanupFile(RepositoryKey** root)
{
    ScopeTracer tracer(L"HostCleanUp::formCleanupFile", &g_logger);
    KITO_LOG_DEBUG(LOG_DBG_6, tracer, L"formCleanupDbKey started");
    if (!root)
        return E_KITO_INVALIDARG;
    *root = RepositoryKey::create(L"Cleanup");
    if (!*root)
        return E_KITO_FAILED;
    KITO_LOG_DEBUG(LOG_DBG_6, tracer, L"createFileCleanupKeys is about to start");
    if (uint32_t rc = createFileCleanupKeys(*root)) {
        KITO_LOG_DEBUG(LOG_DBG_6, tracer, L"createFileCleanupKeys failed %0x", rc);
        return rc;
    }
    KITO_LOG_DEBUG(LOG_DBG_6, tracer, L"createRegCleanupKeys is about start");
    if (uint32_t rc = createRegCleanupKeys(*root)) {
        KITO_LOG_DEBUG(LOG_DBG_6, tracer, L"createRegCleanupKeys failed %0x", rc);
        return rc;
    }
    return 0;
}

uint32_t createFileCleanupKeys(RepositoryKey* root)
{
    ScopeTracer tracer(L"createFileCleanupKeys", &g_logger);
    KITO_LOG_DEBUG(LOG_DBG_1, tracer, L"Files key about to be added");
    RepositoryKey* files = root->createSubKey(L"Files");
    RepositoryKey* entry = files ? files->createSubKey(L"Entry1") : nullptr;
    if (!entry)
        return E_KITO_FAILED;
    KITO_LOG_DEBUG(LOG_DBG_1, tracer, L"getEnvVarValue is about to start");
    std::wstring commonFiles = getEnvVarValue(L"CommonProgramFiles");
    if (commonFiles.empty())
        return E_KITO_FAILED;
    entry->setStringValue(L"Location", commonFiles);
    RepositoryKey* shared = entry->createSubKey(L"Osmark Shared");
    if (!shared)
        return E_KITO_FAILED;
    shared->setIntValue(L"Flags", FlagRemoveIfEmpty);
    KITO_LOG_DEBUG(LOG_DBG_1, tracer, L"KitoDb is %Iu", reinterpret_cast<uintptr_t>(KitoDb));
    KITO_LOG_DEBUG(LOG_DBG_6, tracer, L"KitoGUID is %s", repositoryGuid().c_str());
    RepositoryKey* kito = shared->createSubKey(L"Kito");
    if (!kito)
        return E_KITO_FAILED;
    kito->setIntValue(L"Flags", FlagRemoveIfEmpty);
    if (const wchar_t* kind = updateKindOf(g_commandLine)) {
        if (RepositoryKey* updates = kito->createSubKey(kind))
            updates->setIntValue(L"Flags", FlagDeleteAll);
    }
    return 0;
}

uint32_t createRegCleanupKeys(RepositoryKey* root)
{
    RepositoryKey* registries = root->createSubKey(L"Registries");
    if (!registries)
        return E_KITO_FAILED;
    std::wstring releaseKey = L"Software\\Osmark\\Kito\\" + repositoryGuid();
    uint32_t rc = addRegistryEntry(registries, 1, L"Software\\Osmark", L"Kito", FlagRemoveIfEmpty);
    if (!rc)
        rc = addRegistryEntry(registries, 2, releaseKey, g_commandLine, FlagDeleteAll);
    if (!rc)
        rc = addRegistryEntry(registries, 3, L"Software\\Wow6432Node\\Osmark", L"Kito", FlagRemoveIfEmpty);
    if (!rc)
        rc = addRegistryEntry(registries, 4, releaseKey, g_commandLine, FlagDeleteAll);
    if (!rc)
        rc = addRegistryEntry(registries, 5, L"SOFTWARE", L"Osmark", FlagRemoveIfEmpty);
    return rc ? E_KITO_FAILED : 0;
}
