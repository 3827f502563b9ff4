// The values of a key: named texts, integers kept as decimal text. Lookups match a name ignoring case;
// setValueExactly, and the integer setter through it, store the name exactly as given.

#include "repositorykey.h"

#include <algorithm>
#include <cwchar>
#include <new>

#include "stringutils.h"

namespace {

template <class Map>
auto firstMatch(Map& map, const std::wstring& name)
{
    if (name.empty())
        return map.end();
    return std::find_if(map.begin(), map.end(), [&name](const auto& entry) { return equalsNoCase(entry.first, name); });
}

} // namespace

bool compareByKind(int32_t a, int32_t kind, int32_t b)
{
    switch (kind) {
    case CompareEqual:
        return a == b;
    case CompareNotEqual:
        return a != b;
    case CompareGreater:
        return a > b;
    case CompareGreaterOrEqual:
        return a >= b;
    case CompareLess:
        return a < b;
    case CompareLessOrEqual:
        return a <= b;
    default:
        return false;
    }
}

uint32_t RepositoryKey::setStringValue(const std::wstring& name, const std::wstring& text)
{
    if (name.empty())
        return E_KITO_INVALIDARG;
    try {
        auto it = firstMatch(valueMap, name);
        if (it != valueMap.end())
            it->second = text;
        else
            valueMap.emplace(name, text);
    } catch (const std::bad_alloc&) {
        return KITO_NO_MEMORY;
    }
    return 0;
}

uint32_t RepositoryKey::setIntValue(const std::wstring& name, int32_t number)
{
    try {
        return setValueExactly(name, std::to_wstring(number));
    } catch (const std::bad_alloc&) {
        return KITO_NO_MEMORY;
    }
}

uint32_t RepositoryKey::getStringValue(const std::wstring& name, std::wstring& text) const
{
    auto it = findValue(name);
    if (it == valueMap.end())
        return E_KITO_INVALIDARG;
    text = it->second;
    return 0;
}

uint32_t RepositoryKey::getIntValue(const std::wstring& name, int32_t& number) const
{
    auto it = findValue(name);
    if (it == valueMap.end())
        return E_KITO_INVALIDARG;
    number = static_cast<int32_t>(std::wcstol(it->second.c_str(), nullptr, 10));
    return 0;
}

uint32_t RepositoryKey::addValue(const std::wstring& name)
{
    return setValueExactly(name, std::wstring());
}

uint32_t RepositoryKey::setValueExactly(const std::wstring& name, const std::wstring& text)
{
    if (name.empty())
        return E_KITO_INVALIDARG;
    try {
        valueMap.insert_or_assign(name, text);
    } catch (const std::bad_alloc&) {
        return KITO_NO_MEMORY;
    }
    return 0;
}

uint32_t RepositoryKey::removeValue(const std::wstring& name)
{
    if (name.empty())
        return E_KITO_INVALIDARG;
    auto it = firstMatch(valueMap, name);
    if (it == valueMap.end())
        return KITO_NO_SUCH_VALUE;
    valueMap.erase(it);
    return 0;
}

bool RepositoryKey::hasValue(const std::wstring& name) const
{
    return findValue(name) != valueMap.end();
}

uint32_t RepositoryKey::setValues(const ValueMap& values)
{
    try {
        for (const auto& value : values)
            valueMap.insert_or_assign(value.first, value.second);
    } catch (const std::bad_alloc&) {
        return KITO_NO_MEMORY;
    }
    return 0;
}

std::vector<std::wstring> RepositoryKey::getValueNames() const
{
    std::vector<std::wstring> names;
    names.reserve(valueMap.size());
    for (const auto& value : valueMap)
        names.push_back(value.first);
    return names;
}

RepositoryKey::ValueMap::const_iterator RepositoryKey::findValue(const std::wstring& name) const
{
    return firstMatch(valueMap, name);
}
