#pragma once

// Makes a module's GetVersionExW report another Windows version (Wine reports 6.1 build 7601).

#include <windows.h>

#include <memory>

#include "ImportHook.h"

class VersionHook {
public:
    VersionHook(HMODULE module, DWORD major, DWORD minor, DWORD build = 0);
    ~VersionHook();
    VersionHook(const VersionHook&) = delete;
    VersionHook& operator=(const VersionHook&) = delete;

    bool Active() const { return m_hook->Active(); }

private:
    static BOOL WINAPI GetVersion(LPOSVERSIONINFOW info);

    DWORD m_major;
    DWORD m_minor;
    DWORD m_build;
    std::unique_ptr<ImportHook> m_hook;
};
