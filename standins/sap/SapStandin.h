#pragma once
// What the SAP stand-in program, the SAP service stand-in and the test fixture agree on: file names,
// the names of the shared kernel objects, and how an instance's processes are found.

#include <windows.h>
#include <tlhelp32.h>

#include <string>
#include <vector>

// Beside each other in the fixture's root; the stand-in finds them from its own folder upward.
constexpr const wchar_t* SapPlanFileName = L"sapstandin.plan";
constexpr const wchar_t* SapJournalFileName = L"sapstandin.journal";

inline std::wstring SapUpper(std::wstring text)
{
    if (!text.empty())
        CharUpperBuffW(&text[0], static_cast<DWORD>(text.size()));
    return text;
}

// Kernel object names may hold no backslash, so a path becomes a name with slashes.
inline std::wstring SapObjectName(const wchar_t* prefix, const std::wstring& path)
{
    std::wstring name = prefix + SapUpper(path);
    for (wchar_t& c : name)
        if (c == L'\\')
            c = L'/';
    return name;
}

// Set when the instance in that folder (<SID>\<INST>) must stop: by stopsap and by the SAP service's stop.
inline std::wstring SapStopEventName(const std::wstring& instanceDir)
{
    return SapObjectName(L"sapstandin-stop:", instanceDir);
}

inline std::wstring SapJournalMutexName(const std::wstring& journalPath)
{
    return SapObjectName(L"sapstandin-journal:", journalPath);
}

struct SapProcess {
    DWORD pid;
    std::wstring image; // file name, as the snapshot gives it
    std::wstring path; // full image path
};

// The full image path of an open process, or "" when it cannot be read.
inline std::wstring SapImagePath(HANDLE process)
{
    wchar_t path[MAX_PATH * 2];
    DWORD length = MAX_PATH * 2;
    return QueryFullProcessImageNameW(process, 0, path, &length) ? std::wstring(path, length) : std::wstring();
}

// Calls visit(pid, image file name, full image path) for every process whose image path can be read.
template <typename Visit>
void SapForEachProcess(Visit visit)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID);
        if (process == nullptr)
            continue;
        std::wstring path = SapImagePath(process);
        if (!path.empty())
            visit(entry.th32ProcessID, std::wstring(entry.szExeFile), path);
        CloseHandle(process);
    }
    CloseHandle(snapshot);
}

// The running processes whose image lies below the folder (compared without regard to case).
inline std::vector<SapProcess> SapProcessesBelow(const std::wstring& folder)
{
    std::vector<SapProcess> found;
    std::wstring prefix = SapUpper(folder);
    if (prefix.empty() || prefix.back() != L'\\')
        prefix += L'\\';
    SapForEachProcess([&](DWORD pid, const std::wstring& image, const std::wstring& path) {
        if (SapUpper(path).compare(0, prefix.size(), prefix) == 0)
            found.push_back({pid, image, path});
    });
    return found;
}

// Ends a listed process if its id still names it: ids come back, and one that ended since the listing may now
// belong to an unrelated process, so the image is read again through the handle that ends it.
inline void SapEndProcess(const SapProcess& listed)
{
    HANDLE process = OpenProcess(PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, listed.pid);
    if (process == nullptr)
        return;
    if (SapImagePath(process) == listed.path)
        TerminateProcess(process, 1);
    CloseHandle(process);
}
