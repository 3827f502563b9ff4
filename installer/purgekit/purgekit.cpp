// The export through which the installer removes itself: service, cleanability, cleanup list, file and
// registry cleanup, solution folders, the 4.0 installer's leftovers. The log is its only report.

#include "purgekit.h"

#include <windows.h>

#include <utility>

#include "hostcleanup.h"
#include "kitorepository.h"
#include "logger.h"
#include "olderinstallers.h"
#include "removeservice.h"
#include "solution.h"
#include "stringutils.h"

std::wstring g_commandLine;

namespace {

const wchar_t* const MaintenancePacks = L"MaintenancePacks";
constexpr int AllSolutions = 3;

// Through the ANSI code page of the calling thread's locale; a null command line is the empty text.
std::wstring wideCommandLine(const char* commandLine)
{
    if (!commandLine || !*commandLine)
        return std::wstring();
    int count = MultiByteToWideChar(CP_THREAD_ACP, 0, commandLine, -1, nullptr, 0);
    if (count <= 1)
        return std::wstring();
    std::wstring wide(static_cast<size_t>(count), L'\0');
    MultiByteToWideChar(CP_THREAD_ACP, 0, commandLine, -1, &wide[0], count);
    wide.resize(static_cast<size_t>(count - 1));
    return wide;
}

// The repository root that the call creates lives until the call ends, however it ends.
class CallRepository {
public:
    CallRepository() = default;
    CallRepository(const CallRepository&) = delete;
    CallRepository& operator=(const CallRepository&) = delete;
    ~CallRepository() { const KeyTree root(std::exchange(KitoDb, nullptr)); }
};

// Files first; the registry only when the file cleanup succeeded.
void runCleanupList(const ScopeTracer& tracer, RepositoryKey* list)
{
    uint32_t rc = 0;
    if (RepositoryKey* files = list->getSubKey(L"Files")) {
        KITO_LOG_DEBUG(LOG_DBG_6, tracer, L"Calling cleanupFiles");
        rc = HostCleanUp::cleanupEngine(files);
    } else {
        KITO_LOG_DEBUG(LOG_DBG_6, tracer, L"No cleanupfile key was found. Skipping file cleanup");
    }
    if (rc)
        return;
    KITO_LOG_DEBUG(LOG_DBG_6, tracer, L"Cleanup file was successful or not run at all");
    if (RepositoryKey* registries = list->getSubKey(L"Registries")) {
        KITO_LOG_DEBUG(LOG_DBG_6, tracer, L"Calling cleanupRegistry");
        rc = HostCleanUp::cleanupRegistry(registries);
    } else {
        KITO_LOG_DEBUG(LOG_DBG_6, tracer, L"No cleanupreg key was found. Skipping reg cleanup");
    }
    if (!rc)
        KITO_LOG_DEBUG(LOG_DBG_6, tracer, L"Cleanup registry was successful or not run at all");
}

// The folders that each solution's cleanup operations name.
void removeSolutionFolders(const ScopeTracer& tracer)
{
    if (!KitoDb)
        return;
    RepositoryKey::KeyList solutions = KitoDb->getSolutions(AllSolutions);
    for (size_t i = 0; i < solutions.size(); ++i) {
        if (!solutions[i]) {
            KITO_LOG_DEBUG(LOG_DBG_1, tracer, L"solution at '%d' is NULL", static_cast<int>(i));
            continue;
        }
        RepositoryKey* operations = KitoDb->getCleanupOperations(Solution::getSolutionID(*solutions[i]));
        RepositoryKey* folders = operations ? operations->getSubKey(L"Folders") : nullptr;
        if (!folders)
            continue;
        for (RepositoryKey* folder : folders->getSubKeys()) {
            if (!folder) {
                KITO_LOG_DEBUG(LOG_DBG_1, tracer, L"folder info cannot be got");
                continue;
            }
            std::wstring name;
            folder->getStringValue(L"Name", name);
            KITO_LOG_DEBUG(LOG_DBG_1, tracer, L"Folder name is: '%s'", name.c_str());
            Cleanups(name);
        }
    }
}

void purge(const char* commandLine)
{
    ScopeTracer tracer(L"Purgekit", &g_logger);
    std::wstring logFolder = getEnvVarValue(L"ALLUSERSPROFILE");
    g_logger.init(L"qzPurgekit.log", 13, logFolder.c_str(), 0);

    DWORD rc = removeService();
    if (rc)
        KITO_LOG_DEBUG(LOG_DBG_1, tracer, L"qzInstaller service could not be un-registered. '%x'",
                       static_cast<unsigned>(rc));
    else
        KITO_LOG_DEBUG(LOG_DBG_1, tracer, L"qzInstaller service removed successfully.");

    KITO_LOG_DEBUG(LOG_DBG_1, tracer, L"CommandLine is: '%S'", commandLine ? commandLine : "");
    g_commandLine = wideCommandLine(commandLine);
    if (g_commandLine == MaintenancePacks)
        KITO_LOG_DEBUG(LOG_DBG_1, tracer, L"CommandLine is : %s", MaintenancePacks);
    else
        KITO_LOG_DEBUG(LOG_DBG_1, tracer, L"CommandLine is not %s", MaintenancePacks);
    KITO_LOG_DEBUG(LOG_DBG_1, tracer, L"CommandLine wstring name is: '%s'", g_commandLine.c_str());
    // Whatever was asked, the removal works on the maintenance packs.
    g_commandLine = MaintenancePacks;

    if (HostCleanUp::canBeCleaned()) {
        KITO_LOG_DEBUG(LOG_DBG_6, tracer, L"The system can be cleaned");
        RepositoryKey* built = nullptr;
        uint32_t listResult = HostCleanUp::formCleanupFile(&built);
        KeyTree list(built);
        if (listResult) {
            KITO_LOG_DEBUG(LOG_DBG_6, tracer, L"The system can be cleaned as formCleanupDbKey failed");
            return;
        }
        runCleanupList(tracer, list.get());
        removeSolutionFolders(tracer);
    } else {
        KITO_LOG_DEBUG(LOG_DBG_6, tracer, L"The system can't be cleaned");
    }
    CleanupKito40();
}

} // namespace

// The rundll32 entry shape: only the command line is used.
extern "C" void CALLBACK Purgekit(HWND, HINSTANCE, LPSTR commandLine, int)
{
    const CallRepository repository;
    try {
        purge(commandLine);
    } catch (...) {
        // Nothing may leave the export; what was built is released with the call's repository.
    }
}
