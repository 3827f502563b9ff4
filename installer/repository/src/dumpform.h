#pragma once

#include <cstdint>
#include <string>

class RepositoryKey;

// The dump form: a tree that describes a tagged document, the element name in each key's "TAG",
// its text content in a child's "VAL". Keys without a tag give no text.
std::wstring writeDumpKey(const RepositoryKey* key, int depth);
std::wstring writeDumpKey(const RepositoryKey* key);
// directory + backslash + file name; an empty directory is the program's own.
std::wstring pathInDirectory(const std::wstring& directory, const std::wstring& fileName);
// UTF-16LE with a byte-order mark; an empty directory is the program's own. 0 or E_KITO_FAILED.
uint32_t saveDumpToFile(const RepositoryKey* key, const std::wstring& fileName, const std::wstring& directory);
