// Monitor: the instance's processes in every cycle, SAP's own tools in the cycles the counter picks, and the
// administrator's monitor program whenever one is set. Each level runs only while the ones before found the
// instance online, and every program run gets only what is left of the monitor's time.

#include <climits>
#include <optional>
#include <string>
#include <vector>

#include "LibLogger.h"
#include "Tollan.h"
#include "TollanAttrib.h"
#include "TollanLog.h"
#include "TollanUtil.h"

namespace {

const char* const Source = "Tollan";
const char* const MonitorFn = "CTollan::Monitor";
const char* const SecondFn = "CTollan::_SecondLevelMonitor";
const char* const ThirdFn = "CTollan::_ThirdLevelMonitor";
const char* const SapinfoFn = "CTollan::_InterpretSapinfoExitCode";
const char* const EnsmonFn = "CTollan::_InterpretEnsmonExitCode";
const wchar_t* const TimedOut = L"The command [%s] timed out.";
const wchar_t* const NotRun = L"Failed to execute the command [%s].";

// Level 2 decides by the counter, and moves it on; with SecondLevelMonitor at zero or less it never runs.
bool SecondLevelDue(CTollanAttrib& attrib)
{
    int32_t every = attrib.GetSecondLevelMonitor();
    std::wstring resource = attrib.GetResourceName();
    if (every <= 0) {
        QLIB_TRACE(MonitorFn, L"SecondLevelMonitor is set to [%d]. Skipping the Second Level Monitor.", every);
        (void)attrib.SetSLMCounter(0, resource);
        return false;
    }
    QLIB_TRACE(MonitorFn, L"Getting the SLMCounter.");
    uint32_t counter = 0;
    (void)attrib.GetSLMCounter(&counter, resource, 1);
    QLIB_TRACE(MonitorFn, L"Got SLMCounter [%d] from cookie.", counter);
    uint32_t n = static_cast<uint32_t>(every);
    if (counter == 0)
        counter = n;
    if (counter == 1 || counter == n) {
        uint32_t next = counter == 1 ? n : n - 1;
        QLIB_TRACE(MonitorFn, L"Setting SLMCounter to [%d].", next);
        (void)attrib.SetSLMCounter(next, resource);
        return true;
    }
    QLIB_TRACE(MonitorFn, L"Decrementing SLMCounter to [%d].", counter - 1);
    (void)attrib.SetSLMCounter(counter - 1, resource);
    return false;
}

// What an exit code of one of SAP's tools means: the first row whose range holds it.
struct ExitRule {
    int32_t low, high;
    uint32_t state;
    uint32_t severity;
    uint32_t id; // 0: no message
    const wchar_t* text; // takes the exit code
    uint32_t consoleId; // 0: none
};

const wchar_t* const SapinfoCode = L"sapinfo.exe returned with exitcode [%d].";
const wchar_t* const EnsmonCode = L"ensmon.exe returned with exitcode [%d].";
const wchar_t* const EnsmonInvalid = L"ensmon.exe returned with invalid exitcode [%d].";

const std::vector<ExitRule> SapinfoRules = {
    {0, 0, TOLLAN_STATE_ONLINE, 0, 0, nullptr, 0},
    {2, 2, TOLLAN_STATE_OFFLINE, TARNAG_SEV_FAILURE, 10159, SapinfoCode, 0},
    {1, 4, TOLLAN_STATE_UNKNOWN, TARNAG_SEV_FAILURE, 10160, SapinfoCode, 0},
    {INT_MIN, INT_MAX, TOLLAN_STATE_UNKNOWN, TARNAG_SEV_FAILURE, 10161,
     L"sapinfo.exe returned with invalid exitcode [%d].", 0},
};
const std::vector<ExitRule> EnqueueRules = {
    {0, 0, TOLLAN_STATE_ONLINE, 0, 0, nullptr, 0},
    {4, 4, TOLLAN_STATE_ONLINE, 0, 10162, L"Replication is enabled in server, but no repl. server is connected.",
     10163},
    {8, 8, TOLLAN_STATE_OFFLINE, TARNAG_SEV_FAILURE, 10164, EnsmonCode, 0},
    {12, 12, TOLLAN_STATE_OFFLINE, TARNAG_SEV_FAILURE, 10164, EnsmonCode, 0},
    {INT_MIN, INT_MAX, TOLLAN_STATE_UNKNOWN, TARNAG_SEV_WARNING, 10165, EnsmonInvalid, 0},
};
const std::vector<ExitRule> ReplicationRules = {
    {0, 0, TOLLAN_STATE_ONLINE, 0, 0, nullptr, 0},
    {8, 8, TOLLAN_STATE_UNKNOWN, TARNAG_SEV_NOTICE, 10166,
     L"ensmon.exe returned with invalid exitcode [%d]. Enqueue Server might be failing over or Offline.", 0},
    {INT_MIN, INT_MAX, TOLLAN_STATE_UNKNOWN, TARNAG_SEV_WARNING, 10167, EnsmonInvalid, 0},
};

void ApplyExitRules(const char* function, const std::vector<ExitRule>& rules, uint32_t exitCode, uint32_t* state)
{
    int32_t code = static_cast<int32_t>(exitCode);
    for (const ExitRule& rule : rules) {
        if (code < rule.low || code > rule.high)
            continue;
        *state = rule.state;
        if (rule.id != 0)
            TOLLAN_TRACE_MSG(rule.severity, function, Source, rule.id, rule.text, code);
        if (rule.consoleId != 0)
            TarnAgLogConsoleMsg2(rule.severity, function, Source, __LINE__, rule.consoleId, 0, rule.text, code);
        return;
    }
}

void TraceOutcome(uint32_t state)
{
    QLIB_TRACE(SecondFn,
               state == TOLLAN_STATE_ONLINE        ? L"Second Level Monitor returned Resource state as Online."
                   : state == TOLLAN_STATE_OFFLINE ? L"Second Level Monitor returned Resource state as Offline."
                                                   : L"Second Level Monitor returned Resource state as Unknown.");
}

// One of SAP's tools that level 2 runs from SAPMonHome, and its messages.
struct Tool {
    const wchar_t* file;
    uint32_t missingId;
    uint32_t timedOutId;
    uint32_t failedId;
    bool goOnWhenMissing; // the ABAP part of an Add-In instance: the run is still attempted
};

const Tool Sapinfo = {L"sapinfo.exe", 10143, 10144, 10145, false};
const Tool AddInSapinfo = {L"sapinfo.exe", 10147, 10148, 10149, true};
const Tool Ensmon = {L"ensmon.exe", 10151, 10152, 10153, false};

// Level 2's one pass over the instance: its attributes, its password, and the time it started with.
class SecondLevel {
public:
    SecondLevel(const CTollanAttrib& attrib, int64_t timeLeft)
        : m_Attrib(attrib), m_Password(attrib.GetSAPAdminPassword()), m_TimeLeft(timeLeft)
    {
    }

    int64_t TimeLeft() { return m_TimeLeft.Get(); }
    QLibStatus Prepare(uint32_t architecture, bool* goOn);
    QLibStatus RunTool(const Tool& tool, const std::vector<CTollanUtil::CommandPart>& parts, uint32_t* exitCode);
    QLibStatus RunSapinfo(const Tool& tool, uint32_t* exitCode)
    {
        return RunTool(tool, {{L" ashost=", m_Attrib.GetSAPHost()}, {L" sysnr=", m_Attrib.GetInstNumber()}}, exitCode);
    }
    QLibStatus RunJcmon(uint32_t* state, const wchar_t* failed, uint32_t timedOutId);

private:
    QLibStatus CheckMonHome(bool* goOn);
    QLibStatus CheckHost(bool* goOn);
    QLibStatus CheckProfile(bool* goOn);

    const CTollanAttrib& m_Attrib;
    CTollanPassword m_Password;
    CTollanTimeLeft m_TimeLeft;
};

QLibStatus SecondLevel::CheckMonHome(bool* goOn)
{
    const std::wstring& home = m_Attrib.GetSAPMonHome();
    if (home.empty()) {
        TOLLAN_TRACE_MSG(TARNAG_SEV_FAILURE, SecondFn, Source, 10136, L"SAPMonHome [%s] is null.", home.c_str());
        return QLibOk();
    }
    uint8_t isDirectory = 0;
    QLibStatus status = CTollanUtil::IsDirectory(home, &isDirectory);
    if (status.IsFailed()) {
        QLIB_TRACE_FAILED(SecondFn, L"CTollanUtil::DoesExistDir", status);
        QLIB_TRACE(SecondFn, L"Failed to get the status of Directory SAPMonHome [%s].", home.c_str());
        return status;
    }
    if (!isDirectory) {
        status = QLibWin32Failure(ERROR_PATH_NOT_FOUND);
        QLIB_TRACE_FAILED(SecondFn, L"SAPMonHome directory NOT found.", status);
        TOLLAN_TRACE_MSG(TARNAG_SEV_FAILURE, SecondFn, Source, 10137, L"SAPMonHome [%s] directory does NOT exist.",
                         home.c_str());
        return status;
    }
    *goOn = true;
    return status;
}

QLibStatus SecondLevel::CheckHost(bool* goOn)
{
    const std::wstring& host = m_Attrib.GetSAPHost();
    if (host.empty()) {
        TOLLAN_TRACE_MSG(TARNAG_SEV_FAILURE, SecondFn, Source, 10138, L"SAPHost [%s] is NULL.", host.c_str());
        return QLibOk();
    }
    uint8_t valid = 0;
    QLibStatus status = CTollanUtil::IsValidHostName(host, &valid);
    if (status.IsFailed()) {
        QLIB_TRACE_FAILED(SecondFn, L"CTollanUtil::IsValidHostName", status);
        QLIB_TRACE(SecondFn, L"Failed to validate the SAPHost with name [%s].", host.c_str());
        return status;
    }
    if (!valid) {
        TOLLAN_TRACE_MSG(TARNAG_SEV_FAILURE, SecondFn, Source, 10139, L"SAPHost name [%s] is NOT valid.", host.c_str());
        return status;
    }
    *goOn = true;
    return status;
}

QLibStatus SecondLevel::CheckProfile(bool* goOn)
{
    const std::wstring& profile = m_Attrib.GetInstProfile();
    if (profile.empty()) {
        TOLLAN_TRACE_MSG(TARNAG_SEV_FAILURE, SecondFn, Source, 10140, L"InstProfile [%s] is NULL.", profile.c_str());
        return QLibOk();
    }
    uint8_t exists = 0;
    QLibStatus status = CTollanUtil::DoesExistInstProfile(profile, m_Attrib.GetSAPAdmin(), m_Attrib.GetSAPAdminDomain(),
                                                          m_Password.c_str(), &exists);
    if (status.IsFailed()) {
        QLIB_TRACE_FAILED(SecondFn, L"CTollanUtil::DoesExistFile.", status);
        TOLLAN_MSG(TARNAG_SEV_FAILURE, SecondFn, Source, 10141, L"InstProfile [%s] does NOT exist.", profile.c_str());
        return status;
    }
    if (!exists) {
        status = QLibWin32Failure(ERROR_BAD_ARGUMENTS);
        QLIB_TRACE(SecondFn, L"InstProfile [%s] does NOT exist [%d, 0x%.08X].", profile.c_str(), status.GetType(),
                   status.GetCode());
        QLIB_TRACE(SecondFn, L"InstProfile [%s] is NOT valid.", profile.c_str());
        TOLLAN_MSG(TARNAG_SEV_FAILURE, SecondFn, Source, 10142, L"InstProfile [%s] does NOT exist.", profile.c_str());
        return status;
    }
    *goOn = true;
    return status;
}

// The checks before any tool runs; *goOn is false when level 2 ends here (unknown, with the status returned).
QLibStatus SecondLevel::Prepare(uint32_t architecture, bool* goOn)
{
    *goOn = false;
    QLibStatus status = CheckMonHome(goOn);
    if (*goOn && (architecture == TOLLAN_ARCH_ABAP || architecture == TOLLAN_ARCH_ADDIN)) {
        *goOn = false;
        status = CheckHost(goOn);
    }
    if (*goOn && architecture != TOLLAN_ARCH_ABAP) {
        *goOn = false;
        status = CheckProfile(goOn);
    }
    return status;
}

QLibStatus SecondLevel::RunTool(const Tool& tool, const std::vector<CTollanUtil::CommandPart>& parts,
                                uint32_t* exitCode)
{
    std::wstring program;
    std::wstring commandLine;
    if (!CTollanUtil::BuildCommandLine(m_Attrib.GetSAPMonHome(), tool.file, parts, &program, &commandLine)) {
        // A value that would split or break the command line: nothing is run.
        std::wstring shown = m_Attrib.GetSAPMonHome() + L"\\" + tool.file;
        TOLLAN_TRACE_MSG(TARNAG_SEV_FAILURE, SecondFn, Source, tool.failedId, NotRun, shown.c_str());
        return QLibWin32Failure(ERROR_INVALID_PARAMETER);
    }
    uint8_t exists = 0;
    QLibStatus status = CTollanUtil::DoesExistFile(program, &exists);
    if (status.IsFailed()) {
        QLIB_TRACE_FAILED(SecondFn, L"CTollanUtil::DoesExistFile", status);
        QLIB_TRACE(SecondFn, L"Failed to find the status of %s [%s].", tool.file, program.c_str());
    } else if (!exists) {
        status = QLibWin32Failure(ERROR_FILE_NOT_FOUND);
        QLIB_TRACE_FAILED(SecondFn, L"CTollanUtil::DoesExistFile.", status);
        TOLLAN_TRACE_MSG(TARNAG_SEV_FAILURE, SecondFn, Source, tool.missingId, L"%s command path [%s] does NOT exist.",
                         tool.file, program.c_str());
    }
    if (status.IsFailed() && !tool.goOnWhenMissing)
        return status;

    int64_t left = TimeLeft();
    QLIB_TRACE(SecondFn, L"Execute the command [%s] to find the status of SAP Instance.", commandLine.c_str());
    std::wstring output;
    status = CTollanUtil::CreateAndGetExitCode(commandLine, m_Attrib.GetSAPMonHome(), m_Attrib.GetSAPAdmin(),
                                               m_Attrib.GetSAPAdminDomain(), m_Password.c_str(), &output, exitCode,
                                               left);
    if (status.IsFailed()) {
        QLIB_TRACE_FAILED(SecondFn, L"CTollanUtil::CreateAndGetExitCode", status);
        bool late = status.GetCode() == WAIT_TIMEOUT;
        TOLLAN_TRACE_MSG(TARNAG_SEV_FAILURE, SecondFn, Source, late ? tool.timedOutId : tool.failedId,
                         late ? TimedOut : NotRun, commandLine.c_str());
    }
    return status;
}

QLibStatus SecondLevel::RunJcmon(uint32_t* state, const wchar_t* failed, uint32_t timedOutId)
{
    QLIB_TRACE(SecondFn, L"Run Second Level Monitor test(jcmon.exe) for SAP Instance with InstProfile [%s].",
               m_Attrib.GetInstProfile().c_str());
    QLibStatus status = CTollan::_RunJcmonMonitorCheck(m_Attrib, state, TimeLeft());
    if (status.IsOK())
        return status;
    QLIB_TRACE(SecondFn, L"The jcmon.exe command failed with error code [%d 0x%.08X].", status.GetType(),
               status.GetCode());
    if (status.GetCode() == WAIT_TIMEOUT)
        TOLLAN_TRACE_MSG(TARNAG_SEV_FAILURE, SecondFn, Source, timedOutId, L"The jcmon.exe command timed out.");
    QLIB_TRACE(SecondFn, L"%s", failed);
    return status;
}

// An Add-In instance is online only when both parts are, offline only when sapinfo could not tell and jcmon
// says offline.
uint32_t CombineAddIn(uint32_t abap, uint32_t java)
{
    if (abap == TOLLAN_STATE_ONLINE && java == TOLLAN_STATE_ONLINE)
        return TOLLAN_STATE_ONLINE;
    if (abap == TOLLAN_STATE_UNKNOWN && java == TOLLAN_STATE_OFFLINE)
        return TOLLAN_STATE_OFFLINE;
    return TOLLAN_STATE_UNKNOWN;
}

// The MonitorProgram's file: a failure when it cannot be found out whether it exists, or when it does not.
QLibStatus CheckMonitorProgramExists(const std::wstring& program)
{
    uint8_t exists = 0;
    QLibStatus status = CTollanUtil::DoesExistFile(program, &exists);
    if (status.IsFailed()) {
        QLIB_TRACE_FAILED(ThirdFn, L"CTollanUtil::DoesExistFile", status);
        TOLLAN_MSG(TARNAG_SEV_FAILURE, ThirdFn, Source, 10154, L"Failed to check MonitorProgram [%s] exist or not.",
                   program.c_str());
        return status;
    }
    if (!exists) {
        status = QLibWin32Failure(ERROR_BAD_ARGUMENTS);
        QLIB_TRACE(ThirdFn, L"MonitorProgram [%s] does NOT exist [%d, 0x%.08X].", program.c_str(), status.GetType(),
                   status.GetCode());
        TOLLAN_MSG(TARNAG_SEV_FAILURE, ThirdFn, Source, 10155, L"MonitorProgram [%s] does NOT exist.", program.c_str());
    }
    return status;
}

void TraceFailedMonitorProgram(const std::wstring& command, const QLibStatus& status)
{
    QLIB_TRACE_FAILED(ThirdFn, L"CTollanUtil::CreateAndGetExitCode", status);
    if (status.GetCode() == WAIT_TIMEOUT)
        TOLLAN_TRACE_MSG(TARNAG_SEV_FAILURE, ThirdFn, Source, 10156, L"The MonitorProgram [%s] timed out.",
                         command.c_str());
    else
        QLIB_TRACE(ThirdFn, L"FaileD to run MonitorProgram [%s].", command.c_str());
}

// 0 and 110 are online, 1 and 100 offline, anything else unknown.
uint32_t StateOfMonitorProgramExit(uint32_t exitCode)
{
    if (exitCode == 0 || exitCode == 110) {
        QLIB_TRACE(ThirdFn, L"MonitorProgram returned Online(110).");
        return TOLLAN_STATE_ONLINE;
    }
    if (exitCode == 1 || exitCode == 100) {
        TOLLAN_TRACE_MSG(TARNAG_SEV_FAILURE, ThirdFn, Source, 10157, L"MonitorProgram returned Offline(100).");
        return TOLLAN_STATE_OFFLINE;
    }
    TOLLAN_TRACE_MSG(TARNAG_SEV_FAILURE, ThirdFn, Source, 10158, L"MonitorProgram exited with Unknown exitcode [%d].",
                     static_cast<int32_t>(exitCode));
    return TOLLAN_STATE_UNKNOWN;
}

} // namespace

QLibStatus CTollan::Monitor(CTollanAttrib& attrib, uint32_t* state)
{
    CTollanTimeLeft timeLeft = attrib.GetTimeLeft();
    *state = TOLLAN_STATE_UNKNOWN;
    operation = TOLLAN_OP_MONITOR;

    QLIB_TRACE(MonitorFn, L"Perform the process level check(first level monitor).");
    QLibStatus status = _FirstLevelMonitor(attrib, state, timeLeft.Get());
    if (status.IsFailed()) {
        QLIB_TRACE_FAILED(MonitorFn, L"Failed to perform process level check.", status);
        return status;
    }
    if (*state != TOLLAN_STATE_ONLINE) {
        QLIB_TRACE(MonitorFn, L"Process level check returned resource is NOT Online.");
        return status;
    }
    QLIB_TRACE(MonitorFn, L"Process level check returned resource is Online.");

    if (SecondLevelDue(attrib)) {
        status = _SecondLevelMonitor(attrib, state, timeLeft.Get());
        if (status.IsFailed()) {
            QLIB_TRACE_FAILED(MonitorFn, L"Failed to perform second level monitoring.", status);
            TOLLAN_MSG(TARNAG_SEV_FAILURE, MonitorFn, Source, 10117,
                       L"Failed to perform second level monitoring [%d 0x%.08X].", status.GetType(), status.GetCode());
            return QLibOk();
        }
        if (*state != TOLLAN_STATE_ONLINE) {
            QLIB_TRACE(MonitorFn, L"Second level monitor returned resource is NOT Online.");
            return status;
        }
    }

    status = _ThirdLevelMonitor(attrib, state, timeLeft.Get());
    if (status.IsFailed()) {
        QLIB_TRACE_FAILED(MonitorFn, L"Failed to perform third level monitoring.", status);
        TOLLAN_MSG(TARNAG_SEV_FAILURE, MonitorFn, Source, 10118,
                   L"Failed to perform third level monitoring [%d 0x%.08X].", status.GetType(), status.GetCode());
        return status;
    }
    if (*state != TOLLAN_STATE_ONLINE)
        TOLLAN_TRACE_MSG(TARNAG_SEV_FAILURE, MonitorFn, Source, 10119,
                         L"Third level monitor returned resource is NOT Online.");
    return status;
}

QLibStatus CTollan::_SecondLevelMonitor(const CTollanAttrib& attrib, uint32_t* state, int64_t timeLeft)
{
    QLIB_TRACE(SecondFn, L"_SecondLevelMonitor is called with timeinhand [%I64d].", timeLeft);
    SecondLevel level(attrib, timeLeft);
    QLIB_TRACE(SecondFn, L"Going to run Second level monitor.");
    uint32_t architecture = CTollanUtil::FindSAPArch(attrib.GetProcMon());
    bool goOn = false;
    QLibStatus status = level.Prepare(architecture, &goOn);
    if (!goOn) {
        *state = TOLLAN_STATE_UNKNOWN;
        return status;
    }
    const std::wstring& type = attrib.GetInstType();
    uint32_t exitCode = 0;
    switch (architecture) {
    case TOLLAN_ARCH_ABAP:
        status = level.RunSapinfo(Sapinfo, &exitCode);
        if (status.IsFailed()) {
            *state = TOLLAN_STATE_UNKNOWN;
            return status;
        }
        status = _InterpretSapinfoExitCode(exitCode, state, type);
        break;
    case TOLLAN_ARCH_JAVA:
        status = level.RunJcmon(state, L"SecondLevelMonitor for SAP Instance(Java) Failed.", 10146);
        break;
    case TOLLAN_ARCH_ADDIN: {
        uint32_t abap = TOLLAN_STATE_UNKNOWN;
        uint32_t java = TOLLAN_STATE_UNKNOWN;
        if (level.RunSapinfo(AddInSapinfo, &exitCode).IsOK())
            (void)_InterpretSapinfoExitCode(exitCode, &abap, type);
        if (abap == TOLLAN_STATE_OFFLINE) {
            *state = TOLLAN_STATE_OFFLINE;
            return QLibOk();
        }
        status = level.RunJcmon(&java, L"SecondLevelMonitor for SAP Instance(Add-In) Failed.", 10150);
        if (status.IsOK())
            *state = CombineAddIn(abap, java);
        break;
    }
    default:
        if (!CTollanUtil::IsEnqueueType(type) && !CTollanUtil::IsReplicationType(type))
            return QLibOk();
        status = level.RunTool(Ensmon, {{L" pf=", attrib.GetInstProfile()}, {L" 2", L""}}, &exitCode);
        if (status.IsOK())
            status = _InterpretEnsmonExitCode(exitCode, state, type);
        break;
    }
    if (status.IsFailed()) {
        *state = TOLLAN_STATE_UNKNOWN;
        return status;
    }
    TraceOutcome(*state);
    return status;
}

QLibStatus CTollan::_InterpretSapinfoExitCode(uint32_t exitCode, uint32_t* state, const std::wstring& instType)
{
    int32_t code = static_cast<int32_t>(exitCode);
    QLIB_TRACE(SapinfoFn, L"_InterpretSapinfoExitCode is called with exitcode [%d] and insttype [%s].", code,
               instType.c_str());
    QLIB_TRACE(SapinfoFn, L"Going to Interpret exit code of sapinfo.exe [%d] for [%s] instance.", code,
               instType.c_str());
    ApplyExitRules(SapinfoFn, SapinfoRules, exitCode, state);
    QLIB_TRACE(SapinfoFn,
               *state == TOLLAN_STATE_ONLINE
                   ? L"Sapinfo check indicates the state of the SAP Instance as Up and Running (Online)."
                   : *state == TOLLAN_STATE_OFFLINE
                   ? L"Sapinfo check indicates the state of the SAP Instance as Down and Stopped (Offline)."
                   : L"Can not find the state of the SAP Instance with Sapinfo check (Unknown).");
    return QLibOk();
}

QLibStatus CTollan::_InterpretEnsmonExitCode(uint32_t exitCode, uint32_t* state, const std::wstring& instType)
{
    int32_t code = static_cast<int32_t>(exitCode);
    QLIB_TRACE(EnsmonFn, L"_InterpretEnsmonExitCode is called with exitcode [%d] and insttype [%s].", code,
               instType.c_str());
    if (CTollanUtil::IsEnqueueType(instType)) {
        QLIB_TRACE(EnsmonFn, L"Going to Interpret exit code[%d] of ensmon.exe for [%s] instance.", code,
                   instType.c_str());
        ApplyExitRules(EnsmonFn, EnqueueRules, exitCode, state);
    } else if (CTollanUtil::IsReplicationType(instType)) {
        QLIB_TRACE(EnsmonFn, L"Going to Interpret exit code[%d] of ensmon.exe for Replicated Enqueue Server.", code);
        ApplyExitRules(EnsmonFn, ReplicationRules, exitCode, state);
    }
    static const wchar_t* const Outcomes[] = {
        L"Ensmon check indicates the state of the SAP Instance as Down and Stopped (Offline).",
        L"Ensmon check indicates the state of the SAP Instance as Up and Running (Online).",
        L"Can not find the state of the SAP Instance with Ensmon check (Unknown).",
    };
    if (*state <= TOLLAN_STATE_UNKNOWN)
        QLIB_TRACE(EnsmonFn, L"%s", Outcomes[*state]);
    return QLibOk();
}

QLibStatus CTollan::_ThirdLevelMonitor(const CTollanAttrib& attrib, uint32_t* state, int64_t timeLeft)
{
    QLIB_TRACE(ThirdFn, L"_ThirdLevelMonitor is called with timeinhand [%I64d].", timeLeft);
    CTollanTimeLeft ownTimeLeft(timeLeft);
    CTollanPassword password = attrib.GetSAPAdminPassword();
    const std::wstring& command = attrib.GetMonitorProgram();
    // Only blanks and tabs name no program: as good as empty. A quoted empty path names one that does not exist.
    std::optional<std::wstring> named = TollanProgramOf(command);
    if (!named) {
        QLIB_TRACE(ThirdFn, L"MonitorProgram attribute is null, skipping Third Level Monitor.");
        return QLibOk();
    }
    const std::wstring& program = *named;
    QLIB_TRACE(ThirdFn, L"mpname [%s] from MonitorProgram [%s].", program.c_str(), command.c_str());
    QLIB_TRACE(ThirdFn, L"Got the exe name [%s] from the MonitorProgram [%s].", program.c_str(), command.c_str());
    QLIB_TRACE(ThirdFn, L"tmpexe [%s] from exename [%s].", program.c_str(), program.c_str());
    QLibStatus status = CheckMonitorProgramExists(program);
    if (status.IsFailed()) {
        *state = TOLLAN_STATE_UNKNOWN;
        return status;
    }

    int64_t left = ownTimeLeft.Get();
    QLIB_TRACE(ThirdFn, L"Going to run MonitorProgram [%s].", command.c_str());
    std::wstring output;
    uint32_t exitCode = 0;
    status = CTollanUtil::CreateAndGetExitCode(command, L"", attrib.GetSAPAdmin(), attrib.GetSAPAdminDomain(),
                                               password.c_str(), &output, &exitCode, left);
    if (status.IsFailed()) {
        TraceFailedMonitorProgram(command, status);
        *state = TOLLAN_STATE_UNKNOWN;
        return status;
    }
    *state = StateOfMonitorProgramExit(exitCode);
    return status;
}
