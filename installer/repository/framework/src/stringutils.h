#pragma once
// Wide-string helpers, process environment and message texts shared by the installer code.

#include <cstdint>
#include <string>
#include <vector>

// Case folding for every case-insensitive comparison of the installer code: fixed and independent of
// the C locale, so that a lookup never depends on the process's settings. Folds ASCII and Latin-1.
wchar_t foldCase(wchar_t c);
wchar_t upperCase(wchar_t c);
bool equalsNoCase(const wchar_t* a, size_t aLength, const wchar_t* b, size_t bLength);
bool equalsNoCase(const std::wstring& a, const std::wstring& b);
std::wstring foldText(const std::wstring& text);

// ignoreCase 0 compares exactly, any other value through foldCase.
bool equalsText(const std::wstring& a, const std::wstring& b, int ignoreCase);
// Appends the pieces between separators: empty pieces stay, a trailing separator adds none.
void splitText(const std::wstring& text, const std::wstring& separator, std::vector<std::wstring>& pieces);
// Splits a comma list into trimmed items; 12 for an empty text.
uint32_t splitList(const std::wstring& text, std::vector<std::wstring>& items);
std::wstring repeatChar(int count, wchar_t c);
std::wstring toUpper(const std::wstring& text);
// Current-locale conversions. toNarrow returns a terminated buffer the caller frees with delete[],
// or null when it cannot be allocated or the locale's code page cannot hold the text.
std::wstring toWide(const char* text);
char* toNarrow(const std::wstring& text);
int indexOfText(const std::vector<std::wstring>& list, const std::wstring& text, int ignoreCase);

// Directory of the process's executable (not of this library), without the trailing backslash.
std::wstring getModuleDirectory();
std::wstring getEnvVarValue(const std::wstring& name);
bool isProcessRunning(const std::wstring& exeName);
// True when this process is a 32-bit process on 64-bit Windows.
bool isWow64();

std::wstring getSystemErrorText(uint32_t code);
// Loads the message module once per process; 0 or the Windows error code.
uint32_t loadMessageModule(const std::wstring& fileName, const std::wstring& directory);
// inserts: an array of insert arguments as FormatMessage takes them, or null for a text without
// inserts (its %n sequences are then kept as they are).
std::wstring formatMessageText(uint32_t code, const uintptr_t* inserts);

inline uintptr_t messageInsert(const wchar_t* text)
{
    return reinterpret_cast<uintptr_t>(text);
}
inline uintptr_t messageInsert(const std::wstring& text)
{
    return reinterpret_cast<uintptr_t>(text.c_str());
}
inline uintptr_t messageInsert(int32_t number)
{
    return static_cast<uintptr_t>(number);
}
inline uintptr_t messageInsert(uint32_t number)
{
    return static_cast<uintptr_t>(number);
}

template <class... Inserts>
std::wstring formatMessage(uint32_t code, const Inserts&... inserts)
{
    if constexpr (sizeof...(inserts) == 0) {
        return formatMessageText(code, nullptr);
    } else {
        const uintptr_t args[] = {messageInsert(inserts)...};
        return formatMessageText(code, args);
    }
}

template <class... Inserts>
std::wstring getErrorMessage(uint32_t code, const Inserts&... inserts)
{
    return formatMessage(code, inserts...);
}
