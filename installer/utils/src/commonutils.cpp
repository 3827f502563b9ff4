#include "commonutils.h"

#include <algorithm>
#include <cstdlib>
#include <cwctype>

#include "logger.h"
#include "nodetextform.h"
#include "owners.h"
#include "registryhelper.h"
#include "repositorykey.h"
#include "stringutils.h"
#include "structuredguard.h"

namespace {

const size_t kRegPathChars = MAX_PATH;
const size_t kCommandLineChars = 256;

// Files of one section of packages.xml; a missing section is told apart from a failed read.
struct PackageSection {
    RepositoryKey* key;
    std::wstring path;
};

PackageSection sectionBelow(RepositoryKey* parent, const std::wstring& parentPath, const wchar_t* name)
{
    return {parent->getSubKey(name), parentPath + L"\\" + name};
}

// One command run: what runCommandLine asks for and what it has read so far.
struct CommandRun {
    // CreateProcessW may write into the command line, so it gets a buffer of its own.
    wchar_t commandLine[kCommandLineChars];
    bool wait;
    int show;
    PROCESS_INFORMATION process;
    DWORD exitCode;
};

void startAndWait(void* context)
{
    CommandRun& run = *static_cast<CommandRun*>(context);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    if (run.show == 0) {
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = SW_HIDE;
    }
    // No handle of this process is meant for the command: none is inherited.
    if (!CreateProcessW(nullptr, run.commandLine, nullptr, nullptr, FALSE, CREATE_NEW_PROCESS_GROUP, nullptr, nullptr,
                        &startup, &run.process)) {
        return;
    }
    if (run.wait) {
        WaitForSingleObject(run.process.hProcess, runCommandLineWaitMs);
    }
    DWORD exitCode = 0;
    if (GetExitCodeProcess(run.process.hProcess, &exitCode)) {
        run.exitCode = exitCode;
    }
}

} // namespace

void GetConsoleHostLogFileLocation(std::wstring& location)
{
    ScopeTracer tracer(L"GetConsoleHostLogFileLocation", &g_logger);
    wchar_t buffer[kRegPathChars] = {};
    RegistryHelper registry;
    REGSAM mask = KEY_ALL_ACCESS;
    uint32_t result = getRegAccessMask(isWow64(), &mask);
    if (result != 0) {
        KITO_LOG_DEBUG(LOG_DBG_1, tracer,
                       L"Failed to get registry access code, default to 32 bit registry. Error code '%0x'", result);
        mask = KEY_ALL_ACCESS;
    }
    MallocOwner<wchar_t> path;
    result = GetRegKeyPath(L"", path.put(), 1, 0, REG_PATH_KITO);
    if (result == 0) {
        result = registry.Reg_ReadStringItem(HKEY_LOCAL_MACHINE, path.get(), L"LogPath", buffer, kRegPathChars, mask);
    }
    if (result != 0) {
        KITO_LOG_DEBUG(LOG_DBG_1, tracer, L"Reg_ReadStringItem(...) failed with error code: '%0x'", result);
    } else {
        buffer[kRegPathChars - 1] = L'\0';
        location = buffer;
        KITO_LOG_DEBUG(LOG_DBG_1, tracer, L"The log file location is: [%s]", location.c_str());
    }
}

uint32_t ReadFiles(RepositoryKey* filesKey, const std::wstring& prefix, std::vector<std::wstring>& files)
{
    ScopeTracer tracer(L"ReadFiles", &g_logger);
    if (!filesKey) {
        return ERROR_INVALID_PARAMETER;
    }
    std::vector<RepositoryKey*> entries = filesKey->getSubKeys();
    for (size_t i = 0; i < entries.size(); ++i) {
        std::wstring source;
        entries[i]->getStringValue(L"src", source);
        if (source.empty()) {
            KITO_LOG_DEBUG(LOG_DBG_1, tracer, L"Could not read package at location '%d'", static_cast<int>(i));
            KITO_LOG_DEBUG(LOG_DBG_1, tracer, L"May be this is a directory.");
            continue;
        }
        files.push_back(prefix + L"\\" + source);
    }
    return 0;
}

namespace {

// A failed read of a section's files: its line with the code, then the code's message text.
void logSectionFailure(const ScopeTracer& tracer, const wchar_t* line, uint32_t result)
{
    KITO_LOG_DEBUG(LOG_DBG_1, tracer, line, result);
    KITO_LOG_DEBUG(LOG_DBG_1, tracer, L"Reason: '%s'", getErrorMessage(result).c_str());
}

// The operating system's section below the architecture's, then the processor's below that one; a
// missing section ends the list there.
uint32_t readSystemPackages(const PackageSection& arch, int osKind, int archKind, std::vector<std::wstring>& packages,
                            const ScopeTracer& tracer)
{
    const wchar_t* osName = nullptr;
    if (osKind >= 3 && osKind <= 6) {
        osName = L"w2k";
    } else if (osKind >= 7 && osKind <= 12) {
        osName = L"W2K3";
    }
    PackageSection os = osName ? sectionBelow(arch.key, arch.path, osName) : PackageSection{nullptr, L""};
    if (!os.key) {
        KITO_LOG_DEBUG(LOG_DBG_1, tracer, L"Could not read os specific files from package.xml section ");
        return osName ? 0 : W_PKGS_UNKNOWN_OS;
    }
    uint32_t result = ReadFiles(os.key, os.path, packages);
    if (result != 0) {
        logSectionFailure(tracer, L"Could not read os specific files from package.xml section '%x'", result);
        return result;
    }
    const wchar_t* processorName = archKind == 2 ? L"IA64" : archKind == 3 ? L"x64" : nullptr;
    if (!processorName) {
        KITO_LOG_DEBUG(LOG_DBG_1, tracer, L"Always default to x86.");
        return 0;
    }
    PackageSection processor = sectionBelow(os.key, os.path, processorName);
    if (!processor.key) {
        KITO_LOG_DEBUG(LOG_DBG_1, tracer,
                       L"Could not read processor architecture specific files from package.xml section.");
        return 0;
    }
    result = ReadFiles(processor.key, processor.path, packages);
    if (result != 0)
        logSectionFailure(tracer, L"Could not read processor architecture specific files from package.xml section '%x'",
                          result);
    return result;
}

uint32_t readPackages(RepositoryKey* root, const std::wstring& solutionName, int osKind, int archKind,
                      std::vector<std::wstring>& packages, const ScopeTracer& tracer)
{
    RepositoryKey* solution = root->getSubKey(solutionName);
    if (!solution) {
        KITO_LOG_DEBUG(LOG_DBG_1, tracer, L"Could not read solution section for solution '%s'", solutionName.c_str());
        return E_PKGS_SECTION_MISSING;
    }
    const wchar_t* archText = (archKind == 2 || archKind == 3) ? L"64" : L"32";
    PackageSection arch = sectionBelow(solution, L"pkgs", archText);
    if (!arch.key) {
        KITO_LOG_DEBUG(LOG_DBG_1, tracer, L"Could not read architecture section for solution '%s'", archText);
        return E_PKGS_ARCH_MISSING;
    }
    PackageSection common = sectionBelow(arch.key, arch.path, L"Common");
    if (!common.key) {
        KITO_LOG_DEBUG(LOG_DBG_1, tracer, L"Could not read solution section for solution '%s'", solutionName.c_str());
        return E_PKGS_SECTION_MISSING;
    }
    uint32_t result = ReadFiles(common.key, common.path, packages);
    if (result != 0) {
        KITO_LOG_DEBUG(LOG_DBG_1, tracer, L"Could not read files from common file section '%0x'", result);
        return result;
    }
    return readSystemPackages(arch, osKind, archKind, packages, tracer);
}

} // namespace

uint32_t GetPkgs(const std::wstring& solutionName, int osKind, int, int archKind, std::vector<std::wstring>& packages)
{
    ScopeTracer tracer(L"GetPkgs", &g_logger);
    const KeyTree root(loadKeyFromFile(L"packages.xml", L""));
    uint32_t result = E_PKGS_SECTION_MISSING;
    if (!root) {
        KITO_LOG_DEBUG(LOG_DBG_1, tracer,
                       L"Could not fetch package information. please check package.xml file is present.");
    } else {
        result = readPackages(root.get(), solutionName, osKind, archKind, packages, tracer);
    }
    if (result != 0) {
        packages.clear();
    }
    return result;
}

uint32_t runCommandLine(const std::wstring& commandLine, bool wait, int show)
{
    CommandRun run = {};
    if (commandLine.size() >= kCommandLineChars) {
        return 0;
    }
    std::copy(commandLine.begin(), commandLine.end(), run.commandLine);
    run.wait = wait;
    run.show = show;
    // The handles are owned out here, so that they are closed after an exception in the run as well.
    runGuarded(startAndWait, &run);
    const HandleOwner thread(run.process.hThread);
    const HandleOwner child(run.process.hProcess);
    return run.exitCode;
}

uint32_t splitPath(const std::wstring& path, std::wstring& directory, std::wstring& fileName)
{
    if (path.find(L'.') == std::wstring::npos) {
        directory = path;
        return 0;
    }
    size_t slash = path.rfind(L'\\');
    directory = slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
    fileName = slash == std::wstring::npos ? path : path.substr(slash + 1);
    return 0;
}

void getProgramDirectory(std::wstring& directory)
{
    directory = getModuleDirectory();
}

std::wstring toUpperCase(const std::wstring& text)
{
    std::wstring upper = text;
    std::transform(upper.begin(), upper.end(), upper.begin(), [](wchar_t c) { return towupper(c); });
    return upper;
}
