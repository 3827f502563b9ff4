#pragma once

#include <string>

#include "typedkey.h"

// An optional part of a solution, chosen on its own: a child of a solution's "SolutionOptions" (a plain
// key there) or of the repository's. Each accessor works on any key of that shape (the static form, for
// plain keys); the member reads the view itself.
class SolutionOption : public TypedKey<SolutionOption, KeyTypeSolutionOption> {
public:
    using TypedKey::TypedKey;

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
    // Selects or deselects the option's components in the repository too.
    static uint32_t setSelected(RepositoryKey& key, bool selected);
    uint32_t setSelected(bool selected) { return setSelected(*this, selected); }
    // 0 when missing.
    static int32_t getInstallStatus(const RepositoryKey& key);
    int32_t getInstallStatus() const { return getInstallStatus(*this); }
    static uint32_t setInstallStatus(RepositoryKey& key, int32_t status);
    uint32_t setInstallStatus(int32_t status) { return setInstallStatus(*this, status); }

    // The repository's components that the option names, in the order of its value names.
    static KeyList getComponents(const RepositoryKey& key);
    KeyList getComponents() const { return getComponents(*this); }
    static KeyList getSystemChecks(const RepositoryKey& key);
    KeyList getSystemChecks() const { return getSystemChecks(*this); }
    static KeyList getSystemChecks(const RepositoryKey& key, int mode, const std::wstring& name);
    KeyList getSystemChecks(int mode, const std::wstring& name) const { return getSystemChecks(*this, mode, name); }
    static KeyList getSupportedPlatforms(const RepositoryKey& key);
    KeyList getSupportedPlatforms() const { return getSupportedPlatforms(*this); }
};
