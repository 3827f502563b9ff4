#include "keyvalues.h"

#include "kitorepository.h"
#include "stringutils.h"

namespace keyValues {

std::wstring text(const RepositoryKey& key, const wchar_t* name)
{
    std::wstring found;
    key.getStringValue(name, found);
    return found;
}

int32_t number(const RepositoryKey& key, const wchar_t* name, int32_t missing)
{
    int32_t found = missing;
    key.getIntValue(name, found);
    return found;
}

bool flag(const RepositoryKey& key, const wchar_t* name)
{
    return number(key, name) == 1;
}

bool isYes(const RepositoryKey& key, const wchar_t* name)
{
    return equalsNoCase(text(key, name), L"Yes");
}

uint32_t setText(RepositoryKey& key, const wchar_t* name, const std::wstring& text)
{
    key.setStringValue(name, text);
    return 0;
}

uint32_t setNumber(RepositoryKey& key, const wchar_t* name, int32_t number)
{
    key.setIntValue(name, number);
    return 0;
}

uint32_t setFlag(RepositoryKey& key, const wchar_t* name, bool on)
{
    return setNumber(key, name, on ? 1 : 0);
}

uint32_t setSelectedWith(RepositoryKey& key, const RepositoryKey::KeyList& components, bool selected)
{
    const int32_t flagValue = selected ? 1 : 0;
    // The flags that are missing are made first, where memory may run out and they can still be taken
    // back; setting the ones that exist then needs no memory.
    std::wstring flagName;
    RepositoryKey::KeyList made;
    try {
        flagName = L"Selected";
        made.reserve(components.size() + 1);
    } catch (const std::bad_alloc&) {
        return KITO_NO_MEMORY;
    }
    auto makeFlag = [&](RepositoryKey* target) {
        if (target->values().count(flagName) != 0)
            return true;
        if (target->setIntValue(flagName, flagValue) != 0)
            return false;
        made.push_back(target);
        return true;
    };
    bool complete = makeFlag(&key);
    for (size_t i = 0; complete && i < components.size(); ++i)
        complete = makeFlag(components[i]);
    if (!complete) {
        for (RepositoryKey* target : made)
            target->removeValue(flagName);
        return KITO_NO_MEMORY;
    }
    key.setIntValue(flagName, flagValue);
    for (RepositoryKey* component : components)
        component->setIntValue(flagName, flagValue);
    return 0;
}

bool isOneName(const std::wstring& name)
{
    return !name.empty() && name.find(L'\\') == std::wstring::npos;
}

RepositoryKey* childNamed(const RepositoryKey* parent, const std::wstring& name)
{
    return parent && isOneName(name) ? parent->getSubKey(name) : nullptr;
}

RepositoryKey::KeyList childrenAt(const RepositoryKey& key, const wchar_t* path)
{
    const RepositoryKey* list = key.getSubKey(path);
    return list ? list->getSubKeys() : RepositoryKey::KeyList();
}

RepositoryKey::KeyList listedComponents(const RepositoryKey& key)
{
    RepositoryKey::KeyList found;
    const RepositoryKey* names = key.getSubKey(L"Components");
    const RepositoryKey* components = KitoDb ? KitoDb->getSubKey(L"Components") : nullptr;
    if (!names || !components)
        return found;
    for (const auto& value : names->values()) {
        if (RepositoryKey* component = childNamed(components, value.second))
            found.push_back(component);
    }
    return found;
}

} // namespace keyValues
