#include "LibChildRun.h"

#include <algorithm>
#include <new>

#include "LibAssert.h"
#include "LibLogger.h"
#include "LibOwners.h"

namespace {

// The end of the child ends a wait at once; a slice only bounds how long a child blocked on a full pipe
// waits for the next drain. Slices grow with the quiet time, so that delay stays a small share of the run.
constexpr DWORD LongestSlice = 100;
constexpr ULONGLONG QuietShare = 4;
constexpr DWORD EndWaitAfterTerminate = 5000;
constexpr DWORD ReadChunk = 64 * 1024;
constexpr DWORD DropChunk = 16 * 1024;
// One drain reads no more than this before the time limit is looked at again.
constexpr size_t DrainBudget = 1024 * 1024;

// The first failure is the one reported.
void Record(QLibChildResult& result, const char* call, QLibStatus status)
{
    if (result.failedCall != nullptr)
        return;
    result.failedCall = call;
    result.failure = status;
}

bool Failed(QLibChildResult& result, const char* call)
{
    Record(result, call, QLibLastError());
    return false;
}

// Both ends of the child's pipes: the parent keeps the output's read end and the input's write end.
struct ChildPipes {
    QLibHandleOwner outputRead;
    QLibHandleOwner outputWrite;
    QLibHandleOwner errorWrite;
    QLibHandleOwner inputRead;
};

// Only the child's end is inheritable, and only the handle list hands it on.
bool MakePipe(QLibHandleOwner& readEnd, QLibHandleOwner& writeEnd, bool childReads, QLibChildResult& result)
{
    HANDLE read = nullptr;
    HANDLE write = nullptr;
    const char* call = "CreatePipe";
    if (CreatePipe(&read, &write, nullptr, 0)) {
        readEnd.reset(read);
        writeEnd.reset(write);
        call = "SetHandleInformation";
        if (SetHandleInformation(childReads ? read : write, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT))
            return true;
    }
    if (result.failedCall == nullptr)
        result.failedPipe = childReads ? QLibChildPipe::Input : QLibChildPipe::Output;
    return Failed(result, call);
}

bool MakePipes(const std::string& input, ChildPipes& pipes, QLibChildResult& result)
{
    if (!MakePipe(pipes.outputRead, pipes.outputWrite, false, result))
        return false;
    HANDLE self = GetCurrentProcess();
    if (!DuplicateHandle(self, pipes.outputWrite.get(), self, pipes.errorWrite.put(), 0, TRUE, DUPLICATE_SAME_ACCESS))
        return Failed(result, "DuplicateHandle");
    if (input.empty())
        return true;
    QLibHandleOwner inputWrite;
    if (!MakePipe(pipes.inputRead, inputWrite, true, result))
        return false;
    // The pipe holds the bytes; closing the write end now lets the child see the end of its input after them.
    DWORD written = 0;
    if (!WriteFile(inputWrite.get(), input.data(), static_cast<DWORD>(input.size()), &written, nullptr))
        return Failed(result, "WriteFile");
    return true;
}

// The attribute list that limits what the child inherits to the handles named.
class HandleList {
public:
    ~HandleList()
    {
        if (m_pList != nullptr)
            DeleteProcThreadAttributeList(m_pList);
    }

    bool Build(const ChildPipes& pipes, QLibChildResult& result)
    {
        m_Handles[m_Count++] = pipes.outputWrite.get();
        m_Handles[m_Count++] = pipes.errorWrite.get();
        if (pipes.inputRead)
            m_Handles[m_Count++] = pipes.inputRead.get();
        SIZE_T size = 0;
        // The size query fails by design; its size is what counts.
        InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
        m_Memory.reset(HeapAlloc(GetProcessHeap(), 0, size));
        if (!m_Memory)
            return Failed(result, "HeapAlloc");
        auto* list = static_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(m_Memory.get());
        if (!InitializeProcThreadAttributeList(list, 1, 0, &size))
            return Failed(result, "InitializeProcThreadAttributeList");
        m_pList = list;
        if (!UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, m_Handles, m_Count * sizeof(HANDLE),
                                       nullptr, nullptr))
            return Failed(result, "UpdateProcThreadAttribute");
        return true;
    }

    LPPROC_THREAD_ATTRIBUTE_LIST Get() const { return m_pList; }

private:
    HANDLE m_Handles[3] = {};
    DWORD m_Count = 0;
    QLibHeapOwner<void> m_Memory;
    LPPROC_THREAD_ATTRIBUTE_LIST m_pList = nullptr;
};

bool Start(const QLibChildSpec& spec, ChildPipes& pipes, QLibHandleOwner& process, QLibChildResult& result)
{
    HandleList handles;
    if (!MakePipes(spec.input, pipes, result) || !handles.Build(pipes, result))
        return false;
    STARTUPINFOEXW startup = {};
    startup.StartupInfo.cb = sizeof(startup);
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = pipes.inputRead ? pipes.inputRead.get() : INVALID_HANDLE_VALUE;
    startup.StartupInfo.hStdOutput = pipes.outputWrite.get();
    startup.StartupInfo.hStdError = pipes.errorWrite.get();
    startup.lpAttributeList = handles.Get();
    DWORD flags = spec.creationFlags | CREATE_NO_WINDOW | EXTENDED_STARTUPINFO_PRESENT
        | (spec.environment != nullptr ? CREATE_UNICODE_ENVIRONMENT : 0);
    // The system may write into the command line it is given.
    std::wstring commandLine = spec.commandLine;
    PROCESS_INFORMATION started = {};
    BOOL created = spec.token != nullptr
        ? CreateProcessAsUserW(spec.token, nullptr, &commandLine[0], nullptr, nullptr, TRUE, flags, spec.environment,
                               spec.currentDirectory, &startup.StartupInfo, &started)
        : CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, TRUE, flags, spec.environment,
                         spec.currentDirectory, &startup.StartupInfo, &started);
    if (!created)
        return Failed(result, spec.token != nullptr ? "CreateProcessAsUserW" : "CreateProcessW");
    process.reset(started.hProcess);
    // The child's first thread is never waited on or resumed.
    QLibHandleOwner{started.hThread};
    // From now on only the child and its heirs hold the write ends: the pipe breaks when they have gone.
    pipes.outputWrite.reset();
    pipes.errorWrite.reset();
    pipes.inputRead.reset();
    return true;
}

// Reads the child's output without ever blocking: keeps up to the limit, reads and drops the rest.
class OutputReader {
public:
    OutputReader(QLibHandleOwner pipe, size_t limit, QLibChildResult& result)
        : m_Pipe(std::move(pipe)), m_Limit(limit), m_Result(result)
    {
    }

    // Reads what the pipe reports as waiting, never more, and at most a budget: a read of more could block
    // on a pipe that an heir of the child keeps open. True when something was read.
    bool Drain()
    {
        size_t total = 0;
        while (m_Pipe && total < DrainBudget) {
            DWORD waiting = 0;
            if (!PeekNamedPipe(m_Pipe.get(), nullptr, 0, nullptr, &waiting, nullptr)) {
                Stop("PeekNamedPipe");
                break;
            }
            DWORD got = waiting > 0 ? Read(waiting) : 0;
            if (got == 0)
                break;
            total += got;
        }
        return total > 0;
    }

private:
    DWORD Read(DWORD waiting)
    {
        std::string& output = m_Result.output;
        size_t kept = output.size();
        DWORD want = std::min(waiting, ReadChunk);
        char* target = m_Dropped;
        if (kept < m_Limit) {
            want = static_cast<DWORD>(std::min<size_t>(want, m_Limit - kept));
            target = Grow(kept + want);
        }
        if (target == m_Dropped)
            want = std::min(want, DropChunk);
        DWORD got = 0;
        BOOL read = ReadFile(m_Pipe.get(), target, want, &got, nullptr);
        if (target != m_Dropped)
            output.resize(kept + got);
        if (!read)
            Stop("ReadFile");
        return got;
    }

    // Room for the bytes to keep; without it the rest of the output is dropped.
    char* Grow(size_t size)
    {
        std::string& output = m_Result.output;
        size_t kept = output.size();
        try {
            output.resize(size);
        } catch (const std::bad_alloc&) {
            Record(m_Result, "HeapAlloc", QLibWin32Failure(ERROR_NOT_ENOUGH_MEMORY));
            m_Limit = kept;
            return m_Dropped;
        }
        return &output[kept];
    }

    // A broken pipe is the normal end of the output. After any other failure the pipe is closed too, so that
    // the child's writes fail rather than wait for a reader.
    void Stop(const char* call)
    {
        DWORD error = GetLastError();
        if (error != ERROR_BROKEN_PIPE)
            Record(m_Result, call, QLibWin32Failure(error));
        m_Pipe.reset();
    }

    QLibHandleOwner m_Pipe;
    size_t m_Limit;
    QLibChildResult& m_Result;
    char m_Dropped[DropChunk];
};

// One bounded wait after the termination: a child that cannot be ended never holds the caller.
void EndChild(const QLibChildSpec& spec, HANDLE process)
{
    if (!TerminateProcess(process, 0))
        QLIB_TRACE(spec.function, L"(%d) TerminateProcess failed.", GetLastError());
    if (WaitForSingleObject(process, EndWaitAfterTerminate) != WAIT_OBJECT_0)
        QLIB_TRACE(spec.function, L"The child has not ended %d ms after its termination.", EndWaitAfterTerminate);
}

void EndOnTimeOut(const QLibChildSpec& spec, HANDLE process, QLibChildResult& result)
{
    result.end = QLibChildEnd::TimedOut;
    EndChild(spec, process);
}

void EndOnWaitFailure(const QLibChildSpec& spec, HANDLE process, const char* call, QLibChildResult& result)
{
    Failed(result, call);
    result.end = QLibChildEnd::WaitFailed;
    if (spec.endOnWaitFailure)
        EndChild(spec, process);
}

// Waits in short slices, draining the output between them, so that a child never waits for a reader.
void WaitForEnd(HANDLE process, const QLibChildSpec& spec, ULONGLONG started, OutputReader& reader,
                QLibChildResult& result)
{
    ULONGLONG quietSince = started;
    for (;;) {
        bool read = reader.Drain();
        ULONGLONG now = GetTickCount64();
        if (read)
            quietSince = now;
        DWORD slice = read ? 0
                           : static_cast<DWORD>(std::min<ULONGLONG>((now - quietSince) / QuietShare + 1, LongestSlice));
        int64_t left = spec.timeLimit - static_cast<int64_t>(now - started);
        if (left <= 0)
            return EndOnTimeOut(spec, process, result);
        DWORD waited = WaitForSingleObject(process, static_cast<DWORD>(std::min<int64_t>(slice, left)));
        if (waited == WAIT_OBJECT_0)
            break;
        if (waited != WAIT_TIMEOUT)
            return EndOnWaitFailure(spec, process, "WaitForSingleObject", result);
    }
    // Only what is there now: heirs of the child may keep the pipe open for as long as they like.
    reader.Drain();
    DWORD exitCode = 0;
    if (!GetExitCodeProcess(process, &exitCode))
        return EndOnWaitFailure(spec, process, "GetExitCodeProcess", result);
    result.end = QLibChildEnd::Exited;
    result.exitCode = exitCode;
}

} // namespace

QLibChildResult QLibRunChild(const QLibChildSpec& spec)
{
    QLIB_ASSERT(spec.commandLine != nullptr);
    QLIB_ASSERT(spec.input.size() <= QLibChildMaxInput);
    QLibChildResult result;
    if (spec.timeLimit <= 0) {
        result.end = QLibChildEnd::TimedOut;
        return result;
    }
    ULONGLONG started = GetTickCount64();
    ChildPipes pipes;
    QLibHandleOwner process;
    if (!Start(spec, pipes, process, result))
        return result;
    OutputReader reader(std::move(pipes.outputRead), std::min(spec.outputLimit, QLibChildMaxOutput), result);
    WaitForEnd(process.get(), spec, started, reader, result);
    return result;
}

// Exactly the bytes read, converted, in a buffer of the size the conversion needs.
QLibStatus QLibChildOutputText(const char* function, const std::string& bytes, wchar_t** text, uint32_t* size)
{
    if (bytes.empty())
        return QLibOk();
    int length = static_cast<int>(bytes.size());
    int chars = MultiByteToWideChar(CP_ACP, 0, bytes.data(), length, nullptr, 0);
    if (chars <= 0) {
        QLibStatus status = QLibLastError();
        QLIB_TRACE(function, L"(%d) MultiByteToWideChar failed.", status.GetCode());
        return status;
    }
    auto* buffer = static_cast<wchar_t*>(
        VirtualAlloc(nullptr, (static_cast<size_t>(chars) + 1) * sizeof(wchar_t), MEM_COMMIT, PAGE_READWRITE));
    if (buffer == nullptr) {
        QLibStatus status = QLibLastError();
        QLIB_TRACE(function, L"(%d) VirtualAlloc failed.", status.GetCode());
        return status;
    }
    MultiByteToWideChar(CP_ACP, 0, bytes.data(), length, buffer, chars);
    buffer[chars] = L'\0';
    *text = buffer;
    *size = static_cast<uint32_t>(chars * sizeof(wchar_t));
    return QLibOk();
}
