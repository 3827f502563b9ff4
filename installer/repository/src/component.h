#pragma once

#include <string>

#include "typedkey.h"

// One installable package of the product, a child of the repository's "Components". Each accessor works
// on any key of that shape (the static form, for plain keys); the member reads the view itself.
class Component : public TypedKey<Component, KeyTypeComponent> {
public:
    using TypedKey::TypedKey;

    // Modes of getComponentOptions and kinds of getPreRequisitesSw.
    static constexpr int OptionsSelected = 2;
    static constexpr int OptionsAll = 3;
    static constexpr int PrerequisitesExclude = 1;
    static constexpr int PrerequisitesInclude = 3;

    static std::wstring getPackageName(const RepositoryKey& key);
    std::wstring getPackageName() const { return getPackageName(*this); }
    static uint32_t setPackageName(RepositoryKey& key, const std::wstring& text);
    uint32_t setPackageName(const std::wstring& text) { return setPackageName(*this, text); }
    static std::wstring getPlugInDllName(const RepositoryKey& key);
    std::wstring getPlugInDllName() const { return getPlugInDllName(*this); }
    static uint32_t setPlugInDllName(RepositoryKey& key, const std::wstring& text);
    uint32_t setPlugInDllName(const std::wstring& text) { return setPlugInDllName(*this, text); }
    static std::wstring getDisplayTitle(const RepositoryKey& key);
    std::wstring getDisplayTitle() const { return getDisplayTitle(*this); }
    static uint32_t setDisplayTitle(RepositoryKey& key, const std::wstring& text);
    uint32_t setDisplayTitle(const std::wstring& text) { return setDisplayTitle(*this, text); }
    static std::wstring getCommandLine(const RepositoryKey& key);
    std::wstring getCommandLine() const { return getCommandLine(*this); }
    static uint32_t setCommandLine(RepositoryKey& key, const std::wstring& text);
    uint32_t setCommandLine(const std::wstring& text) { return setCommandLine(*this, text); }
    static std::wstring getSourceVolume(const RepositoryKey& key);
    std::wstring getSourceVolume() const { return getSourceVolume(*this); }
    static uint32_t setSourceVolume(RepositoryKey& key, const std::wstring& text);
    uint32_t setSourceVolume(const std::wstring& text) { return setSourceVolume(*this, text); }
    static std::wstring getSourcePath(const RepositoryKey& key);
    std::wstring getSourcePath() const { return getSourcePath(*this); }
    static uint32_t setSourcePath(RepositoryKey& key, const std::wstring& text);
    uint32_t setSourcePath(const std::wstring& text) { return setSourcePath(*this, text); }
    static std::wstring getInstallDirSuffix(const RepositoryKey& key);
    std::wstring getInstallDirSuffix() const { return getInstallDirSuffix(*this); }
    static uint32_t setInstallDirSuffix(RepositoryKey& key, const std::wstring& text);
    uint32_t setInstallDirSuffix(const std::wstring& text) { return setInstallDirSuffix(*this, text); }
    static std::wstring getVersion(const RepositoryKey& key);
    std::wstring getVersion() const { return getVersion(*this); }
    static uint32_t setVersion(RepositoryKey& key, const std::wstring& text);
    uint32_t setVersion(const std::wstring& text) { return setVersion(*this, text); }
    // 0 when missing.
    static int32_t getInstallStatus(const RepositoryKey& key);
    int32_t getInstallStatus() const { return getInstallStatus(*this); }
    static uint32_t setInstallStatus(RepositoryKey& key, int32_t status);
    uint32_t setInstallStatus(int32_t status) { return setInstallStatus(*this, status); }
    // Full 64-bit decimal text.
    static int64_t getDiskSpaceRequired(const RepositoryKey& key);
    int64_t getDiskSpaceRequired() const { return getDiskSpaceRequired(*this); }
    static uint32_t setDiskSpaceRequired(RepositoryKey& key, int64_t bytes);
    uint32_t setDiskSpaceRequired(int64_t bytes) { return setDiskSpaceRequired(*this, bytes); }

    // The GUID of one platform's slot in the child "Guid"; empty when the levels name no slot.
    static std::wstring getGuid(const RepositoryKey& key, int32_t osLevel, int32_t is64Bit, int32_t arch);
    std::wstring getGuid(int32_t osLevel, int32_t is64Bit, int32_t arch) const
    {
        return getGuid(*this, osLevel, is64Bit, arch);
    }
    // 87 (nothing stored) when the levels name no slot; KITO_NO_MEMORY (nothing changed) when memory
    // runs out.
    static uint32_t setGuid(RepositoryKey& key, const std::wstring& guid, int32_t osLevel, int32_t is64Bit,
                            int32_t arch);
    uint32_t setGuid(const std::wstring& guid, int32_t osLevel, int32_t is64Bit, int32_t arch)
    {
        return setGuid(*this, guid, osLevel, is64Bit, arch);
    }

    static std::wstring getRepairable(const RepositoryKey& key);
    std::wstring getRepairable() const { return getRepairable(*this); }
    static std::wstring getRepairLevel(const RepositoryKey& key);
    std::wstring getRepairLevel() const { return getRepairLevel(*this); }
    static std::wstring getARPEntry(const RepositoryKey& key);
    std::wstring getARPEntry() const { return getARPEntry(*this); }
    static std::wstring getCommandLineOptionForAdd(const RepositoryKey& key);
    std::wstring getCommandLineOptionForAdd() const { return getCommandLineOptionForAdd(*this); }
    static std::wstring getCommandLineOptionForRemove(const RepositoryKey& key);
    std::wstring getCommandLineOptionForRemove() const { return getCommandLineOptionForRemove(*this); }

    // Texts that hold when they say "Yes", ignoring case.
    static bool isCommonSource(const RepositoryKey& key);
    bool isCommonSource() const { return isCommonSource(*this); }
    static bool isCommonInstallDir(const RepositoryKey& key);
    bool isCommonInstallDir() const { return isCommonInstallDir(*this); }
    static bool isArchitectIndependent(const RepositoryKey& key);
    bool isArchitectIndependent() const { return isArchitectIndependent(*this); }
    static bool is64BitAvailable(const RepositoryKey& key);
    bool is64BitAvailable() const { return is64BitAvailable(*this); }
    static bool isReInstallUpsale(const RepositoryKey& key);
    bool isReInstallUpsale() const { return isReInstallUpsale(*this); }

    // True with the name copied out when "OptionOf" holds one; else false and name untouched.
    static bool getOptionOf(const RepositoryKey& key, std::wstring& name);
    bool getOptionOf(std::wstring& name) const { return getOptionOf(*this, name); }

    static bool isAvailable(const RepositoryKey& key);
    bool isAvailable() const { return isAvailable(*this); }
    static uint32_t setAvailable(RepositoryKey& key, bool available);
    uint32_t setAvailable(bool available) { return setAvailable(*this, available); }
    static bool isSelected(const RepositoryKey& key);
    bool isSelected() const { return isSelected(*this); }
    static uint32_t setSelected(RepositoryKey& key, bool selected);
    uint32_t setSelected(bool selected) { return setSelected(*this, selected); }

    // 2 when missing.
    static int32_t getComponentType(const RepositoryKey& key);
    int32_t getComponentType() const { return getComponentType(*this); }
    // Any number but 0; false when missing.
    static bool isReInstallable(const RepositoryKey& key);
    bool isReInstallable() const { return isReInstallable(*this); }
    // Any number but 0; true when missing.
    static bool isSigned(const RepositoryKey& key);
    bool isSigned() const { return isSigned(*this); }
    // False only for "No", ignoring case.
    static bool isUpgradedCacheAvailable(const RepositoryKey& key);
    bool isUpgradedCacheAvailable() const { return isUpgradedCacheAvailable(*this); }

    // Whether the component may go on a node of that OS level and architecture.
    static bool isSupported(const RepositoryKey& key, int32_t osLevel, int32_t arch);
    bool isSupported(int32_t osLevel, int32_t arch) const { return isSupported(*this, osLevel, arch); }
    // The repository's components that are options of this one, by mode; empty without a repository.
    static KeyList getComponentOptions(const RepositoryKey& key, int mode);
    KeyList getComponentOptions(int mode) const { return getComponentOptions(*this, mode); }
    // The prerequisite entries of that kind.
    static KeyList getPreRequisitesSw(const RepositoryKey& key, int kind);
    KeyList getPreRequisitesSw(int kind) const { return getPreRequisitesSw(*this, kind); }
};
