// The administrator's password: the configured value is deciphered only, never enciphered here.

#include <cstring>

#include "LibLogger.h"
#include "TollanAttrib.h"

namespace {

// Wipes a buffer that held the clear password when it goes out of scope, on every path.
class WipeOnExit {
public:
    WipeOnExit(void* buffer, size_t bytes) : m_Buffer(buffer), m_Bytes(bytes) {}
    ~WipeOnExit() { SecureZeroMemory(m_Buffer, m_Bytes); }
    WipeOnExit(const WipeOnExit&) = delete;
    WipeOnExit& operator=(const WipeOnExit&) = delete;

private:
    void* m_Buffer;
    size_t m_Bytes;
};

// The configured value in the code page, terminated, into the byte buffer: false when it has no form
// there or does not fit.
bool ToPasswordBytes(const std::wstring& value, char* bytes, size_t size)
{
    bytes[0] = '\0';
    if (value.size() >= size - 1)
        return false;
    if (value.empty())
        return true;
    BOOL defaulted = FALSE;
    int length = static_cast<int>(value.size());
    int needed = WideCharToMultiByte(CP_ACP, 0, value.c_str(), length, nullptr, 0, nullptr, &defaulted);
    if (needed <= 0 || defaulted || static_cast<size_t>(needed) >= size)
        return false;
    if (WideCharToMultiByte(CP_ACP, 0, value.c_str(), length, bytes, needed, nullptr, &defaulted) != needed
        || defaulted)
        return false;
    bytes[needed] = '\0';
    return true;
}

} // namespace

CTollanPassword::CTollanPassword() : m_Text(1, L'\0') {}

CTollanPassword::CTollanPassword(const wchar_t* text, size_t length)
{
    // Reserved at once, so that no growth leaves an unwiped copy behind.
    m_Text.reserve(length + 1);
    m_Text.assign(text, text + length);
    m_Text.push_back(L'\0');
}

CTollanPassword::~CTollanPassword()
{
    SecureZeroMemory(m_Text.data(), m_Text.size() * sizeof(wchar_t));
}

char SwapCaseChar(char c)
{
    if (c >= 'A' && c <= 'Z')
        return static_cast<char>(c - 'A' + 'a');
    if (c >= 'a' && c <= 'z')
        return static_cast<char>(c - 'a' + 'A');
    return c;
}

size_t CopyBounded(char* destination, const char* source, size_t size)
{
    size_t length = strlen(source);
    if (size != 0) {
        size_t copied = length < size - 1 ? length : size - 1;
        memcpy(destination, source, copied);
        destination[copied] = '\0';
    }
    return length;
}

int32_t CTollanAttrib::_Decrypt(char* text) const
{
    size_t length = strnlen(text, PasswordBufferSize);
    // One base character, then whole pairs.
    if (length <= 2 || length >= PasswordBufferSize || (length - 1) % 2 != 0)
        return -2;
    for (size_t i = 1; i < length; ++i)
        if (i % 3 != 0)
            text[i] = SwapCaseChar(text[i]);
    const int32_t base = static_cast<signed char>(SwapCaseChar(text[0]));

    char clear[PasswordBufferSize];
    WipeOnExit wipe(clear, sizeof(clear));
    size_t count = 0;
    for (size_t i = 1; i < length; i += 2) {
        const int32_t p = static_cast<signed char>(text[i]);
        const int32_t q = static_cast<signed char>(text[i + 1]);
        // Unsigned, so that a negative difference is never shifted; the low 8 bits are the same.
        const uint32_t c = ((static_cast<uint32_t>(p - base) << 3) | static_cast<uint32_t>(q - base)) & 0xFFu;
        if (c < 33 || c > 126)
            return -2;
        clear[count++] = static_cast<char>(c);
    }
    clear[count] = '\0';
    CopyBounded(text, clear, PasswordBufferSize);
    return 0;
}

CTollanPassword CTollanAttrib::GetSAPAdminPassword() const
{
    const char* function = "CTollanAttrib::GetSAPAdminPassword";
    char text[PasswordBufferSize];
    wchar_t clear[PasswordBufferSize];
    WipeOnExit wipeText(text, sizeof(text));
    WipeOnExit wipeClear(clear, sizeof(clear));

    int32_t result = ToPasswordBytes(m_SAPAdminPassword, text, sizeof(text)) ? _Decrypt(text) : -2;
    if (result == 0) {
        int chars = MultiByteToWideChar(CP_ACP, 0, text, -1, clear, static_cast<int>(PasswordBufferSize));
        if (chars > 0)
            return CTollanPassword(clear, static_cast<size_t>(chars - 1));
        result = 1;
    }
    if (result == -1)
        QLIB_TRACE(function, L"Inavlid usage of the decryption algorithm.");
    else if (result == -2)
        QLIB_TRACE(function, L"Inavlid password.");
    else
        QLIB_TRACE(function, L"Problem in decrypting the password.");
    return CTollanPassword();
}
