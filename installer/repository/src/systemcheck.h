#pragma once

#include <string>
#include <vector>

#include "typedkey.h"

// One named check on the target system, an entry of a solution's or an option's "SystemChecks". Each
// accessor works on any key of that shape (the static form, for plain keys); the member reads the view.
class SystemCheck : public TypedKey<SystemCheck, KeyTypeSystemCheck> {
public:
    using TypedKey::TypedKey;

    // 1 when missing.
    static int32_t getMode(const RepositoryKey& key);
    int32_t getMode() const { return getMode(*this); }
    static uint32_t setMode(RepositoryKey& key, int32_t mode);
    uint32_t setMode(int32_t mode) { return setMode(*this, mode); }
    // 0 when missing.
    static int32_t getValue(const RepositoryKey& key);
    int32_t getValue() const { return getValue(*this); }
    static uint32_t setValue(RepositoryKey& key, int32_t value);
    uint32_t setValue(int32_t value) { return setValue(*this, value); }
    // The "Name" value, not the key's own name.
    static std::wstring getCheckName(const RepositoryKey& key);
    std::wstring getCheckName() const { return getCheckName(*this); }
    static uint32_t setCheckName(RepositoryKey& key, const std::wstring& text);
    uint32_t setCheckName(const std::wstring& text) { return setCheckName(*this, text); }
    static std::wstring getParam1(const RepositoryKey& key);
    std::wstring getParam1() const { return getParam1(*this); }
    static uint32_t setParam1(RepositoryKey& key, const std::wstring& text);
    uint32_t setParam1(const std::wstring& text) { return setParam1(*this, text); }
    static std::wstring getParam2(const RepositoryKey& key);
    std::wstring getParam2() const { return getParam2(*this); }
    static uint32_t setParam2(RepositoryKey& key, const std::wstring& text);
    uint32_t setParam2(const std::wstring& text) { return setParam2(*this, text); }
    static std::wstring getParam3(const RepositoryKey& key);
    std::wstring getParam3() const { return getParam3(*this); }
    static uint32_t setParam3(RepositoryKey& key, const std::wstring& text);
    uint32_t setParam3(const std::wstring& text) { return setParam3(*this, text); }
    // "Param1" and "Param2", each empty when missing.
    static std::vector<std::wstring> getParams(const RepositoryKey& key);
    std::vector<std::wstring> getParams() const { return getParams(*this); }
};
