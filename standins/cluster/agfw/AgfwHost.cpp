// The host-facing calls of the framework stand-in: load an agent, drive it, read its logs.

#include <cstdlib>

#include "AgfwRuntime.h"

namespace {

// Calls the operation's entry point with args on a new framework thread.
int32_t CallEntry(uint32_t op, const char* resource, TarnAgArgs* args, uint32_t* result)
{
    TarnAgEPTable table;
    {
        std::lock_guard<std::mutex> guard(TarnAg().lock);
        if (!TarnAg().registered)
            return TARNAG_E_NOT_STARTED;
        table = TarnAg().table;
    }
    uint32_t value = 0;
    std::function<void()> job;
    switch (op) {
    case TARNAG_OP_ONLINE:
        if (table.online)
            job = [&] { value = table.online(resource, args); };
        break;
    case TARNAG_OP_OFFLINE:
        if (table.offline)
            job = [&] { value = table.offline(resource, args); };
        break;
    case TARNAG_OP_MONITOR:
        if (table.monitor)
            job = [&] { value = table.monitor(resource, args, nullptr); };
        break;
    case TARNAG_OP_CLEAN:
        if (table.clean)
            job = [&] { value = table.clean(resource, 0, args); };
        break;
    default:
        return TARNAG_E_INVALID_ARG;
    }
    if (!job)
        return TARNAG_E_NO_ENTRY;
    if (!TarnAgRunOnNewThread(job))
        return TARNAG_E_THREAD;
    if (result != nullptr)
        *result = value;
    return 0;
}

} // namespace

extern "C" {

int32_t TarnAgHostStart(const wchar_t* agentPath)
{
    std::string path = TarnDescEnv("TARN_CLUSTER_DESC");
    {
        std::lock_guard<std::mutex> guard(TarnAg().lock);
        std::string error;
        if (!path.empty() && !TarnAg().description.Load(path, &error))
            return TARNAG_E_DESCRIPTION;
        TarnAg().registered = false;
        TarnAg().table = {};
    }
    HMODULE agent = agentPath == nullptr ? nullptr : LoadLibraryW(agentPath);
    if (agent == nullptr)
        return TARNAG_E_NO_AGENT;
    auto startup = reinterpret_cast<TarnAgStartupFn>(reinterpret_cast<void*>(GetProcAddress(agent, "TarnAgStartup")));
    if (startup == nullptr) {
        FreeLibrary(agent);
        return TARNAG_E_NO_STARTUP;
    }
    {
        std::lock_guard<std::mutex> guard(TarnAg().lock);
        TarnAg().agent = agent;
    }
    std::function<void()> job = startup;
    return TarnAg().control.Run(job) ? 0 : TARNAG_E_THREAD;
}

const TarnAgEPTable* TarnAgHostTable(void)
{
    std::lock_guard<std::mutex> guard(TarnAg().lock);
    return TarnAg().registered ? &TarnAg().table : nullptr;
}

int32_t TarnAgHostCall(uint32_t op, const char* resource, uint32_t* result)
{
    if (resource == nullptr)
        return TARNAG_E_INVALID_ARG;
    std::optional<std::vector<std::string>> values;
    {
        std::lock_guard<std::mutex> guard(TarnAg().lock);
        values = TarnAg().description.ArgValues(resource);
    }
    if (!values)
        return TARNAG_E_NO_RESOURCE;
    std::vector<const char*> pointers;
    for (const std::string& value : *values)
        pointers.push_back(value.c_str());
    return TarnAgHostCallWith(op, resource, pointers.data(), static_cast<uint32_t>(pointers.size()), result);
}

int32_t TarnAgHostCallWith(uint32_t op, const char* resource, const char* const* values, uint32_t count,
                           uint32_t* result)
{
    if (count > 0 && values == nullptr)
        return TARNAG_E_INVALID_ARG;
    TarnAgArgs args{count, values};
    return CallEntry(op, resource, &args, result);
}

int32_t TarnAgHostShutdown(void)
{
    TarnAgShutdownFn shutdown = nullptr;
    {
        std::lock_guard<std::mutex> guard(TarnAg().lock);
        if (!TarnAg().registered)
            return TARNAG_E_NOT_STARTED;
        shutdown = TarnAg().table.shutdown;
    }
    if (shutdown == nullptr)
        return TARNAG_E_NO_ENTRY;
    std::function<void()> job = shutdown;
    return TarnAg().control.Run(job) ? 0 : TARNAG_E_THREAD;
}

void TarnAgHostStop(void)
{
    TarnAg().control.Stop();
    HMODULE agent = nullptr;
    {
        std::lock_guard<std::mutex> guard(TarnAg().lock);
        agent = TarnAg().agent;
        TarnAg().agent = nullptr;
        TarnAg().registered = false;
        TarnAg().table = {};
    }
    if (agent != nullptr)
        FreeLibrary(agent);
}

uint32_t TarnAgHostLogCategory(void)
{
    std::lock_guard<std::mutex> guard(TarnAg().lock);
    return TarnAg().category;
}

uint32_t TarnAgHostLogCount(void)
{
    std::lock_guard<std::mutex> guard(TarnAg().lock);
    return static_cast<uint32_t>(TarnAg().logs.size());
}

int32_t TarnAgHostLogEntry(uint32_t index, TarnAgLogEntry* entry)
{
    std::lock_guard<std::mutex> guard(TarnAg().lock);
    if (entry == nullptr || index >= TarnAg().logs.size())
        return TARNAG_E_INVALID_ARG;
    *entry = TarnAg().logs[index];
    return 0;
}

void TarnAgHostLogClear(void)
{
    std::lock_guard<std::mutex> guard(TarnAg().lock);
    TarnAg().logs.clear();
}

void TarnAgHostCookiesClear(void)
{
    std::lock_guard<std::mutex> guard(TarnAg().lock);
    for (auto& cookie : TarnAg().cookies)
        free(cookie.second);
    TarnAg().cookies.clear();
}

uint32_t TarnAgHostUnreleased(void)
{
    std::lock_guard<std::mutex> guard(TarnAg().lock);
    return static_cast<uint32_t>(TarnAg().handedOut.size());
}

} // extern "C"
