#pragma once
// The agent's log sinks: trace lines into the framework's resource log, dumps into its message log.

#include <cstdint>

#include "LibLogger.h"
#include "TarnAgfw.h"

// A sink into the framework's per-resource log.
class CTarnAgLogSink : public QLibLogSink {
public:
    CTarnAgLogSink(uint32_t dumpTag, uint32_t immediateTag);

    void SetTags(uint32_t dumpTag, uint32_t immediateTag);
    void WriteNow(const char* file, uint32_t line, const char* function, const wchar_t* message) override;
    void WriteRecord(const char* file, uint32_t line, const char* function, const wchar_t* message) override;

private:
    uint32_t m_DumpTag = 0;
    uint32_t m_ImmediateTag = 0;
};

// The agent's own sink: trace lines at once to the resource log, dumped records to the message log.
class CTollanLogSink : public CTarnAgLogSink {
public:
    CTollanLogSink();

    void WriteRecord(const char* file, uint32_t line, const char* function, const wchar_t* message) override;
};

extern CTollanLogSink g_TollanLogSink;

// A framework message under the caller's function and source names. Format and inserts stay apart, so
// that a % in a value is never read as a conversion.
#define TOLLAN_MSG(severity, function, source, id, ...)                                                                \
    TarnAgLogMsg2(severity, function, source, __LINE__, id, 0, __VA_ARGS__)

// A trace line and a framework message of the same text.
#define TOLLAN_TRACE_MSG(severity, function, source, id, ...)                                                          \
    do {                                                                                                               \
        QLIB_TRACE(function, __VA_ARGS__);                                                                             \
        TOLLAN_MSG(severity, function, source, id, __VA_ARGS__);                                                       \
    } while (0)

// The trace of a failure named by text, and a failure message of that text.
#define TOLLAN_FAILED_MSG(function, source, id, text, status)                                                          \
    do {                                                                                                               \
        QLIB_TRACE_FAILED(function, text, status);                                                                     \
        TOLLAN_MSG(TARNAG_SEV_FAILURE, function, source, id, L"%s", text);                                             \
    } while (0)
