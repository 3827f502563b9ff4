#include "TriggerRun.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>
#include <sstream>

namespace {

// Each test case runs in its own process: the process id keeps parallel cases apart.
std::string ScratchPath(const char* suffix)
{
    char folder[MAX_PATH];
    GetTempPathA(sizeof folder, folder);
    return std::string(folder) + "tollanpreonline-" + std::to_string(GetCurrentProcessId()) + suffix;
}

bool StartsWith(const std::string& text, const std::string& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

// The folder of the running test program, with its trailing backslash.
std::string ProgramFolder()
{
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, sizeof path - 1);
    std::string folder(path);
    return folder.substr(0, folder.rfind('\\') + 1);
}

// A folder of its own holding a copy of the trigger, the shim as tarnapi_mt.dll and the stand-in as
// tarnapi_orig.dll, for which the shim stands; the path of the copy.
std::string ShimmedTrigger(const std::string& folder)
{
    const std::string bin = ProgramFolder();
    CreateDirectoryA(folder.c_str(), nullptr);
    const std::pair<std::string, const char*> copies[] = {{bin + "tollanpreonline.exe", "tollanpreonline.exe"},
                                                          {bin + "triggershim\\tarnapi_mt.dll", "tarnapi_mt.dll"},
                                                          {bin + "tarnapi_mt.dll", "tarnapi_orig.dll"}};
    for (const auto& copy : copies)
        EXPECT_TRUE(CopyFileA(copy.first.c_str(), (folder + "\\" + copy.second).c_str(), FALSE)) << copy.first;
    return folder + "\\tollanpreonline.exe";
}

void RemoveShimFolder(const std::string& folder)
{
    for (const char* file : {"tollanpreonline.exe", "tarnapi_mt.dll", "tarnapi_orig.dll"})
        DeleteFileA((folder + "\\" + file).c_str());
    RemoveDirectoryA(folder.c_str());
}

int RunChild(const std::string& program, const std::vector<std::string>& args)
{
    std::string commandLine = "\"" + program + "\"";
    for (const std::string& arg : args)
        commandLine += " \"" + arg + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child = {};
    if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &child)) {
        ADD_FAILURE() << "cannot start " << commandLine << ": " << GetLastError();
        return -1;
    }
    DWORD code = static_cast<DWORD>(-1);
    if (WaitForSingleObject(child.hProcess, 30000) != WAIT_OBJECT_0) {
        ADD_FAILURE() << "the trigger did not end: " << commandLine;
        TerminateProcess(child.hProcess, 1);
    } else {
        GetExitCodeProcess(child.hProcess, &code);
    }
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
    return static_cast<int>(code);
}

} // namespace

ClusterText::ClusterText(std::vector<std::string> systems) : m_Systems(std::move(systems))
{
    for (const std::string& system : m_Systems)
        m_Text += "system " + system + "\n";
}

std::string ClusterText::StateLines(const std::string& states) const
{
    std::string lines;
    for (size_t i = 0; i < states.size() && i < m_Systems.size(); ++i)
        lines += "    state " + m_Systems[i] + " " + states[i] + "\n";
    return lines;
}

ClusterText& ClusterText::Group(const std::string& name, const std::string& states)
{
    m_Text += "group " + name + "\n" + StateLines(states);
    return *this;
}

ClusterText& ClusterText::Resource(const std::string& name, const std::string& group, const std::string& instType,
                                   const std::string& sid, const std::string& states, const std::string& enqSrvResName,
                                   const std::string& type)
{
    m_Text += "resource " + name + "\n    Type = " + type + "\n    Group = " + group + "\n    InstType = " + instType
        + "\n    SAPSID = " + sid + "\n";
    if (!enqSrvResName.empty())
        m_Text += "    EnqSrvResName = " + enqSrvResName + "\n";
    m_Text += StateLines(states);
    return *this;
}

ClusterText& ClusterText::Fail(const std::string& call, const std::string& object, const std::string& code)
{
    m_Text += "fail " + call + " " + object + " " + code + "\n";
    return *this;
}

ClusterText EnqueueCluster(const std::string& replicaStates)
{
    ClusterText cluster;
    cluster.Group("ASCS", "111").Group("ERS");
    cluster.Resource("ENQ", "ASCS", "ENQUEUE", "PRD");
    return cluster.Resource("REP", "ERS", "ENQREP", "PRD", replicaStates, "ENQ");
}

ClusterText ReplicaCluster(const std::string& enqueueStates, const std::string& groupStates)
{
    ClusterText cluster({"N1", "N2", "N3", "N4"});
    cluster.Group("ASCS").Group("ERS", groupStates);
    cluster.Resource("ENQ", "ASCS", "ENQUEUE", "PRD", enqueueStates);
    return cluster.Resource("REP", "ERS", "ENQREP", "PRD", {}, "ENQ");
}

TriggerRun::TriggerRun(const ClusterText& cluster, const std::vector<std::string>& args, const std::string& shim)
{
    std::string description = ScratchPath(".desc");
    std::string journalPath = ScratchPath(".journal");
    std::ofstream(description, std::ios::binary) << cluster.Text();
    DeleteFileA(journalPath.c_str());
    SetEnvironmentVariableA("TARN_CLUSTER_DESC", description.c_str());
    SetEnvironmentVariableA("TARN_JOURNAL", journalPath.c_str());

    SetEnvironmentVariableA("TRIGGER_SHIM", shim.c_str());
    const std::string shimFolder = ScratchPath(".shim");
    exitCode = RunChild(shim.empty() ? ProgramFolder() + "tollanpreonline.exe" : ShimmedTrigger(shimFolder), args);
    if (!shim.empty())
        RemoveShimFolder(shimFolder);

    std::ifstream in(journalPath, std::ios::binary);
    for (std::string line; std::getline(in, line);) {
        journal.push_back(line);
        // "log SEVERITY ID TEXT", the text kept exactly, tabs included.
        if (StartsWith(line, "log ") && line.size() > 6) {
            size_t textStart = line.find(' ', 6);
            logs.push_back({line[4], std::stoi(line.substr(6, textStart - 6)),
                            textStart == std::string::npos ? "" : line.substr(textStart + 1)});
        }
    }
    in.close();
    DeleteFileA(description.c_str());
    DeleteFileA(journalPath.c_str());
}

bool TriggerRun::Logged(char severity, int id) const
{
    return !Texts(severity, id).empty();
}

std::vector<int> TriggerRun::LogIds() const
{
    std::vector<int> ids;
    for (const TriggerLogLine& log : logs)
        ids.push_back(log.id);
    return ids;
}

int TriggerRun::LastLogId() const
{
    return logs.empty() ? 0 : logs.back().id;
}

std::vector<std::string> TriggerRun::Texts(char severity, int id) const
{
    std::vector<std::string> texts;
    for (const TriggerLogLine& log : logs)
        if (log.severity == severity && log.id == id)
            texts.push_back(log.text);
    return texts;
}

std::vector<std::string> TriggerRun::Onlines() const
{
    std::vector<std::string> onlines;
    for (const std::string& line : journal)
        if (StartsWith(line, "online "))
            onlines.push_back(line.substr(7, line.find(" #") - 7));
    return onlines;
}

size_t TriggerRun::Count(const std::string& prefix) const
{
    size_t count = 0;
    for (const std::string& line : journal)
        count += StartsWith(line, prefix) ? 1 : 0;
    return count;
}

void TriggerRun::ExpectClean() const
{
    std::ostringstream all;
    for (const std::string& line : journal)
        all << line << "\n";
    EXPECT_EQ(1u, Count("unreleased 0")) << all.str();
    EXPECT_EQ(0u, Count("leak ")) << all.str();
    EXPECT_EQ(0u, Count("release TarnFreeError none")) << all.str();
    // Every failure's error record fetched, then released.
    EXPECT_EQ(Count("error "), Count("call TarnApiGetLastError")) << all.str();
    EXPECT_EQ(Count("error "), Count("release TarnFreeError error ")) << all.str();
    for (const std::string& line : journal) {
        EXPECT_EQ(std::string::npos, line.find(" unknown")) << line;
        if (StartsWith(line, "call TarnGrpOnline "))
            ExpectFreshOnlineControlInfo(line);
    }
}

void TriggerRun::ExpectOutcome(int expectedExitCode, const std::string& online) const
{
    EXPECT_EQ(expectedExitCode, exitCode);
    EXPECT_EQ(online.empty() ? std::vector<std::string>{} : std::vector<std::string>{online}, Onlines());
    ExpectClean();
}

// The control info of an online request: built just for it (the only other call that names it is the
// one that built it), of kind 48, and released.
void TriggerRun::ExpectFreshOnlineControlInfo(const std::string& onlineCall) const
{
    size_t at = onlineCall.find("cntl=#");
    ASSERT_NE(std::string::npos, at) << onlineCall;
    std::string cntl = onlineCall.substr(at + 5, onlineCall.find(' ', at) - at - 5);
    EXPECT_EQ("/48", cntl.substr(cntl.find('/'))) << onlineCall;
    std::vector<std::string> calls;
    for (const std::string& line : journal)
        if (StartsWith(line, "call ") && line.find("cntl=" + cntl + " ") != std::string::npos)
            calls.push_back(line);
    ASSERT_EQ(2u, calls.size()) << onlineCall;
    EXPECT_TRUE(StartsWith(calls[0], "call TarnFillCntlInfo 48 ")) << calls[0];
    EXPECT_EQ(1u, Count("release TarnFreeCntlInfo cntl " + cntl)) << cntl;
}
