#pragma once

// Points every import of one function by one module at a replacement while the object lives, keeping the
// original callable so that a replacement can pass on what it does not answer itself.

#include "ImportSlots.h"

#include <vector>

class ImportHook {
public:
    ImportHook(HMODULE module, const char* function, const void* replacement)
    {
        ForEachImportSlot(module, function, [&](ULONG_PTR* slot) {
            ULONG_PTR previous = WriteImportSlot(slot, reinterpret_cast<ULONG_PTR>(replacement));
            if (m_slots.empty())
                m_original = previous;
            m_slots.push_back({slot, previous});
        });
    }
    ~ImportHook()
    {
        for (const Slot& slot : m_slots)
            WriteImportSlot(slot.address, slot.previous);
    }
    ImportHook(const ImportHook&) = delete;
    ImportHook& operator=(const ImportHook&) = delete;

    // False when the module does not import the function by name: the hook then changes nothing.
    bool Active() const { return !m_slots.empty(); }

    template <typename Function>
    Function Original() const
    {
        return reinterpret_cast<Function>(m_original);
    }

private:
    struct Slot {
        ULONG_PTR* address;
        ULONG_PTR previous;
    };
    std::vector<Slot> m_slots;
    ULONG_PTR m_original = 0;
};
