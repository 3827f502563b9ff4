#pragma once
// What tests read back from the framework stand-in, and where the build put its files.

#include <windows.h>

#include <string>
#include <vector>

#include "TarnAgHost.h"

// The framework's log entries so far, of one log (TARNAG_LOG_...) or, with 0, of all.
inline std::vector<TarnAgLogEntry> TarnTestLogs(uint32_t log = 0)
{
    std::vector<TarnAgLogEntry> found;
    TarnAgLogEntry entry;
    for (uint32_t i = 0; TarnAgHostLogEntry(i, &entry) == 0; ++i)
        if (log == 0 || entry.log == log)
            found.push_back(entry);
    return found;
}

// The full path of a file beside the test programs (tests run in the binaries' folder).
inline std::string TarnTestFullPath(const char* name)
{
    char path[MAX_PATH];
    DWORD length = GetFullPathNameA(name, sizeof(path), path, nullptr);
    return length == 0 || length >= sizeof(path) ? std::string(name) : std::string(path);
}

// Keeps an agent DLL loaded for as long as the object lives, so that hooks on its imports can be set before
// TarnAgHostStart runs its start-up and undone after TarnAgHostStop has let the framework's reference go.
// Declare it before the hooks.
class TarnTestAgentModule {
public:
    explicit TarnTestAgentModule(const wchar_t* path) : m_module(LoadLibraryW(path)) {}
    ~TarnTestAgentModule()
    {
        if (m_module != nullptr)
            FreeLibrary(m_module);
    }
    TarnTestAgentModule(const TarnTestAgentModule&) = delete;
    TarnTestAgentModule& operator=(const TarnTestAgentModule&) = delete;

    HMODULE Get() const { return m_module; }

private:
    HMODULE m_module;
};
