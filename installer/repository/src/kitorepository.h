#pragma once

#include <string>
#include <vector>

#include "typedkey.h"

// The installer repository: what the product information says about the installer product, the
// user's choices, facts about the running system and the installer module's version.
class KitoRepository : public TypedKey<KitoRepository, KeyTypeKitoRepository> {
public:
    using TypedKey::TypedKey;

    // List modes: the entries whose "Selected" is 1, or all of them.
    static constexpr int ListSelected = 2;
    static constexpr int ListAll = 3;
    // A file that cannot be loaded, and a module without the version string.
    static constexpr uint32_t FileNotLoaded = 9;
    static constexpr uint32_t VersionNotFound = 10000;

    // Null or empty names take the defaults: "productInformation.xml" in the program's directory, the
    // program's own module. Always 0: failures show in the log only.
    uint32_t initFromProdInfoXML(const wchar_t* fileName, const wchar_t* directory, const wchar_t* moduleName);
    uint32_t _initFromProdInfoXML(const wchar_t* fileName, const wchar_t* directory);
    uint32_t _setKitoVersion(const wchar_t* moduleName);
    uint32_t initFromInstallXML(const wchar_t* fileName, const wchar_t* directory);
    // A new tree in which each key is rebuilt as the view its "KeyType" names; null when memory runs out.
    RepositoryKey* _initFromInstallXML(const RepositoryKey* key);
    uint32_t dump();
    std::wstring getVersion() const;
    uint32_t setLogPath(const std::wstring& path);

    KeyList getSolutions(int mode) const;
    KeyList getComponents(int mode) const;
    uint32_t orderByInstallSequence(const KeyList& keys, KeyList& ordered) const;
    RepositoryKey* findSolution(const std::wstring& solutionId) const;
    RepositoryKey* getCleanupOperations(const std::wstring& solutionId) const;
    std::wstring getGuid() const;
    int32_t getKitoCacheSpaceRequired() const;
    uint32_t setValidation(int flag);
    bool getValidation() const;

    // What the selected solutions say. The first four ask the root in KitoDb (this one while none is
    // set); a boolean holds when any selected solution answers true.
    bool isRepairable() const;
    bool isRebootRequired() const;
    bool isRemoteInstall() const;
    bool hasSolutionOptions() const;
    bool isInstallPathSelectable() const;
    // The first selected solution's text; text stays as the caller left it when none is selected.
    // 10 when text is then empty, else 0.
    uint32_t getWarningMsgOnReboot(std::wstring& text) const;
    uint32_t getDisplayTitle(std::wstring& text) const;
    // Empty when none is selected.
    std::wstring getSelectedSolutionVersion() const;
    // The "Type" of the first selected solution that names the component, ignoring case; 1 for none.
    int32_t getComponentSolutionType(const std::wstring& componentName) const;
    // The options of each solution of that mode, by the same mode, appended in order.
    KeyList collectSolutionOptions(int mode) const;

    // What the discovery subtree of KitoDb records for a node (an empty domain is "KITODOMAIN") under the
    // root's release; false without a root, or for a domain, host or id that is not one name.
    bool isSolutionInstalled(const std::wstring& solutionId, const std::wstring& domain,
                             const std::wstring& host) const;
    // Only a component key with at least one child key counts.
    bool isComponentInstalled(const std::wstring& componentId, const std::wstring& domain,
                              const std::wstring& host) const;
    // Whether a selected solution of this repository is a language pack.
    bool hasLanguagePackSelected() const;
    static bool isLanguagePack(const std::wstring& solutionId);
    // Asks the selection of KitoDb, whichever repository it is called on; false without a root.
    bool isSolutionSelected(const std::wstring& solutionId) const;
    // Set when the repository is initialised, for a 64-bit library as for a 32-bit one under WOW64.
    bool is64BitOS() const;

    // Prerequisites of a solution or component: its "PreRequisitesSw" list "Include" (include) or
    // "Exclude". The solution list holds the ids its values name; the solution check asks that every one
    // is installed on the node, the component check that one listed product is present there. An empty
    // list is satisfied; an id, domain or host that is not one name is not.
    std::vector<std::wstring> arePreRequisiteSolnsInstalled(const std::wstring& solutionId, bool include) const;
    bool arePreRequisiteSolnsInstalled(const std::wstring& solutionId, const std::wstring& domain,
                                       const std::wstring& host, bool include) const;
    KeyList getPreRequisiteComps(const std::wstring& componentId, bool include) const;
    // The same list as the keys' names.
    void getPreRequisiteComps(const std::wstring& componentId, bool include, std::vector<std::wstring>& names) const;
    bool arePreRequisiteCompsInstalled(const std::wstring& componentId, const std::wstring& domain,
                                       const std::wstring& host, bool include) const;
    int32_t getReleaseMode() const;
    void setReleaseMode(int32_t mode);
    void setReleaseArch(int32_t arch);
    // Of the first selected solution: 2 when none is selected.
    int32_t getReleaseArch() const;

    // Where the installer's things lie. Empty texts and null keys stand for "no path"; a domain, host or
    // id that is not one name finds nothing (an empty domain is "KITODOMAIN").
    // The node's installer key, "Discovery\domain\host\Software\Osmark\Kito", then a release's list below it;
    // empty where a part is not one name.
    static std::wstring kitoKeyPath(const std::wstring& domain, const std::wstring& host);
    static std::wstring releaseListPath(const std::wstring& domain, const std::wstring& host,
                                        const std::wstring& release, const wchar_t* list);
    RepositoryKey* getKitoKey(const std::wstring& domain, const std::wstring& host) const;
    std::wstring getInstallPath(const std::wstring& domain, const std::wstring& host,
                                const std::wstring& solutionId) const;
    std::wstring getCachePath(const std::wstring& domain, const std::wstring& host,
                              const std::wstring& solutionId) const;
    // Below the common files folder, with a trailing backslash.
    std::wstring getCacheSubPath(int32_t kind) const;
    std::wstring getReleaseSubPath(int32_t kind) const;

private:
    const KitoRepository& processRoot() const;
    bool anySelected(bool (*answer)(const RepositoryKey&)) const;
    uint32_t firstSelectedText(std::wstring (*read)(const RepositoryKey&), std::wstring& text) const;
    KeyList chooseChildren(const wchar_t* listName, int mode) const;
    std::wstring textValue(const wchar_t* name) const;
    const RepositoryKey* preRequisiteList(const wchar_t* part, const std::wstring& id, bool include,
                                          const wchar_t* function) const;
};

// The one repository root of the process; null until the removal code creates it.
extern KitoRepository* KitoDb;

// Creates the installer's per-run log folder (named after the local time, below the machine's
// application-data folder), opens the module logger in it and records it as "LogPath". startTime gets
// the time as the installer's language shows it. 0, or the first failure's code; 206 when the folder
// or the log file's path would not fit in MAX_PATH, before anything is created.
uint32_t initInstallerLog(const std::wstring& logFileName, std::wstring& startTime);
