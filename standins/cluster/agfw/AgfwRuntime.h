#pragma once
// What the agent framework stand-in keeps: the loaded agent, its table, the logs it wrote, cookies,
// the objects handed to it, and the cluster description its argument lists come from.

#include <windows.h>

#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "TarnAgHost.h"
#include "TarnDescription.h"

// A thread of the framework that stays, so start-up and shutdown run on the same one. It ends with
// Stop, never in a destructor: waiting for a thread while the DLL is being unloaded could hang.
class TarnAgWorker {
public:
    bool Run(const std::function<void()>& job);
    void Stop();

private:
    static DWORD WINAPI Loop(void* param);

    std::mutex m_Lock;
    HANDLE m_Thread = nullptr;
    HANDLE m_Go = nullptr;
    HANDLE m_Done = nullptr;
    const std::function<void()>* m_Job = nullptr;
};

// Runs job on a thread of its own and waits for it.
bool TarnAgRunOnNewThread(const std::function<void()>& job);

struct TarnAgRuntime {
    std::mutex lock;
    TarnDescription description;
    HMODULE agent = nullptr;
    bool registered = false;
    TarnAgEPTable table{};
    uint32_t category = 0;
    std::vector<TarnAgLogEntry> logs;
    std::map<std::string, wchar_t*> cookies; // malloc'd values the framework owns
    std::set<const void*> handedOut;
    TarnAgWorker control;

    void AddLog(uint32_t log, uint32_t severityOrTag, const char* function, const char* source, uint32_t line,
                uint32_t msgId, const wchar_t* text);
};

TarnAgRuntime& TarnAg();
