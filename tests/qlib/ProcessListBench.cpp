// Benchmark, not a test: the cost of one filtered process-list walk against a bare Toolhelp walk that reads
// each path with QueryFullProcessImageNameW, with 50 and then 500 extra test children alive.
// Usage: qlib_process_bench.exe [walks per measurement, default 20]

#include <windows.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "BenchChildren.h"
#include "BenchCompare.h"
#include "LibProcessList.h"

namespace {

size_t FilteredWalk(const std::wstring& path)
{
    QLibMultInstProcessList list(path.c_str(), TRUE);
    size_t matches = 0;
    uint32_t pid = 0;
    for (QLibStatus status = list.GetFirst(&pid); status.IsOK(); status = list.GetNext(&pid))
        ++matches;
    return matches;
}

size_t BareWalk(const std::wstring& path)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    size_t matches = 0;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID);
        if (process == nullptr)
            continue;
        wchar_t image[MAX_PATH];
        DWORD size = MAX_PATH;
        if (QueryFullProcessImageNameW(process, 0, image, &size) && _wcsicmp(image, path.c_str()) == 0)
            ++matches;
        CloseHandle(process);
    }
    CloseHandle(snapshot);
    return matches;
}

} // namespace

int main(int argc, char** argv)
{
    int walks = argc > 1 ? atoi(argv[1]) : 20;
    if (walks <= 0)
        walks = 20;
    std::wstring path = ChildPath();
    BenchChildren children(path);
    for (size_t count : {50u, 500u}) {
        if (!children.GrowTo(count)) {
            wprintf(L"cannot start child %u: error %u\n", static_cast<unsigned>(count), GetLastError());
            return 1;
        }
        // Let the new children finish loading, so that every walk sees the same processes.
        Sleep(5000);
        std::string name = "process-list walk, " + std::to_string(count) + " children";
        size_t filtered = 0;
        size_t bare = 0;
        BenchCompare(
            name.c_str(), walks, [&] { filtered = FilteredWalk(path); }, [&] { bare = BareWalk(path); });
        if (filtered != bare)
            std::printf("%s: DIFFERENT, %u found against %u\n", name.c_str(), static_cast<unsigned>(filtered),
                        static_cast<unsigned>(bare));
    }
    return 0;
}
