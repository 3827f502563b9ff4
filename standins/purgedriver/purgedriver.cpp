// Test driver: loads Purgekit.dll the way an installer does and calls its rundll32-shaped export.
// Options let a test make single registry opens or the shell folder lookup fail inside the DLL,
// which Wine (no ACLs, always a folder) cannot show otherwise:
//   purgedriver [--deny-open=SUBKEY]... [--fail-folder] [--set-env=NAME=VALUE]... [--null] [COMMAND LINE]
// --deny-open makes RegOpenKeyExW of that sub-key text (ignoring case) fail with access denied;
// --set-env sets a variable of this process (an empty value removes it), for those that Wine resets
// in every new process (CommonProgramFiles); --null passes a null command line.
// Exit code 0 once the export returned.

#include <windows.h>
#include <shlobj.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "ImportSlots.h"

namespace {

enum ExitCode { EXIT_USAGE = 2, EXIT_NO_DLL = 10, EXIT_NO_EXPORT = 11, EXIT_NO_IMPORT = 12 };

typedef void(CALLBACK* PurgekitEntry)(HWND, HINSTANCE, LPSTR, int);

std::vector<std::wstring> g_deniedSubKeys;

LONG WINAPI denyingRegOpenKeyExW(HKEY root, LPCWSTR subKey, DWORD options, REGSAM access, PHKEY result)
{
    for (const std::wstring& denied : g_deniedSubKeys) {
        if (subKey && _wcsicmp(subKey, denied.c_str()) == 0)
            return ERROR_ACCESS_DENIED;
    }
    return RegOpenKeyExW(root, subKey, options, access, result);
}

HRESULT WINAPI failingSHGetFolderPathW(HWND, int, HANDLE, DWORD, LPWSTR path)
{
    if (path)
        path[0] = L'\0';
    return E_FAIL;
}

// Points the module's import slot of one function at a replacement; false when the module does not import it.
bool redirectImport(HMODULE module, const char* function, void* replacement)
{
    bool redirected = false;
    ForEachImportSlot(module, function, [&](ULONG_PTR* slot) {
        WriteImportSlot(slot, reinterpret_cast<ULONG_PTR>(replacement));
        redirected = true;
    });
    return redirected;
}

std::wstring widen(const char* text)
{
    int count = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    std::wstring wide(count > 0 ? count : 1, L'\0');
    if (count > 0)
        MultiByteToWideChar(CP_ACP, 0, text, -1, &wide[0], count);
    wide.resize(wcslen(wide.c_str()));
    return wide;
}

int usage()
{
    fprintf(stderr,
            "usage: purgedriver [--deny-open=SUBKEY]... [--fail-folder] [--set-env=NAME=VALUE]... [--null] "
            "[COMMAND LINE]\n");
    return EXIT_USAGE;
}

} // namespace

int main(int argc, char** argv)
{
    const char denyOption[] = "--deny-open=";
    const char environmentOption[] = "--set-env=";
    bool failFolder = false;
    bool nullCommandLine = false;
    const char* commandLine = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (strncmp(argv[i], denyOption, sizeof denyOption - 1) == 0)
            g_deniedSubKeys.push_back(widen(argv[i] + sizeof denyOption - 1));
        else if (strncmp(argv[i], environmentOption, sizeof environmentOption - 1) == 0) {
            std::wstring setting = widen(argv[i] + sizeof environmentOption - 1);
            size_t equals = setting.find(L'=');
            if (equals == std::wstring::npos || equals == 0)
                return usage();
            std::wstring value = setting.substr(equals + 1);
            SetEnvironmentVariableW(setting.substr(0, equals).c_str(), value.empty() ? nullptr : value.c_str());
        } else if (strcmp(argv[i], "--fail-folder") == 0)
            failFolder = true;
        else if (strcmp(argv[i], "--null") == 0)
            nullCommandLine = true;
        else if (!commandLine)
            commandLine = argv[i];
        else
            return usage();
    }

    HMODULE library = LoadLibraryW(L"Purgekit.dll");
    if (!library) {
        fprintf(stderr, "Purgekit.dll could not be loaded: %lu\n", GetLastError());
        return EXIT_NO_DLL;
    }
    PurgekitEntry entry = reinterpret_cast<PurgekitEntry>(reinterpret_cast<void*>(GetProcAddress(library, "Purgekit")));
    if (!entry) {
        fprintf(stderr, "Purgekit.dll has no export Purgekit\n");
        return EXIT_NO_EXPORT;
    }
    if (!g_deniedSubKeys.empty()
        && !redirectImport(library, "RegOpenKeyExW", reinterpret_cast<void*>(&denyingRegOpenKeyExW))) {
        fprintf(stderr, "Purgekit.dll does not import RegOpenKeyExW\n");
        return EXIT_NO_IMPORT;
    }
    if (failFolder && !redirectImport(library, "SHGetFolderPathW", reinterpret_cast<void*>(&failingSHGetFolderPathW))) {
        fprintf(stderr, "Purgekit.dll does not import SHGetFolderPathW\n");
        return EXIT_NO_IMPORT;
    }

    std::string text = commandLine ? commandLine : "";
    entry(nullptr, GetModuleHandleW(nullptr), nullCommandLine ? nullptr : &text[0], SW_SHOWNORMAL);
    FreeLibrary(library);
    return 0;
}
