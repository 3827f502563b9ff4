// tarnaghost: loads an agent DLL as the cluster engine's framework does, runs a script of
// operations against it, and prints what the agent wrote to the framework's logs.
//
//   tarnaghost [--desc FILE] [--journal FILE] [--logon USER DOMAIN PASSWORD] [--directory] [--messages-only]
//              AGENT.dll [SCRIPT]
//
// Script lines (from SCRIPT, else standard input): online R, offline R, monitor R, clean R,
// change ATTRIBUTE VALUE (a type attribute of the type named like the DLL), shutdown, run COMMAND LINE
// (e.g. a kill from outside; waited for up to a minute), sleep MS; # comments.
//
// Wine's logon and directory calls do not work for the agent, so the host points the agent's imports at
// the test side's: --logon (or TARN_LOGON_USER, TARN_LOGON_DOMAIN, TARN_LOGON_PASSWORD) accepts that one
// account, --directory (or TARN_DIRECTORY=1) lets binds reach the test bed's directory server.
// --messages-only prints only the message and console logs, as the engine's log shows them.

#include <windows.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "ADsOpenHook.h"
#include "LogonHook.h"
#include "TarnAgHost.h"
#include "TarnApiTest.h"

namespace {

uint32_t g_Printed = 0;
bool g_MessagesOnly = false;

const char* LogName(uint32_t log)
{
    return log == TARNAG_LOG_MESSAGE ? "message" : log == TARNAG_LOG_CONSOLE ? "console" : "resource";
}

// Everything logged since the last call, one entry per line (a text may span lines).
void PrintNewLogs()
{
    TarnAgLogEntry entry;
    for (; g_Printed < TarnAgHostLogCount() && TarnAgHostLogEntry(g_Printed, &entry) == 0; ++g_Printed) {
        if (entry.log == TARNAG_LOG_RESOURCE && g_MessagesOnly)
            continue;
        if (entry.log == TARNAG_LOG_RESOURCE)
            wprintf(L"  [resource tag %u] %S:%u %S: %s\n", entry.tag, entry.source, entry.line, entry.function,
                    entry.text);
        else
            wprintf(L"  [%S severity %u id %u] %S:%u %S: %s\n", LogName(entry.log), entry.severity, entry.msgId,
                    entry.source, entry.line, entry.function, entry.text);
    }
}

std::wstring Widen(const std::string& text)
{
    return std::wstring(text.begin(), text.end());
}

// The resource type is named like the agent DLL: Tollan.dll serves the type "Tollan".
std::string TypeOf(const std::string& agentPath)
{
    size_t slash = agentPath.find_last_of("\\/");
    std::string name = agentPath.substr(slash == std::string::npos ? 0 : slash + 1);
    size_t dot = name.rfind('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

// Runs a command line with the host's standard handles, for at most a minute.
void RunCommand(const std::string& command)
{
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    std::string line = command;
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
        wprintf(L"run %S: could not start (%lu)\n", command.c_str(), GetLastError());
        return;
    }
    DWORD code = 0;
    if (WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0 && GetExitCodeProcess(process.hProcess, &code))
        wprintf(L"run %S: exit code %lu\n", command.c_str(), code);
    else
        wprintf(L"run %S: still running after a minute\n", command.c_str());
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
}

bool RunLine(const std::string& line, const std::string& type)
{
    std::istringstream in(line);
    std::string command, name, value;
    in >> command >> name;
    std::getline(in >> std::ws, value);
    static const std::vector<std::pair<std::string, uint32_t>> ops = {{"online", TARNAG_OP_ONLINE},
                                                                      {"offline", TARNAG_OP_OFFLINE},
                                                                      {"monitor", TARNAG_OP_MONITOR},
                                                                      {"clean", TARNAG_OP_CLEAN}};
    for (const auto& [word, op] : ops) {
        if (command != word || name.empty())
            continue;
        uint32_t result = 0;
        int32_t status = TarnAgHostCall(op, name.c_str(), &result);
        PrintNewLogs();
        if (status != 0)
            wprintf(L"%S %S: the framework could not call the entry point (0x%X)\n", word.c_str(), name.c_str(),
                    status);
        else
            wprintf(L"%S %S returned %u\n", word.c_str(), name.c_str(), result);
        return true;
    }
    if (command == "change" && !name.empty()) {
        int32_t called = TarnApiTestChangeAttr(TARN_OBJ_TYPE, type.c_str(), name.c_str(), value.c_str());
        PrintNewLogs();
        if (called < 0)
            wprintf(L"change %S.%S = %S: not in the cluster\n", type.c_str(), name.c_str(), value.c_str());
        else
            wprintf(L"change %S.%S = %S: %d callbacks\n", type.c_str(), name.c_str(), value.c_str(), called);
        return true;
    }
    if (command == "run" && !name.empty()) {
        RunCommand(line.substr(line.find(name)));
        return true;
    }
    if (command == "sleep" && !name.empty() && value.empty()) {
        Sleep(strtoul(name.c_str(), nullptr, 10));
        return true;
    }
    if (command == "shutdown" && name.empty()) {
        int32_t status = TarnAgHostShutdown();
        PrintNewLogs();
        wprintf(L"shutdown%s\n", status == 0 ? L"" : L": the agent registered no shutdown entry point");
        return true;
    }
    wprintf(L"tarnaghost: cannot read the script line: %S\n", line.c_str());
    return false;
}

int Usage()
{
    fwprintf(stderr,
             L"usage: tarnaghost [--desc FILE] [--journal FILE] [--logon USER DOMAIN PASSWORD] [--directory] "
             L"[--messages-only] AGENT.dll [SCRIPT]\n");
    return 1;
}

std::wstring Environment(const wchar_t* name)
{
    wchar_t value[1024];
    DWORD length = GetEnvironmentVariableW(name, value, 1024);
    return length > 0 && length < 1024 ? std::wstring(value, length) : std::wstring();
}

// The options before the agent; gives the index of the agent's argument.
int ReadOptions(int argc, char** argv, std::vector<std::wstring>& logon, bool& directory)
{
    logon = {Environment(L"TARN_LOGON_USER"), Environment(L"TARN_LOGON_DOMAIN"), Environment(L"TARN_LOGON_PASSWORD")};
    directory = Environment(L"TARN_DIRECTORY") == L"1";
    int i = 1;
    for (; i < argc; ++i) {
        std::string option = argv[i];
        if ((option == "--desc" || option == "--journal") && i + 1 < argc) {
            SetEnvironmentVariableA(option == "--desc" ? "TARN_CLUSTER_DESC" : "TARN_JOURNAL", argv[++i]);
        } else if (option == "--logon" && i + 3 < argc) {
            logon = {Widen(argv[i + 1]), Widen(argv[i + 2]), Widen(argv[i + 3])};
            i += 3;
        } else if (option == "--directory") {
            directory = true;
        } else if (option == "--messages-only") {
            g_MessagesOnly = true;
        } else {
            break;
        }
    }
    return i;
}

} // namespace

int main(int argc, char** argv)
{
    // Unbuffered: the programs a script line runs write to the same output straight through, after the lines
    // that announce them.
    setvbuf(stdout, nullptr, _IONBF, 0);
    std::vector<std::wstring> logon;
    bool directory = false;
    int i = ReadOptions(argc, argv, logon, directory);
    if (i >= argc || argc - i > 2)
        return Usage();
    std::string agent = argv[i];
    std::ifstream scriptFile;
    if (i + 1 < argc) {
        scriptFile.open(argv[i + 1]);
        if (!scriptFile)
            return Usage();
    }
    std::istream& script = i + 1 < argc ? static_cast<std::istream&>(scriptFile) : std::cin;

    // Loaded once more here, so that the hooks are in place before the framework calls the agent's start-up.
    HMODULE module = LoadLibraryW(Widen(agent).c_str());
    std::unique_ptr<LogonHook> logonHook;
    std::unique_ptr<ADsOpenHook> directoryHook;
    if (module != nullptr && !logon[0].empty())
        logonHook = std::make_unique<LogonHook>(module, logon[0], logon[1], logon[2]);
    if (module != nullptr && directory)
        directoryHook = std::make_unique<ADsOpenHook>(module);
    int32_t started = TarnAgHostStart(Widen(agent).c_str());
    PrintNewLogs();
    if (started == TARNAG_E_NO_STARTUP) {
        wprintf(L"%S loaded with all its imports, but it exports no TarnAgStartup\n", agent.c_str());
        return 3;
    }
    if (started != 0) {
        wprintf(L"tarnaghost: %S did not start (0x%X)\n", agent.c_str(), started);
        return 2;
    }
    wprintf(L"%S started; log category %u; entry points registered: %s\n", agent.c_str(), TarnAgHostLogCategory(),
            TarnAgHostTable() != nullptr ? L"yes" : L"no");
    int failed = 0;
    for (std::string line; std::getline(script, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.find_first_not_of(" \t") == std::string::npos || line[line.find_first_not_of(" \t")] == '#')
            continue;
        wprintf(L"> %S\n", line.c_str());
        if (!RunLine(line, TypeOf(agent)))
            failed = 4;
    }
    TarnAgHostStop();
    logonHook.reset();
    directoryHook.reset();
    if (module != nullptr)
        FreeLibrary(module);
    return failed;
}
