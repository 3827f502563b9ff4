// Benchmark, not a test: the process-level state check of a monitor call (one walk, its trace dumped through
// the agent's sink into the framework stand-in) against a bare walk that reads each image path with
// QueryFullProcessImageNameW and the owner of each process whose path names the instance, with 50 and then
// 500 extra processes alive. Also the time of one bare process start, which a peer's monitor that starts a
// tool per cycle pays.

#include <windows.h>
#include <tlhelp32.h>

#include <cstdio>
#include <string>

#include "BenchChildren.h"
#include "BenchCompare.h"
#include "LibLogger.h"
#include "LibOwners.h"
#include "OperationTesting.h"
#include "Tollan.h"
#include "TollanLog.h"

namespace {

bool OwnerOf(HANDLE process, std::wstring* user)
{
    QLibHandleOwner token;
    if (!OpenProcessToken(process, TOKEN_QUERY, token.put()))
        return false;
    BYTE buffer[512];
    DWORD size = 0;
    if (!GetTokenInformation(token.get(), TokenUser, buffer, sizeof(buffer), &size))
        return false;
    wchar_t name[256], domain[256];
    DWORD nameChars = 256, domainChars = 256;
    SID_NAME_USE use;
    if (!LookupAccountSidW(nullptr, reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, name, &nameChars, domain,
                           &domainChars, &use))
        return false;
    *user = name;
    return true;
}

size_t BareWalk(const std::wstring& sid, const std::wstring& instName)
{
    QLibHandleOwner snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    size_t owned = 0;
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
        QLibHandleOwner process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID));
        wchar_t image[MAX_PATH];
        DWORD size = MAX_PATH;
        if (!process || !QueryFullProcessImageNameW(process.get(), 0, image, &size))
            continue;
        std::wstring upper(image, size);
        CharUpperBuffW(&upper[0], size);
        size_t at = upper.find(sid);
        std::wstring user;
        if (at != std::wstring::npos && upper.find(instName, at) != std::wstring::npos && OwnerOf(process.get(), &user))
            ++owned;
    }
    return owned;
}

double ProcessStartMs(const std::wstring& path)
{
    return BenchTimeMs([&] {
        std::wstring commandLine = L"\"" + path + L"\" --exit 0";
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION info = {};
        if (!CreateProcessW(path.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                            &info))
            return;
        WaitForSingleObject(info.hProcess, 10000);
        CloseHandle(info.hThread);
        CloseHandle(info.hProcess);
    });
}

} // namespace

int main()
{
    SapFixture sap(SapInstanceType::Central, "ZBS");
    if (!sap.Ok() || sap.StartInstance() != 0) {
        std::printf("no fixture instance: %s\n", sap.Error().c_str());
        return 1;
    }
    CTollanAttrib attrib;
    if (ParseFixture(attrib, sap, TOLLAN_EP_MONITOR).IsFailed())
        return 1;
    g_QLibLogQueue.OpenThreadQueue();
    g_QLibLogQueue.SetSink(&g_TollanLogSink);
    g_QLibLogQueue.EnableThreadQueue();
    BenchChildren children(ChildPath());
    for (size_t count : {50u, 500u}) {
        if (!children.GrowTo(count)) {
            std::printf("cannot start child %u: error %u\n", static_cast<unsigned>(count),
                        static_cast<unsigned>(GetLastError()));
            return 1;
        }
        Sleep(5000);
        std::string name = "process state check, " + std::to_string(count) + " extra processes";
        uint32_t state = TOLLAN_STATE_UNKNOWN;
        BenchCompare(
            name.c_str(), 10,
            [&] {
                CTollan tollan;
                tollan.operation = TOLLAN_OP_MONITOR;
                (void)tollan.GetResourceState(attrib, &state, 0);
                g_QLibLogQueue.Dump();
            },
            [&] { (void)BareWalk(attrib.GetSAPSID(), attrib.GetInstName()); });
        if (state != TOLLAN_STATE_ONLINE)
            std::printf("%s: the instance reads %u, not online\n", name.c_str(), static_cast<unsigned>(state));
    }
    std::vector<double> starts;
    for (int i = 0; i < 10; ++i)
        starts.push_back(ProcessStartMs(ChildPath()));
    std::printf("one bare process start: %.3f ms\n", BenchMedian(starts));
    return 0;
}
