#include "userinput.h"

#include "keyvalues.h"
#include "kitorepository.h"
#include "solution.h"
#include "solutionoption.h"
#include "stringutils.h"

using namespace keyValues;

namespace {

const wchar_t OptionIds[] = L"Solutions\\SolutionOptions";

// The ids of the main solutions, in the order in which one is taken as the primary choice.
const wchar_t* const PrimarySolutions[] = {
    L"plov.soln.mesaw.server", L"plov.soln.mesawha.server", L"plov.soln.tarn.server",     L"plov.soln.mesa.gui",
    L"plov.soln.mesawha.gui",  L"plov.soln.tarn.gui",       L"plov.soln.mesaw.server.lp",
};

// The root's key of that one name below list; null without a root.
RepositoryKey* rootEntry(const wchar_t* list, const std::wstring& name)
{
    return childNamed(KitoDb ? KitoDb->getSubKey(list) : nullptr, name);
}

// The host's key, created when missing; null for a name that is not one key name.
RepositoryKey* hostKey(RepositoryKey& key, const std::wstring& host)
{
    return isOneName(host) ? key.createSubKey(L"Hosts\\" + host) : nullptr;
}

uint32_t setHostText(RepositoryKey& key, const std::wstring& host, const wchar_t* name, const std::wstring& text)
{
    RepositoryKey* found = hostKey(key, host);
    if (!found)
        return E_KITO_INVALIDARG;
    found->setStringValue(name, text);
    return 0;
}

// All of the hosts' keys or, when one cannot be made, none: what was made here is taken back. A list
// made here holds the hosts' keys made in it, so then it alone is owned.
uint32_t addHostKeys(RepositoryKey& key, const UserInput::Names& names)
{
    RepositoryKey* list = key.getSubKey(L"Hosts");
    KeyTree madeList;
    std::vector<KeyTree> madeHosts;
    madeHosts.reserve(names.size());
    for (const std::wstring& host : names) {
        if (host.empty() || (list && list->getSubKey(host)))
            continue;
        if (!list) {
            list = key.createSubKey(L"Hosts");
            madeList.reset(list);
        }
        RepositoryKey* created = list ? list->createSubKey(host) : nullptr;
        if (!created)
            return KITO_NO_MEMORY;
        if (!madeList)
            madeHosts.emplace_back(created);
    }
    madeList.release();
    for (KeyTree& made : madeHosts)
        made.release();
    return 0;
}

void appendValueNames(const RepositoryKey& key, UserInput::Names& names)
{
    for (const auto& value : key.values())
        names.push_back(value.first);
}

bool holdsNoCase(const UserInput::Names& names, const std::wstring& text)
{
    for (const std::wstring& name : names) {
        if (equalsNoCase(name, text))
            return true;
    }
    return false;
}

} // namespace

int32_t UserInput::getInstallMode(const RepositoryKey& key)
{
    return number(key, L"InstallMode");
}

uint32_t UserInput::setInstallMode(RepositoryKey& key, int32_t mode)
{
    return setNumber(key, L"InstallMode", mode);
}

int32_t UserInput::getInstallerLanguage(const RepositoryKey& key)
{
    return number(key, L"InstallerLanguage");
}

uint32_t UserInput::setInstallerLanguage(RepositoryKey& key, int32_t language)
{
    return setNumber(key, L"InstallerLanguage", language);
}

bool UserInput::getReboot(const RepositoryKey& key)
{
    return flag(key, L"Reboot");
}

uint32_t UserInput::setReboot(RepositoryKey& key, bool reboot)
{
    return setFlag(key, L"Reboot", reboot);
}

uint32_t UserInput::getIgnoreOnFailure(const RepositoryKey& key, int32_t& number)
{
    return key.getIntValue(L"IgnoreOnFailure", number);
}

uint32_t UserInput::setIgnoreOnFailure(RepositoryKey& key, int32_t number)
{
    return key.setIntValue(L"IgnoreOnFailure", number);
}

uint32_t UserInput::getRemoteAutoReboot(const RepositoryKey& key, int32_t& number)
{
    return key.getIntValue(L"RemoteAutoReboot", number);
}

uint32_t UserInput::setRemoteAutoReboot(RepositoryKey& key, int32_t number)
{
    return key.setIntValue(L"RemoteAutoReboot", number);
}

uint32_t UserInput::addSolution(RepositoryKey& key, const std::wstring& name)
{
    if (!isOneName(name))
        return E_KITO_INVALIDARG;
    return orNoMemory([&]() -> uint32_t {
        RepositoryKey* solution = rootEntry(L"Solutions", name);
        const std::wstring id = solution ? Solution::getSolutionID(*solution) : std::wstring();
        RepositoryKey* chosen = key.getSubKey(L"Solutions");
        const bool chosenWasThere = chosen != nullptr;
        const bool idWasThere = chosen && !id.empty() && chosen->hasValue(id);
        if (!chosen && !(chosen = key.createSubKey(L"Solutions")))
            return KITO_NO_MEMORY;
        if (!solution)
            return E_KITO_INVALIDARG;
        // Recorded first, and taken back when the selection cannot be made: all of the choice or none.
        KeyTree madeHere(chosenWasThere ? nullptr : chosen);
        uint32_t result = id.empty() ? 0 : chosen->addValue(id);
        if (result == 0)
            result = Solution::setSelected(*solution, true);
        if (result == 0) {
            madeHere.release();
            return 0;
        }
        if (!madeHere && !idWasThere && !id.empty())
            chosen->removeValue(id);
        return KITO_NO_MEMORY;
    });
}

uint32_t UserInput::removeSolution(RepositoryKey& key, const std::wstring& name)
{
    RepositoryKey* chosen = key.getSubKey(L"Solutions");
    RepositoryKey* solution = rootEntry(L"Solutions", name);
    if (!solution)
        return E_KITO_INVALIDARG;
    Solution::setSelected(*solution, false);
    // Components shared with a solution that stays chosen are selected again.
    for (RepositoryKey* kept : KitoDb->getSolutions(KitoRepository::ListSelected))
        Solution::setSelected(*kept, true);
    if (chosen)
        chosen->removeValue(Solution::getSolutionID(*solution));
    return 0;
}

uint32_t UserInput::addSolutionOption(RepositoryKey& key, const std::wstring& id)
{
    if (!isOneName(id))
        return E_KITO_INVALIDARG;
    // Recorded before the lookup, so the choice stays even when the option is missing.
    if (RepositoryKey* chosen = key.createSubKey(OptionIds))
        chosen->addValue(id);
    RepositoryKey* option = rootEntry(L"SolutionOptions", id);
    if (!option)
        return E_KITO_INVALIDARG;
    SolutionOption::setSelected(*option, true);
    return 0;
}

uint32_t UserInput::removeSolutionOption(RepositoryKey& key, const std::wstring& id)
{
    if (!isOneName(id))
        return E_KITO_INVALIDARG;
    if (RepositoryKey* chosen = key.createSubKey(OptionIds))
        chosen->removeValue(id);
    RepositoryKey* option = rootEntry(L"SolutionOptions", id);
    if (!option)
        return E_KITO_INVALIDARG;
    SolutionOption::setSelected(*option, false);
    // Components shared with an option that stays chosen are selected again.
    for (RepositoryKey* kept : KitoDb->collectSolutionOptions(KitoRepository::ListSelected))
        SolutionOption::setSelected(*kept, true);
    return 0;
}

uint32_t UserInput::addHosts(RepositoryKey& key, const std::wstring& hosts)
{
    return orNoMemory([&]() -> uint32_t {
        Names names;
        if (splitList(hosts, names) != 0)
            return 0;
        for (const std::wstring& host : names) {
            if (!host.empty() && !isOneName(host))
                return E_KITO_INVALIDARG;
        }
        return addHostKeys(key, names);
    });
}

uint32_t UserInput::setHostDomain(RepositoryKey& key, const std::wstring& host, const std::wstring& domain)
{
    return setHostText(key, host, L"Domain", domain);
}

uint32_t UserInput::setHostInstallPath(RepositoryKey& key, const std::wstring& host, const std::wstring& path)
{
    return setHostText(key, host, L"InstallPath", path);
}

uint32_t UserInput::removeHost(RepositoryKey& key, const std::wstring& host)
{
    if (!isOneName(host))
        return E_KITO_INVALIDARG;
    RepositoryKey::releaseTree(childNamed(key.getSubKey(L"Hosts"), host));
    return 0;
}

std::wstring UserInput::getHostInstallPath(const RepositoryKey& key, const std::wstring& host)
{
    const RepositoryKey* found = childNamed(key.getSubKey(L"Hosts"), host);
    return found ? text(*found, L"InstallPath") : std::wstring();
}

uint32_t UserInput::getDomains(const RepositoryKey& key, Names& domains)
{
    for (const RepositoryKey* host : childrenAt(key, L"Hosts")) {
        std::wstring domain;
        if (host->getStringValue(L"Domain", domain) == 0 && !holdsNoCase(domains, domain))
            domains.push_back(domain);
    }
    return 0;
}

uint32_t UserInput::getHostsOfDomain(const RepositoryKey& key, const std::wstring& domain, Names& hosts)
{
    for (const RepositoryKey* host : childrenAt(key, L"Hosts")) {
        std::wstring own;
        const bool hasDomain = host->getStringValue(L"Domain", own) == 0;
        if (hasDomain ? equalsNoCase(own, domain) : domain.empty())
            hosts.push_back(host->getName());
    }
    return 0;
}

uint32_t UserInput::getSolutionIDs(const RepositoryKey& key, Names& ids)
{
    if (const RepositoryKey* chosen = key.getSubKey(L"Solutions"))
        appendValueNames(*chosen, ids);
    return 0;
}

uint32_t UserInput::getSolutionOptionIDs(const RepositoryKey& key, Names& ids)
{
    const RepositoryKey* chosen = key.getSubKey(OptionIds);
    if (!chosen)
        return E_KITO_FAILED;
    appendValueNames(*chosen, ids);
    return 0;
}

uint32_t UserInput::getSelectedSolutionNames(const RepositoryKey&, Names& names)
{
    if (!KitoDb)
        return 0;
    for (const RepositoryKey* solution : KitoDb->getSolutions(KitoRepository::ListSelected))
        names.push_back(solution->getName());
    return 0;
}

std::wstring UserInput::getPrimarySolutionTitle(const RepositoryKey& key)
{
    const RepositoryKey* chosen = key.getSubKey(L"Solutions");
    if (!chosen)
        return std::wstring();
    Names ids;
    appendValueNames(*chosen, ids);
    for (const wchar_t* primary : PrimarySolutions) {
        if (holdsNoCase(ids, primary)) {
            const RepositoryKey* solution = rootEntry(L"Solutions", primary);
            return solution ? Solution::getDisplayTitle(*solution) : std::wstring();
        }
    }
    return std::wstring();
}
