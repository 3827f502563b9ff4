#include "FakeMachine.h"

#include <shlobj.h>

#include <cstdio>
#include <cwctype>

#include "NodeTextFixture.h"
#include "olderinstallers.h"
#include "owners.h"

namespace fakemachine {

using installertest::Node;

const wchar_t* const releaseGuid = L"{4D3C2B1A-43A0-4C10-9F00-0000000043A0}";
const wchar_t* const serviceEntry = L"S:qzInstaller";

namespace {

const wchar_t* const serviceName = L"qzInstaller";
const wchar_t* const uninstallKey = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\UnInstall";
const wchar_t* const neighbourUninstall = L"qzNeighbourProduct";

std::wstring longPath(const std::wstring& path)
{
    return L"\\\\?\\" + path;
}

const bool is64BitProcess = sizeof(void*) == 8;

// Every root in either view, by its name below HKEY_LOCAL_MACHINE.
std::vector<std::wstring> registryRoots()
{
    std::vector<std::wstring> roots = {L"SOFTWARE\\Osmark", std::wstring(uninstallKey) + L"\\" + neighbourUninstall};
    for (const wchar_t* code : kito40ProductCodes)
        roots.push_back(std::wstring(uninstallKey) + L"\\" + code);
    return roots;
}

std::vector<std::wstring> fileRoots()
{
    return {commonFiles() + L"\\Osmark Shared", otherCommonFiles() + L"\\Osmark Shared", victimFolder(), destination()};
}

REGSAM viewFlag(View view)
{
    if (view == View::Own)
        return 0;
    return is64BitProcess ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
}

// The key's name as the 64-bit view shows it: the 32-bit view's "SOFTWARE" lies below "SOFTWARE\Wow6432Node".
std::wstring physicalName(const std::wstring& path, View view)
{
    const std::wstring software = L"SOFTWARE\\";
    const std::wstring wow = software + L"Wow6432Node";
    bool in32BitView = (view == View::Own) != is64BitProcess;
    if (!in32BitView || _wcsnicmp(path.c_str(), software.c_str(), software.size()) != 0
        || _wcsnicmp(path.c_str(), wow.c_str(), wow.size()) == 0)
        return path;
    return wow + path.substr(software.size() - 1);
}

// The key in the view, made when asked to; empty when it cannot be had.
KeyOwner machineKey(View view, const std::wstring& path, bool create)
{
    KeyOwner key;
    const REGSAM access = (create ? KEY_ALL_ACCESS : KEY_READ) | viewFlag(view);
    LONG result = create
        ? RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, access, nullptr, key.put(), nullptr)
        : RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, access, key.put());
    if (result != ERROR_SUCCESS)
        key.reset();
    return key;
}

void setKey(View view, const std::wstring& path)
{
    (void)machineKey(view, path, true);
}

void setValue(View view, const std::wstring& path, const wchar_t* name, DWORD type, const void* data, DWORD size)
{
    if (KeyOwner key = machineKey(view, path, true))
        RegSetValueExW(key.get(), name, 0, type, static_cast<const BYTE*>(data), size);
}

void setString(View view, const std::wstring& path, const wchar_t* name, const std::wstring& text)
{
    setValue(view, path, name, REG_SZ, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

void setDword(View view, const std::wstring& path, const wchar_t* name, DWORD number)
{
    setValue(view, path, name, REG_DWORD, &number, sizeof number);
}

std::vector<std::wstring> subKeys(View view, const std::wstring& path)
{
    std::vector<std::wstring> children;
    KeyOwner key = machineKey(view, path, false);
    if (!key)
        return children;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD nameLength = 256;
        if (RegEnumKeyExW(key.get(), i, name, &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        children.push_back(name);
    }
    return children;
}

// RegDeleteTreeW would open the sub-keys through the process's own view.
void deleteTree(View view, const std::wstring& path)
{
    for (const std::wstring& child : subKeys(view, path))
        deleteTree(view, path + L"\\" + child);
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), viewFlag(view), 0);
}

std::wstring hexBytes(const BYTE* data, size_t size)
{
    std::wstring text;
    wchar_t pair[3];
    for (size_t i = 0; i < size; ++i) {
        _snwprintf(pair, 3, L"%02x", data[i]);
        pair[2] = L'\0';
        text += pair;
    }
    return text;
}

void snapshotKey(View view, const std::wstring& path, Snapshot& out)
{
    KeyOwner key = machineKey(view, path, false);
    if (!key)
        return;
    const std::wstring entry = L"R:" + physicalName(path, view);
    out[entry] = L"key";
    for (DWORD i = 0;; ++i) {
        wchar_t name[16384];
        BYTE data[8192];
        DWORD nameLength = 16384, size = sizeof data, type = 0;
        if (RegEnumValueW(key.get(), i, name, &nameLength, nullptr, &type, data, &size) != ERROR_SUCCESS)
            break;
        out[entry + L"|" + name] = std::to_wstring(type) + L":" + hexBytes(data, size);
    }
    for (const std::wstring& child : subKeys(view, path))
        snapshotKey(view, path + L"\\" + child, out);
}

std::wstring fileContent(const std::wstring& path)
{
    HANDLE file = CreateFileW(longPath(path).c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return L"unreadable";
    std::wstring content;
    BYTE chunk[4096];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0)
        content += hexBytes(chunk, got);
    CloseHandle(file);
    return content;
}

// The names in a folder other than "." and "..".
std::vector<std::wstring> folderContents(const std::wstring& path)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW(longPath(path + L"\\*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE)
        return names;
    do {
        if (wcscmp(found.cFileName, L".") != 0 && wcscmp(found.cFileName, L"..") != 0)
            names.push_back(found.cFileName);
    } while (FindNextFileW(find, &found));
    FindClose(find);
    return names;
}

// Records a tree; a linked folder is recorded as such and never entered.
void snapshotFiles(const std::wstring& path, Snapshot& out)
{
    DWORD attributes = GetFileAttributesW(longPath(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return;
    std::wstring shown = std::to_wstring(attributes & ~FILE_ATTRIBUTE_ARCHIVE);
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        out[L"F:" + path] = L"link " + shown;
        return;
    }
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        out[L"F:" + path] = L"file " + shown + L" " + fileContent(path);
        return;
    }
    out[L"F:" + path] = L"dir " + shown;
    for (const std::wstring& name : folderContents(path))
        snapshotFiles(path + L"\\" + name, out);
}

bool isLinkThere(const std::wstring& path)
{
    DWORD attributes = GetFileAttributesW(longPath(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// Runs a Unix command that makes or removes the link at path. Wine reports a Unix program as ended
// before it is, and without its exit code, so the link itself tells (within 30 s: a busy or emulated machine may
// take seconds).
bool runUnixOnLink(const std::wstring& unixCommand, const std::wstring& path, bool linkWanted)
{
    runProgram(L"Z:" + unixCommand, {}, L"C:\\");
    for (int tries = 0; tries < 1500; ++tries) {
        if (isLinkThere(path) == linkWanted)
            return true;
        Sleep(20);
    }
    return false;
}

void removeFiles(const std::wstring& path)
{
    DWORD attributes = GetFileAttributesW(longPath(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return;
    SetFileAttributesW(longPath(path).c_str(), FILE_ATTRIBUTE_NORMAL);
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        std::string link = unixPath(path);
        runUnixOnLink(L"\\bin\\rm -f \"" + std::wstring(link.begin(), link.end()) + L"\"", path, false);
        return;
    }
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        DeleteFileW(longPath(path).c_str());
        return;
    }
    for (const std::wstring& name : folderContents(path))
        removeFiles(path + L"\\" + name);
    RemoveDirectoryW(longPath(path).c_str());
}

void removeService()
{
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (!manager)
        return;
    if (SC_HANDLE service = OpenServiceW(manager, serviceName, DELETE)) {
        DeleteService(service);
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
}

void createService()
{
    wchar_t program[MAX_PATH + 1] = {};
    GetModuleFileNameW(nullptr, program, MAX_PATH);
    std::wstring binary = program;
    binary = L"\"" + binary.substr(0, binary.rfind(L'\\')) + L"\\testservice.exe\"";
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (!manager)
        return;
    SC_HANDLE service = CreateServiceW(manager, serviceName, serviceName, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                       SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, binary.c_str(), nullptr, nullptr,
                                       nullptr, nullptr, nullptr);
    if (service)
        CloseServiceHandle(service);
    CloseServiceHandle(manager);
}

bool serviceExists()
{
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (!manager)
        return false;
    SC_HANDLE service = OpenServiceW(manager, serviceName, SERVICE_QUERY_STATUS);
    if (service)
        CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return service != nullptr;
}

} // namespace

std::wstring commonFiles()
{
    wchar_t path[MAX_PATH] = {};
    SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILES_COMMON, nullptr, 0, path);
    return path;
}

std::wstring otherCommonFiles()
{
    wchar_t path[MAX_PATH] = {};
    // A 32-bit process has no folder id for the 64-bit folder, only the variable.
    if (is64BitProcess)
        SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILES_COMMONX86, nullptr, 0, path);
    else
        GetEnvironmentVariableW(L"CommonProgramW6432", path, MAX_PATH);
    return path;
}

std::wstring kitoFiles()
{
    return commonFiles() + L"\\Osmark Shared\\Kito";
}
std::wstring destination()
{
    return L"C:\\qzKitoInstall";
}
std::wstring victimFolder()
{
    return commonFiles() + L"\\qzVictim";
}

std::wstring registryEntry(const std::wstring& path, View view)
{
    return L"R:" + physicalName(path, view);
}
std::wstring fileEntry(const std::wstring& relative, View view)
{
    return L"F:" + (view == View::Own ? commonFiles() : otherCommonFiles()) + L"\\" + relative;
}

Machine::Machine(const Layout& layout)
{
    removeAll();
    writeProductInformation(layout);
    buildRegistry(layout, View::Own);
    buildFiles(layout, View::Own);
    if (layout.otherInstallation) {
        buildRegistry(layout, View::Other);
        buildFiles(layout, View::Other);
    } else {
        buildOtherViewLeftovers(layout);
    }
    addFile(victimFolder() + L"\\victim.txt", FILE_ATTRIBUTE_NORMAL, "must stay");
    if (layout.service)
        createService();
}

Machine::~Machine()
{
    removeAll();
}

void Machine::removeAll()
{
    for (View view : {View::Own, View::Other}) {
        for (const std::wstring& root : registryRoots())
            deleteTree(view, root);
    }
    for (const std::wstring& root : fileRoots())
        removeFiles(root);
    removeService();
}

void Machine::writeProductInformation(const Layout& layout)
{
    Node kito{L"Kito", {{L"Name", L"Kito"}}, {}};
    if (!layout.guid.empty())
        kito.values.push_back({L"Guid", layout.guid});
    Node folders{L"Folders", {}, {}};
    for (size_t i = 0; i < layout.folderNames.size(); ++i)
        folders.children.push_back({L"F" + std::to_wstring(i + 1), {{L"Name", layout.folderNames[i]}}, {}});
    Node cleanup{L"CleanupOperations", {{L"Kind", L"folders"}}, {}};
    if (layout.foldersKey)
        cleanup.children.push_back(folders);
    Node solution{L"sol.one", {{L"SolutionID", L"sol.one"}, {L"Type", L"4"}}, {cleanup}};
    Node other{L"sol.two", {{L"SolutionID", L"sol.two"}}, {}};
    Node root{L"ProductInformation",
              {},
              {kito,
               {L"Components", {}, {{L"comp.one", {{L"Guid", L"{11111111-2222-3333-4444-555555555555}"}}, {}}}},
               {L"Solutions", {}, {solution, other}},
               {L"InstallSequence", {{L"comp.one", L"1"}}, {}},
               {L"Platforms", {}, {{L"W2K3", {}, {}}}}}};
    CreateDirectoryW(destination().c_str(), nullptr);
    installertest::writeNodeFile(destination() + L"\\productInformation.xml", root);
}

void Machine::buildRegistry(const Layout& layout, View view)
{
    const std::wstring osmark = L"SOFTWARE\\Osmark";
    const std::wstring kito = osmark + L"\\Kito";
    const std::wstring release = kito + L"\\" + releaseGuid;
    if (layout.osmarkKey) {
        setString(view, osmark, L"Vendor", L"Osmark");
        if (layout.kitoKey) {
            setString(view, kito, L"DestinationPath", destination());
            setString(view, kito, L"InstallerLanguage", L"en");
            setString(view, release, L"Version", L"4.3");
            if (layout.otherUpdates)
                setString(view, release + L"\\RollupPatches\\Solutions\\rp.sol", L"Name", L"rp.sol");
            if (layout.releaseKey) {
                setString(view, release + L"\\MaintenancePacks", L"Pack", L"MP1");
                setDword(view, release + L"\\MaintenancePacks\\Options", L"Level", 3);
                if (layout.releaseSolutions >= 0)
                    setKey(view, release + L"\\MaintenancePacks\\Solutions");
                for (int i = 0; i < layout.releaseSolutions; ++i)
                    setDword(view, release + L"\\MaintenancePacks\\Solutions\\sol" + std::to_wstring(i),
                             L"InstallStatus", 3);
            }
            setString(view, kito + L"\\Solutions\\old40.sol", L"Name", L"old40.sol");
            setDword(view, kito + L"\\Solutions\\old40.sol\\Parts", L"Count", 2);
            if (layout.kito40Solution)
                setString(view, kito + L"\\Solutions\\plov.sol.mesaw", L"Name", L"plov.sol.mesaw");
        }
        if (layout.neighbours)
            setString(view, osmark + L"\\OtherProduct", L"Setting", L"keep");
    }
    std::wstring uninstall = uninstallKey;
    setString(view, uninstall + L"\\" + kito40ProductCodes[0], L"DisplayName", L"Kito 4.0");
    setString(view, uninstall + L"\\" + kito40ProductCodes[1] + L"\\Patches", L"DisplayName", L"Kito 4.0 patch");
    setString(view, uninstall + L"\\" + neighbourUninstall, L"DisplayName", L"Neighbour");
}

void Machine::buildFiles(const Layout& layout, View view)
{
    const std::wstring folder = view == View::Own ? commonFiles() : otherCommonFiles();
    auto addShared = [&folder](const std::wstring& relative, DWORD attributes, const std::string& bytes) {
        Machine::addFile(folder + L"\\" + relative, attributes, bytes);
    };
    addShared(L"Osmark Shared\\Kito\\MaintenancePacks\\mp.dll", FILE_ATTRIBUTE_READONLY, "MZ pack");
    addShared(L"Osmark Shared\\Kito\\MaintenancePacks\\hidden.dat", FILE_ATTRIBUTE_HIDDEN, "hidden");
    addShared(L"Osmark Shared\\Kito\\MaintenancePacks\\Sub\\Deeper\\deep.txt",
              FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM, "deep");
    if (layout.otherUpdates)
        addShared(L"Osmark Shared\\Kito\\RollupPatches\\rp.txt", FILE_ATTRIBUTE_READONLY, "rollup");
    if (layout.kito40File)
        addShared(L"Osmark Shared\\Kito\\kito40.ini", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN, "[4.0]");
    if (!layout.folderNames.empty()) {
        addShared(L"Osmark Shared\\Kito\\SolFolder\\a.txt", FILE_ATTRIBUTE_READONLY, "solution");
        addShared(L"Osmark Shared\\Kito\\SolFolder\\Nested\\b.txt", FILE_ATTRIBUTE_NORMAL, "nested");
    }
    if (layout.neighbours)
        addShared(L"Osmark Shared\\OtherProduct\\keep.txt", FILE_ATTRIBUTE_NORMAL, "neighbour");
}

void Machine::buildOtherViewLeftovers(const Layout& layout)
{
    // An installer of the other bitness emptied its key; a neighbour stays.
    setKey(View::Other, L"SOFTWARE\\Osmark\\Kito");
    if (layout.neighbours)
        setString(View::Other, L"SOFTWARE\\Osmark\\Neighbour", L"Setting", L"keep");
}

void Machine::addFolder(const std::wstring& path)
{
    // Every folder from the drive's root down; those that exist already are left as they are.
    for (size_t end = path.find(L'\\', 3);; end = path.find(L'\\', end + 1)) {
        CreateDirectoryW(longPath(path.substr(0, end)).c_str(), nullptr);
        if (end == std::wstring::npos)
            break;
    }
}

void Machine::addFile(const std::wstring& path, DWORD attributes, const std::string& bytes)
{
    addFolder(path.substr(0, path.rfind(L'\\')));
    HANDLE file = CreateFileW(longPath(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    SetFileAttributesW(longPath(path).c_str(), attributes);
}

bool Machine::addFolderLink(const std::wstring& relativeLink, const std::wstring& unixTarget)
{
    std::wstring path = commonFiles() + L"\\" + relativeLink;
    std::string link = unixPath(path);
    if (link.empty())
        return false;
    return runUnixOnLink(L"\\bin\\ln -s \"" + unixTarget + L"\" \"" + std::wstring(link.begin(), link.end()) + L"\"",
                         path, true);
}

Snapshot Machine::snapshot()
{
    Snapshot out;
    for (View view : {View::Own, View::Other}) {
        for (const std::wstring& root : registryRoots())
            snapshotKey(view, root, out);
    }
    for (const std::wstring& root : fileRoots())
        snapshotFiles(root, out);
    if (serviceExists())
        out[serviceEntry] = L"service";
    return out;
}

Snapshot Machine::without(const Snapshot& before, const std::vector<std::wstring>& removed)
{
    Snapshot expected;
    for (const auto& entry : before) {
        bool gone = false;
        for (const std::wstring& prefix : removed) {
            const std::wstring& path = entry.first;
            if (path.compare(0, prefix.size(), prefix) == 0
                && (path.size() == prefix.size() || path[prefix.size()] == L'\\' || path[prefix.size()] == L'|'))
                gone = true;
        }
        if (!gone)
            expected.insert(entry);
    }
    return expected;
}

DWORD runProgram(const std::wstring& commandLine, const std::map<std::wstring, std::wstring>& environment,
                 const std::wstring& workingDirectory)
{
    // Variable names compare ignoring case, as Windows does; the block must be sorted.
    auto lessNoCase = [](const std::wstring& a, const std::wstring& b) { return _wcsicmp(a.c_str(), b.c_str()) < 0; };
    std::map<std::wstring, std::wstring, decltype(lessNoCase)> variables(lessNoCase);
    wchar_t* strings = GetEnvironmentStringsW();
    for (const wchar_t* entry = strings; *entry; entry += wcslen(entry) + 1) {
        const wchar_t* equals = wcschr(entry + 1, L'=');
        if (equals)
            variables[std::wstring(entry, equals)] = equals + 1;
    }
    FreeEnvironmentStringsW(strings);
    for (const auto& change : environment) {
        if (change.second.empty())
            variables.erase(change.first);
        else
            variables[change.first] = change.second;
    }
    std::wstring block;
    for (const auto& variable : variables)
        block += variable.first + L"=" + variable.second + L'\0';
    block += L'\0';

    std::wstring line = commandLine;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    bool inherit = environment.empty();
    if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, inherit ? 0 : CREATE_UNICODE_ENVIRONMENT,
                        inherit ? nullptr : &block[0], workingDirectory.c_str(), &startup, &process))
        return ~0u;
    DWORD exitCode = ~0u;
    if (WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0)
        GetExitCodeProcess(process.hProcess, &exitCode);
    else
        TerminateProcess(process.hProcess, ~0u);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return exitCode;
}

std::string unixPath(const std::wstring& windowsPath)
{
    typedef char*(CDECL * UnixName)(const wchar_t*);
    UnixName convert = reinterpret_cast<UnixName>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32"), "wine_get_unix_file_name")));
    if (!convert)
        return std::string();
    char* name = convert(windowsPath.c_str());
    if (!name)
        return std::string();
    std::string result = name;
    HeapFree(GetProcessHeap(), 0, name);
    return result;
}

} // namespace fakemachine
