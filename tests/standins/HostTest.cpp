#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "TarnTestCluster.h"
#include "TarnTestProcess.h"

namespace {

TEST(Host, RunsAScriptAgainstAnAgentAndPrintsItsLogs)
{
    TarnTestCluster files(
        "system N1\ntype fakeagent\n    arg SAPSID\n    Poll = 5\nresource R1\n    Type = fakeagent\n    SAPSID = QAS\n");
    std::string script = files.descPath + ".script";
    std::ofstream(script) << "# a comment\nonline R1\nmonitor R1\nmonitor R1\noffline R1\nchange Poll 30\nshutdown\n";
    std::string out;
    std::wstring command = L"tarnaghost.exe --desc " + std::wstring(files.descPath.begin(), files.descPath.end())
        + L" fakeagent.dll " + std::wstring(script.begin(), script.end());
    EXPECT_EQ(0, TarnRunCaptured(command, &out));
    DeleteFileA(script.c_str());
    EXPECT_NE(std::string::npos, out.find("fakeagent.dll started; log category 55002; entry points registered: yes"));
    EXPECT_NE(
        std::string::npos,
        out.find(
            "> online R1\n  [message severity 4 id 20001] FakeAgent:21 FakeOnline: R1 (2 chars, R1): QAS\nonline R1 returned 1\n"))
        << out;
    EXPECT_NE(std::string::npos, out.find("monitor R1 returned 2"));
    EXPECT_NE(std::string::npos, out.find("  [resource tag 19] FakeAgent.cpp:7 FakeOffline: 100% done %s %d\n"));
    EXPECT_NE(std::string::npos, out.find("change fakeagent.Poll = 30: not in the cluster"));
    EXPECT_NE(std::string::npos, out.find("FakeShutdown"));
}

TEST(Host, RefusesAnUnknownScriptLineAndAMissingAgent)
{
    TarnTestCluster files("system N1\n");
    std::string out;
    EXPECT_EQ(2, TarnRunCaptured(L"tarnaghost.exe nosuchagent.dll", &out));
    std::string script = files.descPath + ".script";
    std::ofstream(script) << "dance R1\n";
    out.clear();
    EXPECT_EQ(4, TarnRunCaptured(L"tarnaghost.exe fakeagent.dll " + std::wstring(script.begin(), script.end()), &out));
    DeleteFileA(script.c_str());
    EXPECT_NE(std::string::npos, out.find("cannot read the script line: dance R1"));
}

TEST(Host, HooksTheAgentsLogonRunsCommandsAndPrintsOnlyMessages)
{
    TarnTestCluster files("system N1\ntype fakeagent\n    arg SAPSID\nresource R1\n    Type = fakeagent\n");
    std::string script = files.descPath + ".script";
    std::ofstream(script) << "clean R1\noffline R1\nrun testchild.exe --exit 3\nsleep 10\n";
    std::wstring tail = L" fakeagent.dll " + std::wstring(script.begin(), script.end());
    std::string out, refused;
    EXPECT_EQ(0, TarnRunCaptured(L"tarnaghost.exe --messages-only --logon FakeAdm \"\" Fake1!" + tail, &out));
    SetEnvironmentVariableA("TARN_LOGON_USER", "fakeadm");
    SetEnvironmentVariableA("TARN_LOGON_PASSWORD", "wrong");
    EXPECT_EQ(0, TarnRunCaptured(L"tarnaghost.exe" + tail, &refused));
    SetEnvironmentVariableA("TARN_LOGON_USER", nullptr);
    SetEnvironmentVariableA("TARN_LOGON_PASSWORD", nullptr);
    DeleteFileA(script.c_str());
    EXPECT_NE(std::string::npos, out.find("FakeClean: logon: 0\n")) << out;
    EXPECT_NE(std::string::npos, out.find("run testchild.exe --exit 3: exit code 3\n"));
    EXPECT_EQ(std::string::npos, out.find("[resource")) << "only the message and console logs";
    EXPECT_NE(std::string::npos, refused.find("FakeClean: logon: 1326\n")) << refused;
    EXPECT_NE(std::string::npos, refused.find("[resource"));
}

} // namespace
