#pragma once
// The agent's log sinks: trace lines into the framework's resource log, dumps into its message log.

#include <cstdint>

#include "LibLogger.h"

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
