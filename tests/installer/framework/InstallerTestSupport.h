#pragma once

// Scratch folders, raw file contents and a private HKEY_LOCAL_MACHINE for the installer's tests.

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>

namespace installertest {

// A fresh folder below the temporary folder, removed with everything in it.
class ScratchDir {
public:
    ScratchDir()
    {
        wchar_t temp[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, temp);
        static unsigned counter = 0;
        // Ids come back: a name some earlier process left behind is passed over.
        do {
            m_path = std::wstring(temp) + L"kitotest-" + std::to_wstring(GetCurrentProcessId()) + L"-"
                + std::to_wstring(++counter);
        } while (!CreateDirectoryW(m_path.c_str(), nullptr) && GetLastError() == ERROR_ALREADY_EXISTS);
    }
    ~ScratchDir()
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    // Without a trailing backslash.
    const std::wstring& path() const { return m_path; }
    std::wstring file(const std::wstring& name) const { return m_path + L"\\" + name; }

private:
    std::wstring m_path;
};

inline std::string readBytes(const std::wstring& path)
{
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The file's UTF-16LE code units as they are, without any decoding of line ends.
inline std::wstring readUtf16(const std::wstring& path)
{
    std::string bytes = readBytes(path);
    std::wstring text;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        text += static_cast<wchar_t>(static_cast<unsigned char>(bytes[i])
                                     | (static_cast<unsigned char>(bytes[i + 1]) << 8));
    }
    return text;
}

// Every local time stamp "y/mm/dd hh:mm:ss " becomes "<TS> ".
inline std::wstring maskTimeStamps(const std::wstring& text)
{
    static const std::wregex stamp(L"\\d{4}/\\d{2}/\\d{2} \\d{2}:\\d{2}:\\d{2} ");
    return std::regex_replace(text, stamp, L"<TS> ");
}

// Redirects this process's HKEY_LOCAL_MACHINE into a key of its own, so that tests running
// side by side in one Wine prefix never see each other's installer settings.
class PrivateLocalMachine {
public:
    PrivateLocalMachine() : m_path(L"Software\\KitoTest\\" + std::to_wstring(GetCurrentProcessId())), m_key(nullptr)
    {
        RegCreateKeyExW(HKEY_CURRENT_USER, m_path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &m_key, nullptr);
        RegOverridePredefKey(HKEY_LOCAL_MACHINE, m_key);
    }
    ~PrivateLocalMachine()
    {
        RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
        RegCloseKey(m_key);
        RegDeleteTreeW(HKEY_CURRENT_USER, m_path.c_str());
    }
    PrivateLocalMachine(const PrivateLocalMachine&) = delete;
    PrivateLocalMachine& operator=(const PrivateLocalMachine&) = delete;

    static LONG setString(const wchar_t* subKey, const wchar_t* name, const std::wstring& text, DWORD type = REG_SZ)
    {
        return setValue(subKey, name, type, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    }
    static LONG setDword(const wchar_t* subKey, const wchar_t* name, DWORD number)
    {
        return setValue(subKey, name, REG_DWORD, &number, sizeof(number));
    }
    static LONG setValue(const wchar_t* subKey, const wchar_t* name, DWORD type, const void* data, DWORD size)
    {
        HKEY key = nullptr;
        LONG result = RegCreateKeyExW(HKEY_LOCAL_MACHINE, subKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                                      nullptr);
        if (result != ERROR_SUCCESS) {
            return result;
        }
        result = RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size);
        RegCloseKey(key);
        return result;
    }

private:
    std::wstring m_path;
    HKEY m_key;
};

} // namespace installertest
