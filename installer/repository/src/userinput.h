#pragma once

#include <string>
#include <vector>

#include "typedkey.h"

// What the user chose for an installation: mode, language, solutions and options (marked as selected in
// the repository root too), target hosts with their domain and install path, reboot and failure flags.
// Each operation works on any key of that shape (the static form, for plain keys); the member works on
// the view itself. Solution, option, host and domain names stand for one key: an empty name or one with
// a backslash is refused with E_KITO_INVALIDARG and changes nothing. Without a repository root the
// choosing operations give E_KITO_INVALIDARG and the root's lists read as empty.
class UserInput : public TypedKey<UserInput, KeyTypeUserInput> {
public:
    using TypedKey::TypedKey;
    using Names = std::vector<std::wstring>;

    static int32_t getInstallMode(const RepositoryKey& key);
    int32_t getInstallMode() const { return getInstallMode(*this); }
    static uint32_t setInstallMode(RepositoryKey& key, int32_t mode);
    uint32_t setInstallMode(int32_t mode) { return setInstallMode(*this, mode); }
    static int32_t getInstallerLanguage(const RepositoryKey& key);
    int32_t getInstallerLanguage() const { return getInstallerLanguage(*this); }
    static uint32_t setInstallerLanguage(RepositoryKey& key, int32_t language);
    uint32_t setInstallerLanguage(int32_t language) { return setInstallerLanguage(*this, language); }
    static bool getReboot(const RepositoryKey& key);
    bool getReboot() const { return getReboot(*this); }
    static uint32_t setReboot(RepositoryKey& key, bool reboot);
    uint32_t setReboot(bool reboot) { return setReboot(*this, reboot); }
    // The node's result: E_KITO_INVALIDARG with number unchanged when the value is missing.
    static uint32_t getIgnoreOnFailure(const RepositoryKey& key, int32_t& number);
    uint32_t getIgnoreOnFailure(int32_t& number) const { return getIgnoreOnFailure(*this, number); }
    static uint32_t setIgnoreOnFailure(RepositoryKey& key, int32_t number);
    uint32_t setIgnoreOnFailure(int32_t number) { return setIgnoreOnFailure(*this, number); }
    static uint32_t getRemoteAutoReboot(const RepositoryKey& key, int32_t& number);
    uint32_t getRemoteAutoReboot(int32_t& number) const { return getRemoteAutoReboot(*this, number); }
    static uint32_t setRemoteAutoReboot(RepositoryKey& key, int32_t number);
    uint32_t setRemoteAutoReboot(int32_t number) { return setRemoteAutoReboot(*this, number); }

    // The root's solution key of that name, selected with its components and recorded by its id;
    // KITO_NO_MEMORY, with nothing selected or recorded, when memory runs out.
    static uint32_t addSolution(RepositoryKey& key, const std::wstring& name);
    uint32_t addSolution(const std::wstring& name) { return addSolution(*this, name); }
    // Deselected; components that another selected solution names stay selected.
    static uint32_t removeSolution(RepositoryKey& key, const std::wstring& name);
    uint32_t removeSolution(const std::wstring& name) { return removeSolution(*this, name); }
    // The id is recorded even when the root holds no such option.
    static uint32_t addSolutionOption(RepositoryKey& key, const std::wstring& id);
    uint32_t addSolutionOption(const std::wstring& id) { return addSolutionOption(*this, id); }
    static uint32_t removeSolutionOption(RepositoryKey& key, const std::wstring& id);
    uint32_t removeSolutionOption(const std::wstring& id) { return removeSolutionOption(*this, id); }

    // A comma list; empty items are skipped, a list that cannot be split adds nothing (both 0);
    // KITO_NO_MEMORY, with no host added, when memory runs out.
    static uint32_t addHosts(RepositoryKey& key, const std::wstring& hosts);
    uint32_t addHosts(const std::wstring& hosts) { return addHosts(*this, hosts); }
    static uint32_t setHostDomain(RepositoryKey& key, const std::wstring& host, const std::wstring& domain);
    uint32_t setHostDomain(const std::wstring& host, const std::wstring& domain)
    {
        return setHostDomain(*this, host, domain);
    }
    static uint32_t setHostInstallPath(RepositoryKey& key, const std::wstring& host, const std::wstring& path);
    uint32_t setHostInstallPath(const std::wstring& host, const std::wstring& path)
    {
        return setHostInstallPath(*this, host, path);
    }
    // With everything below the host; 0 also when the host is not there.
    static uint32_t removeHost(RepositoryKey& key, const std::wstring& host);
    uint32_t removeHost(const std::wstring& host) { return removeHost(*this, host); }
    static std::wstring getHostInstallPath(const RepositoryKey& key, const std::wstring& host);
    std::wstring getHostInstallPath(const std::wstring& host) const { return getHostInstallPath(*this, host); }

    // The list operations append; what the list held before stays.
    // Each domain once, ignoring case, counting what the list held before.
    static uint32_t getDomains(const RepositoryKey& key, Names& domains);
    uint32_t getDomains(Names& domains) const { return getDomains(*this, domains); }
    // An empty domain also takes the hosts without one.
    static uint32_t getHostsOfDomain(const RepositoryKey& key, const std::wstring& domain, Names& hosts);
    uint32_t getHostsOfDomain(const std::wstring& domain, Names& hosts) const
    {
        return getHostsOfDomain(*this, domain, hosts);
    }
    static uint32_t getSolutionIDs(const RepositoryKey& key, Names& ids);
    uint32_t getSolutionIDs(Names& ids) const { return getSolutionIDs(*this, ids); }
    // E_KITO_FAILED when no option id was ever recorded.
    static uint32_t getSolutionOptionIDs(const RepositoryKey& key, Names& ids);
    uint32_t getSolutionOptionIDs(Names& ids) const { return getSolutionOptionIDs(*this, ids); }
    // The key names of the root's selected solutions.
    static uint32_t getSelectedSolutionNames(const RepositoryKey& key, Names& names);
    uint32_t getSelectedSolutionNames(Names& names) const { return getSelectedSolutionNames(*this, names); }
    // The display title of the main chosen solution; empty when none of the main ones was chosen.
    static std::wstring getPrimarySolutionTitle(const RepositoryKey& key);
    std::wstring getPrimarySolutionTitle() const { return getPrimarySolutionTitle(*this); }
};
