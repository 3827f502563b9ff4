#pragma once
// The bare equivalent of a run with captured output: CreatePipe + CreateProcessW + a blocking read loop + wait,
// nothing bounded, nothing checked. Returns the number of bytes read.
// A program that leaves children behind (a start command) passes its pipe on to them, so the read never ends:
// BenchBareStart waits for the program instead and then takes what it wrote.

#include <windows.h>

#include <string>

// Starts the command with its output into a new pipe of the given size; returns the pipe's read end.
inline HANDLE BenchBareLaunch(const std::wstring& commandLine, const wchar_t* directory, DWORD pipeSize,
                              PROCESS_INFORMATION* started)
{
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
    CreatePipe(&readEnd, &writeEnd, &inheritable, pipeSize);
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = INVALID_HANDLE_VALUE;
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    std::wstring line = commandLine;
    CreateProcessW(nullptr, &line[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, directory, &startup, started);
    CloseHandle(writeEnd);
    return readEnd;
}

constexpr DWORD BenchBareChunk = 64 * 1024;

// Reads to the pipe's end, or (exited) waits for the program first and takes only what it left in the pipe.
inline size_t BenchBareFinish(HANDLE readEnd, PROCESS_INFORMATION& started, bool exited)
{
    if (exited)
        WaitForSingleObject(started.hProcess, INFINITE);
    std::string output;
    static char chunk[BenchBareChunk];
    DWORD got = 0, waiting = 0;
    while ((!exited || (PeekNamedPipe(readEnd, nullptr, 0, nullptr, &waiting, nullptr) && waiting > 0))
           && ReadFile(readEnd, chunk, sizeof(chunk), &got, nullptr) && got > 0)
        output.append(chunk, got);
    WaitForSingleObject(started.hProcess, INFINITE);
    DWORD exitCode = 0;
    GetExitCodeProcess(started.hProcess, &exitCode);
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
    CloseHandle(readEnd);
    return output.size();
}

inline size_t BenchBareRun(const std::wstring& commandLine, const wchar_t* directory = nullptr)
{
    PROCESS_INFORMATION started = {};
    HANDLE readEnd = BenchBareLaunch(commandLine, directory, 0, &started);
    return BenchBareFinish(readEnd, started, false);
}

inline size_t BenchBareStart(const std::wstring& commandLine, const wchar_t* directory = nullptr)
{
    PROCESS_INFORMATION started = {};
    // A pipe that holds all its output: the program must not block on it while nobody reads.
    HANDLE readEnd = BenchBareLaunch(commandLine, directory, BenchBareChunk, &started);
    return BenchBareFinish(readEnd, started, true);
}
