#pragma once

// The import table of a loaded module, for tests and drivers that point one Windows call at a stand-in
// (Wine enforces no ACLs and knows no remote machines, so some failures can only be made this way).

#include <windows.h>

#include <cstring>

// Calls visit(ULONG_PTR* slot) for every slot of the module that imports the function by name.
template <typename Visit>
void ForEachImportSlot(HMODULE module, const char* function, Visit visit)
{
    BYTE* base = reinterpret_cast<BYTE*>(module);
    auto* headers = reinterpret_cast<IMAGE_NT_HEADERS*>(base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports = headers->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (imports.VirtualAddress == 0)
        return;
    for (auto* library = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress); library->Name != 0;
         ++library) {
        // Once bound, the slots hold addresses: only the name table can tell the imports apart.
        if (library->OriginalFirstThunk == 0)
            continue;
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + library->OriginalFirstThunk);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + library->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal))
                continue;
            auto* byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (strcmp(reinterpret_cast<const char*>(byName->Name), function) == 0)
                visit(&slots->u1.Function);
        }
    }
}

// Writes one slot whatever its page's protection; gives the value it held.
inline ULONG_PTR WriteImportSlot(ULONG_PTR* slot, ULONG_PTR value)
{
    DWORD protection = 0;
    VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &protection);
    ULONG_PTR previous = *slot;
    *slot = value;
    VirtualProtect(slot, sizeof *slot, protection, &protection);
    return previous;
}
