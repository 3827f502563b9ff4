#pragma once
// A sink that keeps what the queue writes through it, for tests to read back.

#include <mutex>
#include <string>
#include <vector>

#include "LibLogger.h"

struct RecordingSink : QLibLogSink {
    struct Line {
        std::string file;
        uint32_t line;
        std::string function;
        std::wstring message;
    };

    void WriteNow(const char* file, uint32_t line, const char* function, const wchar_t* message) override
    {
        std::lock_guard<std::mutex> guard(mutex);
        now.push_back({file, line, function, message});
    }
    void WriteRecord(const char* file, uint32_t line, const char* function, const wchar_t* message) override
    {
        std::lock_guard<std::mutex> guard(mutex);
        records.push_back({file, line, function, message});
    }

    std::mutex mutex;
    std::vector<Line> now;
    std::vector<Line> records;
};
