#include "systemcheck.h"

#include "keyvalues.h"

using namespace keyValues;

int32_t SystemCheck::getMode(const RepositoryKey& key)
{
    return number(key, L"Mode", 1);
}

uint32_t SystemCheck::setMode(RepositoryKey& key, int32_t mode)
{
    return setNumber(key, L"Mode", mode);
}

int32_t SystemCheck::getValue(const RepositoryKey& key)
{
    return number(key, L"Value");
}

uint32_t SystemCheck::setValue(RepositoryKey& key, int32_t value)
{
    return setNumber(key, L"Value", value);
}

std::wstring SystemCheck::getCheckName(const RepositoryKey& key)
{
    return text(key, L"Name");
}

uint32_t SystemCheck::setCheckName(RepositoryKey& key, const std::wstring& value)
{
    return setText(key, L"Name", value);
}

std::wstring SystemCheck::getParam1(const RepositoryKey& key)
{
    return text(key, L"Param1");
}

uint32_t SystemCheck::setParam1(RepositoryKey& key, const std::wstring& value)
{
    return setText(key, L"Param1", value);
}

std::wstring SystemCheck::getParam2(const RepositoryKey& key)
{
    return text(key, L"Param2");
}

uint32_t SystemCheck::setParam2(RepositoryKey& key, const std::wstring& value)
{
    return setText(key, L"Param2", value);
}

std::wstring SystemCheck::getParam3(const RepositoryKey& key)
{
    return text(key, L"Param3");
}

uint32_t SystemCheck::setParam3(RepositoryKey& key, const std::wstring& value)
{
    return setText(key, L"Param3", value);
}

std::vector<std::wstring> SystemCheck::getParams(const RepositoryKey& key)
{
    return {getParam1(key), getParam2(key)};
}
