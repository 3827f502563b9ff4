#pragma once

#include <string>

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

private:
    KeyList chooseChildren(const wchar_t* listName, int mode) const;
    std::wstring textValue(const wchar_t* name) const;
};

// The one repository root of the process; null until the removal code creates it.
extern KitoRepository* KitoDb;
