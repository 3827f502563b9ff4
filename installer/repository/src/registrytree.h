#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

class RegistryHelper;
class RepositoryKey;

// Copies an open registry key and everything below it into a new key tree: REG_DWORD values as
// integers, REG_SZ values as text, sub-keys in the registry's order; other value types are left out.
// A sub-key that cannot be opened or enumerated stays in the tree as an empty key of its name, and
// *complete (when given) turns false, so that no caller mistakes a partial tree for the whole one.
// The handle stays open and the caller's; access opens every sub-key. Null when the root key cannot
// be allocated.
RepositoryKey* loadKeyFromRegistry(HKEY key, const std::wstring& name, REGSAM access, bool* complete = nullptr);

// Writes the tree below root\subKey (created when missing), or below root when subKey is null or empty,
// on the helper's machine. Values become REG_SZ; 0, E_KITO_INVALIDARG for a null tree, or the first
// failure's code.
uint32_t createKeyFromTree(RegistryHelper& registry, HKEY root, const wchar_t* subKey, const RepositoryKey* tree,
                           REGSAM access);
// Writes key and everything below it as a registry key of its name below parent.
uint32_t writeTree(RegistryHelper& registry, HKEY parent, const RepositoryKey* key, REGSAM access);
