#include <gtest/gtest.h>
#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "FaultHook.h"
#include "LogonHook.h"
#include "SapFixture.h"
#include "TarnAgfw.h"
#include "TollanAttrib.h"
#include "ServiceTestSupport.h"
#include "TollanUtil.h"

namespace {

const wchar_t* const User = L"qadm";
const wchar_t* const Domain = L"QDOM";
const wchar_t* const Password = L"Adm1n!Qx";

HMODULE Self()
{
    return GetModuleHandleW(nullptr);
}

std::wstring ProgramFolder()
{
    wchar_t self[MAX_PATH] = {};
    DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path(self, length);
    return path.substr(0, path.rfind(L'\\'));
}

std::wstring Wide(const std::string& text)
{
    return std::wstring(text.begin(), text.end());
}

std::string Pattern(size_t count)
{
    std::string bytes(count, '\0');
    for (size_t i = 0; i < count; ++i)
        bytes[i] = static_cast<char>('a' + i % 26);
    return bytes;
}

struct RunOutcome {
    QLibStatus status;
    uint32_t exitCode = 77; // kept unless the run writes it
    std::wstring output = L"earlier";
};

RunOutcome RunAs(const std::wstring& commandLine, const wchar_t* password, int64_t timeLeft,
                 const std::wstring& directory = std::wstring())
{
    RunOutcome run;
    run.status = CTollanUtil::CreateAndGetExitCode(commandLine, directory, User, Domain, password, &run.output,
                                                   &run.exitCode, timeLeft);
    return run;
}

TEST(TollanRun, ExitCodesOutputLimitsAndLogons)
{
    LogonHook logon(Self(), User, Domain, Password);
    ASSERT_TRUE(logon.Active());
    const std::wstring child = L"\"" + ProgramFolder() + L"\\testchild.exe\" ";
    const struct {
        const wchar_t* arguments;
        const wchar_t* password;
        int64_t timeLeft;
        uint32_t type, code;
        uint32_t exitCode;
        std::string output; // as bytes; "earlier" when untouched
        size_t logons;
    } rows[] = {
        {L"--out x --exit 3", Password, 10000, 0, 0, 3, "x\r\n", 1},
        {L"--exit 0", Password, 10000, 0, 0, 0, "", 1},
        {L"--bytes 65536", Password, 10000, 0, 0, 0, Pattern(65536), 1},
        {L"--bytes 1048576", Password, 20000, 0, 0, 0, Pattern(1048576), 1},
        {L"--out x --sleep 60000", Password, 300, 7, 258, 77, "earlier", 1},
        // No time left: nothing is started and no logon is spent.
        {L"--out x", Password, 0, 7, 258, 77, "earlier", 0},
        {L"--out x", Password, -5, 7, 258, 77, "earlier", 0},
        {L"--out x", L"wrong", 10000, 2, 1326, 77, "earlier", 1},
        // A password that could not be deciphered never reaches the logon.
        {L"--out x", L"", 10000, 2, 1326, 77, "earlier", 0},
        {L"--out x", nullptr, 10000, 2, 1326, 77, "earlier", 0},
    };
    size_t logons = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(row.arguments)) + " limit " + std::to_string(row.timeLeft));
        RunOutcome run = RunAs(child + row.arguments, row.password, row.timeLeft);
        EXPECT_TRUE(run.status.Is(row.type, row.code)) << run.status.GetType() << "/" << run.status.GetCode();
        EXPECT_EQ(row.exitCode, run.exitCode);
        EXPECT_TRUE(std::wstring(row.output.begin(), row.output.end()) == run.output) << run.output.size();
        logons += row.logons;
        EXPECT_EQ(logons, logon.Journal().size());
    }
}

TEST(TollanRun, HeirHoldingThePipeDoesNotHoldTheRun)
{
    LogonHook logon(Self(), User, Domain, Password);
    std::wstring release = L"TollanRunHeirRelease" + std::to_wstring(GetCurrentProcessId());
    std::wstring done = L"TollanRunHeirDone" + std::to_wstring(GetCurrentProcessId());
    HANDLE releaseEvent = CreateEventW(nullptr, TRUE, FALSE, release.c_str());
    HANDLE doneEvent = CreateEventW(nullptr, TRUE, FALSE, done.c_str());
    std::wstring child = L"\"" + ProgramFolder() + L"\\testchild.exe\" --out hello --heir \"--wait " + release
        + L" --signal " + done + L"\"";
    RunOutcome run = RunAs(child, Password, 30000);
    SetEvent(releaseEvent);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(doneEvent, 10000)) << "the heir has not ended";
    CloseHandle(releaseEvent);
    CloseHandle(doneEvent);
    EXPECT_TRUE(IsOK(run.status));
    EXPECT_EQ(L"hello\r\n", run.output);
}

bool ToolRunning(const SapFixture& sap, const wchar_t* image)
{
    for (const SapProcess& process : sap.Processes())
        if (_wcsicmp(process.image.c_str(), image) == 0)
            return true;
    return false;
}

TEST(TollanRunOnInstance, ToolThatDoesNotEndInTimeIsEndedWithinBounds)
{
    SapFixture sap(SapInstanceType::Central, "QR1");
    ASSERT_TRUE(sap.Ok()) << sap.Error();
    sap.Plan("sapinfo delay=hang");
    LogonHook logon(Self(), User, Domain, Password);
    std::wstring sapinfo = Wide(sap.sapHome) + L"\\sapinfo.exe ashost=" + Wide(sap.host) + L" sysnr=00";
    enum Fault { None, Wait, Terminate };
    const struct {
        Fault fault;
        uint32_t type, code, exitCode;
        bool left; // the tool still runs afterwards
    } rows[] = {
        {None, 7, 258, 77, false},
        // A failed wait must not leave the tool running, nor look like an exit.
        {Wait, 2, ERROR_INVALID_HANDLE, 0, false},
        // One that cannot be ended costs one bounded wait, then the time-out.
        {Terminate, 7, 258, 77, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.fault);
        RunOutcome run;
        {
            std::unique_ptr<ShortWaitFault> wait;
            std::unique_ptr<FaultHook> faults;
            if (row.fault == Wait)
                wait.reset(new ShortWaitFault(Self()));
            if (row.fault == Terminate) {
                faults.reset(new FaultHook(Self()));
                faults->Fail("TerminateProcess", ERROR_ACCESS_DENIED, 0);
            }
            run = RunAs(sapinfo, Password, 1000, Wide(sap.sapHome));
        }
        EXPECT_TRUE(run.status.Is(row.type, row.code)) << run.status.GetType() << "/" << run.status.GetCode();
        EXPECT_EQ(row.exitCode, run.exitCode);
        EXPECT_EQ(L"earlier", run.output);
        EXPECT_EQ(row.left, ToolRunning(sap, L"sapinfo.exe"));
    }
}

// A home with a blank runs the tool it names, never the program that its first word names.
TEST(TollanRunOnInstance, BlankInTheHomeRunsTheToolNotTheDecoy)
{
    SapFixture sap(SapInstanceType::Central, "QR2");
    ASSERT_TRUE(sap.Ok()) << sap.Error();
    sap.Plan("startsap exit=5");
    std::wstring root = Wide(sap.root);
    std::wstring home = root + L"\\sap home\\run";
    std::wstring stub = Wide(sap.sapHome) + L"\\startsap.exe";
    CreateDirectoryW((root + L"\\sap home").c_str(), nullptr);
    CreateDirectoryW(home.c_str(), nullptr);
    ASSERT_TRUE(CopyFileW(stub.c_str(), (home + L"\\startsap.exe").c_str(), FALSE));
    ASSERT_TRUE(CopyFileW(stub.c_str(), (root + L"\\sap.exe").c_str(), FALSE));
    std::wstring program, commandLine;
    ASSERT_TRUE(CTollanUtil::BuildCommandLine(home, L"startsap.exe",
                                              {{L" name=", L"QR2"}, {L" nr=", L"00"}, {L" sapdiahost=", L"h1 nr=99"}},
                                              &program, &commandLine));
    LogonHook logon(Self(), User, Domain, Password);
    RunOutcome run = RunAs(commandLine, Password, 20000, home);
    EXPECT_TRUE(IsOK(run.status));
    EXPECT_EQ(5u, run.exitCode);
    EXPECT_TRUE(sap.Runs("sap").empty());
    std::vector<SapRun> runs = sap.Runs("startsap");
    ASSERT_EQ(1u, runs.size());
    std::string expected = "\"" + sap.root + "\\sap home\\run\\startsap.exe\" name=QR2 nr=00 sapdiahost=\"h1 nr=99\"";
    EXPECT_EQ(expected, runs[0].commandLine);
    EXPECT_EQ(sap.root + "\\sap home\\run", runs[0].cwd);
}

// The fixture's attributes as the framework hands them over, parsed without the checks.
bool ParseFixture(const SapFixture& sap, CTollanAttrib& attrib)
{
    std::map<std::string, std::string> attributes = sap.Attributes();
    std::vector<std::string> values;
    for (const char* name : {"SAPSID", "SecondLevelMonitor", "EPProgramTimeout", "SAPHome", "SAPMonHome", "SAPHost"})
        values.push_back(attributes[name]);
    values.push_back(std::to_string(sap.procMon.size()));
    values.insert(values.end(), sap.procMon.begin(), sap.procMon.end());
    for (const char* name : {"SAPServiceUser", "SAPAdminDomain", "SAPAdmin", "SAPAdminPassword", "ResLogLevel",
                             "InstType", "InstName", "InstProfile", "EnqSrvResName", "MonitorProgram"})
        values.push_back(attributes[name]);
    std::vector<const char*> pointers;
    for (const std::string& value : values)
        pointers.push_back(value.c_str());
    TarnAgArgs args{static_cast<uint32_t>(pointers.size()), pointers.data()};
    return attrib.Parse(1, "R1", &args, 0).IsOK();
}

TEST(TollanRunOnInstance, EveryToolRunsWithItsCommandLineInItsFolder)
{
    SapFixture sap(SapInstanceType::Central, "QR3");
    ASSERT_TRUE(sap.Ok()) << sap.Error();
    sap.Plan("startsap exit=0 start=\nstopsap exit=0\nsapinfo exit=2\nensmon exit=4");
    CTollanAttrib attrib;
    ASSERT_TRUE(ParseFixture(sap, attrib));
    LogonHook logon(Self(), Wide(sap.user), Wide(sap.domain), Wide(sap.password));
    const std::string instance = " name=" + sap.sid + " nr=" + sap.number + " sapdiahost=" + sap.host;
    const struct {
        CTollanTool tool;
        const char* role;
        std::string arguments;
        uint32_t exitCode;
    } rows[] = {
        {CTollanTool::StartSap, "startsap", instance, 0},
        {CTollanTool::StopSap, "stopsap", instance, 0},
        {CTollanTool::SapSrvKill, "sapsrvkill", " " + sap.host + "_" + sap.sid + "_" + sap.number, 0},
        {CTollanTool::SapInfo, "sapinfo", " ashost=" + sap.host + " sysnr=" + sap.number, 2},
        {CTollanTool::EnsMon, "ensmon", " pf=" + sap.profile + " 2", 4},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.role);
        std::wstring program, directory, commandLine;
        ASSERT_TRUE(CTollanUtil::GetToolCommand(row.tool, attrib, &program, &directory, &commandLine));
        RunOutcome run;
        run.status = CTollanUtil::CreateAndGetExitCode(commandLine, directory, attrib.GetSAPAdmin(),
                                                       attrib.GetSAPAdminDomain(), attrib.GetSAPAdminPassword().c_str(),
                                                       &run.output, &run.exitCode, 20000);
        EXPECT_TRUE(IsOK(run.status));
        EXPECT_EQ(row.exitCode, run.exitCode);
        std::vector<SapRun> runs = sap.Runs(row.role);
        ASSERT_EQ(1u, runs.size());
        EXPECT_EQ(sap.sapHome + "\\" + row.role + ".exe" + row.arguments, runs[0].commandLine);
        EXPECT_EQ(sap.sapHome, runs[0].cwd);
        EXPECT_EQ(Wide(sap.sapHome + "\\" + row.role + ".exe"), program);
    }
}

TEST(TollanToolCommand, LinesAsGivenQuotedWhereABlankIsOrRefused)
{
    const std::wstring run = L"D:\\usr\\sap\\ABC\\SYS\\exe\\run";
    using Parts = std::vector<CTollanUtil::CommandPart>;
    const Parts start = {{L" name=", L"ABC"}, {L" nr=", L"00"}, {L" sapdiahost=", L"saphost1"}};
    const struct {
        std::wstring directory;
        const wchar_t* file;
        Parts parts;
        const wchar_t* commandLine; // null: refused
    } rows[] = {
        {run, L"startsap.exe", start,
         L"D:\\usr\\sap\\ABC\\SYS\\exe\\run\\startsap.exe name=ABC nr=00 sapdiahost=saphost1"},
        {run,
         L"sapsrvkill.exe",
         {{L" ", L"saphost1_ABC_00"}},
         L"D:\\usr\\sap\\ABC\\SYS\\exe\\run\\sapsrvkill.exe saphost1_ABC_00"},
        {run,
         L"ensmon.exe",
         {{L" pf=", L"D:\\usr\\sap\\ABC\\SYS\\profile\\ABC_ASCS01_h1"}, {L" 2", L""}},
         L"D:\\usr\\sap\\ABC\\SYS\\exe\\run\\ensmon.exe pf=D:\\usr\\sap\\ABC\\SYS\\profile\\ABC_ASCS01_h1 2"},
        {L"C:\\sap home\\run",
         L"sapinfo.exe",
         {{L" ashost=", L"h1\tx"}, {L" sysnr=", L"00"}},
         L"\"C:\\sap home\\run\\sapinfo.exe\" ashost=\"h1\tx\" sysnr=00"},
        {run,
         L"ensmon.exe",
         {{L" pf=", L"C:\\my profiles\\ABC_ASCS01_h1"}, {L" 2", L""}},
         L"D:\\usr\\sap\\ABC\\SYS\\exe\\run\\ensmon.exe pf=\"C:\\my profiles\\ABC_ASCS01_h1\" 2"},
        // Backslashes before a closing quote would escape it.
        {run, L"x.exe", {{L" pf=", L"C:\\a b\\"}}, L"D:\\usr\\sap\\ABC\\SYS\\exe\\run\\x.exe pf=\"C:\\a b\\\\\""},
        {run, L"startsap.exe", {{L" sapdiahost=", L"h1\" sysnr=99"}}, nullptr},
        {run, L"startsap.exe", {{L" sapdiahost=", L"h1\nx"}}, nullptr},
        {L"C:\\sap\"home", L"startsap.exe", start, nullptr},
        {L"", L"startsap.exe", start, nullptr},
    };
    for (const auto& row : rows) {
        std::wstring program = L"kept", commandLine = L"kept";
        bool built = CTollanUtil::BuildCommandLine(row.directory, row.file, row.parts, &program, &commandLine);
        SCOPED_TRACE(testing::PrintToString(commandLine));
        EXPECT_EQ(row.commandLine != nullptr, built);
        EXPECT_EQ(row.commandLine != nullptr ? row.directory + L"\\" + row.file : L"kept", program);
        EXPECT_EQ(row.commandLine != nullptr ? row.commandLine : L"kept", commandLine);
    }
}

} // namespace
