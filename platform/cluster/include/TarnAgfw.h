#pragma once
// Interface of the cluster engine's agent framework (tarnagfw.dll) as an agent sees it.
// 8-bit strings are char; wide strings are UTF-16 wchar_t.

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// The argument list the framework hands to an entry point: one 8-bit value per argument, in the
// resource type's argument order (a list argument as its count followed by its items).
typedef struct TarnAgArgs {
    uint32_t count;
    const char* const* values;
} TarnAgArgs;

typedef uint32_t (*TarnAgOnlineFn)(const char* resource, TarnAgArgs* args);
typedef uint32_t (*TarnAgOfflineFn)(const char* resource, TarnAgArgs* args);
typedef uint32_t (*TarnAgMonitorFn)(const char* resource, TarnAgArgs* args, void* reserved);
typedef uint32_t (*TarnAgCleanFn)(const char* resource, uint32_t reason, TarnAgArgs* args);
typedef void (*TarnAgShutdownFn)(void);
typedef void (*TarnAgUnusedFn)(void);

// Ten pointer-sized slots; the unused ones stay null.
typedef struct TarnAgEPTable {
    TarnAgUnusedFn reserved0;
    TarnAgUnusedFn reserved1;
    TarnAgUnusedFn reserved2;
    TarnAgMonitorFn monitor;
    TarnAgOnlineFn online;
    TarnAgOfflineFn offline;
    TarnAgUnusedFn reserved6;
    TarnAgUnusedFn reserved7;
    TarnAgCleanFn clean;
    TarnAgShutdownFn shutdown;
} TarnAgEPTable;

enum { TARNAG_EP_VERSION = 1, TARNAG_TO_WIDE = 1 };

// Severities of the message log.
enum {
    TARNAG_SEV_FAILURE = 1,
    TARNAG_SEV_WARNING = 2,
    TARNAG_SEV_NOTICE = 3,
    TARNAG_SEV_SUCCESS = 4,
};

// Error codes of the framework's own failures (injected failures carry the code they were given).
enum {
    TARNAG_E_INVALID_ARG = 0x3001,
};

// The agent's symbol the framework calls once after loading it.
typedef void (*TarnAgStartupFn)(void);

int32_t TarnAgRegisterEPStruct(uint32_t version, const TarnAgEPTable* table);
int32_t TarnAgSetLogCategory(uint32_t category);

// format follows Microsoft wide-printf rules (%s wide, %S 8-bit).
int32_t TarnAgLogMsg2(uint32_t severity, const char* function, const char* source, uint32_t line, uint32_t msgId,
                      uint32_t flags, const wchar_t* format, ...);
int32_t TarnAgLogConsoleMsg2(uint32_t severity, const char* function, const char* source, uint32_t line, uint32_t msgId,
                             uint32_t flags, const wchar_t* format, ...);
// text is written as it stands, never read as a format.
int32_t TarnAgResLogMsg2(uint32_t tag, const char* function, const char* source, uint32_t line, uint32_t flags,
                         const wchar_t* text);

// size counts the terminator; *length receives the wide length. Release *wide with TarnAgDeleteMem.
int32_t TarnAgEncodeString(uint32_t flags, const char* text, uint32_t size, uint32_t direction, wchar_t** wide,
                           uint32_t* length);
// *list: one wide string per value, then a null entry that ends the list. Release with TarnAgDelEncodedArgList.
int32_t TarnAgGetEncodedArgList(uint32_t flags, const TarnAgArgs* args, uint32_t direction, wchar_t*** list);
void TarnAgDeleteMem(void* mem);
void TarnAgDelEncodedArgList(wchar_t** list);

// A copy of the value stored under name, or null; the caller releases it with free.
wchar_t* TarnAgGetCookie(const char* name);
// The framework keeps value (a malloc'd buffer) and frees it with free when it is replaced.
int32_t TarnAgSetCookie(const char* name, wchar_t* value);

#ifdef __cplusplus
}
#endif
