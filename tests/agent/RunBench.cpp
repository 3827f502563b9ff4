// Benchmark, not a test: one run of a stand-in tool as the administrator through CreateAndGetExitCode against a
// bare CreatePipe + CreateProcessW + blocking read loop + wait of the same tool, as every monitor cycle runs one.

#include <windows.h>

#include <cstdio>
#include <string>

#include "BenchCompare.h"
#include "LogonHook.h"
#include "SapFixture.h"
#include "TollanUtil.h"

namespace {

std::wstring Wide(const std::string& text)
{
    return std::wstring(text.begin(), text.end());
}

void Bare(const std::wstring& commandLine, const std::wstring& directory)
{
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
    CreatePipe(&readEnd, &writeEnd, &inheritable, 0);
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = INVALID_HANDLE_VALUE;
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    PROCESS_INFORMATION started = {};
    std::wstring line = commandLine;
    CreateProcessW(nullptr, &line[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, directory.c_str(), &startup,
                   &started);
    CloseHandle(writeEnd);
    std::string output;
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(readEnd, chunk, sizeof(chunk), &got, nullptr) && got > 0)
        output.append(chunk, got);
    WaitForSingleObject(started.hProcess, INFINITE);
    DWORD exitCode = 0;
    GetExitCodeProcess(started.hProcess, &exitCode);
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
    CloseHandle(readEnd);
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
        [&] { Bare(commandLine, directory); });
    return 0;
}
