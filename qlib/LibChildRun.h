#pragma once
// The one routine that runs a child with its standard output and error captured, under a time limit.
// Every runner of the library and the agent starts its children through it, so none can block on a full
// pipe, wait for an heir that holds the pipe, or hand the child handles that are not meant for it.

#include <windows.h>

#include <cstdint>
#include <string>

#include "LibStatus.h"

// Output kept at most; the rest is read and dropped so that the child never waits for a reader.
constexpr size_t QLibChildMaxOutput = 1024 * 1024;
// Input is written before the child starts: it must fit into the pipe, which holds at least this much.
constexpr size_t QLibChildMaxInput = 4096;

struct QLibChildSpec {
    const wchar_t* commandLine = nullptr; // run as given; the runner passes a copy
    const wchar_t* currentDirectory = nullptr; // null: the caller's
    HANDLE token = nullptr; // null: as the caller; else as the token's user
    void* environment = nullptr; // a Unicode environment block; null: the caller's
    DWORD creationFlags = 0; // added to CREATE_NO_WINDOW
    std::string input; // bytes for standard input; empty: none
    int64_t timeLimit = 0; // milliseconds; zero or less starts nothing
    size_t outputLimit = QLibChildMaxOutput; // bytes kept, at most QLibChildMaxOutput
    bool endOnWaitFailure = false; // a failed wait ends the child as a time-out does
    // The caller's "Class::Method" name: what the result cannot tell (a child that would not end) is traced under it.
    const char* function = "QLibRunChild";
};

enum class QLibChildEnd {
    NotStarted, // a set-up call failed: failedCall and failure tell which and why
    Exited, // exitCode holds the child's code
    TimedOut, // the limit passed (or was zero or less); a started child has been terminated with code 0
    WaitFailed, // the wait itself failed; the child is left running unless the caller asks for its end
};

// The child's pipe a failed set-up call was making.
enum class QLibChildPipe { None, Input, Output };

struct QLibChildResult {
    QLibChildEnd end = QLibChildEnd::NotStarted;
    // The Windows call that failed and its status: a set-up call, the wait, or a read of the output
    // (the child has then still run and exitCode still holds). Null and success when none failed.
    const char* failedCall = nullptr;
    QLibStatus failure = QLibOk();
    QLibChildPipe failedPipe = QLibChildPipe::None; // for a failed CreatePipe or SetHandleInformation
    uint32_t exitCode = 0;
    std::string output; // standard output and error as the child wrote them, at most outputLimit bytes
};

QLibChildResult QLibRunChild(const QLibChildSpec& spec);

// The output as UTF-16 from the active code page, in a VirtualAlloc buffer the caller releases with VirtualFree;
// size in bytes without the terminator. No output gives no buffer. Failures are traced under function.
QLibStatus QLibChildOutputText(const char* function, const std::string& bytes, wchar_t** text, uint32_t* size);
