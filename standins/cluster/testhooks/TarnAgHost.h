#pragma once
// Exports of the agent framework stand-in for whatever plays the framework's host: the host program
// and tests. They load an agent, call its entry points on framework threads, and read back what the
// agent wrote to the framework's logs.

#include "TarnAgfw.h"

#ifdef __cplusplus
extern "C" {
#endif

enum {
    TARNAG_OP_ONLINE = 1,
    TARNAG_OP_OFFLINE = 2,
    TARNAG_OP_MONITOR = 3,
    TARNAG_OP_CLEAN = 4,
};

enum {
    TARNAG_E_NO_AGENT = 0x3002, // the DLL did not load
    TARNAG_E_NO_STARTUP = 0x3003, // it has no TarnAgStartup
    TARNAG_E_NOT_STARTED = 0x3004, // no agent started, or it registered no table
    TARNAG_E_NO_ENTRY = 0x3005, // the table has no entry point for the operation
    TARNAG_E_NO_RESOURCE = 0x3006, // the resource or its type is not in the cluster description
    TARNAG_E_DESCRIPTION = 0x3007, // the cluster description cannot be read
    TARNAG_E_THREAD = 0x3008, // no framework thread could be started
};

enum {
    TARNAG_LOG_MESSAGE = 1, // TarnAgLogMsg2
    TARNAG_LOG_CONSOLE = 2, // TarnAgLogConsoleMsg2
    TARNAG_LOG_RESOURCE = 3, // TarnAgResLogMsg2
};

// One line the agent wrote to a framework log; text is formatted (message and console logs) and
// cut to fit, always terminated.
typedef struct TarnAgLogEntry {
    uint32_t log;
    uint32_t severity; // message and console logs
    uint32_t tag; // resource log
    uint32_t line;
    uint32_t msgId;
    uint32_t threadId;
    char function[256];
    char source[256];
    wchar_t text[4096];
} TarnAgLogEntry;

// Reads the cluster description (TARN_CLUSTER_DESC, when set), loads the agent DLL and calls its
// TarnAgStartup on the framework's control thread. 0 or a TARNAG_E_ code.
int32_t TarnAgHostStart(const wchar_t* agentPath);
// The table the agent registered, or null.
const TarnAgEPTable* TarnAgHostTable(void);
// Calls the operation's entry point for a described resource on a new framework thread, with the
// argument list built from the description, and waits for it. *result receives its return value.
int32_t TarnAgHostCall(uint32_t op, const char* resource, uint32_t* result);
// The same with an argument list given value by value.
int32_t TarnAgHostCallWith(uint32_t op, const char* resource, const char* const* values, uint32_t count,
                           uint32_t* result);
// Calls the shutdown entry point on the control thread (the thread that ran start-up).
int32_t TarnAgHostShutdown(void);
// Unloads the agent and ends the control thread; cookies and logs stay.
void TarnAgHostStop(void);

uint32_t TarnAgHostLogCategory(void);
uint32_t TarnAgHostLogCount(void);
// 0, or TARNAG_E_INVALID_ARG for an index past the end.
int32_t TarnAgHostLogEntry(uint32_t index, TarnAgLogEntry* entry);
void TarnAgHostLogClear(void);
// Forgets every cookie, as a framework started afresh would have none.
void TarnAgHostCookiesClear(void);
// Encoded strings and argument lists handed to the agent and not yet released.
uint32_t TarnAgHostUnreleased(void);

#ifdef __cplusplus
}
#endif
