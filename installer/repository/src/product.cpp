#include "product.h"

#include "keyvalues.h"

using namespace keyValues;

std::wstring Product::getDisplayTitle(const RepositoryKey& key)
{
    return text(key, L"DisplayTitle");
}

uint32_t Product::setDisplayTitle(RepositoryKey& key, const std::wstring& value)
{
    return setText(key, L"DisplayTitle", value);
}

std::wstring Product::getProductID(const RepositoryKey& key)
{
    return text(key, L"ProductID");
}

uint32_t Product::setProductID(RepositoryKey& key, const std::wstring& value)
{
    return setText(key, L"ProductID", value);
}

std::wstring Product::getVersion(const RepositoryKey& key)
{
    return text(key, L"Version");
}

uint32_t Product::setVersion(RepositoryKey& key, const std::wstring& value)
{
    return setText(key, L"Version", value);
}

std::wstring Product::getMP(const RepositoryKey& key)
{
    return text(key, L"MP");
}

uint32_t Product::setMP(RepositoryKey& key, const std::wstring& value)
{
    return setText(key, L"MP", value);
}

std::wstring Product::getRP(const RepositoryKey& key)
{
    return text(key, L"RP");
}

uint32_t Product::setRP(RepositoryKey& key, const std::wstring& value)
{
    return setText(key, L"RP", value);
}

std::wstring Product::getHF(const RepositoryKey& key)
{
    return text(key, L"HF");
}

uint32_t Product::setHF(RepositoryKey& key, const std::wstring& value)
{
    return setText(key, L"HF", value);
}

std::wstring Product::getInstalledDir(const RepositoryKey& key)
{
    return text(key, L"InstalledDir");
}

uint32_t Product::setInstalledDir(RepositoryKey& key, const std::wstring& value)
{
    return setText(key, L"InstalledDir", value);
}

int32_t Product::getOSLevel(const RepositoryKey& key)
{
    return number(key, L"OSLevel");
}

uint32_t Product::setOSLevel(RepositoryKey& key, int32_t level)
{
    return setNumber(key, L"OSLevel", level);
}

int32_t Product::getOSFromLevel(const RepositoryKey& key)
{
    return number(key, L"OSFromLevel");
}

uint32_t Product::setOSFromLevel(RepositoryKey& key, int32_t level)
{
    return setNumber(key, L"OSFromLevel", level);
}

int32_t Product::getOSSP(const RepositoryKey& key)
{
    return number(key, L"OSSP");
}

uint32_t Product::setOSSP(RepositoryKey& key, int32_t servicePack)
{
    return setNumber(key, L"OSSP", servicePack);
}

std::wstring Product::getMsgID(const RepositoryKey& key)
{
    return text(key, L"MsgID");
}

std::wstring Product::getGuid(const RepositoryKey& key)
{
    return text(key, L"Guid");
}

int32_t Product::getCheckCondition(const RepositoryKey& key)
{
    return number(key, L"CheckCondition", 2);
}

int32_t Product::getType(const RepositoryKey& key)
{
    return number(key, L"TYPE", 1);
}

int32_t Product::getMode(const RepositoryKey& key)
{
    int32_t mode = number(key, L"Mode", 1);
    return mode == 2 || mode == 4 || mode == 5 ? mode : 1;
}

bool Product::isParent(const RepositoryKey& key)
{
    return flag(key, L"IsParent");
}

bool Product::isPatchRequired(const RepositoryKey& key)
{
    return flag(key, L"RequirePatch");
}
