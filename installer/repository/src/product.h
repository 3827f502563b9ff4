#pragma once

#include <string>

#include "typedkey.h"

// An entry that names another product: one entry of a solution's product lists or of a component's
// prerequisite lists. Each accessor works on any key of that shape (the static form, for plain keys);
// the member reads the view itself.
class Product : public TypedKey<Product, KeyTypeProduct> {
public:
    using TypedKey::TypedKey;

    static std::wstring getDisplayTitle(const RepositoryKey& key);
    std::wstring getDisplayTitle() const { return getDisplayTitle(*this); }
    static uint32_t setDisplayTitle(RepositoryKey& key, const std::wstring& text);
    uint32_t setDisplayTitle(const std::wstring& text) { return setDisplayTitle(*this, text); }
    static std::wstring getProductID(const RepositoryKey& key);
    std::wstring getProductID() const { return getProductID(*this); }
    static uint32_t setProductID(RepositoryKey& key, const std::wstring& text);
    uint32_t setProductID(const std::wstring& text) { return setProductID(*this, text); }
    static std::wstring getVersion(const RepositoryKey& key);
    std::wstring getVersion() const { return getVersion(*this); }
    static uint32_t setVersion(RepositoryKey& key, const std::wstring& text);
    uint32_t setVersion(const std::wstring& text) { return setVersion(*this, text); }
    static std::wstring getMP(const RepositoryKey& key);
    std::wstring getMP() const { return getMP(*this); }
    static uint32_t setMP(RepositoryKey& key, const std::wstring& text);
    uint32_t setMP(const std::wstring& text) { return setMP(*this, text); }
    static std::wstring getRP(const RepositoryKey& key);
    std::wstring getRP() const { return getRP(*this); }
    static uint32_t setRP(RepositoryKey& key, const std::wstring& text);
    uint32_t setRP(const std::wstring& text) { return setRP(*this, text); }
    static std::wstring getHF(const RepositoryKey& key);
    std::wstring getHF() const { return getHF(*this); }
    static uint32_t setHF(RepositoryKey& key, const std::wstring& text);
    uint32_t setHF(const std::wstring& text) { return setHF(*this, text); }
    static std::wstring getInstalledDir(const RepositoryKey& key);
    std::wstring getInstalledDir() const { return getInstalledDir(*this); }
    static uint32_t setInstalledDir(RepositoryKey& key, const std::wstring& text);
    uint32_t setInstalledDir(const std::wstring& text) { return setInstalledDir(*this, text); }

    // Operating-system levels and service pack: 0 when missing.
    static int32_t getOSLevel(const RepositoryKey& key);
    int32_t getOSLevel() const { return getOSLevel(*this); }
    static uint32_t setOSLevel(RepositoryKey& key, int32_t level);
    uint32_t setOSLevel(int32_t level) { return setOSLevel(*this, level); }
    static int32_t getOSFromLevel(const RepositoryKey& key);
    int32_t getOSFromLevel() const { return getOSFromLevel(*this); }
    static uint32_t setOSFromLevel(RepositoryKey& key, int32_t level);
    uint32_t setOSFromLevel(int32_t level) { return setOSFromLevel(*this, level); }
    static int32_t getOSSP(const RepositoryKey& key);
    int32_t getOSSP() const { return getOSSP(*this); }
    static uint32_t setOSSP(RepositoryKey& key, int32_t servicePack);
    uint32_t setOSSP(int32_t servicePack) { return setOSSP(*this, servicePack); }

    static std::wstring getMsgID(const RepositoryKey& key);
    std::wstring getMsgID() const { return getMsgID(*this); }
    static std::wstring getGuid(const RepositoryKey& key);
    std::wstring getGuid() const { return getGuid(*this); }
    // 2 when missing.
    static int32_t getCheckCondition(const RepositoryKey& key);
    int32_t getCheckCondition() const { return getCheckCondition(*this); }
    // "TYPE"; 1 when missing.
    static int32_t getType(const RepositoryKey& key);
    int32_t getType() const { return getType(*this); }
    // 2, 4 or 5 as stored; anything else, or nothing, is 1.
    static int32_t getMode(const RepositoryKey& key);
    int32_t getMode() const { return getMode(*this); }
    static bool isParent(const RepositoryKey& key);
    bool isParent() const { return isParent(*this); }
    static bool isPatchRequired(const RepositoryKey& key);
    bool isPatchRequired() const { return isPatchRequired(*this); }
};
