#pragma once
// What the process tests share: a started test child, the trace of the calling thread, heap buffers.

#include <gtest/gtest.h>
#include <windows.h>

#include <memory>
#include <string>

#include "LibLogger.h"

// The trace queue of the calling thread, emptied at the start, read back by the test.
class TracedTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // True when a record of the function carries exactly this message.
    static bool Traced(const char* function, const std::wstring& message);
};

struct HeapDeleter {
    void operator()(void* buffer) const { HeapFree(GetProcessHeap(), 0, buffer); }
};
using HeapText = std::unique_ptr<wchar_t, HeapDeleter>;

// testchild.exe started with the given arguments; ended and closed when the object goes.
class TestChild {
public:
    // With waitRunning the child first sets an event and the constructor waits for it.
    explicit TestChild(const std::wstring& arguments, bool waitRunning = true);
    ~TestChild();

    TestChild(const TestChild&) = delete;
    TestChild& operator=(const TestChild&) = delete;

    static std::wstring Path();
    // An event name no other test uses.
    static std::wstring UniqueName(const wchar_t* prefix);

    DWORD Pid() const { return m_Info.dwProcessId; }
    DWORD Tid() const { return m_Info.dwThreadId; }
    HANDLE Process() const { return m_Info.hProcess; }
    const std::wstring& CommandLine() const { return m_CommandLine; }
    // Waits a few seconds at most for the end; returns the exit code.
    DWORD WaitExit();

private:
    std::wstring m_CommandLine;
    PROCESS_INFORMATION m_Info = {};
};

// A running child that waits until the test ends it.
std::wstring Running(const wchar_t* tag);

// The bytes testchild.exe writes for --bytes COUNT.
std::string TestPattern(size_t count);

// A process id that no process of the machine has right now.
DWORD UnusedPid();

// Points this program's import of a system function elsewhere while the object lives: stands in for
// system behaviour that Wine does not show.
class ImportRedirect {
public:
    ImportRedirect(const char* dll, const char* function, const void* replacement);
    ~ImportRedirect();

    ImportRedirect(const ImportRedirect&) = delete;
    ImportRedirect& operator=(const ImportRedirect&) = delete;

private:
    static void Store(void** slot, void* value);

    void** m_pSlot = nullptr;
    void* m_pOriginal = nullptr;
};
