#pragma once

// Makes chosen calls of a module's process, walk and runner imports fail, as Windows can and Wine seldom
// does: OpenProcess, TerminateProcess, CreateToolhelp32Snapshot, Process32NextW, CreatePipe,
// SetHandleInformation, WriteFile, CreateProcessAsUserW, CloseHandle and GetFileInformationByHandle (a file
// check that cannot tell what it opened). A failed call does nothing,
// sets the error and returns the function's failure value. The journal holds "FUNCTION #N error=E"
// (N: the matching call's number) per failed call. One fault hook at a time per process.

#include <windows.h>

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "HookJournal.h"
#include "ImportHook.h"

class FaultHook {
public:
    explicit FaultHook(HMODULE module);
    ~FaultHook();
    FaultHook(const FaultHook&) = delete;
    FaultHook& operator=(const FaultHook&) = delete;

    // From now on the nth matching call (from 1; 0 = every one) of the function fails with error.
    // pid, when not 0, matches only OpenProcess and TerminateProcess calls about that process.
    void Fail(const std::string& function, DWORD error, unsigned nth = 1, DWORD pid = 0);
    std::vector<std::wstring> Journal() const { return m_journal.Lines(); }

    // Called by the replacements: true (with the error set) when this call must fail.
    static bool Failing(const char* function, DWORD pid = 0);
    template <typename Function>
    static Function Original(const char* function);

private:
    struct Rule {
        std::string function;
        DWORD error;
        unsigned nth;
        DWORD pid;
        unsigned seen;
    };
    std::mutex m_lock;
    std::vector<Rule> m_rules;
    HookJournal m_journal;
    std::map<std::string, std::unique_ptr<ImportHook>> m_hooks;
};

// Makes the module's timed waits on one object fail (ERROR_INVALID_HANDLE), as a runner's wait can; the endless
// waits of the rest of the program (locks) go on. One at a time per process.
class ShortWaitFault {
public:
    explicit ShortWaitFault(HMODULE module)
        : m_hook(module, "WaitForSingleObject", reinterpret_cast<const void*>(&Wait))
    {
        s_hook = &m_hook;
    }
    ~ShortWaitFault() { s_hook = nullptr; }
    ShortWaitFault(const ShortWaitFault&) = delete;
    ShortWaitFault& operator=(const ShortWaitFault&) = delete;

private:
    static DWORD WINAPI Wait(HANDLE object, DWORD milliseconds)
    {
        if (milliseconds == INFINITE)
            return s_hook->Original<decltype(&WaitForSingleObject)>()(object, milliseconds);
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }

    ImportHook m_hook;
    static inline ImportHook* s_hook = nullptr;
};
