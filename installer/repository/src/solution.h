#pragma once

#include <string>
#include <vector>

#include "typedkey.h"

// The integer "Type" of a solution: the product itself or one kind of update.
enum UpdateKind {
    UPDATE_KIND_PRODUCT = 1,
    UPDATE_KIND_ROLLUP_PATCHES = 3,
    UPDATE_KIND_MAINTENANCE_PACKS = 4,
    UPDATE_KIND_HOTFIXES = 5,
    UPDATE_KIND_ADDONS = 6,
};

// The sub-key of an update kind with its backslash: none for the product itself, only the backslash
// for an unknown kind.
uint32_t getUpdateKindSubKey(std::wstring& subKey, int kind);

// One installable solution of the product, a child of the repository's "Solutions". Each accessor works
// on any key of that shape (the static form, for plain keys); the member reads the view itself.
class Solution : public TypedKey<Solution, KeyTypeSolution> {
public:
    using TypedKey::TypedKey;

    // Kinds of getProductList.
    static constexpr int CannotCoExistProducts = 1;
    static constexpr int UpgradableProducts = 2;
    static constexpr int MustExistProducts = 3;
    static constexpr int WarningProducts = 4;

    static std::wstring getDisplayTitle(const RepositoryKey& key);
    std::wstring getDisplayTitle() const { return getDisplayTitle(*this); }
    static uint32_t setDisplayTitle(RepositoryKey& key, const std::wstring& text);
    uint32_t setDisplayTitle(const std::wstring& text) { return setDisplayTitle(*this, text); }
    static bool isAvailable(const RepositoryKey& key);
    bool isAvailable() const { return isAvailable(*this); }
    static uint32_t setAvailable(RepositoryKey& key, bool available);
    uint32_t setAvailable(bool available) { return setAvailable(*this, available); }
    static bool isSelected(const RepositoryKey& key);
    bool isSelected() const { return isSelected(*this); }
    // Selects or deselects the solution's components in the repository too.
    static uint32_t setSelected(RepositoryKey& key, bool selected);
    uint32_t setSelected(bool selected) { return setSelected(*this, selected); }
    // 0 when missing.
    static int32_t getInstallStatus(const RepositoryKey& key);
    int32_t getInstallStatus() const { return getInstallStatus(*this); }
    static uint32_t setInstallStatus(RepositoryKey& key, int32_t status);
    uint32_t setInstallStatus(int32_t status) { return setInstallStatus(*this, status); }

    static int32_t getWarningMsgIDOnReboot(const RepositoryKey& key);
    int32_t getWarningMsgIDOnReboot() const { return getWarningMsgIDOnReboot(*this); }
    // The catalogue's text of the message id when it has one (id 0 is none), else the stored text.
    static std::wstring getWarningMsgOnReboot(const RepositoryKey& key);
    std::wstring getWarningMsgOnReboot() const { return getWarningMsgOnReboot(*this); }
    static std::wstring getVersion(const RepositoryKey& key);
    std::wstring getVersion() const { return getVersion(*this); }
    static std::wstring getGuid(const RepositoryKey& key);
    std::wstring getGuid() const { return getGuid(*this); }
    static int32_t getType(const RepositoryKey& key);
    int32_t getType() const { return getType(*this); }
    static std::wstring getSolutionID(const RepositoryKey& key);
    std::wstring getSolutionID() const { return getSolutionID(*this); }
    static int32_t getSolutionCmdLnID(const RepositoryKey& key);
    int32_t getSolutionCmdLnID() const { return getSolutionCmdLnID(*this); }
    static std::wstring getSolutionCmdLnName(const RepositoryKey& key);
    std::wstring getSolutionCmdLnName() const { return getSolutionCmdLnName(*this); }
    static bool isRebootRequired(const RepositoryKey& key);
    bool isRebootRequired() const { return isRebootRequired(*this); }
    // True when missing.
    static bool isRemoteInstall(const RepositoryKey& key);
    bool isRemoteInstall() const { return isRemoteInstall(*this); }
    static bool isReInstallable(const RepositoryKey& key);
    bool isReInstallable() const { return isReInstallable(*this); }
    // Also true when the solution upgrades no parent product.
    static bool isInstallPathSelectable(const RepositoryKey& key);
    bool isInstallPathSelectable() const { return isInstallPathSelectable(*this); }
    static bool isRepairable(const RepositoryKey& key);
    bool isRepairable() const { return isRepairable(*this); }
    static std::wstring getPostInstallCmdLine(const RepositoryKey& key);
    std::wstring getPostInstallCmdLine() const { return getPostInstallCmdLine(*this); }
    static std::wstring getLanguage(const RepositoryKey& key);
    std::wstring getLanguage() const { return getLanguage(*this); }
    static int32_t getReleaseArch(const RepositoryKey& key);
    int32_t getReleaseArch() const { return getReleaseArch(*this); }

    // Mode 2: the options whose "Selected" is 1; any other mode: all.
    static KeyList getSolutionOptions(const RepositoryKey& key, int mode);
    KeyList getSolutionOptions(int mode) const { return getSolutionOptions(*this, mode); }
    // The repository's components that the solution names, in install order; empty without a
    // repository or its install sequence.
    static KeyList getComponents(const RepositoryKey& key);
    KeyList getComponents() const { return getComponents(*this); }
    static KeyList getProductList(const RepositoryKey& key, int kind);
    KeyList getProductList(int kind) const { return getProductList(*this, kind); }
    // The "ProductID" of each upgradable product that is a parent.
    static std::vector<std::wstring> getUpgradableParentProductIDs(const RepositoryKey& key);
    std::vector<std::wstring> getUpgradableParentProductIDs() const { return getUpgradableParentProductIDs(*this); }
    static KeyList getSystemChecks(const RepositoryKey& key);
    KeyList getSystemChecks() const { return getSystemChecks(*this); }
    // The checks of that "Mode" whose "Name" is exactly name.
    static KeyList getSystemChecks(const RepositoryKey& key, int mode, const std::wstring& name);
    KeyList getSystemChecks(int mode, const std::wstring& name) const { return getSystemChecks(*this, mode, name); }
    static KeyList getSupportedPlatforms(const RepositoryKey& key);
    KeyList getSupportedPlatforms() const { return getSupportedPlatforms(*this); }
};
