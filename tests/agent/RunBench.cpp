// Benchmark, not a test: one run of a stand-in tool as the administrator through CreateAndGetExitCode against a
// bare CreatePipe + CreateProcessW + blocking read loop + wait of the same tool, as every monitor cycle runs one.

#include <windows.h>

#include <cstdio>
#include <string>

#include "BenchBareRun.h"
#include "BenchCompare.h"
#include "LogonHook.h"
#include "SapFixture.h"
#include "TollanUtil.h"

namespace {

std::wstring Wide(const std::string& text)
{
    return std::wstring(text.begin(), text.end());
}

} // namespace

int main()
{
    SapFixture sap(SapInstanceType::Central, "QB7");
    if (!sap.Ok()) {
        printf("run as the administrator: no fixture instance (%s)\n", sap.Error().c_str());
        return 1;
    }
    sap.Plan("sapinfo exit=2 out=\"Connect to SAP gateway failed\"");
    LogonHook logon(GetModuleHandleW(nullptr), Wide(sap.user), Wide(sap.domain), Wide(sap.password));
    std::wstring directory = Wide(sap.sapHome);
    std::wstring commandLine = directory + L"\\sapinfo.exe ashost=" + Wide(sap.host) + L" sysnr=" + Wide(sap.number);
    std::wstring password = Wide(sap.password);
    BenchCompare(
        "run as the administrator, sapinfo", 20,
        [&] {
            std::wstring output;
            uint32_t exitCode = 0;
            (void)CTollanUtil::CreateAndGetExitCode(commandLine, directory, Wide(sap.user), Wide(sap.domain),
                                                    password.c_str(), &output, &exitCode, 60000);
        },
        [&] { BenchBareRun(commandLine, directory.c_str()); });
    return 0;
}
