#include "FaultHook.h"

#include <tlhelp32.h>

namespace {

FaultHook* g_faultHook = nullptr;

HANDLE WINAPI FaultOpenProcess(DWORD access, BOOL inherit, DWORD pid)
{
    if (FaultHook::Failing("OpenProcess", pid))
        return nullptr;
    return FaultHook::Original<decltype(&OpenProcess)>("OpenProcess")(access, inherit, pid);
}

BOOL WINAPI FaultTerminateProcess(HANDLE process, UINT code)
{
    if (FaultHook::Failing("TerminateProcess", GetProcessId(process)))
        return FALSE;
    return FaultHook::Original<decltype(&TerminateProcess)>("TerminateProcess")(process, code);
}

HANDLE WINAPI FaultSnapshot(DWORD flags, DWORD pid)
{
    if (FaultHook::Failing("CreateToolhelp32Snapshot"))
        return INVALID_HANDLE_VALUE;
    return FaultHook::Original<decltype(&CreateToolhelp32Snapshot)>("CreateToolhelp32Snapshot")(flags, pid);
}

BOOL WINAPI FaultProcessNext(HANDLE snapshot, LPPROCESSENTRY32W entry)
{
    if (FaultHook::Failing("Process32NextW"))
        return FALSE;
    return FaultHook::Original<decltype(&Process32NextW)>("Process32NextW")(snapshot, entry);
}

BOOL WINAPI FaultCreatePipe(PHANDLE read, PHANDLE write, LPSECURITY_ATTRIBUTES attributes, DWORD size)
{
    if (FaultHook::Failing("CreatePipe"))
        return FALSE;
    return FaultHook::Original<decltype(&CreatePipe)>("CreatePipe")(read, write, attributes, size);
}

BOOL WINAPI FaultSetHandleInformation(HANDLE handle, DWORD mask, DWORD flags)
{
    if (FaultHook::Failing("SetHandleInformation"))
        return FALSE;
    return FaultHook::Original<decltype(&SetHandleInformation)>("SetHandleInformation")(handle, mask, flags);
}

BOOL WINAPI FaultWriteFile(HANDLE file, LPCVOID data, DWORD size, LPDWORD written, LPOVERLAPPED overlapped)
{
    if (FaultHook::Failing("WriteFile"))
        return FALSE;
    return FaultHook::Original<decltype(&WriteFile)>("WriteFile")(file, data, size, written, overlapped);
}

BOOL WINAPI FaultCreateProcessAsUser(HANDLE token, LPCWSTR application, LPWSTR commandLine,
                                     LPSECURITY_ATTRIBUTES processAttributes, LPSECURITY_ATTRIBUTES threadAttributes,
                                     BOOL inherit, DWORD flags, LPVOID environment, LPCWSTR folder,
                                     LPSTARTUPINFOW startup, LPPROCESS_INFORMATION process)
{
    if (FaultHook::Failing("CreateProcessAsUserW"))
        return FALSE;
    return FaultHook::Original<decltype(&CreateProcessAsUserW)>(
        "CreateProcessAsUserW")(token, application, commandLine, processAttributes, threadAttributes, inherit, flags,
                                environment, folder, startup, process);
}

BOOL WINAPI FaultFileInformation(HANDLE file, LPBY_HANDLE_FILE_INFORMATION information)
{
    if (FaultHook::Failing("GetFileInformationByHandle"))
        return FALSE;
    return FaultHook::Original<decltype(&GetFileInformationByHandle)>("GetFileInformationByHandle")(file, information);
}

BOOL WINAPI FaultCloseHandle(HANDLE handle)
{
    if (FaultHook::Failing("CloseHandle"))
        return FALSE;
    return FaultHook::Original<decltype(&CloseHandle)>("CloseHandle")(handle);
}

const std::map<std::string, const void*>& Replacements()
{
    static const std::map<std::string, const void*> replacements = {
        {"OpenProcess", reinterpret_cast<const void*>(&FaultOpenProcess)},
        {"TerminateProcess", reinterpret_cast<const void*>(&FaultTerminateProcess)},
        {"CreateToolhelp32Snapshot", reinterpret_cast<const void*>(&FaultSnapshot)},
        {"Process32NextW", reinterpret_cast<const void*>(&FaultProcessNext)},
        {"CreatePipe", reinterpret_cast<const void*>(&FaultCreatePipe)},
        {"SetHandleInformation", reinterpret_cast<const void*>(&FaultSetHandleInformation)},
        {"WriteFile", reinterpret_cast<const void*>(&FaultWriteFile)},
        {"CreateProcessAsUserW", reinterpret_cast<const void*>(&FaultCreateProcessAsUser)},
        {"CloseHandle", reinterpret_cast<const void*>(&FaultCloseHandle)},
        {"GetFileInformationByHandle", reinterpret_cast<const void*>(&FaultFileInformation)},
    };
    return replacements;
}

} // namespace

FaultHook::FaultHook(HMODULE module)
{
    g_faultHook = this;
    for (const auto& [function, replacement] : Replacements())
        m_hooks[function] = std::make_unique<ImportHook>(module, function.c_str(), replacement);
}

FaultHook::~FaultHook()
{
    m_hooks.clear();
    g_faultHook = nullptr;
}

void FaultHook::Fail(const std::string& function, DWORD error, unsigned nth, DWORD pid)
{
    std::lock_guard<std::mutex> hold(m_lock);
    m_rules.push_back({function, error, nth, pid, 0});
}

bool FaultHook::Failing(const char* function, DWORD pid)
{
    FaultHook* hook = g_faultHook;
    std::lock_guard<std::mutex> hold(hook->m_lock);
    for (Rule& rule : hook->m_rules) {
        if (rule.function != function || (rule.pid != 0 && rule.pid != pid))
            continue;
        ++rule.seen;
        if (rule.nth == 0 || rule.nth == rule.seen) {
            hook->m_journal.Add(std::wstring(function, function + strlen(function)) + L" #" + std::to_wstring(rule.seen)
                                + L" error=" + std::to_wstring(rule.error));
            SetLastError(rule.error);
            return true;
        }
    }
    return false;
}

template <typename Function>
Function FaultHook::Original(const char* function)
{
    return g_faultHook->m_hooks.at(function)->Original<Function>();
}
