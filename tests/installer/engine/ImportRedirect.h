#pragma once

// Points one import of a loaded module at a replacement for the life of the object, so that a test can
// make a single Windows call fail the way Wine's service manager never does (no ACLs, no remote machines).

#include "ImportSlots.h"

class ImportRedirect {
public:
    ImportRedirect(HMODULE module, const char* function, const void* replacement)
        : m_slot(findSlot(module, function)), m_original(m_slot ? *m_slot : 0)
    {
        write(reinterpret_cast<ULONG_PTR>(replacement));
    }
    ~ImportRedirect() { write(m_original); }
    ImportRedirect(const ImportRedirect&) = delete;
    ImportRedirect& operator=(const ImportRedirect&) = delete;

    // False when the module does not import the function by name.
    bool active() const { return m_slot != nullptr; }

private:
    static ULONG_PTR* findSlot(HMODULE module, const char* function)
    {
        ULONG_PTR* found = nullptr;
        ForEachImportSlot(module, function, [&](ULONG_PTR* slot) {
            if (found == nullptr)
                found = slot;
        });
        return found;
    }

    void write(ULONG_PTR value)
    {
        if (m_slot)
            WriteImportSlot(m_slot, value);
    }

    ULONG_PTR* m_slot;
    ULONG_PTR m_original;
};
