#pragma once

// A virtual clock for a module: its Sleep returns at once and moves the clock on instead, so every time
// budget can be reached without waiting. The clock is the real one plus what was slept and advanced: the
// forward clock (GetTickCount, GetTickCount64) and the time of day (GetSystemTimeAsFileTime,
// GetSystemTimePreciseAsFileTime, GetSystemTime) read it, and a test may also move the time of day alone, back
// or forward, as an administrator may, at once or after a number of sleeps. The journal holds "Sleep MS" per
// sleep. One clock hook at a time per process.

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "HookJournal.h"
#include "ImportHook.h"

class ClockHook {
public:
    explicit ClockHook(HMODULE module);
    ~ClockHook();
    ClockHook(const ClockHook&) = delete;
    ClockHook& operator=(const ClockHook&) = delete;

    bool Active() const;
    // Moves both clocks on by ms.
    void Advance(int64_t ms) { m_offset += ms; }
    // Moves only the wall clock (the system time) by ms, e.g. back with a negative value.
    void ShiftWallClock(int64_t ms) { m_wallShift += ms; }
    // The same once the module has made its sleeps-th journalled sleep since the hook was made, before that
    // sleep returns.
    void ShiftWallClockAtSleep(size_t sleeps, int64_t ms)
    {
        m_pendingShift = ms;
        m_shiftAtSleep = sleeps;
    }
    // Sleeps of at most ms then pass for real and stay out of the journal: polls of another process's progress
    // (a service's stop) see it move, while the module's long pauses still cost no real time.
    void SleepForRealUpTo(DWORD ms) { m_realUpTo = ms; }
    std::vector<std::wstring> Journal() const { return m_journal.Lines(); }

    // Milliseconds of the virtual monotonic clock, and 100-ns units of the virtual system time.
    static uint64_t TickMs();
    static uint64_t FileTime();
    static void SleepFor(DWORD ms);

private:
    std::atomic<int64_t> m_offset{0};
    std::atomic<int64_t> m_wallShift{0};
    std::atomic<DWORD> m_realUpTo{0};
    std::atomic<size_t> m_sleeps{0};
    std::atomic<size_t> m_shiftAtSleep{0};
    std::atomic<int64_t> m_pendingShift{0};
    HookJournal m_journal;
    std::map<std::string, std::unique_ptr<ImportHook>> m_hooks;
};
