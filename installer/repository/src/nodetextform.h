#pragma once
// The node text form of a key tree: each key an element "<_name_ ...>" whose values are attributes
// _name_="text", children nested inside, TAB indentation and CRLF line ends, no escaping. Files hold
// the text as UTF-16LE without a byte-order mark.

#include <cstddef>
#include <cstdint>
#include <string>

class Logger;
class RepositoryKey;

// Elements nested deeper than this end a parse, so a corrupt file cannot exhaust the stack or memory.
constexpr size_t MaxNodeTextDepth = 1000;

// The empty text for a null key or when memory runs out.
std::wstring writeKey(const RepositoryKey* key, int depth);
std::wstring writeKey(const RepositoryKey* key);
// The root key, or null when no element name is found or memory runs out. Malformed or truncated text
// yields what was read up to the fault.
RepositoryKey* parseText(const std::wstring& text);
// Parses one element from position on and leaves position after what it consumed.
RepositoryKey* parseKey(const std::wstring& text, size_t& position);

// An empty directory is the program's own. 0, E_KITO_INVALIDARG for a null key, or E_KITO_FAILED
// when the file cannot be written whole.
uint32_t saveKeyToFile(const RepositoryKey* key, const std::wstring& fileName, const std::wstring& directory);
// Null when the file cannot be opened or read.
RepositoryKey* loadKeyFromFile(const std::wstring& fileName, const std::wstring& directory);
// Saves the node text form of a tree through the logger into a new file named after the key and a fresh
// UUID, and hands its path back. E_KITO_INVALIDARG for a null key or a name that is no part of a file
// name, E_KITO_FAILED when no UUID can be made.
uint32_t saveKeyToUniqueFile(Logger& logger, const RepositoryKey* key, std::wstring& outPath,
                             const std::wstring& directory);
