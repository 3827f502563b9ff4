#include "component.h"

#include <windows.h>

#include <cwchar>
#include <vector>

#include "keyvalues.h"
#include "kitorepository.h"
#include "logger.h"
#include "stringutils.h"

using namespace keyValues;

namespace {

const wchar_t* platformName(int32_t osLevel)
{
    if (osLevel >= 3 && osLevel <= 6)
        return L"W2K";
    if (osLevel >= 7 && osLevel <= 12)
        return L"W2K3";
    return L"";
}

const wchar_t* archName(int32_t arch)
{
    switch (arch) {
    case 1:
        return L"x86";
    case 2:
        return L"IA64";
    case 3:
        return L"x64";
    default:
        return L"";
    }
}

// The value name of a platform's GUID; false when the levels name no slot.
bool guidSlot(const RepositoryKey& key, int32_t osLevel, int32_t is64Bit, int32_t arch, std::wstring& slot)
{
    slot = is64Bit == 1 ? L"64" : L"32";
    if (Component::isCommonSource(key)) {
        slot += L"_COMMON";
        return true;
    }
    const std::wstring platform = platformName(osLevel);
    if (platform.empty() || arch < 1 || arch > 3)
        return false;
    slot += L"_" + platform;
    if (arch != 1)
        slot += std::wstring(L"_") + archName(arch);
    return true;
}

// Whether a comma list names the entry, ignoring case; a list that cannot be split names nothing.
bool listNames(const std::wstring& list, const std::wstring& entry)
{
    std::vector<std::wstring> items;
    if (entry.empty() || list.empty() || splitList(list, items) != 0)
        return false;
    for (const std::wstring& item : items) {
        if (equalsNoCase(item, entry))
            return true;
    }
    return false;
}

// The entries of a whose name some entry of b has, ignoring case, in a's order.
RepositoryKey::KeyList intersectKeysByName(const RepositoryKey::KeyList& a, const RepositoryKey::KeyList& b)
{
    RepositoryKey::KeyList both;
    for (RepositoryKey* key : a) {
        for (const RepositoryKey* other : b) {
            if (key->isSameName(other)) {
                both.push_back(key);
                break;
            }
        }
    }
    return both;
}

} // namespace

std::wstring Component::getPackageName(const RepositoryKey& key)
{
    return text(key, L"PackageName");
}

uint32_t Component::setPackageName(RepositoryKey& key, const std::wstring& value)
{
    return setText(key, L"PackageName", value);
}

std::wstring Component::getPlugInDllName(const RepositoryKey& key)
{
    return text(key, L"PlugInDllName");
}

uint32_t Component::setPlugInDllName(RepositoryKey& key, const std::wstring& value)
{
    return setText(key, L"PlugInDllName", value);
}

std::wstring Component::getDisplayTitle(const RepositoryKey& key)
{
    return text(key, L"DisplayTitle");
}

uint32_t Component::setDisplayTitle(RepositoryKey& key, const std::wstring& value)
{
    return setText(key, L"DisplayTitle", value);
}

std::wstring Component::getCommandLine(const RepositoryKey& key)
{
    return text(key, L"CommandLine");
}

uint32_t Component::setCommandLine(RepositoryKey& key, const std::wstring& value)
{
    return setText(key, L"CommandLine", value);
}

std::wstring Component::getSourceVolume(const RepositoryKey& key)
{
    return text(key, L"SourceVolume");
}

uint32_t Component::setSourceVolume(RepositoryKey& key, const std::wstring& value)
{
    return setText(key, L"SourceVolume", value);
}

std::wstring Component::getSourcePath(const RepositoryKey& key)
{
    return text(key, L"SourcePath");
}

uint32_t Component::setSourcePath(RepositoryKey& key, const std::wstring& value)
{
    return setText(key, L"SourcePath", value);
}

std::wstring Component::getInstallDirSuffix(const RepositoryKey& key)
{
    return text(key, L"InstallDirSuffix");
}

uint32_t Component::setInstallDirSuffix(RepositoryKey& key, const std::wstring& value)
{
    return setText(key, L"InstallDirSuffix", value);
}

std::wstring Component::getVersion(const RepositoryKey& key)
{
    return text(key, L"Version");
}

uint32_t Component::setVersion(RepositoryKey& key, const std::wstring& value)
{
    return setText(key, L"Version", value);
}

int32_t Component::getInstallStatus(const RepositoryKey& key)
{
    return number(key, L"InstallStatus");
}

uint32_t Component::setInstallStatus(RepositoryKey& key, int32_t status)
{
    return setNumber(key, L"InstallStatus", status);
}

int64_t Component::getDiskSpaceRequired(const RepositoryKey& key)
{
    return std::wcstoll(text(key, L"DiskSpaceRequired").c_str(), nullptr, 10);
}

uint32_t Component::setDiskSpaceRequired(RepositoryKey& key, int64_t bytes)
{
    return setText(key, L"DiskSpaceRequired", std::to_wstring(bytes));
}

std::wstring Component::getGuid(const RepositoryKey& key, int32_t osLevel, int32_t is64Bit, int32_t arch)
{
    const RepositoryKey* guids = key.getSubKey(L"Guid");
    std::wstring slot;
    if (!guids || !guidSlot(key, osLevel, is64Bit, arch, slot))
        return std::wstring();
    return text(*guids, slot.c_str());
}

uint32_t Component::setGuid(RepositoryKey& key, const std::wstring& guid, int32_t osLevel, int32_t is64Bit,
                            int32_t arch)
{
    return orNoMemory([&]() -> uint32_t {
        // The slot's name first: nothing is made when it cannot be built for want of memory.
        std::wstring slot;
        const bool named = guidSlot(key, osLevel, is64Bit, arch, slot);
        const bool guidsWereThere = key.getSubKey(L"Guid") != nullptr;
        RepositoryKey* guids = key.createSubKey(L"Guid");
        if (!guids)
            return KITO_NO_MEMORY;
        // An unknown platform leaves the "Guid" child behind all the same.
        if (!named)
            return ERROR_INVALID_PARAMETER;
        // A "Guid" child made here goes again when the value cannot be stored in it.
        KeyTree madeHere(guidsWereThere ? nullptr : guids);
        if (guids->setStringValue(slot, guid) != 0)
            return KITO_NO_MEMORY;
        madeHere.release();
        return 0;
    });
}

std::wstring Component::getRepairable(const RepositoryKey& key)
{
    return text(key, L"Repairable");
}

std::wstring Component::getRepairLevel(const RepositoryKey& key)
{
    return text(key, L"RepairLevel");
}

std::wstring Component::getARPEntry(const RepositoryKey& key)
{
    return text(key, L"ARPEntry");
}

std::wstring Component::getCommandLineOptionForAdd(const RepositoryKey& key)
{
    return text(key, L"CommandLineOptionForAdd");
}

std::wstring Component::getCommandLineOptionForRemove(const RepositoryKey& key)
{
    return text(key, L"CommandLineOptionForRemove");
}

bool Component::isCommonSource(const RepositoryKey& key)
{
    return isYes(key, L"CommonSource");
}

bool Component::isCommonInstallDir(const RepositoryKey& key)
{
    return isYes(key, L"CommonInstallDir");
}

bool Component::isArchitectIndependent(const RepositoryKey& key)
{
    return isYes(key, L"ArchitectIndependent");
}

bool Component::is64BitAvailable(const RepositoryKey& key)
{
    return isYes(key, L"Is64BitAvailable");
}

bool Component::isReInstallUpsale(const RepositoryKey& key)
{
    return isYes(key, L"ReInstallUpsale");
}

bool Component::getOptionOf(const RepositoryKey& key, std::wstring& name)
{
    std::wstring owner = text(key, L"OptionOf");
    if (owner.empty())
        return false;
    name = owner;
    return true;
}

bool Component::isAvailable(const RepositoryKey& key)
{
    return flag(key, L"Available");
}

uint32_t Component::setAvailable(RepositoryKey& key, bool available)
{
    return setFlag(key, L"Available", available);
}

bool Component::isSelected(const RepositoryKey& key)
{
    return flag(key, L"Selected");
}

uint32_t Component::setSelected(RepositoryKey& key, bool selected)
{
    return setFlag(key, L"Selected", selected);
}

int32_t Component::getComponentType(const RepositoryKey& key)
{
    return number(key, L"ComponentType", 2);
}

bool Component::isReInstallable(const RepositoryKey& key)
{
    return number(key, L"ReInstallable") != 0;
}

bool Component::isSigned(const RepositoryKey& key)
{
    return number(key, L"IsSigned", 1) != 0;
}

bool Component::isUpgradedCacheAvailable(const RepositoryKey& key)
{
    return !equalsNoCase(text(key, L"UpgradedCacheAvailable"), L"No");
}

bool Component::isSupported(const RepositoryKey& key, int32_t osLevel, int32_t arch)
{
    const std::wstring archs = text(key, L"SupportedArchs");
    const std::wstring platforms = text(key, L"SupportedPlatforms");
    const bool platformHolds = osLevel == 13 || platforms.empty() || listNames(platforms, platformName(osLevel));
    const bool archHolds = arch == 4 || archs.empty() || listNames(archs, archName(arch));
    return platformHolds && archHolds;
}

RepositoryKey::KeyList Component::getComponentOptions(const RepositoryKey& key, int mode)
{
    ScopeTracer tracer(L"Component::getComponentOptions", &g_logger);
    const RepositoryKey* components = KitoDb ? KitoDb->getSubKey(L"Components") : nullptr;
    if (!components)
        return KeyList();
    const KeyList available = components->findSubKeysByStringValue(L"OptionOf", CompareEqual, key.name());
    KeyList chosen;
    if (mode == OptionsSelected)
        chosen = intersectKeysByName(KitoDb->getComponents(KitoRepository::ListSelected), available);
    else if (mode == OptionsAll)
        chosen = available;
    KeyList ordered;
    return KitoDb->orderByInstallSequence(chosen, ordered) == 0 ? ordered : chosen;
}

RepositoryKey::KeyList Component::getPreRequisitesSw(const RepositoryKey& key, int kind)
{
    switch (kind) {
    case PrerequisitesInclude:
        return childrenAt(key, L"PreRequisitesSw\\Include");
    case PrerequisitesExclude:
        return childrenAt(key, L"PreRequisitesSw\\Exclude");
    default:
        return KeyList();
    }
}
