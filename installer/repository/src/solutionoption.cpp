#include "solutionoption.h"

#include "keyvalues.h"
#include "solution.h"

// The option keeps its values and lists under the same names as a solution.

std::wstring SolutionOption::getDisplayTitle(const RepositoryKey& key)
{
    return Solution::getDisplayTitle(key);
}

uint32_t SolutionOption::setDisplayTitle(RepositoryKey& key, const std::wstring& text)
{
    return Solution::setDisplayTitle(key, text);
}

bool SolutionOption::isAvailable(const RepositoryKey& key)
{
    return Solution::isAvailable(key);
}

uint32_t SolutionOption::setAvailable(RepositoryKey& key, bool available)
{
    return Solution::setAvailable(key, available);
}

bool SolutionOption::isSelected(const RepositoryKey& key)
{
    return Solution::isSelected(key);
}

uint32_t SolutionOption::setSelected(RepositoryKey& key, bool selected)
{
    return keyValues::orNoMemory([&] { return keyValues::setSelectedWith(key, getComponents(key), selected); });
}

int32_t SolutionOption::getInstallStatus(const RepositoryKey& key)
{
    return Solution::getInstallStatus(key);
}

uint32_t SolutionOption::setInstallStatus(RepositoryKey& key, int32_t status)
{
    return Solution::setInstallStatus(key, status);
}

RepositoryKey::KeyList SolutionOption::getComponents(const RepositoryKey& key)
{
    return keyValues::listedComponents(key);
}

RepositoryKey::KeyList SolutionOption::getSystemChecks(const RepositoryKey& key)
{
    return Solution::getSystemChecks(key);
}

RepositoryKey::KeyList SolutionOption::getSystemChecks(const RepositoryKey& key, int mode, const std::wstring& name)
{
    return Solution::getSystemChecks(key, mode, name);
}

RepositoryKey::KeyList SolutionOption::getSupportedPlatforms(const RepositoryKey& key)
{
    return Solution::getSupportedPlatforms(key);
}
