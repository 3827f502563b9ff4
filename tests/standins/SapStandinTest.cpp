// The SAP stand-ins and their fixture: tools answer as planned or from the running instance, every run is
// journalled, and nothing of the fixture outlives it.

#include <gtest/gtest.h>

#include <windows.h>

#include <fstream>
#include <iterator>
#include <string>

#include "SapFixture.h"
#include "TarnDescription.h"
#include "TarnTestProcess.h"

namespace {

// Runs a command line the way the agent runs SAP's tools: input and output on pipes, in the given folder.
int RunTool(const std::string& commandLine, const std::string& folder, const std::string& input, std::string* output)
{
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    HANDLE inRead, inWrite, outRead, outWrite;
    if (!CreatePipe(&inRead, &inWrite, &inherit, 0) || !CreatePipe(&outRead, &outWrite, &inherit, 0))
        return -1;
    SetHandleInformation(inWrite, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
    DWORD written = 0;
    WriteFile(inWrite, input.data(), static_cast<DWORD>(input.size()), &written, nullptr);
    CloseHandle(inWrite);
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = inRead;
    startup.hStdOutput = startup.hStdError = outWrite;
    PROCESS_INFORMATION process{};
    std::string line = commandLine;
    BOOL started = CreateProcessA(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, folder.c_str(), &startup,
                                  &process);
    CloseHandle(inRead);
    CloseHandle(outWrite);
    char buffer[4096];
    DWORD got = 0;
    while (started && ReadFile(outRead, buffer, sizeof(buffer), &got, nullptr) && got > 0)
        output->append(buffer, got);
    CloseHandle(outRead);
    if (!started)
        return -1;
    DWORD code = 0;
    WaitForSingleObject(process.hProcess, 30000);
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return static_cast<int>(code);
}

int Count(const std::vector<SapProcess>& processes, const wchar_t* image)
{
    int count = 0;
    for (const SapProcess& p : processes)
        count += lstrcmpiW(p.image.c_str(), image) == 0;
    return count;
}

bool Exists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool ServiceExists(const std::string& name)
{
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = OpenServiceA(manager, name.c_str(), SERVICE_QUERY_STATUS);
    if (service)
        CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return service != nullptr;
}

TEST(SapStandin, ToolsAnswerAsPlannedAndFromTheInstanceAndEveryRunIsJournalled)
{
    std::string root, service;
    {
        SapFixture sap(SapInstanceType::CentralAddIn, "QS1");
        ASSERT_TRUE(sap.Ok()) << sap.Error();
        root = sap.root;
        service = sap.serviceName;
        sap.Plan(
            "gwrd ignore-stop=1\nstartsap need-service=1\nsapinfo exit=live,2,live\nsapmonitor exit=110 out=\"fine\\n\" pad=9000");
        std::string nr = " nr=" + sap.number, args = " name=" + sap.sid + nr + " sapdiahost=" + sap.host;
        std::string out;

        EXPECT_EQ(1, RunTool(sap.sapHome + "\\startsap.exe" + args, sap.sapHome, "", &out)) << "no service yet";
        std::string serviceLog = sap.root + "\\service.log";
        ASSERT_TRUE(sap.SetServiceOptions("--start-delay=200 --log=" + serviceLog));
        ASSERT_TRUE(sap.StartService());
        EXPECT_EQ(0, RunTool(sap.sapHome + "\\startsap.exe" + args, sap.sapHome, "", &out));
        for (int i = 0; i < 50 && Count(sap.Processes(), L"jlaunch.exe") < 2; ++i)
            Sleep(100);
        std::vector<SapProcess> live = sap.Processes();
        EXPECT_EQ(2, Count(live, L"disp+work.exe"));
        EXPECT_EQ(1, Count(live, L"gwrd.exe"));
        EXPECT_EQ(2, Count(live, L"jlaunch.exe")) << "jcontrol.exe starts them late";

        std::string sapinfo = sap.sapHome + "\\sapinfo.exe ashost=" + sap.host + " sysnr=" + sap.number;
        EXPECT_EQ(0, RunTool(sapinfo, sap.sapHome, "", &out));
        EXPECT_EQ(2, RunTool(sapinfo, sap.sapHome, "", &out)) << "planned";
        std::string jcmonOut;
        EXPECT_EQ(0, RunTool(sap.sapHome + "\\jcmon.exe pf=" + sap.profile, "C:\\", "20\n0\n0", &jcmonOut));
        EXPECT_NE(std::string::npos, jcmonOut.find("dispatcher  Running"));
        EXPECT_NE(std::string::npos, jcmonOut.find("server0  Running"));
        std::string monitorOut;
        EXPECT_EQ(110, RunTool("\"" + sap.monitorProgram + "\" -check", "C:\\", "", &monitorOut));
        EXPECT_EQ(9005u, monitorOut.size());

        ASSERT_TRUE(sap.StopService());
        for (int i = 0; i < 50 && sap.Processes().size() > 1; ++i)
            Sleep(100);
        ASSERT_EQ(1u, sap.Processes().size()) << "the service's stop stopped all but gwrd.exe";
        std::ifstream log(serviceLog);
        std::string logText((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
        EXPECT_NE(std::string::npos, logText.find("stop-instance " + sap.instanceDir)) << logText;
        std::string kill = sap.sapHome + "\\sapsrvkill.exe " + sap.host + "_" + sap.sid + "_" + sap.number;
        EXPECT_EQ(0, RunTool(kill, sap.sapHome, "", &out));
        EXPECT_TRUE(sap.Processes().empty());
        EXPECT_EQ(2, RunTool(sapinfo, sap.sapHome, "", &out)) << "live again, and the instance is down";

        std::vector<SapRun> runs = sap.Runs("sapinfo");
        ASSERT_EQ(3u, runs.size());
        EXPECT_EQ(sapinfo, runs[1].commandLine);
        EXPECT_EQ(sap.sapHome, runs[1].cwd);
        EXPECT_EQ(2u, runs[1].run);
        EXPECT_EQ(2, runs[1].exitCode);
        EXPECT_EQ(sap.domain + "\\" + sap.user, runs[1].user);
        EXPECT_EQ(GetCurrentProcessId(), runs[1].parent);
        std::vector<SapRun> jcmon = sap.Runs("jcmon");
        ASSERT_EQ(1u, jcmon.size());
        EXPECT_EQ("20\n0\n0", jcmon[0].stdinBytes);
        EXPECT_EQ(2u, sap.Runs("startsap").size());
        EXPECT_FALSE(sap.Runs("gwrd")[0].ended) << "killed";
    }
    EXPECT_FALSE(Exists(root));
    EXPECT_FALSE(ServiceExists(service));
}

TEST(SapStandin, EachInstanceTypeRunsItsProcessesAndTheLiveToolsJudgeThem)
{
    struct Row {
        SapInstanceType type;
        const char* sid;
        int sapinfo, ensmon;
    } rows[] = {
        {SapInstanceType::Dialog, "QS2", 0, 8},
        {SapInstanceType::JavaEnqueue, "QS3", 2, 0},
        {SapInstanceType::AbapEnqRep, "QS4", 2, 0},
    };
    for (const Row& row : rows) {
        SapFixture sap(row.type, row.sid, "07");
        ASSERT_TRUE(sap.Ok()) << sap.Error();
        ASSERT_EQ(0, sap.StartInstance());
        std::vector<SapProcess> live = sap.Processes();
        for (const std::string& image : sap.procMon)
            EXPECT_GT(Count(live, std::wstring(image.begin(), image.end()).c_str()), 0) << row.sid << image;
        std::string out;
        std::string sapinfo = sap.sapHome + "\\sapinfo.exe ashost=" + sap.host + " sysnr=07";
        EXPECT_EQ(row.sapinfo, RunTool(sapinfo, sap.sapHome, "", &out)) << row.sid;
        EXPECT_EQ(row.ensmon, RunTool(sap.sapHome + "\\ensmon.exe pf=" + sap.profile + " 2", "C:\\", "", &out));
        std::string args = " name=" + sap.sid + " nr=07 sapdiahost=" + sap.host;
        EXPECT_EQ(0, RunTool(sap.sapHome + "\\stopsap.exe" + args, sap.sapHome, "", &out));
        EXPECT_TRUE(sap.Processes().empty()) << row.sid;
        EXPECT_EQ(0, sap.Runs(sap.procMon[0].substr(0, sap.procMon[0].size() - 4))[0].exitCode) << "stopped";
    }
}

// The administrator's password as the agent deciphers it: pairs of characters after a base character.
std::string Decipher(const std::string& text)
{
    std::string clear;
    for (size_t i = 1; i + 1 < text.size(); i += 2)
        clear += static_cast<char>(((text[i] - text[0]) << 3) | (text[i + 1] - text[0]));
    return clear;
}

TEST(SapStandin, DescriptionsGiveTheAgentTheInstancesArguments)
{
    struct Row {
        SapInstanceType type;
        const char* sid;
        size_t procMon;
        const char* enqueue;
    } rows[] = {
        {SapInstanceType::CentralAddIn, "QS6", 3, ""},
        {SapInstanceType::JavaEnqRep, "QS7", 1, "QS7_ENQ"},
    };
    for (const Row& row : rows) {
        SapFixture sap(row.type, row.sid, "42");
        ASSERT_TRUE(sap.Ok()) << sap.Error();
        std::string path = sap.root + "\\cluster.desc", error;
        std::ofstream(path, std::ios::binary) << sap.Description("R1");
        TarnDescription desc;
        ASSERT_TRUE(desc.Load(path, &error)) << error;
        auto values = desc.ArgValues("R1");
        ASSERT_TRUE(values.has_value());
        ASSERT_EQ(16 + row.procMon + 1, values->size());
        EXPECT_EQ(row.sid, (*values)[0]);
        EXPECT_EQ(sap.sapHome, (*values)[3]);
        EXPECT_EQ(std::to_string(row.procMon), (*values)[6]);
        size_t after = 7 + row.procMon;
        EXPECT_EQ((std::vector<std::string>{sap.user, sap.domain, sap.user}),
                  std::vector<std::string>(values->begin() + after, values->begin() + after + 3));
        EXPECT_EQ(sap.password, Decipher((*values)[after + 3]));
        EXPECT_EQ(row.enqueue, (*values)[after + 8]);
        EXPECT_TRUE(*row.enqueue == 0 || desc.Find(TARN_DESC_RESOURCE, row.enqueue) != nullptr);
    }
}

TEST(SapStandin, InstanceProgramRunsACommandAndLeavesNothingBehind)
{
    std::string out;
    EXPECT_EQ(5, TarnRunCaptured(L"sapinstance.exe enqrep QS8 03 ERS sapinstance.desc testchild.exe --exit 5", &out));
    size_t at = out.find(" in "), end = out.find(';', at);
    ASSERT_NE(std::string::npos, end) << out;
    EXPECT_FALSE(Exists(out.substr(at + 4, end - at - 4)));
    EXPECT_FALSE(ServiceExists("SAPQS8_03"));
    EXPECT_NE(std::string::npos, out.find("The SAP log file")) << out;
    DeleteFileA("sapinstance.desc");
}

} // namespace
