#include "VersionHook.h"

namespace {

VersionHook* g_versionHook = nullptr;

} // namespace

VersionHook::VersionHook(HMODULE module, DWORD major, DWORD minor, DWORD build)
    : m_major(major), m_minor(minor), m_build(build)
{
    g_versionHook = this;
    m_hook = std::make_unique<ImportHook>(module, "GetVersionExW", reinterpret_cast<const void*>(&GetVersion));
}

VersionHook::~VersionHook()
{
    m_hook.reset();
    g_versionHook = nullptr;
}

BOOL WINAPI VersionHook::GetVersion(LPOSVERSIONINFOW info)
{
    VersionHook* hook = g_versionHook;
    if (!hook->m_hook->Original<decltype(&GetVersionExW)>()(info))
        return FALSE;
    info->dwMajorVersion = hook->m_major;
    info->dwMinorVersion = hook->m_minor;
    info->dwBuildNumber = hook->m_build;
    return TRUE;
}
