// Benchmark, not a test: one monitor call of a running ABAP instance (the monitor kind's checks, the process
// walk and the service, the monitor program) against the same work written bare: a walk reading every
// process's image path and owner, the two account lookups, one start of the monitor program.

#include <windows.h>
#include <ole2.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "ADsOpenHook.h"
#include "BenchBareLookup.h"
#include "BenchBareRun.h"
#include "BenchCompare.h"
#include "LogonHook.h"
#include "OwnerHook.h"
#include "SapFixture.h"
#include "Tollan.h"
#include "TollanAttrib.h"

#include <tlhelp32.h>

namespace {

std::wstring Wide(const std::string& text)
{
    return std::wstring(text.begin(), text.end());
}

// The argument list as the framework hands it over, in the type's order.
std::vector<std::string> Values(const SapFixture& sap)
{
    std::map<std::string, std::string> a = sap.Attributes();
    std::vector<std::string> values = {a["SAPSID"],
                                       "0",
                                       a["EPProgramTimeout"],
                                       a["SAPHome"],
                                       a["SAPMonHome"],
                                       a["SAPHost"],
                                       std::to_string(sap.procMon.size())};
    values.insert(values.end(), sap.procMon.begin(), sap.procMon.end());
    for (const char* value : {"SAPServicePRD", "", "prdadm"})
        values.push_back(value);
    for (const char* name : {"SAPAdminPassword", "ResLogLevel", "InstType", "InstName", "InstProfile"})
        values.push_back(a[name]);
    values.push_back("");
    values.push_back(sap.monitorProgram);
    return values;
}

bool Ours(const std::vector<const char*>& values)
{
    TarnAgArgs args{static_cast<uint32_t>(values.size()), values.data()};
    CTollanAttrib attrib;
    uint32_t state = TOLLAN_STATE_UNKNOWN;
    return attrib.Parse(TOLLAN_EP_MONITOR, "R1", &args, 1).IsOK() && CTollan().Monitor(attrib, &state).IsOK()
        && state == TOLLAN_STATE_ONLINE;
}

void BareWalk()
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID);
        if (process == nullptr)
            continue;
        wchar_t path[MAX_PATH];
        DWORD size = MAX_PATH;
        QueryFullProcessImageNameW(process, 0, path, &size);
        HANDLE token = nullptr;
        if (OpenProcessToken(process, TOKEN_QUERY, &token)) {
            BYTE user[256];
            DWORD length = 0;
            if (GetTokenInformation(token, TokenUser, user, sizeof(user), &length)) {
                wchar_t name[256], domain[256];
                DWORD nameSize = 256, domainSize = 256;
                SID_NAME_USE use;
                LookupAccountSidW(nullptr, reinterpret_cast<TOKEN_USER*>(user)->User.Sid, name, &nameSize, domain,
                                  &domainSize, &use);
            }
            CloseHandle(token);
        }
        CloseHandle(process);
    }
    CloseHandle(snapshot);
}

} // namespace

int main(int argc, char** argv)
{
    int rounds = argc > 1 ? atoi(argv[1]) : 20;
    SapFixture sap(SapInstanceType::Central, "QB8");
    if (!sap.Ok() || !sap.StartService() || sap.StartInstance() != 0) {
        printf("tollan_monitor_bench: no running fixture instance (%s)\n", sap.Error().c_str());
        return 1;
    }
    CoInitialize(nullptr);
    HMODULE self = GetModuleHandleW(nullptr);
    ADsOpenHook directory(self);
    LogonHook logon(self, L"prdadm", L"", Wide(sap.password));
    OwnerHook owners(self);
    for (const SapProcess& process : sap.Processes())
        owners.Set(process.pid, Wide(sap.domain), L"prdadm");
    std::vector<std::string> values = Values(sap);
    std::vector<const char*> pointers;
    for (const std::string& value : values)
        pointers.push_back(value.c_str());
    std::wstring monitor = Wide(sap.monitorProgram);
    auto bare = [&] {
        BareWalk();
        BenchBareLookup(L"SAPServicePRD");
        BenchBareLookup(L"prdadm");
        BenchBareRun(monitor);
    };
    if (!BenchBareLookup(L"prdadm") || !Ours(pointers)) {
        printf("tollan_monitor_bench: skipped, the bed's directory server does not answer\n");
        return 0;
    }
    BenchCompare(
        "monitor call of a running ABAP instance, levels 1 and 3", rounds, [&] { Ours(pointers); }, bare);
    CoUninitialize();
    return 0;
}
