#pragma once
// The per-thread trace log queue, its records and the base sink.

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <string>

#include "LibMutex.h"

struct QLibLogRecord {
    uint32_t line;
    std::string file;
    std::string function;
    std::wstring message;
};

class QLibLogQueue {
public:
    explicit QLibLogQueue(uint8_t enabled) : m_Enabled(enabled) {}

    void Enable() { m_Enabled = 1; }
    void Disable() { m_Enabled = 0; }
    bool IsEnabled() const { return m_Enabled != 0; }
    std::list<QLibLogRecord>& GetRecords() { return m_Records; }
    void Clear() { m_Records.clear(); }

private:
    std::list<QLibLogRecord> m_Records;
    uint8_t m_Enabled;
};

// Several threads may call a sink at once; a sink must tolerate that.
class QLibLogSink {
public:
    virtual void WriteNow(const char* file, uint32_t line, const char* function, const wchar_t* message);
    virtual void WriteRecord(const char* file, uint32_t line, const char* function, const wchar_t* message);

    void SetImmediate(uint8_t immediate) { m_Immediate = immediate; }
    bool IsImmediate() const { return m_Immediate != 0; }

protected:
    static void Print(const char* file, uint32_t line, const char* function, const wchar_t* message);

private:
    uint8_t m_Immediate = 0;
};

class QLibThreadLogQueue {
public:
    static constexpr size_t MessageChars = 999;

    QLibThreadLogQueue();
    ~QLibThreadLogQueue();

    QLibThreadLogQueue(const QLibThreadLogQueue&) = delete;
    QLibThreadLogQueue& operator=(const QLibThreadLogQueue&) = delete;

    void OpenThreadQueue();
    void Log(const char* file, uint32_t line, const char* function, const wchar_t* format, ...);
    void Dump();
    void ClearThreadQueue();
    void EnableThreadQueue();
    void DisableThreadQueue();
    void SetSink(QLibLogSink* sink);
    QLibLogQueue* FindThreadQueue(uint32_t threadId);
    void ExportThreadQueue(uint8_t* buffer, uint32_t bufferSize, uint32_t* packed, uint32_t* left);
    void RemoveAllThreadQueues();

private:
    // The calling thread's own queue, without the lock once the thread has looked it up.
    QLibLogQueue* OwnQueue();

    std::map<uint32_t, std::unique_ptr<QLibLogQueue>> m_Queues;
    // Changes, under the lock, whenever queues are removed: a thread's remembered queue is then looked up again.
    std::atomic<uint64_t> m_Generation;
    QLibLogSink m_BuiltInSink;
    QLibLogSink* m_pSink;
    QLibMutex m_Lock;
};

extern QLibThreadLogQueue g_QLibLogQueue;

// Every trace names its function by a literal, so the W/A macros of Windows never change it.
#define QLIB_TRACE(function, ...) g_QLibLogQueue.Log(__FILE_NAME__, __LINE__, function, __VA_ARGS__)

// The one line a caller writes after a failed callee.
#define QLIB_TRACE_FAILED(function, callee, status)                                                                    \
    QLIB_TRACE(function, L"%s returned %d, 0x%.08X", callee, (status).GetType(), (status).GetCode())
