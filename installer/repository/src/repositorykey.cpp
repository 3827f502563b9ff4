// The key's life, copies, links and children; its values and searches have sources of their own.

#include "repositorykey.h"

#include <algorithm>
#include <new>
#include <unordered_map>

#include "stringutils.h"

namespace {

// Below this many children a scan is cheaper than keeping an index.
constexpr size_t IndexedChildren = 16;
constexpr wchar_t PathSeparator = L'\\';

struct FoldedHash {
    size_t operator()(std::wstring_view text) const
    {
        // FNV-1a over the folded characters, in the width of size_t.
        constexpr bool wide = sizeof(size_t) == 8;
        constexpr size_t basis = wide ? static_cast<size_t>(14695981039346656037ull) : 2166136261u;
        constexpr size_t prime = wide ? static_cast<size_t>(1099511628211ull) : 16777619u;
        size_t hash = basis;
        for (wchar_t c : text)
            hash = (hash ^ static_cast<size_t>(foldCase(c))) * prime;
        return hash;
    }
};

struct FoldedEqual {
    bool operator()(std::wstring_view a, std::wstring_view b) const
    {
        return equalsNoCase(a.data(), a.size(), b.data(), b.size());
    }
};

bool eraseFirst(RepositoryKey::KeyList& list, const RepositoryKey* key)
{
    auto it = std::find(list.begin(), list.end(), key);
    if (it == list.end())
        return false;
    list.erase(it);
    return true;
}

// Grows by doubling, so that a later push_back cannot fail.
void makeRoomForOne(RepositoryKey::KeyList& list)
{
    if (list.size() == list.capacity())
        list.reserve(list.empty() ? 4 : list.capacity() * 2);
}

} // namespace

// First child in list order for each name, folded; views into the children's own names, so any
// change of a child's name or of the list drops the index.
class RepositoryKey::ChildIndex {
public:
    std::unordered_map<std::wstring_view, RepositoryKey*, FoldedHash, FoldedEqual> first;
};

RepositoryKey* RepositoryKey::create(const std::wstring& name)
{
    return makeKey<RepositoryKey>(name);
}

RepositoryKey::RepositoryKey(const std::wstring& name) : keyName(name) {}

// A partial copy is never handed out: what was copied goes, and makeKey answers null.
RepositoryKey::RepositoryKey(const RepositoryKey& from)
{
    if (mergeKey(from) != 0) {
        releaseChildren();
        throw std::bad_alloc();
    }
}

void RepositoryKey::stampKeyType(int32_t type)
{
    if (setIntValue(KeyTypeValue, type) != 0) {
        releaseChildren();
        throw std::bad_alloc();
    }
}

void RepositoryKey::releaseChildren()
{
    while (!children.empty())
        releaseTree(children.back());
}

RepositoryKey::~RepositoryKey()
{
    if (parentKey)
        parentKey->removeSubKey(this);
    if (ownerKey)
        ownerKey->detachKey(this);
    for (RepositoryKey* child : children) {
        if (child->parentKey == this)
            child->parentKey = nullptr;
    }
    for (RepositoryKey* key : attached) {
        if (key->ownerKey == this)
            key->ownerKey = nullptr;
    }
}

void RepositoryKey::release(RepositoryKey* key)
{
    if (!key)
        return;
    if (key->parentKey && key->parentKey->removeSubKey(key) != 0)
        return;
    if (key->ownerKey && key->ownerKey->detachKey(key) != 0)
        return;
    delete key;
}

void RepositoryKey::releaseTree(RepositoryKey* key)
{
    if (!key)
        return;
    if (key->parentKey) {
        key->parentKey->removeSubKey(key);
        key->parentKey = nullptr;
    }
    // Leaves first, walking back up through the parent links: no recursion and no allocation.
    RepositoryKey* node = key;
    while (node) {
        if (!node->children.empty()) {
            node->childIndex.reset();
            RepositoryKey* last = node->children.back();
            last->parentKey = node;
            node = last;
            continue;
        }
        RepositoryKey* up = node == key ? nullptr : node->parentKey;
        if (up) {
            up->children.pop_back();
            node->parentKey = nullptr;
        }
        delete node;
        node = up;
    }
}

RepositoryKey* RepositoryKey::clone() const
{
    return copyTree(*this);
}

RepositoryKey* RepositoryKey::copyKey() const
{
    KeyTree copy(create(keyName));
    if (!copy)
        return nullptr;
    try {
        copy->valueMap = valueMap;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    return copy.release();
}

RepositoryKey* RepositoryKey::copyOfKind() const
{
    return copyKey();
}

RepositoryKey* RepositoryKey::copyTree(const RepositoryKey& from)
{
    KeyTree root(from.copyOfKind());
    if (!root)
        return nullptr;
    struct Level {
        const RepositoryKey* source;
        RepositoryKey* target;
        size_t next;
    };
    try {
        std::vector<Level> open{{&from, root.get(), 0}};
        while (!open.empty()) {
            Level& level = open.back();
            if (level.next == level.source->children.size()) {
                open.pop_back();
                continue;
            }
            const RepositoryKey* child = level.source->children[level.next++];
            // Childless when added, so namesakes merge just as addSubKey of a whole clone would.
            RepositoryKey* holder = level.target->addSubKey(KeyTree(child->copyOfKind()));
            if (!holder)
                throw std::bad_alloc();
            open.push_back({child, holder, 0});
        }
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    return root.release();
}

RepositoryKey* RepositoryKey::attachKey(RepositoryKey* key)
{
    if (!key)
        return nullptr;
    try {
        makeRoomForOne(attached);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    if (key->ownerKey)
        key->ownerKey->detachKey(key);
    attached.push_back(key);
    key->ownerKey = this;
    return key;
}

uint32_t RepositoryKey::onEvent(int32_t, RepositoryKey*)
{
    return 0;
}

void RepositoryKey::setName(const std::wstring& name)
{
    keyName = name;
    if (parentKey)
        parentKey->forgetIndex();
}

uint32_t RepositoryKey::rename(const std::wstring& name)
{
    if (parentKey && parentKey->getSubKey(name))
        return KITO_NAME_TAKEN;
    setName(name);
    return 0;
}

std::wstring RepositoryKey::getPath() const
{
    std::vector<const RepositoryKey*> chain;
    for (const RepositoryKey* key = this; key; key = key->parentKey)
        chain.push_back(key);
    std::wstring path = chain.back()->keyName;
    for (auto it = chain.rbegin() + 1; it != chain.rend(); ++it) {
        path += PathSeparator;
        path += (*it)->keyName;
    }
    return path;
}

uint32_t RepositoryKey::relink(RepositoryKey*& link, RepositoryKey* key,
                               uint32_t (RepositoryKey::*leave)(RepositoryKey*))
{
    if (!key)
        return E_KITO_INVALIDARG;
    if (link) {
        if (uint32_t rc = (link->*leave)(this))
            return rc;
    }
    link = key;
    return 0;
}

uint32_t RepositoryKey::setParent(RepositoryKey* key)
{
    return relink(parentKey, key, &RepositoryKey::removeSubKey);
}

uint32_t RepositoryKey::setOwner(RepositoryKey* key)
{
    return relink(ownerKey, key, &RepositoryKey::detachKey);
}

void RepositoryKey::forgetIndex()
{
    childIndex.reset();
}

RepositoryKey* RepositoryKey::findChild(std::wstring_view name) const
{
    if (children.size() >= IndexedChildren) {
        if (!childIndex) {
            try {
                auto index = std::make_unique<ChildIndex>();
                index->first.reserve(children.size());
                for (RepositoryKey* child : children)
                    index->first.emplace(child->keyName, child);
                childIndex = std::move(index);
            } catch (const std::bad_alloc&) {
                childIndex.reset();
            }
        }
        if (childIndex) {
            auto it = childIndex->first.find(name);
            return it == childIndex->first.end() ? nullptr : it->second;
        }
    }
    for (RepositoryKey* child : children) {
        if (equalsNoCase(child->keyName.data(), child->keyName.size(), name.data(), name.size()))
            return child;
    }
    return nullptr;
}

void RepositoryKey::appendChild(RepositoryKey* key)
{
    makeRoomForOne(children);
    if (key->parentKey)
        key->parentKey->removeSubKey(key);
    // A key in this list always points here, even when its old link named a key it was not in.
    key->parentKey = this;
    children.push_back(key);
    if (childIndex) {
        try {
            childIndex->first.emplace(key->keyName, key);
        } catch (const std::bad_alloc&) {
            childIndex.reset();
        }
    }
}

RepositoryKey* RepositoryKey::getSubKey(const std::wstring& path) const
{
    const RepositoryKey* node = this;
    std::wstring_view rest(path);
    for (;;) {
        size_t slash = rest.find(PathSeparator);
        RepositoryKey* child = node->findChild(rest.substr(0, slash));
        if (!child || slash == std::wstring_view::npos)
            return child;
        node = child;
        rest.remove_prefix(slash + 1);
    }
}

RepositoryKey* RepositoryKey::createSubKey(const std::wstring& path)
{
    if (path.empty())
        return nullptr;
    try {
        std::vector<std::wstring> components;
        splitText(path, std::wstring(1, PathSeparator), components);
        RepositoryKey* node = this;
        for (const std::wstring& component : components) {
            RepositoryKey* next = node->findChild(component);
            if (!next) {
                if (component.empty())
                    return nullptr;
                next = node->addSubKey(KeyTree(create(component)));
                if (!next)
                    return nullptr;
            }
            node = next;
        }
        return node;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

RepositoryKey* RepositoryKey::addSubKey(RepositoryKey* key)
{
    if (!key || key == this)
        return nullptr;
    // Adding an ancestor would close a cycle; only a key with children can be one.
    if (!key->children.empty()) {
        for (const RepositoryKey* up = parentKey; up; up = up->parentKey) {
            if (up == key)
                return nullptr;
        }
    }
    try {
        RepositoryKey* existing = getSubKey(key->keyName);
        if (!existing || existing == key) {
            appendChild(key);
            return key;
        }
        // Merge without recursion: each level's values, then its children one by one, in the order a
        // recursive add would take them; a merged source key ends once its children are placed.
        struct Level {
            RepositoryKey* target;
            RepositoryKey* source;
            KeyList pending;
            size_t next;
        };
        if (existing->setValues(key->valueMap) != 0)
            return nullptr;
        std::vector<Level> open;
        open.push_back({existing, key, key->children, 0});
        while (!open.empty()) {
            Level& level = open.back();
            if (level.next == level.pending.size()) {
                release(level.source);
                open.pop_back();
                continue;
            }
            RepositoryKey* child = level.pending[level.next++];
            RepositoryKey* namesake = level.target->getSubKey(child->keyName);
            if (namesake && namesake != child) {
                if (namesake->setValues(child->valueMap) != 0)
                    throw std::bad_alloc();
                open.push_back({namesake, child, child->children, 0});
            } else {
                level.target->appendChild(child);
            }
        }
        return existing;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

RepositoryKey* RepositoryKey::addSubKeyAt(const std::wstring& path, RepositoryKey* key)
{
    RepositoryKey* below = createSubKey(path);
    return below ? below->addSubKey(key) : nullptr;
}

RepositoryKey* RepositoryKey::addSubKey(KeyTree key)
{
    RepositoryKey* holder = addSubKey(key.get());
    // Added, or merged into a namesake and ended by the add: either way no longer the owner's.
    if (holder)
        key.release();
    return holder;
}

RepositoryKey* RepositoryKey::addSubKeyAt(const std::wstring& path, KeyTree key)
{
    RepositoryKey* below = createSubKey(path);
    return below ? below->addSubKey(std::move(key)) : nullptr;
}

uint32_t RepositoryKey::addSubKeys(const KeyList& keys)
{
    for (RepositoryKey* key : keys) {
        if (!addSubKey(key))
            return E_KITO_FAILED;
    }
    return 0;
}

uint32_t RepositoryKey::addSubKeysAt(const std::wstring& path, const KeyList& keys)
{
    RepositoryKey* below = createSubKey(path);
    return below ? below->addSubKeys(keys) : E_KITO_FAILED;
}

uint32_t RepositoryKey::removeSubKey(RepositoryKey* key)
{
    if (!key)
        return E_KITO_INVALIDARG;
    if (!eraseFirst(children, key))
        return KITO_NOT_IN_LIST;
    forgetIndex();
    if (key->parentKey == this)
        key->parentKey = nullptr;
    return 0;
}

bool RepositoryKey::isSameName(const RepositoryKey* key) const
{
    return key && equalsNoCase(keyName, key->keyName);
}

uint32_t RepositoryKey::mergeKey(const RepositoryKey& from)
{
    try {
        rename(from.keyName);
        if (setValues(from.valueMap) != 0)
            return E_KITO_FAILED;
        const KeyList sources = from.children;
        for (const RepositoryKey* source : sources) {
            if (!addSubKey(KeyTree(source->clone())))
                return E_KITO_FAILED;
        }
    } catch (const std::bad_alloc&) {
        return E_KITO_FAILED;
    }
    return 0;
}

uint32_t RepositoryKey::detachKey(RepositoryKey* key)
{
    if (!key)
        return E_KITO_INVALIDARG;
    if (!eraseFirst(attached, key))
        return KITO_NOT_IN_LIST;
    if (key->ownerKey == this)
        key->ownerKey = nullptr;
    return 0;
}

uint32_t RepositoryKey::addListener(int32_t event, RepositoryKey* key)
{
    if (!key)
        return E_KITO_INVALIDARG;
    KeyList& list = listeners[event];
    if (std::find(list.begin(), list.end(), key) == list.end())
        list.push_back(key);
    return 0;
}

uint32_t RepositoryKey::removeListener(int32_t event, RepositoryKey* key)
{
    if (!key)
        return E_KITO_INVALIDARG;
    auto it = listeners.find(event);
    if (it != listeners.end())
        eraseFirst(it->second, key);
    return 0;
}

uint32_t RepositoryKey::notifyListeners(int32_t event)
{
    auto it = listeners.find(event);
    if (it == listeners.end())
        return 0;
    const KeyList snapshot = it->second;
    for (RepositoryKey* listener : snapshot)
        listener->onEvent(event, this);
    return 0;
}
