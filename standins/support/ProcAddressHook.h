#pragma once

// Replaces a module's GetProcAddress: chosen names get the test's replacements (Wine finds some functions that
// abort the process when called), one chosen name fails with ERROR_PROC_NOT_FOUND, the rest pass through.
// Choose before the code under test runs. One such hook at a time per process.

#include <windows.h>

#include <map>
#include <string>

#include "ImportHook.h"

class ProcAddressHook {
public:
    explicit ProcAddressHook(HMODULE module);
    ~ProcAddressHook();
    ProcAddressHook(const ProcAddressHook&) = delete;
    ProcAddressHook& operator=(const ProcAddressHook&) = delete;

    bool Active() const { return m_hook.Active(); }
    void Answer(const std::string& name, const void* replacement) { m_answers[name] = replacement; }
    void Fail(const std::string& name) { m_failing = name; }

private:
    static FARPROC WINAPI Find(HMODULE module, LPCSTR name);

    std::map<std::string, const void*> m_answers;
    std::string m_failing;
    ImportHook m_hook;
};
