// Ending an instance's processes, and cleaning an instance up after a failure.

#include <windows.h>

#include <algorithm>
#include <deque>
#include <memory>
#include <utility>

#include "LibLogger.h"
#include "Tollan.h"
#include "TollanLog.h"
#include "TollanUtil.h"
#include "TollanWalk.h"

namespace {

constexpr const char* Source = "Tollan";
constexpr const char* KillFunction = "CTollan::Kill";
constexpr const char* CleanFunction = "CTollan::Clean";
constexpr uint32_t KillAccess = PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE | SYNCHRONIZE;
constexpr int64_t StateCheckCharge = 20000;
constexpr int64_t RecheckPause = 5000;

// A check of the graceful step's preconditions: when it fails, its trace (with the type and code of a bad
// argument) and its message.
bool Precondition(bool holds, const wchar_t* trace, const std::wstring& traceInsert, uint32_t id,
                  const wchar_t* message, const std::wstring& insert)
{
    if (holds)
        return true;
    QLIB_TRACE(CleanFunction, trace, traceInsert.c_str(), QLIB_ERR_WIN32, ERROR_BAD_ARGUMENTS);
    TOLLAN_MSG(TARNAG_SEV_FAILURE, CleanFunction, Source, id, message, insert.c_str());
    return false;
}

// Whether SAP's kill tool may run: a valid host and an existing home. A check that fails has its own messages.
bool GracefulShutdownAllowed(const std::wstring& host, const std::wstring& home)
{
    uint8_t valid = 0;
    uint8_t isDirectory = 0;
    const wchar_t* failed = L"%s returned %d, 0x%.08X";
    return Precondition(!host.empty(), failed, L"SAPHost is empty. Continueing Clean operation ...", 10120,
                        L"SAPHost is empty. Continueing Clean operation ...", L"")
        && Precondition(CTollanUtil::IsValidHostName(host, &valid).IsOK(), failed, L"CTollanUtil::IsValidHostName",
                        10121, L"SAPHost [%s] validation failed. Continueing Clean operation ... ", host)
        && Precondition(valid != 0,
                        L"SAPHost [%s] is NOT a valid hostname [%d, 0x%.08X]. Continueing Clean operation ...", host,
                        10122, L"SAPHost [%s] is NOT a valid hostname. Continueing Clean operation ...", host)
        && Precondition(!home.empty(), failed, L"SAPHome is empty. Continueing Clean operation ...", 10123,
                        L"SAPHome is empty. Continueing Clean operation ...", L"")
        && Precondition(CTollanUtil::IsDirectory(home, &isDirectory).IsOK(), failed, L"CTollanUtil::DoesExistDir.",
                        10124, L"SAPHome [%s] does NOT exist. Continueing Clean operation ...", home)
        && Precondition(isDirectory != 0, L"SAPHome [%s] does NOT exist [%d, 0x%.08X]. Continueing Clean operation ...",
                        home, 10125, L"SAPHome [%s] does NOT exist. Continueing Clean operation ...", home);
}

// The kill tool's working directory and command line, when the tool is there to run.
bool FindKillTool(const CTollanAttrib& attrib, std::wstring* directory, std::wstring* command)
{
    const char* function = CleanFunction;
    std::wstring tool;
    uint8_t toolExists = 0;
    // A command line that cannot be built safely leaves nothing to run, as a missing tool would.
    bool built = CTollanUtil::GetToolCommand(CTollanTool::SapSrvKill, attrib, &tool, directory, command);
    if (!built)
        tool = attrib.GetSAPHome() + L"\\sapsrvkill.exe";
    QLibStatus check = built ? CTollanUtil::DoesExistFile(tool, &toolExists) : QLibOk();
    if (check.IsFailed()) {
        QLIB_TRACE_FAILED(function, L"CTollanUtil::DoesExistFile", check);
        TOLLAN_TRACE_MSG(TARNAG_SEV_WARNING, function, Source, 10126,
                         L"File [%s] NOT found. Continueing the clean operation.", tool.c_str());
        return false;
    }
    if (!toolExists) {
        QLIB_TRACE_FAILED(function, L"CTollanUtil::DoesExistFile.", QLibWin32Failure(ERROR_FILE_NOT_FOUND));
        QLIB_TRACE(function, L"File [%s] does NOT exist. Continueing the clean operation.", tool.c_str());
        TOLLAN_MSG(TARNAG_SEV_WARNING, function, Source, 10127,
                   L"File[%s] does NOT exist. Continueing the clean operation.", tool.c_str());
        return false;
    }
    return true;
}

// Kill's result: its first failure, with the caller's failure flag set on every one.
class KillOutcome {
public:
    explicit KillOutcome(uint32_t* failed) : m_Failed(failed) { *m_Failed = 0; }
    void Fail(const QLibStatus& status)
    {
        *m_Failed = 1;
        if (m_Result.IsOK())
            m_Result = status;
    }
    QLibStatus Result() const { return m_Result; }

private:
    uint32_t* m_Failed;
    QLibStatus m_Result = QLibOk();
};

using KillQueue = std::deque<std::pair<uint32_t, std::unique_ptr<QLibProcess>>>;

// The walk: a process that a ProcMon name leads to is ended at once; one of the instance's accounts that no name
// leads to waits in the queue until the walk is done.
KillQueue KillWhileWalking(CTollanWalk& walk, const CTollanAttrib& attrib, const std::vector<std::wstring>& names,
                           KillOutcome& outcome)
{
    const char* function = KillFunction;
    const CTollanMatchTexts texts
        = {L"Failed to get the user name for the process [%s] with PID [%d].",
           L"Failed to get the user name for the process [%s] \t\t\t\t\t\t\t\t\t\t\t\t with PID [%d].", nullptr, true};
    // An enqueue instance comes online where its replication server runs; that one keeps the lock table.
    bool spareReplication = CTollanUtil::IsEnqueueType(attrib.GetInstType());
    KillQueue queue;
    QLibStatus status = QLibOk();
    while (walk.Next(&status)) {
        if (spareReplication && walk.ImageIs(L"ENREPSERVER.EXE")) {
            QLIB_TRACE(function, L"Leaving the replication server [%s] with PID [%d] alone.", walk.Path().c_str(),
                       walk.Pid());
            continue;
        }
        CTollanWalk::Match match = walk.MatchProcMon(names, texts);
        if (!match.ours)
            continue;
        if (match.name == nullptr) {
            QLIB_TRACE(function, L"Pushing the PID [%d] into queue for process [%s]", walk.Pid(), walk.Path().c_str());
            queue.emplace_back(walk.Pid(), walk.TakeProcess());
            continue;
        }
        QLIB_TRACE(function, L"Killing the process with name [%s] and PID [%d]", walk.Path().c_str(), walk.Pid());
        QLibStatus killed = TollanEndProcess(function, walk.Process(), walk.Pid());
        if (killed.IsFailed()) {
            QLIB_TRACE_FAILED(function, L"CTollanUtil::KillProcess", killed);
            TOLLAN_TRACE_MSG(TARNAG_SEV_FAILURE, function, Source, walk.ViaInstName() ? 10189 : 10190,
                             L"Failed to kill the process with PID [%d]. Clean failed.", walk.Pid());
            outcome.Fail(killed);
        }
    }
    if (status.IsFailed())
        outcome.Fail(status);
    return queue;
}

// The queued processes, in the order the walk found them.
void KillQueued(KillQueue& queue, KillOutcome& outcome)
{
    const char* function = KillFunction;
    for (auto& [pid, process] : queue) {
        QLIB_TRACE(function, L"Going to kill the process with PID [%d] from the queue.", pid);
        QLibStatus killed = TollanEndProcess(function, *process, pid);
        if (killed.IsFailed()) {
            QLIB_TRACE_FAILED(function, L"CTollanUtil::KillProcess", killed);
            TOLLAN_TRACE_MSG(TARNAG_SEV_FAILURE, function, Source, 10191,
                             L"Failed to kill the process with PID [%d] from the queue.", pid);
            outcome.Fail(killed);
        }
    }
}

} // namespace

std::wstring TollanServiceName(const CTollanAttrib& attrib)
{
    return L"SAP" + attrib.GetSAPSID() + L"_" + attrib.GetInstNumber();
}

void TollanStopService(const char* function, const CTollanAttrib& attrib, int64_t timeLeft,
                       const CTollanServiceStopTexts& texts)
{
    std::wstring service = TollanServiceName(attrib);
    QLIB_TRACE(function, texts.stopTrace, service.c_str());
    QLibStatus stop = CTollanUtil::StopService(service, timeLeft);
    if (stop.IsOK()) {
        TOLLAN_TRACE_MSG(TARNAG_SEV_SUCCESS, function, Source, texts.stoppedId, texts.stopped, service.c_str());
        return;
    }
    QLIB_TRACE_FAILED(function, texts.failed, stop);
    if (stop.GetCode() == WAIT_TIMEOUT)
        TOLLAN_TRACE_MSG(TARNAG_SEV_FAILURE, function, Source, texts.timedOutId, L"SAP Service Stop [%s] timed out.",
                         service.c_str());
}

QLibStatus CTollan::Kill(const CTollanAttrib& attrib, int64_t timeLeft, uint32_t* failed)
{
    const char* function = KillFunction;
    QLIB_TRACE(function, L"Kill is called with timeout [%I64d].", timeLeft);
    KillOutcome outcome(failed);
    QLIB_TRACE(function, L"Checking for the process existence, if any for the SAP Instance.");
    // The right to end other accounts' processes; without it the kills themselves tell.
    QLibStatus privilege = QLibProcess::EnablePrivilege(GetCurrentProcessId(), L"SeDebugPrivilege", TRUE);
    if (privilege.IsFailed())
        QLIB_TRACE_FAILED(function, L"QLibProcess::EnablePrivilege", privilege);
    CTollanWalk walk(function, attrib, KillAccess);
    QLibStatus status = walk.Open();
    if (status.IsFailed()) {
        QLIB_TRACE_FAILED(function, L"QLibProcessList::Open", status);
        TOLLAN_TRACE_MSG(TARNAG_SEV_FAILURE, function, Source, 10188, L"Failed to open the process list.");
        outcome.Fail(status);
        return outcome.Result();
    }
    uint32_t arch = TOLLAN_ARCH_NONE;
    std::vector<std::wstring> names = TollanWorkingProcMon(function, attrib, &arch);
    KillQueue queue = KillWhileWalking(walk, attrib, names, outcome);
    KillQueued(queue, outcome);
    return outcome.Result();
}

bool CTollan::WaitForInstanceEnd(const CTollanAttrib& attrib, const std::wstring& command, CTollanTimeLeft& timeLeft)
{
    const char* function = CleanFunction;
    int64_t left = timeLeft.Get();
    if (left < StateCheckCharge) {
        TOLLAN_TRACE_MSG(TARNAG_SEV_WARNING, function, Source, 10129,
                         L"Not enough time [%d]secs to delay after graceful shutdown in clean.",
                         static_cast<int32_t>(left / 1000));
        return false;
    }
    bool ended = false;
    while (left > StateCheckCharge) {
        uint64_t procCount = 0;
        uint64_t procmonCount = 0;
        uint32_t arch = TOLLAN_ARCH_NONE;
        // The instance has stopped when none of its ProcMon processes is left, not when some are gone. Its
        // service's program may run as its service user below the instance's folder; the service's stop ends it.
        if (GetProcessState(attrib, &procCount, &procmonCount, &arch).IsOK() && !NamedProcessRunning()) {
            TOLLAN_TRACE_MSG(TARNAG_SEV_SUCCESS, function, Source, 10130,
                             L"Successfully stopped the SAP Instance with command [%s].", command.c_str());
            ended = true;
            break;
        }
        left -= StateCheckCharge;
        QLIB_TRACE(function, L"Going to sleep for [5]secs before rechecking the status.");
        if (left <= StateCheckCharge) {
            TOLLAN_TRACE_MSG(TARNAG_SEV_WARNING, function, Source, 10131,
                             L"Not enough time [%d]secs to recheck the status after graceful shutdown in clean.",
                             static_cast<int32_t>(left / 1000));
            break;
        }
        Sleep(static_cast<DWORD>(RecheckPause));
        left = std::min(left - RecheckPause, timeLeft.Get());
    }
    if (!ended && left < StateCheckCharge)
        TOLLAN_TRACE_MSG(TARNAG_SEV_WARNING, function, Source, 10132,
                         L"Not enough time [%d]secs to delay after graceful shutdown in clean.",
                         static_cast<int32_t>(left / 1000));
    return ended;
}

void CTollan::ShutdownGracefully(const CTollanAttrib& attrib, const std::wstring& directory,
                                 const std::wstring& command, CTollanTimeLeft& timeLeft)
{
    const char* function = CleanFunction;
    CTollanPassword password = attrib.GetSAPAdminPassword();
    QLIB_TRACE(function, L"Going to shutdown the SAP Instance gracefully with command [%s].", command.c_str());
    std::wstring output;
    uint32_t exitCode = 0;
    QLibStatus run = CTollanUtil::CreateAndGetExitCode(command, directory, attrib.GetSAPAdmin(),
                                                       attrib.GetSAPAdminDomain(), password.c_str(), &output, &exitCode,
                                                       timeLeft.Get());
    if (run.IsOK()) {
        (void)WaitForInstanceEnd(attrib, command, timeLeft);
        return;
    }
    QLIB_TRACE_FAILED(function, L"Graceful shutdown of SAP Instance failed to stop the SAP Instance.", run);
    if (run.GetCode() == WAIT_TIMEOUT)
        TOLLAN_TRACE_MSG(TARNAG_SEV_FAILURE, function, Source, 10128,
                         L"Graceful shutdown of SAP Instance [%s] timed out. Continueing to kill all the "
                         L"process for this SAP Instance.",
                         command.c_str());
}

QLibStatus CTollan::Clean(const CTollanAttrib& attrib, uint32_t /*reason*/, uint32_t* killFailed)
{
    const char* function = CleanFunction;
    operation = TOLLAN_OP_CLEAN;
    CTollanTimeLeft timeLeft = attrib.GetTimeLeft();
    *killFailed = 0;
    std::wstring directory;
    std::wstring command;
    if (GracefulShutdownAllowed(attrib.GetSAPHost(), attrib.GetSAPHome()) && FindKillTool(attrib, &directory, &command))
        ShutdownGracefully(attrib, directory, command, timeLeft);

    TollanStopService(function, attrib, timeLeft.Get(),
                      {L"Going to stop the SAP Service [%s].", L"StopService failed to stop the SAP Service.", 10133,
                       10134, L"Successfully stopped the SAP Service [%s]."});

    QLibStatus kill = Kill(attrib, timeLeft.Get(), killFailed);
    QLIB_TRACE(function,
               kill.IsFailed() ? L"Failed to Clean the resource for SAP Instance."
                               : L"Succesfully Cleaned the resource for SAP Instance.");
    QLIB_TRACE(function, L"Adding the Clean information to the SAP log file.");
    QLibStatus log = _LogSAP(attrib, TOLLAN_OP_CLEAN);
    if (log.IsFailed())
        QLIB_TRACE_FAILED(function, L"Failed to add Clean information to SAP log file.", log);
    return kill.IsFailed() ? kill : log;
}
