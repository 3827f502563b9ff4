// Benchmark, not a test: one monitor call's attribute parse with its checks (two accounts looked up in the
// directory) against the same two lookups written bare, on the bed's directory server.

#include <windows.h>
#include <ole2.h>

#include <activeds.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "ADsOpenHook.h"
#include "BenchCompare.h"
#include "TollanAttrib.h"

namespace {

const char* const Values[] = {"PRD",
                              "2",
                              "10",
                              "C:\\windows",
                              "C:\\windows",
                              "host1",
                              "2",
                              "disp+work.exe",
                              "msg_server.exe",
                              "SAPServicePRD",
                              "test.example",
                              "prdadm",
                              "akdMfmDocGdoEeb",
                              "INFO",
                              "CENTRAL",
                              "DVEBMGS00",
                              "",
                              "",
                              ""};

bool Ours()
{
    TarnAgArgs args{static_cast<uint32_t>(sizeof(Values) / sizeof(Values[0])), Values};
    CTollanAttrib attrib;
    return attrib.Parse(TOLLAN_EP_MONITOR, "R1", &args, 1).IsOK();
}

// A serverless lookup as the agent must make it: the naming context from the root entry, then one search.
bool BareLookup(const wchar_t* name)
{
    IADs* root = nullptr;
    if (FAILED(
            ADsOpenObject(L"LDAP://127.0.0.1/rootDSE", nullptr, nullptr, 0, IID_IADs, reinterpret_cast<void**>(&root))))
        return false;
    VARIANT context;
    VariantInit(&context);
    BSTR property = SysAllocString(L"defaultNamingContext");
    HRESULT got = root->Get(property, &context);
    SysFreeString(property);
    root->Release();
    if (FAILED(got) || context.vt != VT_BSTR)
        return false;
    std::wstring path = std::wstring(L"LDAP://127.0.0.1/") + context.bstrVal;
    VariantClear(&context);
    IDirectorySearch* search = nullptr;
    if (FAILED(
            ADsOpenObject(path.c_str(), nullptr, nullptr, 0, IID_IDirectorySearch, reinterpret_cast<void**>(&search))))
        return false;
    std::wstring filter = std::wstring(L"(&(objectClass=user)(cn=") + name + L"))";
    LPWSTR columns[] = {const_cast<LPWSTR>(L"ADsPath")};
    ADS_SEARCH_HANDLE handle = nullptr;
    bool found = false;
    if (SUCCEEDED(search->ExecuteSearch(&filter[0], columns, 1, &handle))) {
        found = search->GetFirstRow(handle) == S_OK;
        search->CloseSearchHandle(handle);
    }
    search->Release();
    return found;
}

bool Bare()
{
    return BareLookup(L"SAPServicePRD") && BareLookup(L"prdadm");
}

} // namespace

int main(int argc, char** argv)
{
    int rounds = argc > 1 ? atoi(argv[1]) : 20;
    CoInitialize(nullptr);
    ADsOpenHook directory(GetModuleHandleW(nullptr));
    if (!Bare() || !Ours()) {
        std::printf("tollan_attrib_bench: skipped, the bed's directory server does not answer\n");
        return 0;
    }
    BenchCompare(
        "monitor attribute parse with two account lookups", rounds, [] { Ours(); }, [] { Bare(); });
    CoUninitialize();
    return 0;
}
