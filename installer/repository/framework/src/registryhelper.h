#pragma once
// The installer's one way into the Windows registry, local or of a named machine. Every operation
// returns a framework result code instead of a Windows error.

#include <windows.h>

#include <cstdint>
#include <string>

#include "owners.h"

class RepositoryKey;

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
    // Writes the tree below root\subKey, or below root when subKey is null or empty. Values become REG_SZ.
    uint32_t createKeyFromTree(HKEY root, const wchar_t* subKey, const RepositoryKey* tree, REGSAM access);
    uint32_t writeTree(HKEY parent, const RepositoryKey* key, REGSAM access);
    // Deletes root\subKey\keyName: with RemoveTree in flags everything below it, otherwise only a key
    // without sub-keys.
    uint32_t Reg_RemoveRegKey(HKEY root, const std::wstring& subKey, const std::wstring& keyName, REGSAM access,
                              uint32_t flags);
    uint32_t Reg_RemoveValue(HKEY root, const std::wstring& subKey, const std::wstring& valueName);

private:
    class Root;
    uint32_t createNode(HKEY parent, const RepositoryKey* key, REGSAM access, KeyOwner* created);

    std::wstring machineName;
};
