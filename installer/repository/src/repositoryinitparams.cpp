#include "repositoryinitparams.h"

#include "keyvalues.h"

using namespace keyValues;

std::wstring RepositoryInitParams::getMasterHost(const RepositoryKey& key)
{
    return text(key, L"MasterHost");
}

uint32_t RepositoryInitParams::setMasterHost(RepositoryKey& key, const std::wstring& host)
{
    return key.setStringValue(L"MasterHost", host);
}

std::wstring RepositoryInitParams::getMasterDomain(const RepositoryKey& key)
{
    return text(key, L"MasterDomain");
}

uint32_t RepositoryInitParams::setMasterDomain(RepositoryKey& key, const std::wstring& domain)
{
    return key.setStringValue(L"MasterDomain", domain);
}

std::wstring RepositoryInitParams::getMasterIP(const RepositoryKey& key)
{
    return text(key, L"MasterIP");
}

uint32_t RepositoryInitParams::setMasterIP(RepositoryKey& key, const std::wstring& address)
{
    return key.setStringValue(L"MasterIP", address);
}

int32_t RepositoryInitParams::getMasterPort(const RepositoryKey& key)
{
    return number(key, L"MasterPort");
}

uint32_t RepositoryInitParams::setMasterPort(RepositoryKey& key, int32_t port)
{
    return key.setIntValue(L"MasterPort", port);
}
