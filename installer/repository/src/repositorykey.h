#pragma once
// A node of the installer's repository: a named key with named text values, an ordered list of child
// keys found by backslash paths (names compared ignoring case), and a second list of attached keys.

#include <cstdint>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "kitoresult.h"

enum CompareKind : int32_t {
    CompareEqual = 0,
    CompareNotEqual = 1,
    CompareGreater = 2,
    CompareGreaterOrEqual = 3,
    CompareLess = 4,
    CompareLessOrEqual = 5,
};

// Whether "a kind b" holds; an unknown kind never holds.
bool compareByKind(int32_t a, int32_t kind, int32_t b);

// A new key of class Key, or null when memory runs out. Constructors copy texts and may throw, so
// every key and view is made through here: nothing leaves the framework as an exception.
template <class Key, class... Args>
Key* makeKey(Args&&... args)
{
    try {
        return new Key(std::forward<Args>(args)...);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

class RepositoryKey;

// The owner of a whole key tree: every tree that code builds, loads or copies is held by one until a
// tree takes it in, and is released with everything below it on every other path.
struct TreeRelease {
    void operator()(RepositoryKey* key) const;
};
using KeyTree = std::unique_ptr<RepositoryKey, TreeRelease>;

class RepositoryKey {
public:
    using ValueMap = std::map<std::wstring, std::wstring>;
    using KeyList = std::vector<RepositoryKey*>;

    static constexpr const wchar_t* KeyTypeValue = L"KeyType";

    // Null when the key cannot be allocated.
    static RepositoryKey* create(const std::wstring& name);
    explicit RepositoryKey(const std::wstring& name);
    // Deep copy of name, values and children (attached keys, listeners and links are not copied).
    explicit RepositoryKey(const RepositoryKey& from);
    RepositoryKey& operator=(const RepositoryKey&) = delete;
    // Leaves the lists it is in, and clears the links of the keys in its own lists to it. The keys
    // in its lists stay alive: releaseTree ends a whole tree.
    virtual ~RepositoryKey();

    // Takes the key out of its parent's and owner's lists, then destroys it alone; when a removal
    // fails nothing is destroyed.
    static void release(RepositoryKey* key);
    // Takes the key out of its parent's and owner's lists and destroys it with all its descendants.
    static void releaseTree(RepositoryKey* key);

    // Deep copy in which every key keeps its class; null when memory runs out.
    virtual RepositoryKey* clone() const;
    // Name and values only, as a plain key.
    virtual RepositoryKey* copyKey() const;
    virtual RepositoryKey* attachKey(RepositoryKey* key);
    virtual uint32_t onEvent(int32_t event, RepositoryKey* source);

    std::wstring getName() const { return keyName; }
    const std::wstring& name() const { return keyName; }
    void setName(const std::wstring& name);
    uint32_t rename(const std::wstring& name);
    std::wstring getPath() const;
    RepositoryKey* getParent() const { return parentKey; }
    RepositoryKey* getOwner() const { return ownerKey; }
    uint32_t setParent(RepositoryKey* key);
    uint32_t setOwner(RepositoryKey* key);

    KeyList getSubKeys() const { return children; }
    const KeyList& subKeys() const { return children; }
    RepositoryKey* getSubKey(const std::wstring& path) const;
    RepositoryKey* createSubKey(const std::wstring& path);
    RepositoryKey* addSubKey(RepositoryKey* key);
    RepositoryKey* addSubKeyAt(const std::wstring& path, RepositoryKey* key);
    // The same for an owned key: once added it is the tree's, and when the add fails it is released.
    RepositoryKey* addSubKey(KeyTree key);
    RepositoryKey* addSubKeyAt(const std::wstring& path, KeyTree key);
    uint32_t addSubKeys(const KeyList& keys);
    uint32_t addSubKeysAt(const std::wstring& path, const KeyList& keys);
    uint32_t removeSubKey(RepositoryKey* key);
    bool isSameName(const RepositoryKey* key) const;
    // Recursive merge: same-named children are combined, values overwritten name by name.
    // E_KITO_FAILED when memory ran out on the way (what was merged stays).
    uint32_t mergeKey(const RepositoryKey& from);

    uint32_t setStringValue(const std::wstring& name, const std::wstring& text);
    uint32_t setIntValue(const std::wstring& name, int32_t number);
    uint32_t getStringValue(const std::wstring& name, std::wstring& text) const;
    uint32_t getIntValue(const std::wstring& name, int32_t& number) const;
    uint32_t addValue(const std::wstring& name);
    // Sets the value of exactly that name, creating it when missing.
    uint32_t setValueExactly(const std::wstring& name, const std::wstring& text);
    uint32_t removeValue(const std::wstring& name);
    bool hasValue(const std::wstring& name) const;
    ValueMap getValues() const { return valueMap; }
    const ValueMap& values() const { return valueMap; }
    // KITO_NO_MEMORY when a value cannot be stored (the ones stored before it stay).
    uint32_t setValues(const ValueMap& values);
    std::vector<std::wstring> getValueNames() const;
    // First entry in map order whose name matches ignoring case; end() for none or an empty name.
    ValueMap::const_iterator findValue(const std::wstring& name) const;

    KeyList findSubKeysByIntValue(const std::wstring& name, int32_t kind, int32_t target) const;
    KeyList findSubKeysByStringValue(const std::wstring& name, int32_t kind, const std::wstring& target) const;
    KeyList findAttachedKeysByName(const std::wstring& name) const;
    KeyList findAttachedKeysByIntValue(const std::wstring& name, int32_t target) const;
    KeyList findAttachedKeysByStringValue(const std::wstring& name, const std::wstring& target) const;
    KeyList findSubKeysWithAttachedName(const std::wstring& name) const;
    KeyList findSubKeysWithAttachedIntValue(const std::wstring& name, int32_t target) const;
    KeyList findSubKeysWithAttachedStringValue(const std::wstring& name, const std::wstring& target) const;
    KeyList getAttachedKeys() const { return attached; }
    uint32_t detachKey(RepositoryKey* key);

    uint32_t addListener(int32_t event, RepositoryKey* key);
    uint32_t removeListener(int32_t event, RepositoryKey* key);
    uint32_t notifyListeners(int32_t event);

protected:
    // Stamps "KeyType" on a key under construction; when memory runs out, what was copied into it is
    // released and std::bad_alloc leaves the constructor, for makeKey to answer null.
    void stampKeyType(int32_t type);
    // A childless copy of this key that keeps its class: the step from which deep copies are built.
    virtual RepositoryKey* copyOfKind() const;

private:
    class ChildIndex;

    // Leaves the list of the key that link names (through leave), then links key instead.
    uint32_t relink(RepositoryKey*& link, RepositoryKey* key, uint32_t (RepositoryKey::*leave)(RepositoryKey*));
    RepositoryKey* findChild(std::wstring_view name) const;
    void releaseChildren();
    void appendChild(RepositoryKey* key);
    void forgetIndex();
    static RepositoryKey* copyTree(const RepositoryKey& from);
    template <class Match>
    KeyList selectChildren(Match match) const;
    template <class Match>
    KeyList selectAttached(Match match) const;

    std::wstring keyName;
    ValueMap valueMap;
    KeyList children;
    KeyList attached;
    std::map<int32_t, KeyList> listeners;
    RepositoryKey* parentKey = nullptr;
    RepositoryKey* ownerKey = nullptr;
    // Built on demand for long child lists, so that adding many siblings stays linear.
    mutable std::unique_ptr<ChildIndex> childIndex;
};

inline void TreeRelease::operator()(RepositoryKey* key) const
{
    RepositoryKey::releaseTree(key);
}
