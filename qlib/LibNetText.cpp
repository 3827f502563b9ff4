// Hardware and IPv4 address texts of the network object, and the code-page conversions in front of them.

#include "LibNet.h"

#include <cstdio>
#include <cstring>

namespace {

// Both directions: measure, then convert into a zero-filled buffer of that size.
template <typename Out, typename Convert>
DWORD ConvertInto(Out** out, Convert convert)
{
    *out = nullptr;
    int count = convert(nullptr, 0);
    if (count <= 0)
        return GetLastError();
    QLibLocalOwner<Out> buffer(static_cast<Out*>(LocalAlloc(LPTR, count * sizeof(Out))));
    if (!buffer)
        return ERROR_NOT_ENOUGH_MEMORY;
    if (convert(buffer.get(), count) != count)
        return GetLastError();
    *out = buffer.release();
    return 0;
}

// The 8-bit copy of a wide text; empty when there is none.
QLibLocalOwner<char> AnsiCopy(const wchar_t* wide)
{
    char* text = nullptr;
    if (wide != nullptr)
        (void)ConvertToAnsi(&text, wide);
    return QLibLocalOwner<char>(text);
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

int HexValue(char c)
{
    if (IsDigit(c))
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

constexpr size_t MacTextChars = 17;
constexpr size_t LongestAddressText = QLibNet::AddressChars - 1;

QLibStatus MalformedText()
{
    return QLibFailure(QLIB_ERR_NETWORK, ERROR_INVALID_PARAMETER);
}

} // namespace

DWORD ConvertToWide(wchar_t** wide, const char* text)
{
    if (text == nullptr) {
        *wide = nullptr;
        return ERROR_INVALID_PARAMETER;
    }
    return ConvertInto(wide, [text](wchar_t* buffer, int count) {
        return MultiByteToWideChar(CP_ACP, 0, text, -1, buffer, count);
    });
}

DWORD ConvertToAnsi(char** text, const wchar_t* wide)
{
    if (wide == nullptr) {
        *text = nullptr;
        return ERROR_INVALID_PARAMETER;
    }
    return ConvertInto(text, [wide](char* buffer, int count) {
        return WideCharToMultiByte(CP_ACP, 0, wide, -1, buffer, count, nullptr, nullptr);
    });
}

QLibStatus QLibNet::ConvertMacAddress(BYTE* mac, const char* text)
{
    if (text == nullptr || strnlen(text, MacTextChars + 1) != MacTextChars)
        return MalformedText();
    for (size_t i = 0; i < MacTextChars; ++i) {
        bool separator = i % 3 == 2;
        if (separator ? text[i] != ':' && text[i] != '-' : HexValue(text[i]) < 0)
            return MalformedText();
    }
    for (size_t i = 0; i < MacLength; ++i)
        mac[i] = static_cast<BYTE>(HexValue(text[3 * i]) << 4 | HexValue(text[3 * i + 1]));
    return QLibOk();
}

QLibStatus QLibNet::ConvertMacAddress(BYTE* mac, const wchar_t* text)
{
    QLibLocalOwner<char> ansi = AnsiCopy(text);
    // A text that cannot be converted leaves the status unset, which callers read as failed.
    if (!ansi)
        return QLibStatus();
    return ConvertMacAddress(mac, ansi.get());
}

bool QLibNet::IsValidIPFormat(const char* text)
{
    if (text == nullptr)
        return false;
    size_t length = strnlen(text, LongestAddressText + 1);
    if (length < 7 || length > LongestAddressText)
        return false;
    int dots = 0;
    int digits = 0;
    for (size_t i = 0; i < length; ++i) {
        if (text[i] == '.') {
            if (digits == 0)
                return false;
            ++dots;
            digits = 0;
        } else if (!IsDigit(text[i]) || ++digits > 3) {
            return false;
        }
    }
    return dots == 3 && digits > 0;
}

bool QLibNet::IsValidIPFormat(const wchar_t* text)
{
    QLibLocalOwner<char> ansi = AnsiCopy(text);
    return ansi && IsValidIPFormat(ansi.get());
}

bool QLibNet::NormalizeIPFormat(const char* text, std::string& normalized)
{
    if (!IsValidIPFormat(text))
        return false;
    normalized.clear();
    for (const char* group = text;; ++group) {
        const char* end = group;
        while (IsDigit(*end))
            ++end;
        // A group of zeros keeps its last one.
        while (group + 1 < end && *group == '0')
            ++group;
        normalized.append(group, end);
        if (*end == '\0')
            return true;
        normalized += '.';
        group = end;
    }
}

bool QLibNet::ConvertIPAddress(const char* text, uint32_t* address)
{
    // Read as decimal whatever the leading zeros: the octal reading would name another host.
    if (!IsValidIPFormat(text))
        return false;
    BYTE bytes[4];
    const char* digit = text;
    for (BYTE& byte : bytes) {
        unsigned value = 0;
        for (; IsDigit(*digit); ++digit)
            value = value * 10 + static_cast<unsigned>(*digit - '0');
        if (value > 255)
            return false;
        byte = static_cast<BYTE>(value);
        ++digit;
    }
    memcpy(address, bytes, sizeof bytes);
    return true;
}

bool QLibNet::ConvertIPAddress(const wchar_t* text, uint32_t* address)
{
    QLibLocalOwner<char> ansi = AnsiCopy(text);
    uint32_t value = 0;
    if (!ansi || !ConvertIPAddress(ansi.get(), &value) || value == INADDR_NONE)
        return false;
    *address = value;
    return true;
}

QLibStatus QLibNet::ConvertIPAddress(const uint32_t* address, wchar_t* text)
{
    if (address == nullptr || text == nullptr)
        return QLibNetNotFound();
    BYTE bytes[4];
    memcpy(bytes, address, sizeof bytes);
    _snwprintf(text, AddressChars, L"%u.%u.%u.%u", static_cast<unsigned>(bytes[0]), static_cast<unsigned>(bytes[1]),
               static_cast<unsigned>(bytes[2]), static_cast<unsigned>(bytes[3]));
    return QLibOk();
}

const IP_ADDR_STRING* QLibNet::FindAddressEntry(const IP_ADDR_STRING* entry, uint32_t address, const uint32_t* mask)
{
    for (; entry != nullptr; entry = entry->Next) {
        uint32_t value = 0;
        uint32_t entryMask = 0;
        if (!ConvertIPAddress(entry->IpAddress.String, &value) || value != address)
            continue;
        if (mask == nullptr || (ConvertIPAddress(entry->IpMask.String, &entryMask) && entryMask == *mask))
            return entry;
    }
    return nullptr;
}
