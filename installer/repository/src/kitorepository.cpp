#include "kitorepository.h"

#include <windows.h>

#include <algorithm>
#include <cwchar>
#include <memory>
#include <new>
#include <unordered_map>
#include <utility>
#include <vector>

#include "component.h"
#include "logger.h"
#include "nodetextform.h"
#include "repositoryinitparams.h"
#include "solution.h"
#include "solutionoption.h"
#include "stringutils.h"
#include "userinput.h"

KitoRepository* KitoDb = nullptr;

namespace {

const DWORD kModulePathChars = MAX_PATH;
const wchar_t kVersionBlock[] = L"\\StringFileInfo\\040904e4\\FileVersion";

std::wstring orDefault(const wchar_t* given, const std::wstring& fallback)
{
    return given && *given ? std::wstring(given) : fallback;
}

// Name and values of source, as the view its "KeyType" names; any other kind comes back as a plain key.
RepositoryKey* rebuiltKey(const RepositoryKey& source)
{
    const KeyTree copy(source.copyKey());
    if (!copy) {
        return nullptr;
    }
    int32_t type = 0;
    copy->getIntValue(RepositoryKey::KeyTypeValue, type);
    switch (type) {
    case KeyTypeComponent:
        return makeKey<Component>(*copy);
    case KeyTypeSolution:
        return makeKey<Solution>(*copy);
    case KeyTypeSolutionOption:
        return makeKey<SolutionOption>(*copy);
    case KeyTypeUserInput:
        return makeKey<UserInput>(*copy);
    case KeyTypeRepositoryInitParams:
        return makeKey<RepositoryInitParams>(*copy);
    default: {
        KeyTree plain(RepositoryKey::create(copy->getName()));
        if (plain && plain->mergeKey(*copy) != 0) {
            return nullptr;
        }
        return plain.release();
    }
    }
}

// Each child of the part becomes a view of its own below the root's key of that name.
template <class View>
void addViews(KitoRepository& root, const wchar_t* name, const RepositoryKey& part)
{
    for (const RepositoryKey* child : part.subKeys()) {
        KeyTree view(makeKey<View>(*child));
        if (view) {
            root.addSubKeyAt(name, std::move(view));
        }
    }
}

void addClone(KitoRepository& root, const wchar_t*, const RepositoryKey& part)
{
    root.addSubKey(KeyTree(part.clone()));
}

struct ProductPart {
    const wchar_t* name;
    const wchar_t* missing;
    void (*add)(KitoRepository& root, const wchar_t* name, const RepositoryKey& part);
};

// The product information's parts, in the order the installer has always read them; the first
// missing one ends the merge, and what was added before it stays.
uint32_t mergeProductInformation(KitoRepository& root, const RepositoryKey& information, const ScopeTracer& tracer)
{
    const RepositoryKey* kito = information.getSubKey(L"Kito");
    if (!kito) {
        KITO_LOG_DEBUG(LOG_DBG_6, tracer, L"Could not find kitokey in prodinfoxml");
        return E_KITO_PRODINFO;
    }
    KITO_LOG_DEBUG(LOG_DBG_6, tracer, L"Added kitokey merge to global repository");
    root.mergeKey(*kito);

    const ProductPart parts[] = {
        {L"Components", L"Could not find components key in prodinfoxml", addViews<Component>},
        {L"Solutions", L"Could not find solutionsKey key in prodinfoxml", addViews<Solution>},
        {L"InstallSequence", L"Could not find instSeqKey key in prodinfoxml", addClone},
        {L"Platforms", L"Could not find platformDepKey key in prodinfoxml", addClone},
    };
    for (const ProductPart& part : parts) {
        const RepositoryKey* key = information.getSubKey(part.name);
        if (!key) {
            KITO_LOG_DEBUG(LOG_DBG_6, tracer, part.missing);
            return E_KITO_PRODINFO;
        }
        part.add(root, part.name, *key);
    }
    return 0;
}

} // namespace

uint32_t KitoRepository::initFromProdInfoXML(const wchar_t* fileName, const wchar_t* directory,
                                             const wchar_t* moduleName)
{
    ScopeTracer tracer(L"KitoRepository::initFromProdInfoXML", &g_logger);
    // A 64-bit library runs on a 64-bit system only; a 32-bit one learns it from the WOW64 probe.
    setIntValue(L"64BitOS", sizeof(void*) == 8 || isWow64() ? 1 : 0);
    addSubKey(KeyTree(makeKey<UserInput>(std::wstring(L"UserInput"))));
    _initFromProdInfoXML(fileName, directory);
    _setKitoVersion(moduleName);
    KITO_LOG_DEBUG(LOG_DBG_6, tracer, L"XML Formatted repository key after init = %s\n", writeKey(this).c_str());
    return 0;
}

uint32_t KitoRepository::_initFromProdInfoXML(const wchar_t* fileName, const wchar_t* directory)
{
    ScopeTracer tracer(L"_initFromProdInfoXML", &g_logger);
    const KeyTree information(
        loadKeyFromFile(orDefault(fileName, L"productInformation.xml"), orDefault(directory, getModuleDirectory())));
    if (!information) {
        return FileNotLoaded;
    }
    return mergeProductInformation(*this, *information, tracer);
}

uint32_t KitoRepository::_setKitoVersion(const wchar_t* moduleName)
{
    ScopeTracer tracer(L"KitoRepository::_setKitoVersion", &g_logger);
    wchar_t path[kModulePathChars] = {};
    GetModuleFileNameW(moduleName ? GetModuleHandleW(moduleName) : nullptr, path, kModulePathChars);
    path[kModulePathChars - 1] = L'\0';

    std::wstring version;
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeW(path, &ignored);
    if (size == 0) {
        KITO_LOG_DEBUG(LOG_DBG_6, tracer, L"GetFileVersionInfoSize failed for file %s with return value as %d", path,
                       static_cast<int>(GetLastError()));
    } else {
        std::unique_ptr<BYTE[]> block(new (std::nothrow) BYTE[size]);
        if (!block || !GetFileVersionInfoW(path, 0, size, block.get())) {
            KITO_LOG_DEBUG(LOG_DBG_6, tracer, L"GetFileVersionInfo failed for file %s with return value as %d", path,
                           static_cast<int>(block ? GetLastError() : ERROR_NOT_ENOUGH_MEMORY));
        } else {
            void* text = nullptr;
            UINT length = 0;
            if (!VerQueryValueW(block.get(), kVersionBlock, &text, &length) || !text) {
                KITO_LOG_DEBUG(LOG_DBG_6, tracer, L"VerQueryValue failed");
                return VersionNotFound;
            }
            const wchar_t* found = static_cast<const wchar_t*>(text);
            version.assign(found, wcsnlen(found, length));
        }
    }
    setStringValue(L"Version", version);
    return 0;
}

uint32_t KitoRepository::initFromInstallXML(const wchar_t* fileName, const wchar_t* directory)
{
    ScopeTracer tracer(L"KitoRepository::initFromInstallXML", &g_logger);
    std::wstring file = orDefault(fileName, L"install.xml");
    std::wstring folder = orDefault(directory, getModuleDirectory());
    KITO_LOG_DEBUG(LOG_DBG_1, tracer, L"Reading file %s from directory %s.", file.c_str(), folder.c_str());
    const KeyTree installation(loadKeyFromFile(file, folder));
    if (!installation) {
        return FileNotLoaded;
    }
    _setKitoVersion(nullptr);
    const KeyTree rebuilt(_initFromInstallXML(installation.get()));
    if (rebuilt) {
        mergeKey(*rebuilt);
    }
    return 0;
}

RepositoryKey* KitoRepository::_initFromInstallXML(const RepositoryKey* key)
{
    ScopeTracer tracer(L"KitoRepository::_initFromInstallXML", &g_logger);
    if (!key) {
        return nullptr;
    }
    KeyTree top(rebuiltKey(*key));
    if (!top) {
        return nullptr;
    }
    // Top down with a stack of its own, so that a deep file cannot exhaust the installer's stack.
    struct Pending {
        const RepositoryKey* source;
        RepositoryKey* parent;
    };
    auto pushChildren = [](std::vector<Pending>& pending, const RepositoryKey* source, RepositoryKey* parent) {
        const KeyList& children = source->subKeys();
        for (auto child = children.rbegin(); child != children.rend(); ++child) {
            pending.push_back({*child, parent});
        }
    };
    try {
        std::vector<Pending> pending;
        pushChildren(pending, key, top.get());
        while (!pending.empty()) {
            Pending next = pending.back();
            pending.pop_back();
            RepositoryKey* holder = next.parent->addSubKey(KeyTree(rebuiltKey(*next.source)));
            if (!holder) {
                throw std::bad_alloc();
            }
            pushChildren(pending, next.source, holder);
        }
    } catch (const std::bad_alloc&) {
        // A tree with a key missing is never handed out as the file's.
        return nullptr;
    }
    return top.release();
}

uint32_t KitoRepository::dump()
{
    saveKeyToFile(this, L"repositoryDump.xml", L"");
    return 0;
}

std::wstring KitoRepository::textValue(const wchar_t* name) const
{
    std::wstring text;
    getStringValue(name, text);
    return text;
}

std::wstring KitoRepository::getVersion() const
{
    return textValue(L"Version");
}

uint32_t KitoRepository::setLogPath(const std::wstring& path)
{
    setStringValue(L"LogPath", path);
    return 0;
}

RepositoryKey::KeyList KitoRepository::chooseChildren(const wchar_t* listName, int mode) const
{
    const RepositoryKey* list = getSubKey(listName);
    if (!list) {
        return KeyList();
    }
    switch (mode) {
    case ListSelected:
        return list->findSubKeysByIntValue(L"Selected", CompareEqual, 1);
    case ListAll:
        return list->getSubKeys();
    default:
        return KeyList();
    }
}

RepositoryKey::KeyList KitoRepository::getSolutions(int mode) const
{
    return chooseChildren(L"Solutions", mode);
}

RepositoryKey::KeyList KitoRepository::getComponents(int mode) const
{
    KeyList chosen = chooseChildren(L"Components", mode);
    KeyList ordered;
    return orderByInstallSequence(chosen, ordered) == 0 ? ordered : chosen;
}

uint32_t KitoRepository::orderByInstallSequence(const KeyList& keys, KeyList& ordered) const
{
    const RepositoryKey* sequence = getSubKey(L"InstallSequence");
    if (!sequence) {
        return E_KITO_PRODINFO;
    }
    // Names folded once, so that each name of the sequence costs one lookup and no scan: the first key
    // of each name, and the number of the first value of each name in map order.
    std::unordered_map<std::wstring, RepositoryKey*> keyOf;
    keyOf.reserve(keys.size());
    for (RepositoryKey* key : keys) {
        if (key) {
            keyOf.emplace(foldText(key->name()), key);
        }
    }
    std::unordered_map<std::wstring, int32_t> numberOf;
    std::vector<std::pair<RepositoryKey*, int32_t>> numbered;
    for (const auto& value : sequence->values()) {
        std::wstring folded = foldText(value.first);
        // An empty name reads no number.
        int32_t number = value.first.empty() ? 0 : static_cast<int32_t>(std::wcstol(value.second.c_str(), nullptr, 10));
        number = numberOf.emplace(folded, number).first->second;
        auto match = keyOf.find(folded);
        if (match != keyOf.end()) {
            numbered.emplace_back(match->second, number);
        }
    }
    // Equal numbers keep the order of the sequence's names.
    std::stable_sort(numbered.begin(), numbered.end(),
                     [](const auto& a, const auto& b) { return a.second < b.second; });
    for (const auto& entry : numbered) {
        ordered.push_back(entry.first);
    }
    return 0;
}

RepositoryKey* KitoRepository::findSolution(const std::wstring& solutionId) const
{
    const RepositoryKey* solutions = getSubKey(L"Solutions");
    if (!solutions) {
        return nullptr;
    }
    KeyList found = solutions->findSubKeysByStringValue(L"SolutionID", CompareEqual, solutionId);
    return found.empty() ? nullptr : found.front();
}

RepositoryKey* KitoRepository::getCleanupOperations(const std::wstring& solutionId) const
{
    const RepositoryKey* solution = findSolution(solutionId);
    return solution ? solution->getSubKey(L"CleanupOperations") : nullptr;
}

std::wstring KitoRepository::getGuid() const
{
    return textValue(L"Guid");
}

int32_t KitoRepository::getKitoCacheSpaceRequired() const
{
    int32_t space = 0;
    getIntValue(L"KitoCacheSpaceRequired", space);
    return space;
}

uint32_t KitoRepository::setValidation(int flag)
{
    setIntValue(L"VALIDATION", (flag & 0xFF) == 1 ? 1 : 0);
    return 0;
}

bool KitoRepository::getValidation() const
{
    int32_t validation = 0;
    return getIntValue(L"VALIDATION", validation) != 0 || validation == 1;
}

const KitoRepository& KitoRepository::processRoot() const
{
    return KitoDb ? *KitoDb : *this;
}

bool KitoRepository::anySelected(bool (*answer)(const RepositoryKey&)) const
{
    const KeyList chosen = getSolutions(ListSelected);
    return std::any_of(chosen.begin(), chosen.end(), [answer](const RepositoryKey* key) { return answer(*key); });
}

bool KitoRepository::isRepairable() const
{
    return processRoot().anySelected(&Solution::isRepairable);
}

bool KitoRepository::isRebootRequired() const
{
    return processRoot().anySelected(&Solution::isRebootRequired);
}

bool KitoRepository::isRemoteInstall() const
{
    return processRoot().anySelected(&Solution::isRemoteInstall);
}

bool KitoRepository::hasSolutionOptions() const
{
    return processRoot().anySelected(
        [](const RepositoryKey& key) { return !Solution::getSolutionOptions(key, ListAll).empty(); });
}

bool KitoRepository::isInstallPathSelectable() const
{
    return anySelected(&Solution::isInstallPathSelectable);
}

uint32_t KitoRepository::firstSelectedText(std::wstring (*read)(const RepositoryKey&), std::wstring& text) const
{
    const KeyList chosen = getSolutions(ListSelected);
    if (!chosen.empty()) {
        text = read(*chosen.front());
    }
    return text.empty() ? KITO_NO_SUCH_VALUE : 0;
}

uint32_t KitoRepository::getWarningMsgOnReboot(std::wstring& text) const
{
    return firstSelectedText(&Solution::getWarningMsgOnReboot, text);
}

uint32_t KitoRepository::getDisplayTitle(std::wstring& text) const
{
    return firstSelectedText(&Solution::getDisplayTitle, text);
}

std::wstring KitoRepository::getSelectedSolutionVersion() const
{
    std::wstring version;
    firstSelectedText(&Solution::getVersion, version);
    return version;
}

int32_t KitoRepository::getComponentSolutionType(const std::wstring& componentName) const
{
    for (const RepositoryKey* solution : getSolutions(ListSelected)) {
        const RepositoryKey* components = solution->getSubKey(L"Components");
        if (!components) {
            continue;
        }
        for (const auto& value : components->values()) {
            if (equalsNoCase(value.second, componentName)) {
                return Solution::getType(*solution);
            }
        }
    }
    return UPDATE_KIND_PRODUCT;
}

RepositoryKey::KeyList KitoRepository::collectSolutionOptions(int mode) const
{
    KeyList options;
    for (const RepositoryKey* solution : getSolutions(mode)) {
        const KeyList more = Solution::getSolutionOptions(*solution, mode);
        options.insert(options.end(), more.begin(), more.end());
    }
    return options;
}
