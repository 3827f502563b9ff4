// Times DiscoveryInfo::IsInstalled of the last of 1,000 solutions recorded on a node against a bare walk
// of the same "Solutions" key that stops at the match. Prints the ratio with the log closed, and the
// cost with the log open at its finest level beside it.

#include <windows.h>

#include <cstdio>
#include <string>

#include "BenchCompare.h"
#include "discoveryinfo.h"
#include "kitorepository.h"
#include "logger.h"
#include "stringutils.h"

namespace {

constexpr int Solutions = 1000;
constexpr int Rounds = 50;

bool bareIsInstalled(const RepositoryKey& solutions, const std::wstring& id, const std::wstring& version)
{
    for (const RepositoryKey* solution : solutions.subKeys()) {
        if (!equalsNoCase(solution->name(), id))
            continue;
        std::wstring stored;
        solution->getStringValue(L"Version", stored);
        return equalsNoCase(stored, version);
    }
    return false;
}

} // namespace

int main()
{
    KitoRepository* root = new KitoRepository(std::wstring(L"KitoRepository"));
    KitoDb = root;
    RepositoryKey* node = root->createSubKey(L"Discovery\\KITODOMAIN\\HOST1");
    node->setIntValue(L"Cached", 1);
    RepositoryKey* solutions = node->createSubKey(L"Software\\Osmark\\Kito\\{REL}\\Solutions");
    for (int i = 0; i < Solutions; ++i) {
        RepositoryKey* solution = solutions->createSubKey(L"plov.soln." + std::to_wstring(i));
        for (const wchar_t* name : {L"Version", L"InstallLocation", L"GUID", L"InstalledLanguage", L"DisplayTitle",
                                    L"CachePath", L"UninstallString", L"InstallStatus"})
            solution->setStringValue(name, std::wstring(name) + L" of " + std::to_wstring(i));
        solution->setStringValue(L"Version", L"4.3." + std::to_wstring(i));
    }
    DiscoveryInfo info;
    const std::wstring last = L"PLOV.SOLN." + std::to_wstring(Solutions - 1);
    const std::wstring version = L"4.3." + std::to_wstring(Solutions - 1);
    bool ours = false, bare = false;
    int status = info.CacheNodeInfo(L"", L"HOST1") == 0 ? 0 : 1;

    auto oursRun = [&] { ours = info.IsInstalled(last, version, L"", L"", 0) == 1; };
    auto bareRun = [&] { bare = bareIsInstalled(*solutions, last, version); };
    BenchCompare("IsInstalled, last of 1000 solutions, log closed", Rounds, oursRun, bareRun);

    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const std::wstring logName = L"discoverybench-" + std::to_wstring(GetCurrentProcessId()) + L".log";
    if (g_logger.init(logName.c_str(), 13, temp, 10) == 0) {
        BenchCompare("IsInstalled, last of 1000 solutions, log open (DBG_10)", Rounds, oursRun, bareRun);
        g_logger.init(L"", 13, L"", 5);
        DeleteFileW((std::wstring(temp) + logName).c_str());
    }
    if (!ours || !bare) {
        std::printf("IsInstalled: DIFFERENT answer\n");
        status = 1;
    }
    KitoDb = nullptr;
    RepositoryKey::releaseTree(root);
    return status;
}
