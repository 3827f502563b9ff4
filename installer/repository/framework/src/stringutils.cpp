#include "stringutils.h"

#include <windows.h>
#include <tlhelp32.h>

#include <cstdlib>
#include <cstring>
#include <cwctype>
#include <memory>
#include <new>

#include "logger.h"
#include "owners.h"

namespace {

// Latin-1 letters fold by 0x20 like ASCII, except the two signs in the middle of their ranges.
constexpr wchar_t MultiplySign = 0xD7;
constexpr wchar_t DivideSign = 0xF7;
// splitList's answer for a text without items.
constexpr uint32_t EmptyList = 12;

HMODULE g_messageModule = nullptr;

std::wstring localText(const LocalOwner<wchar_t>& text, DWORD length)
{
    return text ? std::wstring(text.get(), length) : std::wstring();
}

std::wstring trimmed(const std::wstring& text, size_t begin, size_t end)
{
    while (begin < end && iswspace(text[begin])) {
        ++begin;
    }
    while (end > begin && iswspace(text[end - 1])) {
        --end;
    }
    return text.substr(begin, end - begin);
}

void logKeys(const std::vector<std::wstring>& items)
{
    KITO_LOG_DEBUG_NAMED(LOG_DBG_1, L"splitList", L"Number of keys: %d\n", static_cast<int>(items.size()));
    for (size_t i = 0; i < items.size(); ++i) {
        KITO_LOG_DEBUG_NAMED(LOG_DBG_1, L"splitList", L"Key%d: %s\n", static_cast<int>(i), items[i].c_str());
    }
}

} // namespace

wchar_t foldCase(wchar_t c)
{
    if ((c >= L'A' && c <= L'Z') || (c >= 0xC0 && c <= 0xDE && c != MultiplySign))
        return static_cast<wchar_t>(c + 0x20);
    return c;
}

wchar_t upperCase(wchar_t c)
{
    if ((c >= L'a' && c <= L'z') || (c >= 0xE0 && c <= 0xFE && c != DivideSign))
        return static_cast<wchar_t>(c - 0x20);
    return c;
}

bool equalsNoCase(const wchar_t* a, size_t aLength, const wchar_t* b, size_t bLength)
{
    if (aLength != bLength)
        return false;
    for (size_t i = 0; i < aLength; ++i) {
        if (a[i] != b[i] && foldCase(a[i]) != foldCase(b[i]))
            return false;
    }
    return true;
}

bool equalsNoCase(const std::wstring& a, const std::wstring& b)
{
    return equalsNoCase(a.data(), a.size(), b.data(), b.size());
}

std::wstring foldText(const std::wstring& text)
{
    std::wstring folded(text);
    for (wchar_t& c : folded)
        c = foldCase(c);
    return folded;
}

bool equalsText(const std::wstring& a, const std::wstring& b, int ignoreCase)
{
    return ignoreCase ? equalsNoCase(a, b) : a == b;
}

void splitText(const std::wstring& text, const std::wstring& separator, std::vector<std::wstring>& pieces)
{
    if (separator.empty())
        return;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(separator, start);
        if (end == std::wstring::npos)
            end = text.size();
        pieces.push_back(text.substr(start, end - start));
        start = end + separator.size();
    }
}

uint32_t splitList(const std::wstring& text, std::vector<std::wstring>& items)
{
    // Each comma opens one more round on the rest of the text; every round that had text reports the
    // whole list at the end, as the nested form of this split always did.
    size_t begin = 0;
    size_t end = text.size();
    size_t rounds = 0;
    uint32_t result = 0;
    for (;;) {
        if (begin >= end) {
            KITO_LOG_DEBUG_NAMED(LOG_DBG_1, L"splitList", L"Key is empty.");
            result = rounds == 0 ? EmptyList : 0;
            break;
        }
        std::wstring part = text.substr(begin, end - begin);
        KITO_LOG_DEBUG_NAMED(LOG_DBG_1, L"splitList", L"Parsing key = %s.\n", part.c_str());
        if (text[begin] == L'"') {
            ++begin;
        }
        if (begin < end && text[end - 1] == L'"') {
            --end;
        }
        part = text.substr(begin, end - begin);
        KITO_LOG_DEBUG_NAMED(LOG_DBG_1, L"splitList", L"Parsing key = %s.\n", part.c_str());
        if (begin >= end) {
            // A lone double quote: nothing is left to split.
            result = rounds == 0 ? EmptyList : 0;
            break;
        }
        ++rounds;
        size_t comma = text.find(L',', begin);
        if (comma == std::wstring::npos || comma >= end) {
            KITO_LOG_DEBUG_NAMED(LOG_DBG_1, L"splitList", L"No separator found, Only one key.\n");
            KITO_LOG_DEBUG_NAMED(LOG_DBG_1, L"splitList", L"key:\n");
            items.push_back(trimmed(text, begin, end));
            break;
        }
        items.push_back(trimmed(text, begin, comma));
        begin = comma + 1;
    }
    for (size_t round = 0; round < rounds; ++round) {
        logKeys(items);
    }
    return result;
}

std::wstring repeatChar(int count, wchar_t c)
{
    return count > 0 ? std::wstring(static_cast<size_t>(count), c) : std::wstring();
}

std::wstring toUpper(const std::wstring& text)
{
    std::wstring upper(text);
    for (wchar_t& c : upper)
        c = upperCase(c);
    return upper;
}

std::wstring toWide(const char* text)
{
    if (!text)
        return std::wstring();
    size_t length = std::strlen(text);
    std::wstring wide(length, L'\0');
    size_t converted = std::mbstowcs(&wide[0], text, length);
    if (converted == static_cast<size_t>(-1))
        return std::wstring();
    wide.resize(converted);
    return wide;
}

char* toNarrow(const std::wstring& text)
{
    // Sized by the locale itself: a character may take more than one byte, and one the code page
    // cannot hold fails the whole conversion instead of cutting the text.
    const size_t size = std::wcstombs(nullptr, text.c_str(), 0);
    if (size == static_cast<size_t>(-1))
        return nullptr;
    std::unique_ptr<char[]> narrow(new (std::nothrow) char[size + 1]());
    if (narrow && std::wcstombs(narrow.get(), text.c_str(), size + 1) != size)
        return nullptr;
    return narrow.release();
}

int indexOfText(const std::vector<std::wstring>& list, const std::wstring& text, int ignoreCase)
{
    for (size_t i = 0; i < list.size(); ++i) {
        if (equalsText(list[i], text, ignoreCase))
            return static_cast<int>(i);
    }
    return -1;
}

std::wstring getModuleDirectory()
{
    // Grows past MAX_PATH so that a long install path is never cut into a wrong directory.
    std::wstring path;
    for (DWORD size = MAX_PATH; size <= 32768; size *= 2) {
        path.assign(size, L'\0');
        DWORD length = GetModuleFileNameW(nullptr, &path[0], size);
        if (length < size) {
            path.resize(length);
            break;
        }
        path.clear();
    }
    size_t slash = path.rfind(L'\\');
    return slash == std::wstring::npos ? path : path.substr(0, slash);
}

std::wstring getEnvVarValue(const std::wstring& name)
{
    // The process environment is read under its own lock, and sees what _wputenv sets as well.
    std::wstring value(256, L'\0');
    for (;;) {
        DWORD length = GetEnvironmentVariableW(name.c_str(), &value[0], static_cast<DWORD>(value.size()));
        if (length == 0)
            return std::wstring();
        if (length < value.size()) {
            value.resize(length);
            return value;
        }
        value.assign(length, L'\0');
    }
}

bool isProcessRunning(const std::wstring& exeName)
{
    HandleOwner snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot)
        return false;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    bool found = false;
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more && !found;
         more = Process32NextW(snapshot.get(), &entry))
        found = equalsNoCase(exeName, entry.szExeFile);
    return found;
}

bool isWow64()
{
    typedef BOOL(WINAPI * IsWow64ProcessFn)(HANDLE, PBOOL);
    HMODULE kernel = GetModuleHandleW(L"kernel32");
    IsWow64ProcessFn probe = kernel
        ? reinterpret_cast<IsWow64ProcessFn>(reinterpret_cast<void*>(GetProcAddress(kernel, "IsWow64Process")))
        : nullptr;
    BOOL wow64 = FALSE;
    if (!probe || !probe(GetCurrentProcess(), &wow64)) {
        return false;
    }
    return wow64 != FALSE;
}

std::wstring getSystemErrorText(uint32_t code)
{
    LocalOwner<wchar_t> text;
    DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS
                                      | FORMAT_MESSAGE_ALLOCATE_BUFFER,
                                  nullptr, code, LANG_USER_DEFAULT, reinterpret_cast<wchar_t*>(text.put()), 0, nullptr);
    return localText(text, length);
}

uint32_t loadMessageModule(const std::wstring& fileName, const std::wstring& directory)
{
    if (g_messageModule)
        return 0;
    std::wstring path = directory.empty() ? getModuleDirectory() : directory;
    if (path.empty() || path.back() != L'\\')
        path += L'\\';
    path += fileName;
    g_messageModule = LoadLibraryW(path.c_str());
    return g_messageModule ? 0 : GetLastError();
}

std::wstring formatMessageText(uint32_t code, const uintptr_t* inserts)
{
    if (!g_messageModule)
        return std::wstring();
    DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ALLOCATE_BUFFER;
    flags |= inserts ? FORMAT_MESSAGE_ARGUMENT_ARRAY : FORMAT_MESSAGE_IGNORE_INSERTS;
    LocalOwner<wchar_t> text;
    DWORD length = FormatMessageW(flags, g_messageModule, code, LANG_USER_DEFAULT,
                                  reinterpret_cast<wchar_t*>(text.put()), 0,
                                  reinterpret_cast<va_list*>(const_cast<uintptr_t*>(inserts)));
    return localText(text, length);
}
