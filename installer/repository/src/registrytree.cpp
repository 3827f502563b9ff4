#include "registrytree.h"

#include <cstring>
#include <utility>
#include <vector>

#include "kitoresult.h"
#include "logger.h"
#include "owners.h"
#include "registryhelper.h"
#include "repositorykey.h"

namespace {

const DWORD kNameChars = 2048;
const DWORD kDataBytes = 2048;
const DWORD kSubKeyNameChars = 260;

// One registry key on the way down: handles stay open only along the current path. The root is the
// caller's, so only the keys below it are owned.
struct OpenKey {
    HKEY handle;
    RepositoryKey* key;
    DWORD nextSubKey;
    KeyOwner owned;
};

class RegistryTreeLoader {
public:
    RegistryTreeLoader(REGSAM access) : m_access(access), m_complete(true), m_name(kNameChars), m_data(kDataBytes / 2)
    {
    }

    RepositoryKey* load(HKEY root, const std::wstring& name)
    {
        RepositoryKey* tree = RepositoryKey::create(name);
        if (!tree) {
            m_complete = false;
            return nullptr;
        }
        loadValues(root, tree);
        std::vector<OpenKey> path;
        path.push_back({root, tree, 0, KeyOwner()});
        while (!path.empty()) {
            OpenKey& current = path.back();
            wchar_t subKeyName[kSubKeyNameChars] = {};
            DWORD length = kSubKeyNameChars;
            LONG status = RegEnumKeyExW(current.handle, current.nextSubKey, subKeyName, &length, nullptr, nullptr,
                                        nullptr, nullptr);
            if (status != ERROR_SUCCESS) {
                if (status != ERROR_NO_MORE_ITEMS) {
                    m_complete = false;
                }
                path.pop_back();
                continue;
            }
            ++current.nextSubKey;
            OpenKey child = openChild(current, std::wstring(subKeyName, length));
            if (child.handle) {
                path.push_back(std::move(child));
            }
        }
        return tree;
    }

    bool complete() const { return m_complete; }

private:
    // The child key joins the tree even when its registry key cannot be opened: an empty key of that
    // name, and the tree marked incomplete.
    OpenKey openChild(const OpenKey& parent, const std::wstring& name)
    {
        RepositoryKey* created = RepositoryKey::create(name);
        RepositoryKey* child = created ? parent.key->addSubKey(created) : nullptr;
        KeyOwner handle;
        RegistryHelper registry;
        if (!child || registry.Reg_OpenKey(handle.put(), parent.handle, name, m_access) != 0) {
            m_complete = false;
            return {nullptr, nullptr, 0, KeyOwner()};
        }
        loadValues(handle.get(), child);
        HKEY opened = handle.get();
        return {opened, child, 0, std::move(handle)};
    }

    void loadValues(HKEY handle, RepositoryKey* key)
    {
        DWORD count = 0;
        if (RegQueryInfoKeyW(handle, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, nullptr, nullptr,
                             nullptr, nullptr)
            != ERROR_SUCCESS) {
            m_complete = false;
            return;
        }
        for (DWORD index = 0; index < count; ++index) {
            DWORD nameLength = kNameChars;
            DWORD type = 0;
            DWORD size = kDataBytes;
            if (RegEnumValueW(handle, index, m_name.data(), &nameLength, nullptr, &type,
                              reinterpret_cast<BYTE*>(m_data.data()), &size)
                != ERROR_SUCCESS) {
                continue;
            }
            std::wstring valueName(m_name.data(), nameLength);
            if (type == REG_DWORD && size == sizeof(DWORD)) {
                DWORD number = 0;
                memcpy(&number, m_data.data(), sizeof(number));
                key->setIntValue(valueName, static_cast<int32_t>(number));
            } else if (type == REG_SZ) {
                // Only the bytes this value returned, up to its first terminator.
                std::wstring text(m_data.data(), size / sizeof(wchar_t));
                key->setStringValue(valueName, text.substr(0, text.find(L'\0')));
            }
        }
    }

    REGSAM m_access;
    bool m_complete;
    std::vector<wchar_t> m_name;
    std::vector<wchar_t> m_data;
};

// Creates (or opens) the key for one node below parent and writes its values there.
uint32_t createNode(RegistryHelper& registry, HKEY parent, const RepositoryKey* key, REGSAM access, KeyOwner* created)
{
    const std::wstring& name = key->name();
    if (RegCreateKeyExW(parent, name.c_str(), 0, nullptr, 0, access, nullptr, created->put(), nullptr) != ERROR_SUCCESS)
        return E_KITO_REGCREATE;
    for (const auto& value : key->values()) {
        if (uint32_t rc = registry.Reg_WriteStringItem(parent, REG_SZ, name, value.first, value.second, access)) {
            created->reset();
            return rc;
        }
    }
    return 0;
}

} // namespace

RepositoryKey* loadKeyFromRegistry(HKEY key, const std::wstring& name, REGSAM access, bool* complete)
{
    RegistryTreeLoader loader(access);
    RepositoryKey* tree = loader.load(key, name);
    if (complete) {
        *complete = loader.complete();
    }
    return tree;
}

uint32_t createKeyFromTree(RegistryHelper& registry, HKEY root, const wchar_t* subKey, const RepositoryKey* tree,
                           REGSAM access)
{
    ScopeTracer tracer(L"createKeyFromTree", &g_logger);
    if (!tree)
        return E_KITO_INVALIDARG;
    if (!subKey || !*subKey)
        return writeTree(registry, root, tree, access);
    RegistryHelper::Root resolved(registry, root);
    if (resolved.status)
        return resolved.status;
    KeyOwner below;
    if (RegCreateKeyExW(resolved.handle, subKey, 0, nullptr, 0, access, nullptr, below.put(), nullptr) != ERROR_SUCCESS)
        return E_KITO_REGCREATE;
    return writeTree(registry, below.get(), tree, access);
}

uint32_t writeTree(RegistryHelper& registry, HKEY parent, const RepositoryKey* key, REGSAM access)
{
    ScopeTracer tracer(L"writeTree", &g_logger);
    if (!key)
        return E_KITO_INVALIDARG;
    RegistryHelper::Root resolved(registry, parent);
    if (resolved.status)
        return resolved.status;
    // An explicit stack: a deep tree must not run the installer out of stack.
    struct Level {
        KeyOwner handle;
        const RepositoryKey* key;
        size_t next;
    };
    std::vector<Level> open;
    KeyOwner created;
    uint32_t rc = createNode(registry, resolved.handle, key, access, &created);
    if (rc == 0)
        open.push_back({std::move(created), key, 0});
    while (rc == 0 && !open.empty()) {
        Level& level = open.back();
        const auto& children = level.key->subKeys();
        if (level.next == children.size()) {
            open.pop_back();
            continue;
        }
        const RepositoryKey* child = children[level.next++];
        rc = createNode(registry, level.handle.get(), child, access, &created);
        if (rc == 0)
            open.push_back({std::move(created), child, 0});
    }
    return rc;
}
