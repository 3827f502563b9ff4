#include "LibLogger.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "LibSingleLock.h"

QLibThreadLogQueue g_QLibLogQueue;

namespace {

// Every object and every removal takes a number never used before, so a remembered queue is never
// mistaken for one of another object or one that was removed.
std::atomic<uint64_t> g_NextGeneration{1};

// What the calling thread last learnt of its own queue (null: it has none).
struct QLibOwnQueue {
    const QLibThreadLogQueue* owner;
    uint64_t generation;
    QLibLogQueue* queue;
};
thread_local QLibOwnQueue t_OwnQueue = {nullptr, 0, nullptr};

} // namespace

void QLibLogSink::Print(const char* file, uint32_t line, const char* function, const wchar_t* message)
{
    wprintf(L"\nMod: %S Line: %d Func: %S Msg: %s", file, line, function, message);
    fflush(stdout);
}

void QLibLogSink::WriteNow(const char* file, uint32_t line, const char* function, const wchar_t* message)
{
    if (IsImmediate())
        Print(file, line, function, message);
}

void QLibLogSink::WriteRecord(const char* file, uint32_t line, const char* function, const wchar_t* message)
{
    Print(file, line, function, message);
}

QLibThreadLogQueue::QLibThreadLogQueue() : m_Generation(g_NextGeneration++), m_pSink(&m_BuiltInSink)
{
    // Without the mutex no queue can ever be found, so every thread logs nothing.
    (void)m_Lock.Create(FALSE, nullptr, nullptr, nullptr);
}

QLibThreadLogQueue::~QLibThreadLogQueue()
{
    RemoveAllThreadQueues();
}

QLibLogQueue* QLibThreadLogQueue::FindThreadQueue(uint32_t threadId)
{
    if (!m_Lock.IsValid())
        return nullptr;
    QLibSingleLock lock(&m_Lock, 0);
    if (lock.Wait(INFINITE).IsFailed())
        return nullptr;
    auto it = m_Queues.find(threadId);
    return it == m_Queues.end() ? nullptr : it->second.get();
}

// Only the thread itself inserts its own queue, so what it learnt stays true until queues are removed.
// The generation is read before the lookup: a removal in between makes the next call look again.
QLibLogQueue* QLibThreadLogQueue::OwnQueue()
{
    uint64_t generation = m_Generation.load(std::memory_order_acquire);
    if (t_OwnQueue.owner == this && t_OwnQueue.generation == generation)
        return t_OwnQueue.queue;
    QLibLogQueue* queue = FindThreadQueue(GetCurrentThreadId());
    t_OwnQueue = {this, generation, queue};
    return queue;
}

// Only the thread itself inserts its id, so no re-check is needed under the lock.
void QLibThreadLogQueue::OpenThreadQueue()
{
    if (OwnQueue() != nullptr || !m_Lock.IsValid())
        return;
    QLibSingleLock lock(&m_Lock, 0);
    if (lock.Wait(INFINITE).IsFailed())
        return;
    auto& queue = m_Queues[GetCurrentThreadId()];
    queue = std::make_unique<QLibLogQueue>(1);
    t_OwnQueue = {this, m_Generation.load(std::memory_order_acquire), queue.get()};
}

void QLibThreadLogQueue::Log(const char* file, uint32_t line, const char* function, const wchar_t* format, ...)
{
    QLibLogQueue* queue = OwnQueue();
    if (queue == nullptr || !queue->IsEnabled())
        return;

    // Bounded: no format can write past the buffer, and the text is always terminated.
    wchar_t text[MessageChars + 1] = {};
    va_list args;
    va_start(args, format);
    _vsnwprintf(text, MessageChars, format, args);
    va_end(args);
    text[MessageChars] = L'\0';

    const char* backslash = strrchr(file, '\\');
    queue->GetRecords().push_back({line, backslash ? backslash + 1 : file, function, text});
    if (m_pSink->IsImmediate())
        m_pSink->WriteNow(file, line, function, text);
}

void QLibThreadLogQueue::Dump()
{
    QLibLogQueue* queue = OwnQueue();
    if (queue == nullptr)
        return;
    m_pSink->WriteRecord("LibLogger", 200, "QLibThreadLogQueue::Dump",
                         L"*** Start of debug information dump for troubleshooting ***");
    for (const QLibLogRecord& record : queue->GetRecords())
        m_pSink->WriteRecord(record.file.c_str(), record.line, record.function.c_str(), record.message.c_str());
    m_pSink->WriteRecord("LibLogger", 211, "QLibThreadLogQueue::Dump",
                         L"*** End of debug information dump for troubleshooting ***");
    queue->Clear();
}

void QLibThreadLogQueue::ClearThreadQueue()
{
    if (QLibLogQueue* queue = OwnQueue())
        queue->Clear();
}

void QLibThreadLogQueue::EnableThreadQueue()
{
    if (QLibLogQueue* queue = OwnQueue())
        queue->Enable();
}

void QLibThreadLogQueue::DisableThreadQueue()
{
    if (QLibLogQueue* queue = OwnQueue())
        queue->Disable();
}

void QLibThreadLogQueue::SetSink(QLibLogSink* sink)
{
    if (sink != nullptr)
        m_pSink = sink;
}

void QLibThreadLogQueue::ExportThreadQueue(uint8_t* buffer, uint32_t bufferSize, uint32_t* packed, uint32_t* left)
{
    *packed = 0;
    *left = 0;
    QLibLogQueue* queue = OwnQueue();
    if (queue == nullptr)
        return;
    const std::list<QLibLogRecord>& records = queue->GetRecords();
    size_t used = 0;
    for (const QLibLogRecord& record : records) {
        size_t fileBytes = record.file.size() + 1;
        size_t functionBytes = record.function.size() + 1;
        size_t messageBytes = (record.message.size() + 1) * sizeof(wchar_t);
        size_t size = fileBytes + sizeof(uint32_t) + functionBytes + messageBytes;
        if (used + size > bufferSize)
            break;
        uint8_t* out = buffer + used;
        memcpy(out, record.file.c_str(), fileBytes);
        out += fileBytes;
        memcpy(out, &record.line, sizeof(uint32_t));
        out += sizeof(uint32_t);
        memcpy(out, record.function.c_str(), functionBytes);
        out += functionBytes;
        memcpy(out, record.message.c_str(), messageBytes);
        used += size;
        ++*packed;
    }
    *left = static_cast<uint32_t>(records.size()) - *packed;
}

void QLibThreadLogQueue::RemoveAllThreadQueues()
{
    if (!m_Lock.IsValid())
        return;
    QLibSingleLock lock(&m_Lock, 0);
    if (lock.Wait(INFINITE).IsFailed())
        return;
    m_Generation.store(g_NextGeneration++, std::memory_order_release);
    m_Queues.clear();
}
