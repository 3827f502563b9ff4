// Start-up, the entry points the framework calls for each resource, and shutdown. No C++ exception leaves
// any of them: the framework that calls them knows nothing of exceptions.

#include <cstdint>

#include "LibLogger.h"
#include "Tollan.h"
#include "TollanAgent.h"
#include "TollanAttrib.h"
#include "TollanLog.h"
#include "TollanOwners.h"

namespace {

const char* const Source = "TollanAgent";
const char* const StartupFn = "TarnAgStartup";
const char* const ShutdownFn = "TollanShutdown";
const char* const TypeName = "Tollan";
constexpr uint32_t LogCategory = 55002;
constexpr uint32_t LocalCluster = 0xFFFFFFFF;
// What an exception is reported as: the framework's answer to an allocation that failed.
constexpr uint32_t ExceptionType = QLIB_ERR_FRAMEWORK;
constexpr uint32_t ExceptionCode = ERROR_OUTOFMEMORY;

// Set by start-up, taken by the first shutdown: a second shutdown releases nothing twice.
std::atomic<bool> g_Started{false};

// Runs what cannot be allowed to throw where an exception has already been caught.
template <typename Action>
void NoThrow(Action action)
{
    try {
        action();
    } catch (...) {
    }
}

// A failed cluster call, with the two numbers of the API's last error record.
void TraceClusterError(const char* function, const wchar_t* format, const char* name = nullptr)
{
    CTollanTarnError error;
    if (name == nullptr)
        QLIB_TRACE(function, format, error.Number(), error.Code());
    else
        QLIB_TRACE(function, format, name, error.Number(), error.Code());
}

// Start-up steps 5 to 7; stops at the first failure, leaving the rest undone.
void ConnectCluster()
{
    TarnHandle cluster = TarnClusterOpenLocal(LocalCluster, 0);
    g_TarnCluster.store(cluster);
    if (cluster == nullptr) {
        TraceClusterError(StartupFn, L"TarnClusterOpenLocal() failed with error [%d, 0x%.08X].");
        return;
    }
    for (const CTollanTimeoutAttr& timeout : g_TollanTimeouts) {
        CTollanTarnAttrOwner attr;
        if (TarnObjGetAttribute(cluster, TARN_OBJ_TYPE, TypeName, timeout.name, nullptr, attr.put(), 0) != 0) {
            TraceClusterError(StartupFn, L"TarnObjGetAttribute() for %S failed with error [%d, 0x%.08X].",
                              timeout.name);
            return;
        }
        if (attr.get() != nullptr)
            TollanStoreTimeout(timeout, attr.get());
    }
    for (const CTollanTimeoutAttr& timeout : g_TollanTimeouts) {
        *timeout.registration = TarnObjRegister(cluster, TARN_OBJ_TYPE, TypeName, timeout.name, TARN_EVENT_ATTR_CHANGED,
                                                timeout.callback, nullptr);
        if (*timeout.registration == nullptr) {
            TraceClusterError(StartupFn, L"TarnObjRegister() for %S failed with error [%d, 0x%.08X].", timeout.name);
            return;
        }
    }
}

// What tells one resource entry point from another.
struct EntryPoint {
    const char* function;
    uint32_t kind;
    const wchar_t* title; // as in "Online successful."
    const wchar_t* verb; // as in "Failed to online the resource"
    uint32_t parseFailedId;
    uint32_t failedId;
    uint32_t initial; // the result until the operation sets it; also the answer when none ran
};

bool WantsDump(const std::wstring& level)
{
    return level == L"TRACE" || level == L"TRACETRACE";
}

// operation: QLibStatus (CTollanAttrib& attrib, uint32_t* result).
template <typename Operation>
uint32_t RunOperation(const EntryPoint& entry, const char* resource, TarnAgArgs* args, Operation operation)
{
    g_QLibLogQueue.OpenThreadQueue();
    uint32_t result = entry.initial;
    CTollanAttrib attrib;
    QLIB_TRACE(entry.function, L"Validating the arguments for %s.", entry.title);
    QLibStatus status = attrib.Parse(entry.kind, resource, args, 1);
    attrib.LogArgs();
    if (status.IsFailed()) {
        TOLLAN_MSG(TARNAG_SEV_FAILURE, entry.function, Source, entry.parseFailedId,
                   L"Failed to parse the argument list for %s [%d, 0x%.08X].", entry.title, status.GetType(),
                   status.GetCode());
        QLIB_TRACE(entry.function, L"Failed to parse the argument list [%d, 0x%.08X].", status.GetType(),
                   status.GetCode());
    } else {
        QLIB_TRACE(entry.function, L"Arguments validated successfully for %s.", entry.title);
        status = operation(attrib, &result);
        if (status.IsFailed())
            TOLLAN_TRACE_MSG(TARNAG_SEV_FAILURE, entry.function, Source, entry.failedId,
                             L"Failed to %s the resource %s [%d, 0x%.08X].", entry.verb,
                             attrib.GetResourceName().c_str(), status.GetType(), status.GetCode());
        else
            QLIB_TRACE(entry.function, L"%s successful.", entry.title);
    }
    if (status.IsFailed() || WantsDump(attrib.GetResLogLevel()))
        g_QLibLogQueue.Dump();
    g_QLibLogQueue.ClearThreadQueue();
    return result;
}

// One resource entry point: its operation's result, or its initial value when an exception ended the call.
template <typename Operation>
uint32_t RunEntryPoint(const EntryPoint& entry, const char* resource, TarnAgArgs* args, Operation operation)
{
    try {
        return RunOperation(entry, resource, args, operation);
    } catch (...) {
        TOLLAN_MSG(TARNAG_SEV_FAILURE, entry.function, Source, entry.failedId,
                   L"Failed to %s the resource %S [%d, 0x%.08X].", entry.verb, resource == nullptr ? "" : resource,
                   ExceptionType, ExceptionCode);
        NoThrow([&] {
            QLIB_TRACE(entry.function, L"Failed to %s the resource %S [%d, 0x%.08X].", entry.verb,
                       resource == nullptr ? "" : resource, ExceptionType, ExceptionCode);
            g_QLibLogQueue.Dump();
        });
        NoThrow([] { g_QLibLogQueue.ClearThreadQueue(); });
        return entry.initial;
    }
}

const EntryPoint Online = {"TollanOnline", TOLLAN_EP_ONLINE, L"Online", L"online", 10001, 10002, 0};
const EntryPoint Offline = {"TollanOffline", TOLLAN_EP_OFFLINE, L"Offline", L"offline", 10003, 10004, 0};
const EntryPoint Monitor = {"TollanMonitor", TOLLAN_EP_MONITOR,   L"Monitor", L"monitor", 10005,
                            10006,           TOLLAN_STATE_UNKNOWN};
const EntryPoint Clean = {"TollanClean", TOLLAN_EP_CLEAN, L"Clean", L"clean", 10007, 10008, 0};

} // namespace

extern "C" {

// Each call works on a CTollan of its own. Online and offline always answer 0.
uint32_t TollanOnline(const char* resource, TarnAgArgs* args)
{
    return RunEntryPoint(Online, resource, args,
                         [](CTollanAttrib& attrib, uint32_t*) { return CTollan().Online(attrib); });
}

uint32_t TollanOffline(const char* resource, TarnAgArgs* args)
{
    return RunEntryPoint(Offline, resource, args,
                         [](CTollanAttrib& attrib, uint32_t* result) { return CTollan().Offline(attrib, result); });
}

uint32_t TollanMonitor(const char* resource, TarnAgArgs* args, void*)
{
    return RunEntryPoint(Monitor, resource, args,
                         [](CTollanAttrib& attrib, uint32_t* result) { return CTollan().Monitor(attrib, result); });
}

uint32_t TollanClean(const char* resource, uint32_t reason, TarnAgArgs* args)
{
    return RunEntryPoint(Clean, resource, args, [reason](CTollanAttrib& attrib, uint32_t* result) {
        return CTollan().Clean(attrib, reason, result);
    });
}

void TollanShutdown()
{
    try {
        if (g_Started.exchange(false)) {
            for (const CTollanTimeoutAttr& timeout : g_TollanTimeouts) {
                TarnRegHandle registration = *timeout.registration;
                *timeout.registration = nullptr;
                if (registration != nullptr && TarnObjUnRegister(registration, 0) != 0)
                    TraceClusterError(ShutdownFn, L"TarnObjUnRegister() for %S failed with error [%d, 0x%.08X].",
                                      timeout.name);
            }
            if (TarnClusterClose(g_TarnCluster.exchange(nullptr), 0) != 0)
                TraceClusterError(ShutdownFn, L"TarnClusterClose() failed with error [%d, 0x%.08X].");
            if (TarnApiExit(0) != 0)
                TraceClusterError(ShutdownFn, L"TarnApiExit() failed with error [%d, 0x%.08X].");
        }
        g_QLibLogQueue.Dump();
    } catch (...) {
        NoThrow([] { QLIB_TRACE(ShutdownFn, L"Shutdown stopped by an exception."); });
    }
}

} // extern "C"

namespace {

// Static storage: the framework may keep the table's address rather than a copy.
const TarnAgEPTable g_EntryPoints = {
    nullptr,       nullptr, nullptr, TollanMonitor, TollanOnline,
    TollanOffline, nullptr, nullptr, TollanClean,   TollanShutdown,
};

} // namespace

extern "C" void TarnAgStartup()
{
    try {
        g_QLibLogQueue.OpenThreadQueue();
        g_QLibLogQueue.SetSink(&g_TollanLogSink);
        TarnAgSetLogCategory(LogCategory);
        TarnAgRegisterEPStruct(TARNAG_EP_VERSION, &g_EntryPoints);
        g_Started.store(true);
        if (TarnApiInit(0, 0) != 0)
            TraceClusterError(StartupFn, L"Failed to initialize the TarnApiInit() with error [%d, 0x%.08X].");
        ConnectCluster();
    } catch (...) {
        NoThrow([] {
            QLIB_TRACE(StartupFn, L"Start-up stopped by an exception [%d, 0x%.08X].", ExceptionType, ExceptionCode);
        });
    }
    NoThrow([] { g_QLibLogQueue.Dump(); });
}
