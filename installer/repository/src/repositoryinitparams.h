#pragma once

#include <string>

#include "typedkey.h"

// The master host's name, domain, IP address and port. Its clone is a plain key that still carries its
// "KeyType". Each accessor works on any key of that shape (the static form, for plain keys).
class RepositoryInitParams : public KindStampedKey<KeyTypeRepositoryInitParams> {
public:
    using KindStampedKey::KindStampedKey;
    RepositoryInitParams() : KindStampedKey(std::wstring(L"RepositoryInitParams")) {}

    static std::wstring getMasterHost(const RepositoryKey& key);
    std::wstring getMasterHost() const { return getMasterHost(*this); }
    static uint32_t setMasterHost(RepositoryKey& key, const std::wstring& host);
    uint32_t setMasterHost(const std::wstring& host) { return setMasterHost(*this, host); }
    static std::wstring getMasterDomain(const RepositoryKey& key);
    std::wstring getMasterDomain() const { return getMasterDomain(*this); }
    static uint32_t setMasterDomain(RepositoryKey& key, const std::wstring& domain);
    uint32_t setMasterDomain(const std::wstring& domain) { return setMasterDomain(*this, domain); }
    static std::wstring getMasterIP(const RepositoryKey& key);
    std::wstring getMasterIP() const { return getMasterIP(*this); }
    static uint32_t setMasterIP(RepositoryKey& key, const std::wstring& address);
    uint32_t setMasterIP(const std::wstring& address) { return setMasterIP(*this, address); }
    // 0 when missing.
    static int32_t getMasterPort(const RepositoryKey& key);
    int32_t getMasterPort() const { return getMasterPort(*this); }
    static uint32_t setMasterPort(RepositoryKey& key, int32_t port);
    uint32_t setMasterPort(int32_t port) { return setMasterPort(*this, port); }
};
