#pragma once

// A ledger of what a module creates or opens and releases through its imports, since Wine's handle counts
// are stubs: kernel handles (CloseHandle), service handles (CloseServiceHandle), registry keys (RegCloseKey),
// heap blocks (HeapFree), VirtualAlloc regions (VirtualFree with MEM_RELEASE), environment blocks, loaded
// profiles (UnloadUserProfile counts whatever it returns) and find handles. A release that fails keeps the
// object open, but for service handles (CloseServiceHandle counts whatever it returns). Install it after the
// hooks that answer in place of a call (LogonHook), so that it sees what they hand out. One ledger at a time per
// process.

#include <windows.h>

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "ImportHook.h"

class LedgerHook {
public:
    explicit LedgerHook(HMODULE module);
    ~LedgerHook();
    LedgerHook(const LedgerHook&) = delete;
    LedgerHook& operator=(const LedgerHook&) = delete;

    // Not released yet, in creation order: "KIND by FUNCTION #N" (N counts every creation from 1).
    std::vector<std::wstring> Outstanding() const;
    // Releases of objects the ledger did not see created (before it, or released twice): "KIND by FUNCTION".
    std::vector<std::wstring> Unmatched() const;

    // Called by the replacements.
    static void Opened(const char* kind, const char* function, const void* object);
    static void Closed(const char* kind, const char* function, const void* object);
    template <typename Function>
    static Function Original(const char* function);

private:
    struct Entry {
        std::string function;
        unsigned number;
    };
    mutable std::mutex m_lock;
    unsigned m_count = 0;
    std::map<std::pair<std::string, const void*>, Entry> m_open;
    std::vector<std::wstring> m_unmatched;
    std::map<std::string, std::unique_ptr<ImportHook>> m_hooks;
};
