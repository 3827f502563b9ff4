#pragma once

// Points one import of a loaded module at a replacement for the life of the object, so that a test can
// make a single Windows call fail the way Wine's service manager never does (no ACLs, no remote machines).

#include <windows.h>

#include <cstring>

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
        BYTE* base = reinterpret_cast<BYTE*>(module);
        auto* headers = reinterpret_cast<IMAGE_NT_HEADERS*>(base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
        const IMAGE_DATA_DIRECTORY& imports = headers->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
        if (imports.VirtualAddress == 0)
            return nullptr;
        for (auto* library = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
             library->Name != 0; ++library) {
            auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + library->OriginalFirstThunk);
            auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + library->FirstThunk);
            for (; library->OriginalFirstThunk && names->u1.AddressOfData; ++names, ++slots) {
                if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal))
                    continue;
                auto* byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
                if (strcmp(reinterpret_cast<const char*>(byName->Name), function) == 0)
                    return &slots->u1.Function;
            }
        }
        return nullptr;
    }

    void write(ULONG_PTR value)
    {
        DWORD protection = 0;
        if (!m_slot || !VirtualProtect(m_slot, sizeof *m_slot, PAGE_READWRITE, &protection))
            return;
        *m_slot = value;
        VirtualProtect(m_slot, sizeof *m_slot, protection, &protection);
    }

    ULONG_PTR* m_slot;
    ULONG_PTR m_original;
};
