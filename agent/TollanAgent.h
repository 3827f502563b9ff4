#pragma once
// Module-wide state of the agent: the resource type's four timeouts, kept current by change
// callbacks that the cluster API calls on its own threads, and the cluster connection.

#include <atomic>
#include <cstdint>

#include "TarnApi.h"

// Seconds; read by the entry points, written by start-up and the callbacks.
extern std::atomic<uint32_t> g_OnlineTimeout;
extern std::atomic<uint32_t> g_OfflineTimeout;
extern std::atomic<uint32_t> g_MonitorTimeout;
extern std::atomic<uint32_t> g_CleanTimeout;

// Written by start-up and shutdown, read by entry points that may run meanwhile; null when not connected.
extern std::atomic<TarnHandle> g_TarnCluster;

// One timeout attribute of the type "Tollan": its name, its value, its change callback and its
// registration, in the order online, offline, monitor, clean.
struct CTollanTimeoutAttr {
    const char* name;
    std::atomic<uint32_t>* seconds;
    TarnObjCallback callback;
    TarnRegHandle* registration;
};

constexpr int TollanTimeoutCount = 4;
extern const CTollanTimeoutAttr g_TollanTimeouts[TollanTimeoutCount];

// The 32-bit integer an integer attribute holds; false when the attribute or a link of it is null.
bool TollanGetAttrInteger(const TarnAttr* attr, int32_t* value);
// Takes the attribute's value as the timeout; a value of zero or less keeps the one in force, traced.
void TollanStoreTimeout(const CTollanTimeoutAttr& timeout, const TarnAttr* attr);

extern "C" {
// The module's one export, called by the framework once after loading it.
void TarnAgStartup();
void TollanShutdown();
}
