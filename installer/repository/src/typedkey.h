#pragma once
// Typed views: keys of a fixed kind, told apart by their "KeyType" value. A view has no data of its
// own; its constructors stamp the kind, and its copies keep its class.

#include "repositorykey.h"

enum KeyTypeCode : int32_t {
    KeyTypeComponent = 1,
    KeyTypeSolution = 2,
    KeyTypeSolutionOption = 3,
    KeyTypeUserInput = 5,
    KeyTypeKitoRepository = 6,
    KeyTypeRepositoryInitParams = 7,
    KeyTypeSystemCheck = 9,
    KeyTypeProduct = 12,
};

// Stamps the kind; copies of such a key are plain keys that still carry it.
template <int32_t Type>
class KindStampedKey : public RepositoryKey {
public:
    static constexpr int32_t keyType = Type;

    // Both throw std::bad_alloc when memory runs out: make views through makeKey.
    explicit KindStampedKey(const std::wstring& name) : RepositoryKey(name) { stampKeyType(Type); }
    // Deep copy of from; a copied "KeyType" is replaced.
    explicit KindStampedKey(const RepositoryKey& from) : RepositoryKey(from) { stampKeyType(Type); }
};

// A view whose clone is again a View.
template <class View, int32_t Type>
class TypedKey : public KindStampedKey<Type> {
public:
    using KindStampedKey<Type>::KindStampedKey;

protected:
    RepositoryKey* copyOfKind() const override
    {
        KeyTree copy(makeKey<View>(this->name()));
        if (copy && (copy->setValues(this->values()) != 0 || copy->setIntValue(RepositoryKey::KeyTypeValue, Type) != 0))
            return nullptr;
        return copy.release();
    }
};
