#include "solution.h"

#include "keyvalues.h"
#include "kitorepository.h"
#include "product.h"
#include "stringutils.h"
#include "systemcheck.h"

using namespace keyValues;

namespace {

const wchar_t* const kUpdateKindNames[] = {L"RollupPatches", L"MaintenancePacks", L"HotFixes", L"AddOns"};

} // namespace

uint32_t getUpdateKindSubKey(std::wstring& subKey, int kind)
{
    if (kind == UPDATE_KIND_PRODUCT) {
        return 0;
    }
    if (kind >= UPDATE_KIND_ROLLUP_PATCHES && kind <= UPDATE_KIND_ADDONS) {
        subKey = kUpdateKindNames[kind - UPDATE_KIND_ROLLUP_PATCHES];
    }
    subKey += L'\\';
    return 0;
}

std::wstring Solution::getDisplayTitle(const RepositoryKey& key)
{
    return text(key, L"DisplayTitle");
}

uint32_t Solution::setDisplayTitle(RepositoryKey& key, const std::wstring& value)
{
    return setText(key, L"DisplayTitle", value);
}

bool Solution::isAvailable(const RepositoryKey& key)
{
    return flag(key, L"Available");
}

uint32_t Solution::setAvailable(RepositoryKey& key, bool available)
{
    return setFlag(key, L"Available", available);
}

bool Solution::isSelected(const RepositoryKey& key)
{
    return flag(key, L"Selected");
}

uint32_t Solution::setSelected(RepositoryKey& key, bool selected)
{
    return orNoMemory([&] { return setSelectedWith(key, getComponents(key), selected); });
}

int32_t Solution::getInstallStatus(const RepositoryKey& key)
{
    return number(key, L"InstallStatus");
}

uint32_t Solution::setInstallStatus(RepositoryKey& key, int32_t status)
{
    return setNumber(key, L"InstallStatus", status);
}

int32_t Solution::getWarningMsgIDOnReboot(const RepositoryKey& key)
{
    return number(key, L"WarningMsgIDOnReboot");
}

std::wstring Solution::getWarningMsgOnReboot(const RepositoryKey& key)
{
    // Id 0 has no catalogue text of ours; the system's text for it ("success") is no warning.
    const int32_t id = getWarningMsgIDOnReboot(key);
    std::wstring message = id != 0 ? getErrorMessage(static_cast<uint32_t>(id)) : std::wstring();
    while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r'))
        message.pop_back();
    return message.empty() ? text(key, L"WarningMsgOnReboot") : message;
}

std::wstring Solution::getVersion(const RepositoryKey& key)
{
    return text(key, L"Version");
}

std::wstring Solution::getGuid(const RepositoryKey& key)
{
    return text(key, L"Guid");
}

int32_t Solution::getType(const RepositoryKey& key)
{
    return number(key, L"Type");
}

std::wstring Solution::getSolutionID(const RepositoryKey& key)
{
    return text(key, L"SolutionID");
}

int32_t Solution::getSolutionCmdLnID(const RepositoryKey& key)
{
    return number(key, L"SolutionCmdLnID");
}

std::wstring Solution::getSolutionCmdLnName(const RepositoryKey& key)
{
    return text(key, L"SolutionCmdLnName");
}

bool Solution::isRebootRequired(const RepositoryKey& key)
{
    return flag(key, L"RebootRequired");
}

bool Solution::isRemoteInstall(const RepositoryKey& key)
{
    return number(key, L"RemoteInstall", 1) == 1;
}

bool Solution::isReInstallable(const RepositoryKey& key)
{
    return flag(key, L"ReInstallable");
}

bool Solution::isInstallPathSelectable(const RepositoryKey& key)
{
    return flag(key, L"InstallPathSelectable") || getUpgradableParentProductIDs(key).empty();
}

bool Solution::isRepairable(const RepositoryKey& key)
{
    return flag(key, L"Repairable");
}

std::wstring Solution::getPostInstallCmdLine(const RepositoryKey& key)
{
    return text(key, L"PostInstallCmdLine");
}

std::wstring Solution::getLanguage(const RepositoryKey& key)
{
    return text(key, L"Language");
}

int32_t Solution::getReleaseArch(const RepositoryKey& key)
{
    return number(key, L"ReleaseArch");
}

RepositoryKey::KeyList Solution::getSolutionOptions(const RepositoryKey& key, int mode)
{
    const RepositoryKey* options = key.getSubKey(L"SolutionOptions");
    if (!options)
        return KeyList();
    if (mode == KitoRepository::ListSelected)
        return options->findSubKeysByIntValue(L"Selected", CompareEqual, 1);
    return options->getSubKeys();
}

RepositoryKey::KeyList Solution::getComponents(const RepositoryKey& key)
{
    KeyList ordered;
    if (KitoDb)
        KitoDb->orderByInstallSequence(listedComponents(key), ordered);
    return ordered;
}

RepositoryKey::KeyList Solution::getProductList(const RepositoryKey& key, int kind)
{
    static const wchar_t* const lists[] = {L"CannotCoExistProducts", L"UpgradableProducts", L"MustExistProducts",
                                           L"WarningProducts"};
    if (kind < CannotCoExistProducts || kind > WarningProducts)
        return KeyList();
    return childrenAt(key, lists[kind - 1]);
}

std::vector<std::wstring> Solution::getUpgradableParentProductIDs(const RepositoryKey& key)
{
    std::vector<std::wstring> ids;
    for (const RepositoryKey* product : getProductList(key, UpgradableProducts)) {
        if (Product::isParent(*product))
            ids.push_back(Product::getProductID(*product));
    }
    return ids;
}

RepositoryKey::KeyList Solution::getSystemChecks(const RepositoryKey& key)
{
    return childrenAt(key, L"SystemChecks");
}

RepositoryKey::KeyList Solution::getSystemChecks(const RepositoryKey& key, int mode, const std::wstring& name)
{
    const RepositoryKey* checks = key.getSubKey(L"SystemChecks");
    KeyList found;
    if (!checks)
        return found;
    for (RepositoryKey* check : checks->findSubKeysByIntValue(L"Mode", CompareEqual, mode)) {
        if (SystemCheck::getCheckName(*check) == name)
            found.push_back(check);
    }
    return found;
}

RepositoryKey::KeyList Solution::getSupportedPlatforms(const RepositoryKey& key)
{
    return childrenAt(key, L"SupportedPlatforms");
}
