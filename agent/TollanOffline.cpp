// Taking an instance offline on the cluster's request.

#include <windows.h>

#include "LibLogger.h"
#include "Tollan.h"
#include "TollanLog.h"
#include "TollanUtil.h"

namespace {

constexpr const char* Source = "Tollan";
constexpr const char* OfflineFunction = "CTollan::Offline";
constexpr const wchar_t* AlreadyOffline
    = L"SAP Instance for this resource is already offline. Not calling stop executables.";

// Runs stopsap.exe as the administrator: success only when it ran and exited with 0.
QLibStatus RunStopCommand(const CTollanAttrib& attrib, int64_t timeLeft)
{
    const char* function = OfflineFunction;
    std::wstring path;
    std::wstring directory;
    std::wstring command;
    // A command line that cannot be built safely leaves nothing to run, as a missing program would.
    bool built = CTollanUtil::GetToolCommand(CTollanTool::StopSap, attrib, &path, &directory, &command);
    if (!built)
        path = attrib.GetSAPHome() + L"\\stopsap.exe";
    uint8_t exists = 0;
    QLibStatus status = CTollanUtil::DoesExistFile(path, &exists);
    if (status.IsFailed()) {
        QLIB_TRACE_FAILED(function, L"CTollanUtil::DoesExistFile", status);
        QLIB_TRACE(function, L"Failed to find the status of file stopsap.exe [%s]. Aborting Offline.", path.c_str());
        return status;
    }
    if (!built || !exists) {
        status = QLibWin32Failure(ERROR_FILE_NOT_FOUND);
        QLIB_TRACE_FAILED(function, L"CTollanUtil::DoesExistFile.", status);
        TOLLAN_TRACE_MSG(TARNAG_SEV_FAILURE, function, Source, 10109,
                         L"stopsap.exe command path [%s] does NOT exist. Aborting Offline.", path.c_str());
        return status;
    }
    CTollanPassword password = attrib.GetSAPAdminPassword();
    QLIB_TRACE(function, L"Stop the SAP Instance with command [%s].", command.c_str());
    std::wstring output;
    uint32_t exitCode = 0;
    status = CTollanUtil::CreateAndGetExitCode(command, directory, attrib.GetSAPAdmin(), attrib.GetSAPAdminDomain(),
                                               password.c_str(), &output, &exitCode, timeLeft);
    if (status.IsFailed()) {
        QLIB_TRACE_FAILED(function, L"SAP Instance stop command failed to stop the SAP instance.", status);
        if (status.GetCode() == WAIT_TIMEOUT)
            TOLLAN_TRACE_MSG(TARNAG_SEV_FAILURE, function, Source, 10110, L"The SAP Instance Stop [%s] timed out.",
                             command.c_str());
        return status;
    }
    if (exitCode != 0) {
        // The program's own answer is the failure: the thread's last error says nothing about it.
        TOLLAN_TRACE_MSG(TARNAG_SEV_FAILURE, function, Source, 10111,
                         L"The command [%s] failed to stop the SAP instance and returned with exitcode [%d].",
                         command.c_str(), exitCode);
        return QLibWin32Failure(exitCode);
    }
    TOLLAN_TRACE_MSG(TARNAG_SEV_SUCCESS, function, Source, 10112,
                     L"The SAP Instance stopped successfully with exitcode [%d].", exitCode);
    return status;
}

} // namespace

QLibStatus CTollan::Offline(const CTollanAttrib& attrib, uint32_t* result)
{
    const char* function = OfflineFunction;
    operation = TOLLAN_OP_OFFLINE;
    CTollanTimeLeft timeLeft = attrib.GetTimeLeft();
    *result = 0;

    QLIB_TRACE(function, L"Performing process level check before Offline.");
    uint32_t state = TOLLAN_STATE_UNKNOWN;
    QLibStatus status = _FirstLevelMonitor(attrib, &state, timeLeft.Get());
    if (status.IsFailed()) {
        QLIB_TRACE_FAILED(function, L"Process level check failed before calling Offline.", status);
        TOLLAN_MSG(TARNAG_SEV_FAILURE, function, Source, 10106, L"Process level check failed before calling Offline.");
    }
    if (state == TOLLAN_STATE_OFFLINE) {
        TarnAgLogConsoleMsg2(TARNAG_SEV_NOTICE, function, Source, __LINE__, 10107, 0, AlreadyOffline);
        TOLLAN_MSG(TARNAG_SEV_NOTICE, function, Source, 10108, AlreadyOffline);
        QLIB_TRACE(function, AlreadyOffline);
        if (!AnyProcessRunning())
            return status;
        // Processes behind a stopped service, or a broken set: nothing to stop by command, but they must go.
        QLIB_TRACE(function, L"Processes of the SAP Instance still run. Stopping its service and ending them.");
    } else {
        status = RunStopCommand(attrib, timeLeft.Get());
        if (status.IsFailed())
            return status;
    }

    TollanStopService(function, attrib, timeLeft.Get(),
                      {L"Stop the SAP Service [%s].", L"Failed to stop the SAP service.", 10113, 10114,
                       L"The SAP Service [%s] stopped successfully."});

    QLIB_TRACE(function, L"Cleanup the resource for SAP Instance.");
    uint32_t killFailed = 0;
    QLibStatus kill = Kill(attrib, timeLeft.Get(), &killFailed);
    if (kill.IsFailed()) {
        QLIB_TRACE_FAILED(function, L"Failed to cleamup the resource for SAP Instance.", kill);
        TOLLAN_MSG(TARNAG_SEV_FAILURE, function, Source, 10115, L"Failed to cleanup the resource for SAP Instance.");
    } else {
        QLIB_TRACE(function, L"Successfully cleaned up the resource for SAP Instance.");
    }

    QLIB_TRACE(function, L"Adding the Offline information to the SAP log file.");
    status = _LogSAP(attrib, TOLLAN_OP_OFFLINE);
    if (status.IsFailed()) {
        QLIB_TRACE_FAILED(function, L"Failed to add the Offline information to SAP log file.", status);
        status = QLibOk();
    }
    return status;
}
