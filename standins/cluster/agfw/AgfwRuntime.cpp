#include "AgfwRuntime.h"

#include <cstring>

TarnAgRuntime& TarnAg()
{
    static TarnAgRuntime runtime;
    return runtime;
}

namespace {

DWORD WINAPI RunJob(void* param)
{
    (*static_cast<const std::function<void()>*>(param))();
    return 0;
}

void CopyBounded(char* to, size_t size, const char* from)
{
    strncpy(to, from == nullptr ? "" : from, size - 1);
    to[size - 1] = '\0';
}

} // namespace

bool TarnAgRunOnNewThread(const std::function<void()>& job)
{
    HANDLE thread = CreateThread(nullptr, 0, RunJob, const_cast<std::function<void()>*>(&job), 0, nullptr);
    if (thread == nullptr)
        return false;
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    return true;
}

bool TarnAgWorker::Run(const std::function<void()>& job)
{
    std::lock_guard<std::mutex> guard(m_Lock);
    if (m_Thread == nullptr) {
        m_Go = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        m_Done = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        m_Thread = m_Go && m_Done ? CreateThread(nullptr, 0, Loop, this, 0, nullptr) : nullptr;
        if (m_Thread == nullptr)
            return false;
    }
    m_Job = &job;
    SetEvent(m_Go);
    WaitForSingleObject(m_Done, INFINITE);
    return true;
}

void TarnAgWorker::Stop()
{
    std::lock_guard<std::mutex> guard(m_Lock);
    if (m_Thread != nullptr) {
        m_Job = nullptr; // no job: the loop ends
        SetEvent(m_Go);
        WaitForSingleObject(m_Thread, INFINITE);
        CloseHandle(m_Thread);
        m_Thread = nullptr;
    }
    for (HANDLE* event : {&m_Go, &m_Done})
        if (*event != nullptr) {
            CloseHandle(*event);
            *event = nullptr;
        }
}

DWORD WINAPI TarnAgWorker::Loop(void* param)
{
    auto* worker = static_cast<TarnAgWorker*>(param);
    for (;;) {
        WaitForSingleObject(worker->m_Go, INFINITE);
        if (worker->m_Job == nullptr)
            return 0;
        (*worker->m_Job)();
        SetEvent(worker->m_Done);
    }
}

void TarnAgRuntime::AddLog(uint32_t log, uint32_t severityOrTag, const char* function, const char* source,
                           uint32_t line, uint32_t msgId, const wchar_t* text)
{
    TarnAgLogEntry entry{};
    entry.log = log;
    (log == TARNAG_LOG_RESOURCE ? entry.tag : entry.severity) = severityOrTag;
    entry.line = line;
    entry.msgId = msgId;
    entry.threadId = GetCurrentThreadId();
    CopyBounded(entry.function, sizeof(entry.function), function);
    CopyBounded(entry.source, sizeof(entry.source), source);
    constexpr size_t textChars = sizeof(entry.text) / sizeof(entry.text[0]);
    wcsncpy(entry.text, text == nullptr ? L"" : text, textChars - 1);
    entry.text[textChars - 1] = L'\0';
    std::lock_guard<std::mutex> guard(lock);
    logs.push_back(entry);
}
