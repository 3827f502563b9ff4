// The agent-facing calls of the framework stand-in.

#include <cstdarg>
#include <cstdlib>
#include <cwchar>

#include "AgfwRuntime.h"

namespace {

int32_t LogFormatted(uint32_t log, uint32_t severity, const char* function, const char* source, uint32_t line,
                     uint32_t msgId, const wchar_t* format, va_list args)
{
    wchar_t text[4096];
    if (format == nullptr)
        text[0] = L'\0';
    else
        _vsnwprintf(text, 4095, format, args);
    text[4095] = L'\0';
    TarnAg().AddLog(log, severity, function, source, line, msgId, text);
    return 0;
}

constexpr int64_t EmptyAnswer = -1;
constexpr int64_t NullAnswer = -2;

// The code of a failure injected into this call: 0 for none, else an error code or one of the answers above.
int64_t Injected(const char* call, const std::string& object)
{
    std::lock_guard<std::mutex> guard(TarnAg().lock);
    auto failure = TarnAg().description.TakeFailure(call, object);
    if (!failure)
        return 0;
    if (failure->null)
        return NullAnswer;
    return failure->code == 0 ? EmptyAnswer : int64_t{failure->code};
}

wchar_t* Widen(const char* text, size_t length)
{
    int chars = length == 0 ? 0 : MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(length), nullptr, 0);
    auto* wide = static_cast<wchar_t*>(malloc((chars + 1) * sizeof(wchar_t)));
    if (wide == nullptr)
        return nullptr;
    if (chars > 0)
        MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(length), wide, chars);
    wide[chars] = L'\0';
    return wide;
}

void Track(const void* object)
{
    std::lock_guard<std::mutex> guard(TarnAg().lock);
    TarnAg().handedOut.insert(object);
}

// False for an address the framework never handed out (or took back before).
bool Untrack(const void* object)
{
    std::lock_guard<std::mutex> guard(TarnAg().lock);
    return TarnAg().handedOut.erase(object) == 1;
}

} // namespace

extern "C" {

int32_t TarnAgRegisterEPStruct(uint32_t, const TarnAgEPTable* table)
{
    if (table == nullptr)
        return TARNAG_E_INVALID_ARG;
    std::lock_guard<std::mutex> guard(TarnAg().lock);
    TarnAg().table = *table;
    TarnAg().registered = true;
    return 0;
}

int32_t TarnAgSetLogCategory(uint32_t category)
{
    std::lock_guard<std::mutex> guard(TarnAg().lock);
    TarnAg().category = category;
    return 0;
}

int32_t TarnAgLogMsg2(uint32_t severity, const char* function, const char* source, uint32_t line, uint32_t msgId,
                      uint32_t, const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    int32_t result = LogFormatted(TARNAG_LOG_MESSAGE, severity, function, source, line, msgId, format, args);
    va_end(args);
    return result;
}

int32_t TarnAgLogConsoleMsg2(uint32_t severity, const char* function, const char* source, uint32_t line, uint32_t msgId,
                             uint32_t, const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    int32_t result = LogFormatted(TARNAG_LOG_CONSOLE, severity, function, source, line, msgId, format, args);
    va_end(args);
    return result;
}

int32_t TarnAgResLogMsg2(uint32_t tag, const char* function, const char* source, uint32_t line, uint32_t,
                         const wchar_t* text)
{
    TarnAg().AddLog(TARNAG_LOG_RESOURCE, tag, function, source, line, 0, text);
    return 0;
}

int32_t TarnAgEncodeString(uint32_t, const char* text, uint32_t size, uint32_t direction, wchar_t** wide,
                           uint32_t* length)
{
    if (wide != nullptr)
        *wide = nullptr;
    if (text == nullptr || size == 0 || direction != TARNAG_TO_WIDE || wide == nullptr)
        return TARNAG_E_INVALID_ARG;
    int64_t injected = Injected("TarnAgEncodeString", text);
    if (injected > 0 || injected == NullAnswer)
        return injected > 0 ? static_cast<int32_t>(injected) : 0;
    // size counts the terminator; the string may end sooner.
    size_t chars = injected < 0 ? 0 : strnlen(text, size - 1);
    *wide = Widen(text, chars);
    if (*wide == nullptr)
        return TARNAG_E_INVALID_ARG;
    if (length != nullptr)
        *length = static_cast<uint32_t>(wcslen(*wide));
    Track(*wide);
    return 0;
}

int32_t TarnAgGetEncodedArgList(uint32_t, const TarnAgArgs* args, uint32_t direction, wchar_t*** list)
{
    if (list != nullptr)
        *list = nullptr;
    if (args == nullptr || list == nullptr || direction != TARNAG_TO_WIDE
        || (args->count > 0 && args->values == nullptr))
        return TARNAG_E_INVALID_ARG;
    int64_t injected = Injected("TarnAgGetEncodedArgList", args->count > 0 && args->values[0] ? args->values[0] : "-");
    if (injected > 0 || injected == NullAnswer)
        return injected > 0 ? static_cast<int32_t>(injected) : 0;
    uint32_t count = injected < 0 ? 0 : args->count;
    auto** wide = static_cast<wchar_t**>(calloc(count + 1, sizeof(wchar_t*)));
    if (wide == nullptr)
        return TARNAG_E_INVALID_ARG;
    for (uint32_t i = 0; i < count; ++i) {
        const char* value = args->values[i] == nullptr ? "" : args->values[i];
        wide[i] = Widen(value, strlen(value));
        if (wide[i] == nullptr) {
            TarnAgDelEncodedArgList(wide);
            return TARNAG_E_INVALID_ARG;
        }
    }
    *list = wide;
    Track(wide);
    return 0;
}

void TarnAgDeleteMem(void* mem)
{
    if (mem != nullptr && Untrack(mem))
        free(mem);
}

void TarnAgDelEncodedArgList(wchar_t** list)
{
    if (list == nullptr || !Untrack(list))
        return;
    for (wchar_t** entry = list; *entry != nullptr; ++entry)
        free(*entry);
    free(list);
}

wchar_t* TarnAgGetCookie(const char* name)
{
    if (name == nullptr)
        return nullptr;
    std::lock_guard<std::mutex> guard(TarnAg().lock);
    auto it = TarnAg().cookies.find(name);
    return it == TarnAg().cookies.end() ? nullptr : _wcsdup(it->second);
}

int32_t TarnAgSetCookie(const char* name, wchar_t* value)
{
    if (name == nullptr || value == nullptr)
        return TARNAG_E_INVALID_ARG;
    std::lock_guard<std::mutex> guard(TarnAg().lock);
    wchar_t*& kept = TarnAg().cookies[name];
    if (kept != value)
        free(kept);
    kept = value;
    return 0;
}

} // extern "C"
