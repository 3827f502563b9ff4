// Benchmark, not a test: one run of a child through the runner against a bare CreatePipe + CreateProcessW +
// blocking read loop + wait of the same child, with 100 bytes and with 1 MiB of output.

#include <windows.h>

#include <string>

#include "BenchBareRun.h"
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

} // namespace

int main()
{
    for (unsigned bytes : {100u, 1024u * 1024u}) {
        std::wstring commandLine = CommandLine(bytes);
        std::string name = "child run, " + std::to_string(bytes) + " bytes of output";
        BenchCompare(
            name.c_str(), 20, [&] { Ours(commandLine); }, [&] { BenchBareRun(commandLine); });
    }
    return 0;
}
