// Benchmark, not a test: one run of a child through the runner against a bare CreatePipe + CreateProcessW +
// blocking read loop + wait of the same child, with 100 bytes and with 1 MiB of output.

#include <windows.h>

#include <string>

#include "BenchCompare.h"
#include "LibChildRun.h"

namespace {

std::wstring CommandLine(unsigned bytes)
{
    wchar_t self[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path(self, length);
    return L"\"" + path.substr(0, path.rfind(L'\\') + 1) + L"testchild.exe\" --bytes " + std::to_wstring(bytes);
}

size_t Ours(const std::wstring& commandLine)
{
    QLibChildSpec spec;
    spec.commandLine = commandLine.c_str();
    spec.timeLimit = 60000;
    return QLibRunChild(spec).output.size();
}

size_t Bare(const std::wstring& commandLine)
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
    CreateProcessW(nullptr, &line[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr, &startup, &started);
    CloseHandle(writeEnd);
    std::string output;
    char chunk[64 * 1024];
    DWORD got = 0;
    while (ReadFile(readEnd, chunk, sizeof(chunk), &got, nullptr) && got > 0)
        output.append(chunk, got);
    WaitForSingleObject(started.hProcess, INFINITE);
    DWORD exitCode = 0;
    GetExitCodeProcess(started.hProcess, &exitCode);
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
    CloseHandle(readEnd);
    return output.size();
}

} // namespace

int main()
{
    for (unsigned bytes : {100u, 1024u * 1024u}) {
        std::wstring commandLine = CommandLine(bytes);
        std::string name = "child run, " + std::to_string(bytes) + " bytes of output";
        BenchCompare(
            name.c_str(), 20, [&] { Ours(commandLine); }, [&] { Bare(commandLine); });
    }
    return 0;
}
