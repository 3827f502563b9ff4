#include "logger.h"

#include <windows.h>

#include <cwchar>
#include <memory>
#include <new>

#include "kitoresult.h"
#include "registryhelper.h"

Logger g_logger;

namespace {

const size_t kMessageBufferChars = 1024;
const size_t kLocationBufferChars = 1024;
const size_t kHeapStepChars = 10240;
const unsigned kLastHeapStep = 10;
const size_t kRegistryBufferChars = 2048;
const uint32_t kDefaultLevel = 5;
const uint32_t kLevelCount = 10;
const wchar_t kConfigKey[] = L"SOFTWARE\\Osmark\\Kito";
const wchar_t kBannerRule[] = L"///////////////////////////////////////////////////////\n";

const wchar_t* const kSeverityNames[] = {L"CRITICAL", L"ERROR", L"WARNING", L"NOTICE", L"INFO"};
const wchar_t* const kDebugLevelNames[] = {L"DBG_1", L"DBG_2", L"DBG_3", L"DBG_4", L"DBG_5",
                                           L"DBG_6", L"DBG_7", L"DBG_8", L"DBG_9", L"DBG_10"};

// True when the whole text and its terminator fit; the va_list stays usable for another try.
bool formatInto(wchar_t* buffer, size_t capacity, const wchar_t* format, va_list args)
{
    va_list copy;
    va_copy(copy, args);
    int count = _vsnwprintf(buffer, capacity, format, copy);
    va_end(copy);
    return count >= 0 && static_cast<size_t>(count) < capacity;
}

// Common messages need no heap; longer ones get growing heap buffers up to 102400 characters.
uint32_t appendMessage(std::wstring& out, const wchar_t* format, va_list args)
{
    wchar_t buffer[kMessageBufferChars];
    if (formatInto(buffer, kMessageBufferChars, format, args)) {
        out += buffer;
        return 0;
    }
    for (unsigned step = 2; step <= kLastHeapStep; ++step) {
        size_t capacity = step * kHeapStepChars;
        std::unique_ptr<wchar_t[]> heap(new (std::nothrow) wchar_t[capacity]);
        if (!heap) {
            break;
        }
        if (formatInto(heap.get(), capacity, format, args)) {
            out += heap.get();
            return 0;
        }
    }
    return ERROR_NOT_ENOUGH_MEMORY;
}

// Bounded formatting on the stack; what does not fit is cut.
template <size_t Capacity>
void appendFormatted(std::wstring& out, const wchar_t* format, ...)
{
    wchar_t buffer[Capacity];
    va_list args;
    va_start(args, format);
    _vsnwprintf(buffer, Capacity, format, args);
    va_end(args);
    buffer[Capacity - 1] = L'\0';
    out += buffer;
}

std::wstring messageIdText(int32_t catalogue, int32_t messageId)
{
    std::wstring text;
    appendFormatted<64>(text, L"%s-%d-%d ", L"Q-16", catalogue, messageId);
    return text;
}

const wchar_t* baseName(const wchar_t* path)
{
    if (!path) {
        return L"";
    }
    const wchar_t* slash = wcsrchr(path, L'\\');
    return slash ? slash + 1 : path;
}

const wchar_t* nameAt(const wchar_t* const* names, uint32_t count, uint32_t index)
{
    return index < count ? names[index] : L"";
}

// A string value of the log configuration key; the full access read comes first, as the installer does.
bool readConfigText(const wchar_t* valueName, std::wstring& text)
{
    const REGSAM accesses[] = {KEY_ALL_ACCESS, KEY_READ};
    for (REGSAM access : accesses) {
        wchar_t buffer[kRegistryBufferChars] = {};
        RegistryHelper registry;
        if (registry.Reg_ReadStringItem(HKEY_LOCAL_MACHINE, kConfigKey, valueName, buffer, kRegistryBufferChars, access)
            == 0) {
            buffer[kRegistryBufferChars - 1] = L'\0';
            text = buffer;
            return true;
        }
    }
    return false;
}

} // namespace

const wchar_t* severityName(uint32_t index)
{
    return nameAt(kSeverityNames, sizeof(kSeverityNames) / sizeof(kSeverityNames[0]), index);
}

const wchar_t* debugLevelName(uint32_t index)
{
    return nameAt(kDebugLevelNames, sizeof(kDebugLevelNames) / sizeof(kDebugLevelNames[0]), index);
}

Logger::Logger() : m_catalogue(0), m_level(kDefaultLevel), m_isOpen(0) {}

Logger::~Logger()
{
    close();
}

uint32_t Logger::init(const wchar_t* fileName, int32_t catalogue, const wchar_t* directory, uint32_t level)
{
    // A second init starts a new file; the old one is closed, not leaked.
    close();
    m_fileName = fileName ? fileName : L"";
    m_catalogue = catalogue;
    m_directory = directory ? std::wstring(directory) : readLogPath();
    if (m_fileName.empty() || m_directory.empty()) {
        return 0;
    }
    if (m_directory.back() != L'\\') {
        m_directory += L'\\';
    }
    m_level = level != 0 ? level : readLogLevel();
    if (m_level == 0 || m_level >= kLevelCount) {
        m_level = kDefaultLevel;
    }
    uint32_t result = open();
    if (result == 0) {
        m_isOpen = 1;
    }
    return result;
}

uint32_t Logger::readLogLevel()
{
    std::wstring text;
    if (!readConfigText(L"LOG_LEVEL", text)) {
        return 0;
    }
    wprintf(L"loglevel from registry = %s", text.c_str());
    return static_cast<uint32_t>(_wtoi(text.c_str())) - 1;
}

std::wstring Logger::readLogPath()
{
    std::wstring text;
    if (!readConfigText(L"LOG_PATH", text)) {
        return std::wstring();
    }
    wprintf(L"logPath from registry = %s", text.c_str());
    return text;
}

uint32_t Logger::open()
{
    std::wstring path = m_directory + m_fileName;
    m_stream.reset(_wfopen(path.c_str(), L"a+b"));
    if (!m_stream) {
        return E_KITO_LOGOPEN;
    }
    std::wstring banner = kBannerRule;
    banner += m_component;
    banner += L" Logging starting at :";
    getTimeStamp(banner);
    banner += L'\n';
    banner += kBannerRule;
    banner += L'\n';
    writeLine(m_stream.get(), banner);
    return 0;
}

void Logger::close()
{
    m_stream.reset();
    m_isOpen = 0;
}

void Logger::getTimeStamp(std::wstring& out)
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    appendFormatted<64>(out, L"%d/%02d/%02d %02d:%02d:%02d ", now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute,
                        now.wSecond);
}

uint32_t Logger::formatLine(std::wstring& out, const LineRequest& request, const wchar_t* format, va_list args)
{
    const uint32_t flags = request.flags;
    if (!(flags & LOG_NO_BRACKETS)) {
        out += L'[';
    }
    if (!(flags & LOG_NO_TIME)) {
        getTimeStamp(out);
    }
    if (!(flags & LOG_NO_PRODUCT)) {
        out += L"Kito ";
    }
    if (!(flags & LOG_NO_COMPONENT) && !m_component.empty()) {
        out += m_component;
        out += L' ';
    }
    if (!(flags & LOG_NO_LEVEL)) {
        out += request.namer(request.index);
        out += L' ';
    }
    if (!(flags & LOG_NO_MESSAGE_ID)) {
        out += messageIdText(m_catalogue, request.messageId);
    }
    if (!(flags & LOG_NO_LOCATION) && request.function) {
        appendFormatted<kLocationBufferChars>(out, L"%s:%s:%.4d", baseName(request.sourceFile), request.function,
                                              request.line);
    }
    if (!(flags & LOG_NO_BRACKETS)) {
        out += L"] ";
    }
    uint32_t result = appendMessage(out, format, args);
    if (result != 0) {
        return result;
    }
    if (!(flags & LOG_NO_NEWLINE)) {
        out += L"\r\n";
    }
    return 0;
}

uint32_t Logger::writeLine(FILE* stream, const std::wstring& text)
{
    if (!stream) {
        return E_KITO_INVALIDARG;
    }
    fputws(text.c_str(), stream);
    fflush(stream);
    return 0;
}

void Logger::writeRequested(const wchar_t* filePath, const LineRequest& request, const wchar_t* format, va_list args)
{
    // A line that cannot be formatted, for want of memory as well, is dropped: logging never changes
    // what its caller does.
    std::wstring line;
    try {
        if (formatLine(line, request, format, args) != 0) {
            return;
        }
    } catch (const std::bad_alloc&) {
        return;
    }
    if (!filePath) {
        writeLine(m_stream.get(), line);
        return;
    }
    StreamOwner file(_wfopen(filePath, L"a+b"));
    if (file) {
        writeLine(file.get(), line);
    }
}

// Lines need an open log, a format, and for debug lines a level within the configured one.
void Logger::writeIfOpen(const wchar_t* filePath, const LineRequest& request, const wchar_t* format, va_list args)
{
    bool aboveLevel = request.namer == debugLevelName && request.index > m_level;
    if (m_isOpen && format && !aboveLevel) {
        writeRequested(filePath, request, format, args);
    }
}

void Logger::log(uint32_t severity, const wchar_t* function, const wchar_t* sourceFile, int line, uint32_t flags,
                 int32_t messageId, const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    writeIfOpen(nullptr, {severityName, severity, function, sourceFile, line, flags, messageId}, format, args);
    va_end(args);
}

void Logger::logToFile(const wchar_t* filePath, uint32_t severity, const wchar_t* function, const wchar_t* sourceFile,
                       int line, uint32_t flags, int32_t messageId, const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    writeIfOpen(filePath, {severityName, severity, function, sourceFile, line, flags, messageId}, format, args);
    va_end(args);
}

void Logger::logDebug(uint32_t level, const wchar_t* function, const wchar_t* sourceFile, int line, uint32_t flags,
                      int32_t messageId, const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    writeIfOpen(nullptr, {debugLevelName, level, function, sourceFile, line, flags, messageId}, format, args);
    va_end(args);
}

void Logger::logDebugToFile(const wchar_t* filePath, uint32_t level, const wchar_t* function, const wchar_t* sourceFile,
                            int line, uint32_t flags, int32_t messageId, const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    writeIfOpen(filePath, {debugLevelName, level, function, sourceFile, line, flags, messageId}, format, args);
    va_end(args);
}

void Logger::logPlain(const wchar_t* filePath, const wchar_t* format, ...)
{
    if (!filePath || !format) {
        return;
    }
    const uint32_t allButNewline = 0xFF & ~LOG_NO_NEWLINE;
    va_list args;
    va_start(args, format);
    writeRequested(filePath, {severityName, 0, nullptr, nullptr, 0, allButNewline, 0}, format, args);
    va_end(args);
}

uint32_t Logger::formatParts(std::wstring& message, std::wstring& product, std::wstring& levelName,
                             std::wstring& messageIdPart, uint32_t severity, int32_t messageId, const wchar_t* format,
                             va_list args)
{
    product = L"Kito";
    levelName = severityName(severity);
    messageIdPart = messageIdText(m_catalogue, messageId);
    wchar_t buffer[kMessageBufferChars];
    if (format && formatInto(buffer, kMessageBufferChars, format, args)) {
        message = buffer;
    }
    return 0;
}

ScopeTracer::ScopeTracer(const wchar_t* name, Logger* logger) : m_logger(logger)
{
    // Tracing never ends the traced function: without memory for the name it traces an empty one.
    try {
        m_name = name ? name : L"";
    } catch (const std::bad_alloc&) {
    }
    if (m_logger) {
        m_logger->logDebug(LOG_DBG_10, m_name.c_str(), KITO_SOURCE_FILE, __LINE__, LOG_NO_COMPONENT, 0,
                           L">> Entering %s", m_name.c_str());
    }
}

ScopeTracer::~ScopeTracer()
{
    if (m_logger) {
        m_logger->logDebug(LOG_DBG_10, m_name.c_str(), KITO_SOURCE_FILE, __LINE__, LOG_NO_COMPONENT, 0,
                           L"<< Exiting %s", m_name.c_str());
    }
}
