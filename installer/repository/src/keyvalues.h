#pragma once
// One value of a key, read and written the way every typed view does it: a missing text reads as empty,
// a missing number as the view's default (each read starts from it, so no earlier read leaks in), a flag
// is true exactly when its number is 1; setters ignore the node's result and return 0.

#include <new>
#include <string>

#include "repositorykey.h"

namespace keyValues {

std::wstring text(const RepositoryKey& key, const wchar_t* name);
int32_t number(const RepositoryKey& key, const wchar_t* name, int32_t missing = 0);
bool flag(const RepositoryKey& key, const wchar_t* name);
// A text equal to "Yes", ignoring case.
bool isYes(const RepositoryKey& key, const wchar_t* name);

uint32_t setText(RepositoryKey& key, const wchar_t* name, const std::wstring& text);
uint32_t setNumber(RepositoryKey& key, const wchar_t* name, int32_t number);
uint32_t setFlag(RepositoryKey& key, const wchar_t* name, bool on);

// The result of body, or KITO_NO_MEMORY when an allocation on its way failed.
template <class Body>
uint32_t orNoMemory(Body body)
{
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return KITO_NO_MEMORY;
    }
}

// A name that stands for one key: not empty and without a backslash, so that it cannot walk a path.
bool isOneName(const std::wstring& name);
// The child of parent with that one name; null for a null parent or a name that is not one name.
RepositoryKey* childNamed(const RepositoryKey* parent, const std::wstring& name);
// Sets "Selected" on key and on each of components, all or none: KITO_NO_MEMORY, with every flag as it
// was, when memory runs out.
uint32_t setSelectedWith(RepositoryKey& key, const RepositoryKey::KeyList& components, bool selected);

// The children of the key at path below key; empty when it is missing.
RepositoryKey::KeyList childrenAt(const RepositoryKey& key, const wchar_t* path);
// The keys of the repository root's "Components" that the values of key's "Components" child name, in
// the order of the value names; empty without a root.
RepositoryKey::KeyList listedComponents(const RepositoryKey& key);

} // namespace keyValues
