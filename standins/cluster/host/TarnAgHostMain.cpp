// tarnaghost: loads an agent DLL as the cluster engine's framework does, runs a script of
// operations against it, and prints what the agent wrote to the framework's logs.
//
//   tarnaghost [--desc FILE] [--journal FILE] AGENT.dll [SCRIPT]
//
// Script lines (from SCRIPT, else standard input): online R, offline R, monitor R, clean R,
// change ATTRIBUTE VALUE (a type attribute of the type named like the DLL), shutdown; # comments.

#include <windows.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "TarnAgHost.h"
#include "TarnApiTest.h"

namespace {

uint32_t g_Printed = 0;

const char* LogName(uint32_t log)
{
    return log == TARNAG_LOG_MESSAGE ? "message" : log == TARNAG_LOG_CONSOLE ? "console" : "resource";
}

// Everything logged since the last call, one entry per line (a text may span lines).
void PrintNewLogs()
{
    TarnAgLogEntry entry;
    for (; g_Printed < TarnAgHostLogCount() && TarnAgHostLogEntry(g_Printed, &entry) == 0; ++g_Printed) {
        if (entry.log == TARNAG_LOG_RESOURCE)
            wprintf(L"  [resource tag %u] %S:%u %S: %s\n", entry.tag, entry.source, entry.line, entry.function,
                    entry.text);
        else
            wprintf(L"  [%S severity %u id %u] %S:%u %S: %s\n", LogName(entry.log), entry.severity, entry.msgId,
                    entry.source, entry.line, entry.function, entry.text);
    }
    fflush(stdout);
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
    fwprintf(stderr, L"usage: tarnaghost [--desc FILE] [--journal FILE] AGENT.dll [SCRIPT]\n");
    return 1;
}

} // namespace

int main(int argc, char** argv)
{
    int i = 1;
    for (; i + 1 < argc && (std::string(argv[i]) == "--desc" || std::string(argv[i]) == "--journal"); i += 2)
        SetEnvironmentVariableA(std::string(argv[i]) == "--desc" ? "TARN_CLUSTER_DESC" : "TARN_JOURNAL", argv[i + 1]);
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
    return failed;
}
