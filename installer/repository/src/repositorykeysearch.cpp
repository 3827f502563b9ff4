// The searches of a key: children and attached keys chosen by their names or values.

#include "repositorykey.h"

#include <algorithm>
#include <iterator>

#include "stringutils.h"

template <class Match>
RepositoryKey::KeyList RepositoryKey::selectChildren(Match match) const
{
    KeyList found;
    std::copy_if(children.begin(), children.end(), std::back_inserter(found), match);
    return found;
}

template <class Match>
RepositoryKey::KeyList RepositoryKey::selectAttached(Match match) const
{
    KeyList found;
    std::copy_if(attached.begin(), attached.end(), std::back_inserter(found), match);
    return found;
}

RepositoryKey::KeyList RepositoryKey::findSubKeysByIntValue(const std::wstring& name, int32_t kind,
                                                            int32_t target) const
{
    return selectChildren([&](const RepositoryKey* child) {
        int32_t value = 0;
        return child->getIntValue(name, value) == 0 && compareByKind(value, kind, target);
    });
}

RepositoryKey::KeyList RepositoryKey::findSubKeysByStringValue(const std::wstring& name, int32_t kind,
                                                               const std::wstring& target) const
{
    return selectChildren([&](const RepositoryKey* child) {
        std::wstring value;
        if (child->getStringValue(name, value) != 0)
            return false;
        int order = value.compare(target);
        return compareByKind(order < 0 ? -1 : (order > 0 ? 1 : 0), kind, 0);
    });
}

RepositoryKey::KeyList RepositoryKey::findAttachedKeysByName(const std::wstring& name) const
{
    return selectAttached([&](const RepositoryKey* key) { return equalsNoCase(key->keyName, name); });
}

RepositoryKey::KeyList RepositoryKey::findAttachedKeysByIntValue(const std::wstring& name, int32_t target) const
{
    return selectAttached([&](const RepositoryKey* key) {
        int32_t value = 0;
        return key->getIntValue(name, value) == 0 && value == target;
    });
}

RepositoryKey::KeyList RepositoryKey::findAttachedKeysByStringValue(const std::wstring& name,
                                                                    const std::wstring& target) const
{
    return selectAttached([&](const RepositoryKey* key) {
        std::wstring value;
        return key->getStringValue(name, value) == 0 && equalsNoCase(value, target);
    });
}

RepositoryKey::KeyList RepositoryKey::findSubKeysWithAttachedName(const std::wstring& name) const
{
    return selectChildren([&](const RepositoryKey* child) { return !child->findAttachedKeysByName(name).empty(); });
}

RepositoryKey::KeyList RepositoryKey::findSubKeysWithAttachedIntValue(const std::wstring& name, int32_t target) const
{
    return selectChildren(
        [&](const RepositoryKey* child) { return !child->findAttachedKeysByIntValue(name, target).empty(); });
}

RepositoryKey::KeyList RepositoryKey::findSubKeysWithAttachedStringValue(const std::wstring& name,
                                                                         const std::wstring& target) const
{
    return selectChildren(
        [&](const RepositoryKey* child) { return !child->findAttachedKeysByStringValue(name, target).empty(); });
}
