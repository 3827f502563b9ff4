// Online: the instance's service and SAP's start command, then SAP's own check of the started instance.

#include <algorithm>
#include <string>

#include "LibLogger.h"
#include "Tollan.h"
#include "TollanAttrib.h"
#include "TollanLog.h"
#include "TollanUtil.h"

namespace {

const char* const Source = "Tollan";
const char* const Function = "CTollan::Online";
constexpr int64_t ToolLimit = 10000;
constexpr int64_t JcmonLimit = 15000;
constexpr int64_t RecheckSleep = 5000;
// The framework's most urgent severity, which the enqueue server's warnings carry.
constexpr uint32_t SevereNotice = 0;

#define ONLINE_MSG(severity, id, ...) TOLLAN_TRACE_MSG(severity, Function, Source, id, __VA_ARGS__)

// One post-start stage: how long each run counts, and its texts. Texts take (seconds, command) for the time
// messages, (command) for the time-out and sleep lines, and (command, exit code) for the answers.
struct Stage {
    int64_t limit;
    bool jcmon;
    const wchar_t* tool; // tested before the first run; null: no test
    uint32_t missingSeverity, missingId;
    const wchar_t* missing;
    uint32_t shortSeverity, shortId;
    const wchar_t* shortAtStart;
    bool recordWhenShort;
    uint32_t timedOutId;
    const wchar_t* timedOut;
    uint32_t upId;
    const wchar_t* up;
    const wchar_t* unsuccessful;
    const wchar_t* sleep;
    uint32_t recheckId;
    const wchar_t* recheck;
    uint32_t finalSeverity, finalId;
    const wchar_t* final;
};

const wchar_t* const ToolUnsuccessful = L"Command [%s] executed and returned unsuccessful exit code [%d].";
const wchar_t* const PlainSleep = L"Going to sleep for [5]secs before rechecking the status.";
const wchar_t* const ToolTimedOut = L"The command [%s] timed out.";
const wchar_t* const ToolUp = L"Command [%s] executed successfully with exit code [%d].";
const wchar_t* const ToolFinal = L"Not enough time [%d]secs to run the command [%s].";
const wchar_t* const JcmonTimedOut = L"The jcmon.exe command timed out.";
const wchar_t* const JcmonUp = L"jcmon.exe executed successfully and returned Online.";
const wchar_t* const JcmonUnknown = L"jcmon.exe returned unknown Resource State.";
const wchar_t* const JcmonShort = L"Not enough time [%d]secs to run the command [jcmon.exe].";

const Stage AbapSapinfo = {
    ToolLimit,
    false,
    L"sapinfo.exe",
    TARNAG_SEV_WARNING,
    10074,
    L"Command [%s] does NOT exist.",
    TARNAG_SEV_WARNING,
    10075,
    ToolFinal,
    false,
    10076,
    ToolTimedOut,
    10077,
    ToolUp,
    ToolUnsuccessful,
    PlainSleep,
    10078,
    L"Not enough time [%d]secs to recheck the status with the command [%s].",
    TARNAG_SEV_WARNING,
    10079,
    ToolFinal,
};
const Stage JavaJcmon = {
    JcmonLimit,
    true,
    nullptr,
    0,
    0,
    nullptr,
    TARNAG_SEV_WARNING,
    10080,
    JcmonShort,
    false,
    10081,
    JcmonTimedOut,
    10082,
    JcmonUp,
    JcmonUnknown,
    PlainSleep,
    10083,
    L"Not enough time [%d]secs to recheck the status with [jcmon.exe].",
    TARNAG_SEV_WARNING,
    10084,
    JcmonShort,
};
const Stage AddInSapinfo = {
    ToolLimit,
    false,
    L"sapinfo.exe",
    TARNAG_SEV_NOTICE,
    10085,
    L"sapinfo.exe command path [%s] does NOT exist.",
    TARNAG_SEV_WARNING,
    10086,
    L"Not enough time [%d] to run the command [%s].",
    true,
    10087,
    ToolTimedOut,
    10088,
    ToolUp,
    ToolUnsuccessful,
    L"Going to sleep for [5]secs before rechecking the status with command [%s].",
    10089,
    L"Not enough time [%d]secs to recheck the status with command [%s].",
    TARNAG_SEV_WARNING,
    10090,
    ToolFinal,
};
const Stage AddInJcmon = {
    JcmonLimit,
    true,
    nullptr,
    0,
    0,
    nullptr,
    TARNAG_SEV_WARNING,
    10091,
    JcmonShort,
    true,
    10092,
    JcmonTimedOut,
    10093,
    JcmonUp,
    JcmonUnknown,
    PlainSleep,
    10094,
    L"Not enough time [%d] to recheck the status.",
    TARNAG_SEV_WARNING,
    10095,
    JcmonShort,
};
const Stage Ensmon = {
    ToolLimit,
    false,
    L"ensmon.exe",
    TARNAG_SEV_NOTICE,
    10096,
    L"ensmon.exe command path [%s] does NOT exist.",
    TARNAG_SEV_NOTICE,
    10097,
    L"Not enough time[%d] to run the command [%s].",
    false,
    10098,
    ToolTimedOut,
    10099,
    L"Command [%s] executed successfully.",
    ToolUnsuccessful,
    PlainSleep,
    10104,
    L"Not enough time [%d]secs to recheck the status with command [%s].",
    TARNAG_SEV_NOTICE,
    10105,
    L"Not enough time[%d] to run the command [%s].",
};

enum class StageEnd {
    Up, // the instance answered
    Record, // gave up where the record is still written
    NoRecord, // gave up, or could not run
};

int32_t Seconds(int64_t ms)
{
    return static_cast<int32_t>(std::max<int64_t>(std::min<int64_t>(ms / 1000, INT32_MAX), INT32_MIN));
}

// One Online call: its attributes, its clock and the administrator it runs SAP's programs as.
class OnlineCall {
public:
    OnlineCall(CTollan& tollan, CTollanAttrib& attrib)
        : m_Tollan(tollan), m_Attrib(attrib), m_TimeLeft(attrib.GetTimeLeft()), m_Password(attrib.GetSAPAdminPassword())
    {
    }

    QLibStatus Run();

private:
    int64_t TimeLeft() { return m_TimeLeft.Get(); }
    void Cleanup();
    QLibStatus StartSAPService();
    QLibStatus RunStartCommand();
    void ResetCounter();
    bool PostStartCheck();
    StageEnd RunStage(const Stage& stage, const std::wstring& commandLine, int64_t left, int64_t* leftAfter);
    QLibStatus Probe(const Stage& stage, const std::wstring& commandLine, int64_t limit, uint32_t* exitCode);
    bool IsUp(const Stage& stage, uint32_t exitCode) const;
    void ReportUp(const Stage& stage, const wchar_t* command, uint32_t exitCode);
    bool ToolCommand(CTollanTool tool, const wchar_t* file, std::wstring* program, std::wstring* directory,
                     std::wstring* commandLine) const;
    StageEnd ToolStage(const Stage& stage, CTollanTool tool, int64_t* leftAfter);

    CTollan& m_Tollan;
    CTollanAttrib& m_Attrib;
    CTollanTimeLeft m_TimeLeft;
    CTollanPassword m_Password;
    uint32_t m_State = TOLLAN_STATE_UNKNOWN; // jcmon's answer
};

QLibStatus OnlineCall::Run()
{
    uint32_t state = TOLLAN_STATE_UNKNOWN;
    QLIB_TRACE(Function, L"Performing process level check before Online.");
    QLibStatus status = m_Tollan._FirstLevelMonitor(m_Attrib, &state, TimeLeft());
    if (status.IsFailed()) {
        ONLINE_MSG(TARNAG_SEV_FAILURE, 10062, L"Process level check failed before calling Online [%d 0x%.08X].",
                   status.GetType(), status.GetCode());
        return status;
    }
    if (state == TOLLAN_STATE_ONLINE) {
        const wchar_t* running = L"SAP Instance for this resource is already running. Not calling start executables.";
        TarnAgLogConsoleMsg2(TARNAG_SEV_NOTICE, Function, Source, __LINE__, 10063, 0, running);
        ONLINE_MSG(TARNAG_SEV_NOTICE, 10064, running);
        return QLibOk();
    }
    Cleanup();
    status = StartSAPService();
    if (status.IsOK())
        status = RunStartCommand();
    if (status.IsFailed())
        return status;
    ResetCounter();
    if (!PostStartCheck())
        return QLibOk();
    QLIB_TRACE(Function, L"Adding the Online information to the SAP log file.");
    // The record never fails the call: a file that cannot be written has been reported where it failed.
    (void)CTollan::_LogSAP(m_Attrib, 1);
    return QLibOk();
}

// A command line that cannot be built safely leaves nothing to run, as a missing program would.
bool OnlineCall::ToolCommand(CTollanTool tool, const wchar_t* file, std::wstring* program, std::wstring* directory,
                             std::wstring* commandLine) const
{
    if (CTollanUtil::GetToolCommand(tool, m_Attrib, program, directory, commandLine))
        return true;
    const std::wstring& home = tool == CTollanTool::StartSap ? m_Attrib.GetSAPHome() : m_Attrib.GetSAPMonHome();
    *program = home + L"\\" + file;
    return false;
}

// Leftovers that cannot be killed are only traced: the start may still succeed.
void OnlineCall::Cleanup()
{
    QLIB_TRACE(Function, L"Cleanup the resource for SAP Instance before Online.");
    uint32_t killFailed = 0;
    QLibStatus status = m_Tollan.Kill(m_Attrib, TimeLeft(), &killFailed);
    if (status.IsFailed())
        QLIB_TRACE_FAILED(Function, L"Failed to clean up the resource before Online for SAP Instance.", status);
    else
        QLIB_TRACE(Function, L"Successfully cleaned the resource for SAP Instance before Online.");
}

QLibStatus OnlineCall::StartSAPService()
{
    std::wstring service = L"SAP" + m_Attrib.GetSAPSID() + L"_" + m_Attrib.GetInstNumber();
    QLIB_TRACE(Function, L"Start the SAP Service [%s].", service.c_str());
    QLibStatus status = CTollanUtil::StartService(service, TimeLeft());
    if (status.IsOK()) {
        QLIB_TRACE(Function, L"The SAP Sevice [%s] started successfully.", service.c_str());
        TOLLAN_MSG(TARNAG_SEV_SUCCESS, Function, Source, 10067, L"The SAP Service [%s] started successfully.",
                   service.c_str());
        return status;
    }
    QLIB_TRACE_FAILED(Function, L"CTollanUtil::StartService", status);
    if (status.GetCode() == WAIT_TIMEOUT)
        ONLINE_MSG(TARNAG_SEV_FAILURE, 10065, L"SAP Service Start [%s] timed out.", service.c_str());
    else
        ONLINE_MSG(TARNAG_SEV_FAILURE, 10066, L"Failed to start the SAP Service [%s]. The return code [%d 0x%.08X].",
                   service.c_str(), status.GetType(), status.GetCode());
    return status;
}

QLibStatus OnlineCall::RunStartCommand()
{
    std::wstring program, directory, commandLine;
    bool built = ToolCommand(CTollanTool::StartSap, L"startsap.exe", &program, &directory, &commandLine);
    uint8_t exists = 0;
    QLibStatus status = CTollanUtil::DoesExistFile(program, &exists);
    if (status.IsFailed()) {
        QLIB_TRACE_FAILED(Function, L"CTollanUtil::DoesExistFile", status);
        QLIB_TRACE(Function, L"Failed to find the SAP start command [%s]. Aborting Online.", program.c_str());
        return status;
    }
    if (!built || !exists) {
        status = QLibWin32Failure(ERROR_FILE_NOT_FOUND);
        QLIB_TRACE_FAILED(Function, L"CTollanUtil::DoesExistFile.", status);
        ONLINE_MSG(TARNAG_SEV_FAILURE, 10068, L"SAP Start command [%s] does NOT exist. Aborting Online.",
                   program.c_str());
        return status;
    }
    QLIB_TRACE(Function, L"Start the SAP Instance with command [%s]", commandLine.c_str());
    std::wstring output;
    uint32_t exitCode = 0;
    status = CTollanUtil::CreateAndGetExitCode(commandLine, directory, m_Attrib.GetSAPAdmin(),
                                               m_Attrib.GetSAPAdminDomain(), m_Password.c_str(), &output, &exitCode,
                                               TimeLeft());
    if (status.IsFailed()) {
        QLIB_TRACE_FAILED(Function, L"SAP Instance start command failed.", status);
        if (status.GetCode() == WAIT_TIMEOUT)
            ONLINE_MSG(TARNAG_SEV_FAILURE, 10069, L"The SAP Instance start command [%s] timed out.",
                       commandLine.c_str());
        else
            ONLINE_MSG(TARNAG_SEV_FAILURE, 10070, L"SAP Instance start command [%s] failed.", commandLine.c_str());
        return status;
    }
    if (exitCode != 0) {
        // The exit code says why; the thread's last error says nothing about the command.
        ONLINE_MSG(TARNAG_SEV_FAILURE, 10071, L"The SAP start command [%s] failed with exitcode [%d]",
                   commandLine.c_str(), exitCode);
        return QLibWin32Failure(exitCode);
    }
    ONLINE_MSG(TARNAG_SEV_SUCCESS, 10072, L"The SAP start command [%s] executed successfully with exitcode [%d].",
               commandLine.c_str(), exitCode);
    return QLibOk();
}

void OnlineCall::ResetCounter()
{
    uint32_t counter = static_cast<uint32_t>(m_Attrib.GetSecondLevelMonitor());
    std::wstring resource = m_Attrib.GetResourceName();
    QLIB_TRACE(Function, L"Got resource name [%s]", resource.c_str());
    QLIB_TRACE(Function, L"Initializing the SLMCounter to [%d]", counter);
    QLibStatus status = m_Attrib.SetSLMCounter(counter, resource);
    if (status.IsFailed()) {
        QLIB_TRACE_FAILED(Function, L"Failed to Initialize the SLMCounter.", status);
        TOLLAN_MSG(TARNAG_SEV_WARNING, Function, Source, 10073, L"Failed to Initialize the SLMCounter.");
        return;
    }
    QLIB_TRACE(Function, L"Successfully set the SLMCounter to [%d]", counter);
}

// True when the SAP log record is to be written.
bool OnlineCall::PostStartCheck()
{
    uint32_t architecture = CTollanUtil::FindSAPArch(m_Attrib.GetProcMon());
    int64_t left = 0;
    StageEnd end = StageEnd::NoRecord;
    switch (architecture) {
    case TOLLAN_ARCH_ABAP:
    case TOLLAN_ARCH_ADDIN: {
        const Stage& stage = architecture == TOLLAN_ARCH_ABAP ? AbapSapinfo : AddInSapinfo;
        end = ToolStage(stage, CTollanTool::SapInfo, &left);
        // The jcmon stage never outlasts the call, whatever the sapinfo stage counted.
        if (architecture == TOLLAN_ARCH_ADDIN && end == StageEnd::Up)
            end = RunStage(AddInJcmon, std::wstring(), std::min(left, TimeLeft()), &left);
        break;
    }
    case TOLLAN_ARCH_JAVA:
        end = RunStage(JavaJcmon, std::wstring(), TimeLeft(), &left);
        break;
    default:
        if (CTollanUtil::IsEnqueueType(m_Attrib.GetInstType())
            || CTollanUtil::IsReplicationType(m_Attrib.GetInstType())) {
            end = ToolStage(Ensmon, CTollanTool::EnsMon, &left);
            break;
        }
        // No tool of SAP's fits: the monitor judges the instance from its processes.
        QLIB_TRACE(Function,
                   L"ProcMon names neither disp+work.exe nor jcontrol.exe for InstType [%s]: no post-start "
                   L"check is run.",
                   m_Attrib.GetInstType().c_str());
        end = StageEnd::Record;
    }
    return end != StageEnd::NoRecord;
}

StageEnd OnlineCall::ToolStage(const Stage& stage, CTollanTool tool, int64_t* leftAfter)
{
    std::wstring program, directory, commandLine;
    bool built = ToolCommand(tool, stage.tool, &program, &directory, &commandLine);
    uint8_t exists = 0;
    QLibStatus status = CTollanUtil::DoesExistFile(program, &exists);
    if (status.IsFailed()) {
        QLIB_TRACE_FAILED(Function, L"CTollanUtil::DoesExistFile", status);
        QLIB_TRACE(Function, L"Failed to find the status of %s [%s].", stage.tool, program.c_str());
        return StageEnd::NoRecord;
    }
    if (!built || !exists) {
        QLIB_TRACE_FAILED(Function, L"CTollanUtil::DoesExistFile.", QLibWin32Failure(ERROR_FILE_NOT_FOUND));
        ONLINE_MSG(stage.missingSeverity, stage.missingId, stage.missing, program.c_str());
        return StageEnd::NoRecord;
    }
    return RunStage(stage, commandLine, TimeLeft(), leftAfter);
}

// Runs the stage's check while at least its limit is left, counting each run as the limit and each sleep as
// its length. Only a check that answered "up" ends the stage well.
StageEnd OnlineCall::RunStage(const Stage& stage, const std::wstring& commandLine, int64_t left, int64_t* leftAfter)
{
    const wchar_t* command = commandLine.c_str();
    if (stage.jcmon)
        m_State = TOLLAN_STATE_UNKNOWN;
    if (left < stage.limit) {
        ONLINE_MSG(stage.shortSeverity, stage.shortId, stage.shortAtStart, Seconds(left), command);
        return stage.recordWhenShort ? StageEnd::Record : StageEnd::NoRecord;
    }
    bool answered = false;
    while (left >= stage.limit) {
        uint32_t exitCode = 0;
        QLibStatus status = Probe(stage, commandLine, std::min(stage.limit, TimeLeft()), &exitCode);
        if (status.IsFailed()) {
            if (stage.jcmon)
                QLIB_TRACE(Function, L"The jcmon.exe command failed with error code [%d 0x%.08X].", status.GetType(),
                           status.GetCode());
            else
                QLIB_TRACE(Function, L"The command [%s] failed with error code [%d 0x%.08X].", command,
                           status.GetType(), status.GetCode());
            if (status.GetCode() == WAIT_TIMEOUT)
                ONLINE_MSG(TARNAG_SEV_WARNING, stage.timedOutId, stage.timedOut, command);
            return StageEnd::NoRecord;
        }
        answered = IsUp(stage, exitCode);
        if (answered) {
            ReportUp(stage, command, exitCode);
            break;
        }
        QLIB_TRACE(Function, stage.unsuccessful, command, exitCode);
        left -= stage.limit;
        if (left <= stage.limit) {
            ONLINE_MSG(TARNAG_SEV_WARNING, stage.recheckId, stage.recheck, Seconds(left), command);
            break;
        }
        QLIB_TRACE(Function, stage.sleep, command);
        Sleep(static_cast<DWORD>(RecheckSleep));
        left -= RecheckSleep;
    }
    *leftAfter = left;
    if (answered)
        return StageEnd::Up;
    ONLINE_MSG(stage.finalSeverity, stage.finalId, stage.final, Seconds(left), command);
    return StageEnd::NoRecord;
}

QLibStatus OnlineCall::Probe(const Stage& stage, const std::wstring& commandLine, int64_t limit, uint32_t* exitCode)
{
    if (stage.jcmon)
        return CTollan::_RunJcmonMonitorCheck(m_Attrib, &m_State, limit);
    QLIB_TRACE(Function, L"Checking the status of SAP Instance with the command [%s].", commandLine.c_str());
    std::wstring output;
    return CTollanUtil::CreateAndGetExitCode(commandLine, m_Attrib.GetSAPMonHome(), m_Attrib.GetSAPAdmin(),
                                             m_Attrib.GetSAPAdminDomain(), m_Password.c_str(), &output, exitCode,
                                             limit);
}

// sapinfo: 0; jcmon: online; ensmon: 0, 8, and for an enqueue server also 4 (no replication server yet).
bool OnlineCall::IsUp(const Stage& stage, uint32_t exitCode) const
{
    if (stage.jcmon)
        return m_State == TOLLAN_STATE_ONLINE;
    if (&stage != &Ensmon)
        return exitCode == 0;
    return exitCode == 0 || exitCode == 8 || (exitCode == 4 && CTollanUtil::IsEnqueueType(m_Attrib.GetInstType()));
}

void OnlineCall::ReportUp(const Stage& stage, const wchar_t* command, uint32_t exitCode)
{
    if (&stage != &Ensmon || exitCode == 0) {
        ONLINE_MSG(TARNAG_SEV_SUCCESS, stage.upId, stage.up, command, exitCode);
        return;
    }
    if (exitCode == 4) {
        ONLINE_MSG(SevereNotice, 10100,
                   L"Command [%s] returned exit code [%d] which indicates Replication \tis enabled in server, but no "
                   L"repl. server is connected.",
                   command, exitCode);
        TarnAgLogConsoleMsg2(SevereNotice, Function, Source, __LINE__, 10101, 0,
                             L"The command [ensmon.exe] exitcode [4] indicates Replication is enabled in server, but "
                             L"no repl. server is connected.");
        return;
    }
    ONLINE_MSG(SevereNotice, 10102,
               L"Command [%s] returned exit code [%d] which indicates Enqueue Server is not Reachable.", command,
               exitCode);
    TarnAgLogConsoleMsg2(SevereNotice, Function, Source, __LINE__, 10103, 0,
                         L"The command [ensmon.exe] exitcode [8] indicates Enqueue Server is not reachable by Enqueue "
                         L"Replication Server.");
}

} // namespace

QLibStatus CTollan::Online(CTollanAttrib& attrib)
{
    operation = TOLLAN_OP_ONLINE;
    return OnlineCall(*this, attrib).Run();
}
