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
#include "BenchBareLookup.h"
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

bool Bare()
{
    return BenchBareLookup(L"SAPServicePRD") && BenchBareLookup(L"prdadm");
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
