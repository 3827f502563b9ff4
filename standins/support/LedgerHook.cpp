#include "LedgerHook.h"

#include <tlhelp32.h>
#include <userenv.h>

#include <algorithm>

namespace {

LedgerHook* g_ledgerHook = nullptr;

std::wstring Wide(const std::string& text)
{
    return std::wstring(text.begin(), text.end());
}

template <typename Function>
Function Real(const char* function)
{
    return LedgerHook::Original<Function>(function);
}

// Records a kernel handle that a call handed out through an out parameter, when the call succeeded.
BOOL Handed(BOOL ok, const char* function, const HANDLE* handle)
{
    if (ok)
        LedgerHook::Opened("handle", function, *handle);
    return ok;
}

HANDLE Returned(HANDLE handle, const char* function, HANDLE failure = nullptr)
{
    if (handle != failure)
        LedgerHook::Opened("handle", function, handle);
    return handle;
}

HANDLE WINAPI LedgerCreateFile(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES attributes,
                               DWORD disposition, DWORD flags, HANDLE model)
{
    return Returned(Real<decltype(&CreateFileW)>("CreateFileW")(name, access, share, attributes, disposition, flags,
                                                                model),
                    "CreateFileW", INVALID_HANDLE_VALUE);
}

BOOL WINAPI LedgerCreatePipe(PHANDLE read, PHANDLE write, LPSECURITY_ATTRIBUTES attributes, DWORD size)
{
    BOOL ok = Real<decltype(&CreatePipe)>("CreatePipe")(read, write, attributes, size);
    return Handed(ok, "CreatePipe", read) && Handed(ok, "CreatePipe", write);
}

BOOL ProcessHanded(BOOL ok, const char* function, LPPROCESS_INFORMATION process)
{
    return Handed(ok, function, &process->hProcess) && Handed(ok, function, &process->hThread);
}

BOOL WINAPI LedgerCreateProcess(LPCWSTR application, LPWSTR commandLine, LPSECURITY_ATTRIBUTES processAttributes,
                                LPSECURITY_ATTRIBUTES threadAttributes, BOOL inherit, DWORD flags, LPVOID environment,
                                LPCWSTR folder, LPSTARTUPINFOW startup, LPPROCESS_INFORMATION process)
{
    return ProcessHanded(Real<decltype(&CreateProcessW)>("CreateProcessW")(application, commandLine, processAttributes,
                                                                           threadAttributes, inherit, flags,
                                                                           environment, folder, startup, process),
                         "CreateProcessW", process);
}

BOOL WINAPI LedgerCreateProcessAsUser(HANDLE token, LPCWSTR application, LPWSTR commandLine,
                                      LPSECURITY_ATTRIBUTES processAttributes, LPSECURITY_ATTRIBUTES threadAttributes,
                                      BOOL inherit, DWORD flags, LPVOID environment, LPCWSTR folder,
                                      LPSTARTUPINFOW startup, LPPROCESS_INFORMATION process)
{
    return ProcessHanded(Real<decltype(&CreateProcessAsUserW)>(
                             "CreateProcessAsUserW")(token, application, commandLine, processAttributes,
                                                     threadAttributes, inherit, flags, environment, folder, startup,
                                                     process),
                         "CreateProcessAsUserW", process);
}

HANDLE WINAPI LedgerOpenProcess(DWORD access, BOOL inherit, DWORD pid)
{
    return Returned(Real<decltype(&OpenProcess)>("OpenProcess")(access, inherit, pid), "OpenProcess");
}

BOOL WINAPI LedgerOpenProcessToken(HANDLE process, DWORD access, PHANDLE token)
{
    return Handed(Real<decltype(&OpenProcessToken)>("OpenProcessToken")(process, access, token), "OpenProcessToken",
                  token);
}

BOOL WINAPI LedgerOpenThreadToken(HANDLE thread, DWORD access, BOOL self, PHANDLE token)
{
    return Handed(Real<decltype(&OpenThreadToken)>("OpenThreadToken")(thread, access, self, token), "OpenThreadToken",
                  token);
}

BOOL WINAPI LedgerDuplicateHandle(HANDLE sourceProcess, HANDLE source, HANDLE targetProcess, LPHANDLE target,
                                  DWORD access, BOOL inherit, DWORD options)
{
    BOOL ok = Real<decltype(&DuplicateHandle)>("DuplicateHandle")(sourceProcess, source, targetProcess, target, access,
                                                                  inherit, options);
    if (ok && (options & DUPLICATE_CLOSE_SOURCE) && GetProcessId(sourceProcess) == GetCurrentProcessId())
        LedgerHook::Closed("handle", "DuplicateHandle", source);
    return GetProcessId(targetProcess) == GetCurrentProcessId() ? Handed(ok, "DuplicateHandle", target) : ok;
}

BOOL WINAPI LedgerDuplicateTokenEx(HANDLE token, DWORD access, LPSECURITY_ATTRIBUTES attributes,
                                   SECURITY_IMPERSONATION_LEVEL level, TOKEN_TYPE type, PHANDLE copy)
{
    return Handed(Real<decltype(&DuplicateTokenEx)>("DuplicateTokenEx")(token, access, attributes, level, type, copy),
                  "DuplicateTokenEx", copy);
}

HANDLE WINAPI LedgerSnapshot(DWORD flags, DWORD pid)
{
    return Returned(Real<decltype(&CreateToolhelp32Snapshot)>("CreateToolhelp32Snapshot")(flags, pid),
                    "CreateToolhelp32Snapshot", INVALID_HANDLE_VALUE);
}

HANDLE WINAPI LedgerCreateEvent(LPSECURITY_ATTRIBUTES attributes, BOOL manual, BOOL initial, LPCWSTR name)
{
    return Returned(Real<decltype(&CreateEventW)>("CreateEventW")(attributes, manual, initial, name), "CreateEventW");
}

HANDLE WINAPI LedgerCreateMutex(LPSECURITY_ATTRIBUTES attributes, BOOL owned, LPCWSTR name)
{
    return Returned(Real<decltype(&CreateMutexW)>("CreateMutexW")(attributes, owned, name), "CreateMutexW");
}

HANDLE WINAPI LedgerCreateThread(LPSECURITY_ATTRIBUTES attributes, SIZE_T stack, LPTHREAD_START_ROUTINE start,
                                 LPVOID parameter, DWORD flags, LPDWORD id)
{
    return Returned(Real<decltype(&CreateThread)>("CreateThread")(attributes, stack, start, parameter, flags, id),
                    "CreateThread");
}

BOOL WINAPI LedgerLogonUser(LPCWSTR user, LPCWSTR domain, LPCWSTR password, DWORD type, DWORD provider, PHANDLE token)
{
    return Handed(Real<decltype(&LogonUserW)>("LogonUserW")(user, domain, password, type, provider, token),
                  "LogonUserW", token);
}

BOOL WINAPI LedgerCloseHandle(HANDLE handle)
{
    BOOL ok = Real<decltype(&CloseHandle)>("CloseHandle")(handle);
    if (ok)
        LedgerHook::Closed("handle", "CloseHandle", handle);
    return ok;
}

SC_HANDLE ServiceReturned(SC_HANDLE handle, const char* function)
{
    if (handle != nullptr)
        LedgerHook::Opened("service", function, handle);
    return handle;
}

SC_HANDLE WINAPI LedgerOpenSCManager(LPCWSTR machine, LPCWSTR database, DWORD access)
{
    return ServiceReturned(Real<decltype(&OpenSCManagerW)>("OpenSCManagerW")(machine, database, access),
                           "OpenSCManagerW");
}

SC_HANDLE WINAPI LedgerOpenService(SC_HANDLE manager, LPCWSTR name, DWORD access)
{
    return ServiceReturned(Real<decltype(&OpenServiceW)>("OpenServiceW")(manager, name, access), "OpenServiceW");
}

// A service handle is the caller's no more whatever the manager answers (Wine's fails for a handle that another
// connection of the process opened, and frees it all the same). Noted before the call, so that another thread
// handed the same value by the manager in between is not taken for this one.
BOOL WINAPI LedgerCloseServiceHandle(SC_HANDLE handle)
{
    if (handle != nullptr)
        LedgerHook::Closed("service", "CloseServiceHandle", handle);
    return Real<decltype(&CloseServiceHandle)>("CloseServiceHandle")(handle);
}

// The predefined roots (HKEY_LOCAL_MACHINE and the others) are never opened nor closed for real.
LSTATUS KeyHanded(LSTATUS result, const char* function, const HKEY* key)
{
    if (result == ERROR_SUCCESS && (reinterpret_cast<ULONG_PTR>(*key) & 0x80000000u) == 0)
        LedgerHook::Opened("key", function, *key);
    return result;
}

LSTATUS WINAPI LedgerRegOpenKeyEx(HKEY parent, LPCWSTR name, DWORD options, REGSAM access, PHKEY key)
{
    return KeyHanded(Real<decltype(&RegOpenKeyExW)>("RegOpenKeyExW")(parent, name, options, access, key),
                     "RegOpenKeyExW", key);
}

LSTATUS WINAPI LedgerRegCreateKeyEx(HKEY parent, LPCWSTR name, DWORD reserved, LPWSTR className, DWORD options,
                                    REGSAM access, const LPSECURITY_ATTRIBUTES attributes, PHKEY key,
                                    LPDWORD disposition)
{
    return KeyHanded(Real<decltype(&RegCreateKeyExW)>("RegCreateKeyExW")(parent, name, reserved, className, options,
                                                                         access, attributes, key, disposition),
                     "RegCreateKeyExW", key);
}

LSTATUS WINAPI LedgerRegConnectRegistry(LPCWSTR machine, HKEY root, PHKEY key)
{
    return KeyHanded(Real<decltype(&RegConnectRegistryW)>("RegConnectRegistryW")(machine, root, key),
                     "RegConnectRegistryW", key);
}

LSTATUS WINAPI LedgerRegCloseKey(HKEY key)
{
    LSTATUS result = Real<decltype(&RegCloseKey)>("RegCloseKey")(key);
    if (result == ERROR_SUCCESS && (reinterpret_cast<ULONG_PTR>(key) & 0x80000000u) == 0)
        LedgerHook::Closed("key", "RegCloseKey", key);
    return result;
}

LPVOID WINAPI LedgerHeapAlloc(HANDLE heap, DWORD flags, SIZE_T size)
{
    LPVOID block = Real<decltype(&HeapAlloc)>("HeapAlloc")(heap, flags, size);
    if (block != nullptr)
        LedgerHook::Opened("heap", "HeapAlloc", block);
    return block;
}

LPVOID WINAPI LedgerHeapReAlloc(HANDLE heap, DWORD flags, LPVOID block, SIZE_T size)
{
    LPVOID moved = Real<decltype(&HeapReAlloc)>("HeapReAlloc")(heap, flags, block, size);
    if (moved != nullptr) {
        LedgerHook::Closed("heap", "HeapReAlloc", block);
        LedgerHook::Opened("heap", "HeapReAlloc", moved);
    }
    return moved;
}

BOOL WINAPI LedgerHeapFree(HANDLE heap, DWORD flags, LPVOID block)
{
    BOOL ok = Real<decltype(&HeapFree)>("HeapFree")(heap, flags, block);
    if (ok && block != nullptr)
        LedgerHook::Closed("heap", "HeapFree", block);
    return ok;
}

LPVOID WINAPI LedgerVirtualAlloc(LPVOID address, SIZE_T size, DWORD type, DWORD protection)
{
    LPVOID region = Real<decltype(&VirtualAlloc)>("VirtualAlloc")(address, size, type, protection);
    if (region != nullptr && address == nullptr)
        LedgerHook::Opened("virtual", "VirtualAlloc", region);
    return region;
}

BOOL WINAPI LedgerVirtualFree(LPVOID address, SIZE_T size, DWORD type)
{
    BOOL ok = Real<decltype(&VirtualFree)>("VirtualFree")(address, size, type);
    if (ok && type == MEM_RELEASE)
        LedgerHook::Closed("virtual", "VirtualFree", address);
    return ok;
}

BOOL WINAPI LedgerCreateEnvironmentBlock(LPVOID* block, HANDLE token, BOOL inherit)
{
    BOOL ok = Real<decltype(&CreateEnvironmentBlock)>("CreateEnvironmentBlock")(block, token, inherit);
    if (ok)
        LedgerHook::Opened("environment", "CreateEnvironmentBlock", *block);
    return ok;
}

BOOL WINAPI LedgerDestroyEnvironmentBlock(LPVOID block)
{
    BOOL ok = Real<decltype(&DestroyEnvironmentBlock)>("DestroyEnvironmentBlock")(block);
    if (ok)
        LedgerHook::Closed("environment", "DestroyEnvironmentBlock", block);
    return ok;
}

BOOL WINAPI LedgerLoadUserProfile(HANDLE token, LPPROFILEINFOW profile)
{
    BOOL ok = Real<decltype(&LoadUserProfileW)>("LoadUserProfileW")(token, profile);
    if (ok)
        LedgerHook::Opened("profile", "LoadUserProfileW", profile->hProfile);
    return ok;
}

// Wine's answers FALSE whatever it is given: the call itself is what releases the profile here.
BOOL WINAPI LedgerUnloadUserProfile(HANDLE token, HANDLE profile)
{
    LedgerHook::Closed("profile", "UnloadUserProfile", profile);
    return Real<decltype(&UnloadUserProfile)>("UnloadUserProfile")(token, profile);
}

HANDLE WINAPI LedgerFindFirstFile(LPCWSTR name, LPWIN32_FIND_DATAW found)
{
    HANDLE find = Real<decltype(&FindFirstFileW)>("FindFirstFileW")(name, found);
    if (find != INVALID_HANDLE_VALUE)
        LedgerHook::Opened("find", "FindFirstFileW", find);
    return find;
}

BOOL WINAPI LedgerFindClose(HANDLE find)
{
    BOOL ok = Real<decltype(&FindClose)>("FindClose")(find);
    if (ok)
        LedgerHook::Closed("find", "FindClose", find);
    return ok;
}

#define LEDGER_ENTRY(function, replacement)                                                                            \
    {                                                                                                                  \
#function, reinterpret_cast < const void*>(&replacement)                                                       \
    }

const std::vector<std::pair<const char*, const void*>>& Replacements()
{
    static const std::vector<std::pair<const char*, const void*>> replacements = {
        LEDGER_ENTRY(CreateFileW, LedgerCreateFile),
        LEDGER_ENTRY(CreatePipe, LedgerCreatePipe),
        LEDGER_ENTRY(CreateProcessW, LedgerCreateProcess),
        LEDGER_ENTRY(CreateProcessAsUserW, LedgerCreateProcessAsUser),
        LEDGER_ENTRY(OpenProcess, LedgerOpenProcess),
        LEDGER_ENTRY(OpenProcessToken, LedgerOpenProcessToken),
        LEDGER_ENTRY(OpenThreadToken, LedgerOpenThreadToken),
        LEDGER_ENTRY(DuplicateHandle, LedgerDuplicateHandle),
        LEDGER_ENTRY(DuplicateTokenEx, LedgerDuplicateTokenEx),
        LEDGER_ENTRY(CreateToolhelp32Snapshot, LedgerSnapshot),
        LEDGER_ENTRY(CreateEventW, LedgerCreateEvent),
        LEDGER_ENTRY(CreateMutexW, LedgerCreateMutex),
        LEDGER_ENTRY(CreateThread, LedgerCreateThread),
        LEDGER_ENTRY(LogonUserW, LedgerLogonUser),
        LEDGER_ENTRY(CloseHandle, LedgerCloseHandle),
        LEDGER_ENTRY(OpenSCManagerW, LedgerOpenSCManager),
        LEDGER_ENTRY(OpenServiceW, LedgerOpenService),
        LEDGER_ENTRY(CloseServiceHandle, LedgerCloseServiceHandle),
        LEDGER_ENTRY(RegOpenKeyExW, LedgerRegOpenKeyEx),
        LEDGER_ENTRY(RegCreateKeyExW, LedgerRegCreateKeyEx),
        LEDGER_ENTRY(RegConnectRegistryW, LedgerRegConnectRegistry),
        LEDGER_ENTRY(RegCloseKey, LedgerRegCloseKey),
        LEDGER_ENTRY(HeapAlloc, LedgerHeapAlloc),
        LEDGER_ENTRY(HeapReAlloc, LedgerHeapReAlloc),
        LEDGER_ENTRY(HeapFree, LedgerHeapFree),
        LEDGER_ENTRY(VirtualAlloc, LedgerVirtualAlloc),
        LEDGER_ENTRY(VirtualFree, LedgerVirtualFree),
        LEDGER_ENTRY(CreateEnvironmentBlock, LedgerCreateEnvironmentBlock),
        LEDGER_ENTRY(DestroyEnvironmentBlock, LedgerDestroyEnvironmentBlock),
        LEDGER_ENTRY(LoadUserProfileW, LedgerLoadUserProfile),
        LEDGER_ENTRY(UnloadUserProfile, LedgerUnloadUserProfile),
        LEDGER_ENTRY(FindFirstFileW, LedgerFindFirstFile),
        LEDGER_ENTRY(FindClose, LedgerFindClose),
    };
    return replacements;
}

} // namespace

LedgerHook::LedgerHook(HMODULE module)
{
    g_ledgerHook = this;
    for (const auto& [function, replacement] : Replacements())
        m_hooks[function] = std::make_unique<ImportHook>(module, function, replacement);
}

LedgerHook::~LedgerHook()
{
    m_hooks.clear();
    g_ledgerHook = nullptr;
}

std::vector<std::wstring> LedgerHook::Outstanding() const
{
    std::vector<std::pair<unsigned, std::wstring>> open;
    {
        std::lock_guard<std::mutex> hold(m_lock);
        for (const auto& [key, entry] : m_open)
            open.push_back({entry.number,
                            Wide(key.first) + L" by " + Wide(entry.function) + L" #" + std::to_wstring(entry.number)});
    }
    std::sort(open.begin(), open.end());
    std::vector<std::wstring> lines;
    for (const auto& item : open)
        lines.push_back(item.second);
    return lines;
}

std::vector<std::wstring> LedgerHook::Unmatched() const
{
    std::lock_guard<std::mutex> hold(m_lock);
    return m_unmatched;
}

void LedgerHook::Opened(const char* kind, const char* function, const void* object)
{
    std::lock_guard<std::mutex> hold(g_ledgerHook->m_lock);
    g_ledgerHook->m_open[{kind, object}] = {function, ++g_ledgerHook->m_count};
}

void LedgerHook::Closed(const char* kind, const char* function, const void* object)
{
    std::lock_guard<std::mutex> hold(g_ledgerHook->m_lock);
    if (g_ledgerHook->m_open.erase({kind, object}) == 0)
        g_ledgerHook->m_unmatched.push_back(Wide(kind) + L" by " + Wide(function));
}

template <typename Function>
Function LedgerHook::Original(const char* function)
{
    return g_ledgerHook->m_hooks.at(function)->Original<Function>();
}
