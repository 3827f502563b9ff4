#include "ClockHook.h"

namespace {

ClockHook* g_clockHook = nullptr;

// The real clocks, by address: the module hooked may be the very one this code is linked into.
template <typename Function>
Function Real(const char* name)
{
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), name)));
}

void WINAPI ClockSleep(DWORD ms)
{
    ClockHook::SleepFor(ms);
}

DWORD WINAPI ClockTickCount()
{
    return static_cast<DWORD>(ClockHook::TickMs());
}

ULONGLONG WINAPI ClockTickCount64()
{
    return ClockHook::TickMs();
}

void WINAPI ClockFileTime(LPFILETIME time)
{
    uint64_t now = ClockHook::FileTime();
    time->dwLowDateTime = static_cast<DWORD>(now);
    time->dwHighDateTime = static_cast<DWORD>(now >> 32);
}

void WINAPI ClockSystemTime(LPSYSTEMTIME time)
{
    FILETIME now;
    ClockFileTime(&now);
    FileTimeToSystemTime(&now, time);
}

} // namespace

ClockHook::ClockHook(HMODULE module)
{
    g_clockHook = this;
    const std::pair<const char*, const void*> replacements[] = {
        {"Sleep", reinterpret_cast<const void*>(&ClockSleep)},
        {"GetTickCount", reinterpret_cast<const void*>(&ClockTickCount)},
        {"GetTickCount64", reinterpret_cast<const void*>(&ClockTickCount64)},
        {"GetSystemTimeAsFileTime", reinterpret_cast<const void*>(&ClockFileTime)},
        {"GetSystemTimePreciseAsFileTime", reinterpret_cast<const void*>(&ClockFileTime)},
        {"GetSystemTime", reinterpret_cast<const void*>(&ClockSystemTime)},
    };
    for (const auto& [function, replacement] : replacements)
        m_hooks[function] = std::make_unique<ImportHook>(module, function, replacement);
}

ClockHook::~ClockHook()
{
    m_hooks.clear();
    g_clockHook = nullptr;
}

bool ClockHook::Active() const
{
    for (const auto& hook : m_hooks)
        if (hook.second->Active())
            return true;
    return false;
}

uint64_t ClockHook::TickMs()
{
    static const auto tickCount = Real<decltype(&GetTickCount64)>("GetTickCount64");
    return tickCount() + g_clockHook->m_offset;
}

uint64_t ClockHook::FileTime()
{
    static const auto systemTime = Real<decltype(&GetSystemTimeAsFileTime)>("GetSystemTimeAsFileTime");
    FILETIME real;
    systemTime(&real);
    int64_t shift = (g_clockHook->m_offset + g_clockHook->m_wallShift) * 10000;
    return ((static_cast<uint64_t>(real.dwHighDateTime) << 32) | real.dwLowDateTime) + shift;
}

void ClockHook::SleepFor(DWORD ms)
{
    if (ms > 0 && ms <= g_clockHook->m_realUpTo) {
        static const auto sleep = Real<decltype(&Sleep)>("Sleep");
        sleep(ms);
        return;
    }
    g_clockHook->m_journal.Add(L"Sleep " + std::to_wstring(ms));
    g_clockHook->m_offset += ms;
    if (++g_clockHook->m_sleeps == g_clockHook->m_shiftAtSleep)
        g_clockHook->m_wallShift += g_clockHook->m_pendingShift;
    // Gives the other threads their turn, as a real sleep would.
    SwitchToThread();
}
