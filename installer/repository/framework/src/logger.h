#pragma once

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <string>

#include "owners.h"

// Debug-level indexes: the name of each level carries the index plus one.
enum : uint32_t {
    LOG_DBG_1 = 0,
    LOG_DBG_6 = 5,
    LOG_DBG_10 = 9,
};

// Severity indexes of Logger::log.
enum : uint32_t {
    LOG_CRITICAL = 0,
    LOG_ERROR = 1,
    LOG_WARNING = 2,
    LOG_NOTICE = 3,
    LOG_INFO = 4,
};

// Bits that drop parts of a log line.
enum : uint32_t {
    LOG_NO_TIME = 0x01,
    LOG_NO_LEVEL = 0x02,
    LOG_NO_MESSAGE_ID = 0x04,
    LOG_NO_COMPONENT = 0x08,
    LOG_NO_PRODUCT = 0x10,
    LOG_NO_NEWLINE = 0x20,
    LOG_NO_BRACKETS = 0x40,
    LOG_NO_LOCATION = 0x80,
};

// Source file name of the calling file, for the location part of a line.
#define KITO_SOURCE_FILE L"" __FILE_NAME__

// A debug line of the library's own code: no component, message id 0, the calling function's name.
#define KITO_LOG_DEBUG_NAMED(level, functionName, ...)                                                                 \
    g_logger.logDebug((level), (functionName), KITO_SOURCE_FILE, __LINE__, LOG_NO_COMPONENT, 0, __VA_ARGS__)
// The same, named by the caller's scope tracer.
#define KITO_LOG_DEBUG(level, tracer, ...) KITO_LOG_DEBUG_NAMED((level), (tracer).name().c_str(), __VA_ARGS__)

const wchar_t* severityName(uint32_t index);
const wchar_t* debugLevelName(uint32_t index);

// The removal library's diagnostic log file: UTF-16LE lines, each flushed as it is written.
class Logger {
public:
    Logger();
    virtual ~Logger();
    Logger(const Logger&) = delete;
    Logger& operator=(const Logger&) = delete;

    // A level of 0 takes the level from the registry; a null directory takes the registry's log path.
    uint32_t init(const wchar_t* fileName, int32_t catalogue, const wchar_t* directory, uint32_t level);

    virtual void log(uint32_t severity, const wchar_t* function, const wchar_t* sourceFile, int line, uint32_t flags,
                     int32_t messageId, const wchar_t* format, ...);
    virtual void logToFile(const wchar_t* filePath, uint32_t severity, const wchar_t* function,
                           const wchar_t* sourceFile, int line, uint32_t flags, int32_t messageId,
                           const wchar_t* format, ...);
    virtual void logDebug(uint32_t level, const wchar_t* function, const wchar_t* sourceFile, int line, uint32_t flags,
                          int32_t messageId, const wchar_t* format, ...);
    virtual void logDebugToFile(const wchar_t* filePath, uint32_t level, const wchar_t* function,
                                const wchar_t* sourceFile, int line, uint32_t flags, int32_t messageId,
                                const wchar_t* format, ...);
    virtual void logPlain(const wchar_t* filePath, const wchar_t* format, ...);

    uint32_t formatParts(std::wstring& message, std::wstring& product, std::wstring& levelName,
                         std::wstring& messageIdPart, uint32_t severity, int32_t messageId, const wchar_t* format,
                         va_list args);

private:
    typedef const wchar_t* (*LevelNamer)(uint32_t);
    struct LineRequest {
        LevelNamer namer;
        uint32_t index;
        const wchar_t* function;
        const wchar_t* sourceFile;
        int line;
        uint32_t flags;
        int32_t messageId;
    };

    uint32_t readLogLevel();
    std::wstring readLogPath();
    uint32_t open();
    void close();
    uint32_t formatLine(std::wstring& out, const LineRequest& request, const wchar_t* format, va_list args);
    void getTimeStamp(std::wstring& out);
    static uint32_t writeLine(FILE* stream, const std::wstring& text);
    void writeIfOpen(const wchar_t* filePath, const LineRequest& request, const wchar_t* format, va_list args);
    void writeRequested(const wchar_t* filePath, const LineRequest& request, const wchar_t* format, va_list args);

    std::wstring m_component;
    std::wstring m_fileName;
    std::wstring m_directory;
    StreamOwner m_stream;
    int32_t m_catalogue;
    uint32_t m_level;
    uint32_t m_isOpen;
};

// Logs entry and exit of the scope it lives in, at the finest debug level.
class ScopeTracer {
public:
    ScopeTracer(const wchar_t* name, Logger* logger);
    ~ScopeTracer();
    ScopeTracer(const ScopeTracer&) = delete;
    ScopeTracer& operator=(const ScopeTracer&) = delete;

    std::wstring getName() const { return m_name; }
    // Empty when there was no memory to keep the name.
    const std::wstring& name() const { return m_name; }

private:
    std::wstring m_name;
    Logger* m_logger;
};

extern Logger g_logger;
