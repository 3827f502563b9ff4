// Benchmark, not a test: one online of a stopped ABAP instance whose service starts in 100 ms and whose sapinfo
// answers at once, against the same work written bare: the service started through the service manager, then
// startsap and sapinfo each run with a pipe and waited for. Between rounds the instance is stopped, so each
// round starts it afresh.

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "BenchBareRun.h"
#include "BenchCompare.h"
#include "OperationTesting.h"
#include "Tollan.h"

namespace {

constexpr int Rounds = 5;
constexpr DWORD StopLimitMs = 20000;

// The service's stop takes the instance with it; a round only begins once none of its processes is left.
bool Stop(SapFixture& sap)
{
    (void)sap.StopService();
    for (DWORD waited = 0; waited < StopLimitMs; waited += 50) {
        if (sap.Processes().empty())
            return true;
        Sleep(50);
    }
    return false;
}

} // namespace

int main()
{
    SapFixture sap(SapInstanceType::Central, "QB9");
    if (!sap.Ok() || !sap.SetServiceOptions("--start-delay=100")) {
        std::printf("tollan_online_bench: no fixture instance (%s)\n", sap.Error().c_str());
        return 1;
    }
    LogonHook logon(TestModule(), Wide(sap.user), Wide(sap.domain), Wide(sap.password));
    if (!logon.Active()) {
        std::printf("tollan_online_bench: no logon hook\n");
        return 1;
    }
    std::wstring home = Wide(sap.sapHome);
    std::wstring startsap = home + L"\\startsap.exe name=" + Wide(sap.sid) + L" nr=" + Wide(sap.number)
        + L" sapdiahost=" + Wide(sap.host);
    std::wstring sapinfo = home + L"\\sapinfo.exe ashost=" + Wide(sap.host) + L" sysnr=" + Wide(sap.number);
    std::vector<double> oursMs, bareMs;
    size_t failed = 0;
    for (int round = 0; round < Rounds; ++round) {
        size_t records = sap.SapLog().size();
        if (!Stop(sap))
            break;
        // Each online is an entry point call of its own, with its own budget.
        CTollanAttrib attrib;
        failed += ParseFixture(attrib, sap, TOLLAN_EP_ONLINE).IsFailed();
        oursMs.push_back(BenchTimeMs([&] { failed += CTollan().Online(attrib).IsFailed(); }));
        // Only an online whose check answered adds its record to the SAP log.
        failed += sap.SapLog().size() == records;
        if (!Stop(sap))
            break;
        bareMs.push_back(BenchTimeMs([&] {
            sap.StartService();
            BenchBareStart(startsap, home.c_str());
            BenchBareRun(sapinfo, home.c_str());
        }));
    }
    bool stopped = Stop(sap);
    const char* name = "online of a stopped ABAP instance, service start 100 ms";
    BenchReport(name, oursMs, bareMs);
    if (!oursMs.empty())
        std::printf("%s: ours slowest %.0f ms of %u rounds (must stay under 2000 ms)\n", name,
                    *std::max_element(oursMs.begin(), oursMs.end()), static_cast<unsigned>(oursMs.size()));
    if (failed > 0 || bareMs.size() < Rounds || !stopped) {
        std::printf("%s: %u failed onlines, %u rounds, instance %s\n", name, static_cast<unsigned>(failed),
                    static_cast<unsigned>(bareMs.size()), stopped ? "stopped" : "still running");
        return 1;
    }
    return 0;
}
