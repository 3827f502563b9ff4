#pragma once
// Building and reading small repository trees in the typed views' tests.

#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "repositorykey.h"

using Names = std::vector<std::wstring>;
using Values = std::initializer_list<std::pair<const wchar_t*, const wchar_t*>>;

// The key at path below parent, created when missing, with these text values set.
inline RepositoryKey* put(RepositoryKey* parent, const wchar_t* path, Values values = {})
{
    RepositoryKey* key = parent->createSubKey(path);
    for (const auto& value : values)
        key->setStringValue(value.first, value.second);
    return key;
}

inline Names namesOf(const RepositoryKey::KeyList& keys)
{
    Names names;
    for (const RepositoryKey* key : keys)
        names.push_back(key->getName());
    return names;
}
