// sapinstance: a fixture SAP instance for the length of one command, for scripts and the demonstration.
//
//   sapinstance [--set NAME=VALUE]... [--monitor] TYPE SID NR RESOURCE DESC [COMMAND LINE...]
//
// --set changes one of the resource's attributes; --monitor names the instance's monitor program in
// MonitorProgram.
// Builds the instance (TYPE: central, central-java, central-addin, dialog, enqueue, aenqueue, jenqueue,
// enqrep, aenqrep, jenqrep) and its SAP service, writes the cluster description of RESOURCE to DESC, runs the
// command with TARN_CLUSTER_DESC and the logon hook's TARN_LOGON_USER, TARN_LOGON_DOMAIN and TARN_LOGON_PASSWORD
// set for the instance's administrator, prints the instance's SAP log file and the tools that ran, and
// removes everything. Exit code: the command's; 1 usage; 2 the instance could not be built.

#include <windows.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <string>

#include "SapFixture.h"

namespace {

bool TypeNamed(const std::string& name, SapInstanceType* type)
{
    static const std::pair<const char*, SapInstanceType> names[] = {
        {"central", SapInstanceType::Central},
        {"central-java", SapInstanceType::CentralJava},
        {"central-addin", SapInstanceType::CentralAddIn},
        {"dialog", SapInstanceType::Dialog},
        {"enqueue", SapInstanceType::Enqueue},
        {"aenqueue", SapInstanceType::AbapEnqueue},
        {"jenqueue", SapInstanceType::JavaEnqueue},
        {"enqrep", SapInstanceType::EnqRep},
        {"aenqrep", SapInstanceType::AbapEnqRep},
        {"jenqrep", SapInstanceType::JavaEnqRep},
    };
    for (const auto& [text, value] : names)
        if (name == text) {
            *type = value;
            return true;
        }
    return false;
}

int Run(const std::string& command)
{
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    std::string line = command;
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
        printf("sapinstance: cannot run %s (%lu)\n", command.c_str(), GetLastError());
        return 1;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<int>(code);
}

void PrintResults(const SapFixture& sap)
{
    printf("\nThe SAP log file %s:\n", sap.logFile.c_str());
    for (const std::string& line : sap.SapLog())
        printf("    %s\n", line.c_str());
    printf("\nThe SAP tools run (role, run, exit code, user, command line):\n");
    const std::string tools = " startsap stopsap sapsrvkill sapinfo ensmon jcmon sapmonitor ";
    for (const SapRun& run : sap.Runs()) {
        if (tools.find(" " + run.role + " ") != std::string::npos)
            printf("    %-10s %2u  %-7s %s  %s\n", run.role.c_str(), run.run,
                   run.ended ? std::to_string(run.exitCode).c_str() : "killed", run.user.c_str(),
                   run.commandLine.c_str());
    }
    fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    std::map<std::string, std::string> changes;
    bool monitor = false;
    int first = 1;
    for (; first < argc; ++first) {
        std::string option = argv[first];
        size_t equals = first + 1 < argc ? std::string(argv[first + 1]).find('=') : std::string::npos;
        if (option == "--set" && equals != std::string::npos) {
            std::string change = argv[++first];
            changes[change.substr(0, equals)] = change.substr(equals + 1);
        } else if (option == "--monitor") {
            monitor = true;
        } else {
            break;
        }
    }
    argv += first - 1;
    argc -= first - 1;
    SapInstanceType type;
    if (argc < 6 || !TypeNamed(argv[1], &type)) {
        fprintf(stderr,
                "usage: sapinstance [--set NAME=VALUE]... [--monitor] TYPE SID NR RESOURCE DESC [COMMAND...]\n");
        return 1;
    }
    SapFixture sap(type, argv[2], argv[3]);
    if (!sap.Ok()) {
        printf("sapinstance: %s\n", sap.Error().c_str());
        return 2;
    }
    std::map<std::string, std::string> attributes = sap.Attributes();
    if (monitor)
        attributes["MonitorProgram"] = sap.monitorProgram;
    for (const auto& [name, value] : changes)
        attributes[name] = value;
    std::ofstream(argv[5], std::ios::binary) << sap.Description(argv[4], attributes);
    SetEnvironmentVariableA("TARN_CLUSTER_DESC", argv[5]);
    SetEnvironmentVariableA("TARN_LOGON_USER", sap.user.c_str());
    SetEnvironmentVariableA("TARN_LOGON_DOMAIN", sap.domain.c_str());
    SetEnvironmentVariableA("TARN_LOGON_PASSWORD", sap.password.c_str());
    std::string command;
    for (int i = 6; i < argc; ++i)
        command += (i > 6 ? " " : "") + std::string(argv[i]);
    int code = command.empty() ? 0 : Run(command);
    PrintResults(sap);
    return code;
}
