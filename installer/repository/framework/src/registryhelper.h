#pragma once
// The installer's one way into the Windows registry, local or of a named machine. Every operation
// returns a framework result code instead of a Windows error.

#include <windows.h>

#include <cstdint>
#include <string>

#include "owners.h"

// Kinds of registry path that GetRegKeyPath builds.
enum RegKeyPathKind {
    REG_PATH_KITO = 0,
    REG_PATH_UNINSTALL = 1,
};

// Writes the installer's registry path into a new buffer of MAX_PATH characters that the caller
// frees with free(); 87 without an out pointer, 8 without memory, 122 when the path does not fit.
uint32_t GetRegKeyPath(const wchar_t* subPath, wchar_t** path, int viewFlag, int is32Bit, int pathKind);
uint32_t getRegAccessMask(bool is32Bit, REGSAM* mask);

class RegistryHelper {
public:
    // Remove the whole key tree rather than an empty key only.
    static constexpr uint32_t RemoveTree = 2;

    RegistryHelper();
    ~RegistryHelper();

    // host and domain may be null: "\\host.domain", or empty for the local machine.
    void setMachine(const wchar_t* host, const wchar_t* domain);
    const std::wstring& getMachine() const { return machineName; }
    // HKEY_LOCAL_MACHINE and HKEY_USERS of a named machine are connected; the caller closes such a
    // handle (it differs from root). Every other root is passed through.
    uint32_t getRootKey(HKEY root, HKEY* out);

    // The caller closes the opened key. windowsError, when given, receives the open's own result (0 on
    // success), so a caller can tell a key that is absent from one that exists but cannot be opened.
    uint32_t Reg_OpenKey(HKEY* out, HKEY root, const std::wstring& subKey, REGSAM access, LONG* windowsError = nullptr);
    uint32_t Reg_KeyExists(HKEY root, const std::wstring& subKey, REGSAM access, LONG* windowsError = nullptr);
    uint32_t valueExists(HKEY root, const std::wstring& subKey, const std::wstring& valueName, REGSAM access);
    // Reads a REG_SZ or REG_EXPAND_SZ value (unexpanded) into buffer of capacity wide characters and
    // terminates it; data that does not fit is refused with E_KITO_REGQUERY.
    uint32_t Reg_ReadStringItem(HKEY root, const std::wstring& subKey, const std::wstring& valueName, wchar_t* buffer,
                                size_t capacity, REGSAM access);
    // Stores the text without its terminating zero.
    uint32_t Reg_WriteStringItem(HKEY root, DWORD type, const std::wstring& subKey, const std::wstring& valueName,
                                 const std::wstring& text, REGSAM access);
    // Deletes root\subKey\keyName: with RemoveTree in flags everything below it, otherwise only a key
    // without sub-keys.
    uint32_t Reg_RemoveRegKey(HKEY root, const std::wstring& subKey, const std::wstring& keyName, REGSAM access,
                              uint32_t flags);
    uint32_t Reg_RemoveValue(HKEY root, const std::wstring& subKey, const std::wstring& valueName);

    // A root resolved for the helper's machine (getRootKey); closes a connected remote root when it goes.
    class Root {
    public:
        Root(RegistryHelper& helper, HKEY root);

        // Declared first: the status initialiser fills it in.
        HKEY handle = nullptr;
        const uint32_t status;

    private:
        KeyOwner remote;
    };

private:
    std::wstring machineName;
};
