#include <cstring>
#include <string>
#include <vector>

#include "LibChildRun.h"
#include "LibLogger.h"
#include "LibUserLogon.h"
#include "Tollan.h"
#include "TollanAttrib.h"
#include "TollanLog.h"
#include "TollanUtil.h"

namespace {

const char* const Source = "Tollan";
const char* const Function = "CTollan::_RunJcmonMonitorCheck";
const wchar_t* const Jcmon = L"jcmon.exe";
// The menu choices 20, 0 and 0, each ended by a line feed but the last.
const char MenuInput[] = {0x32, 0x30, 0x0A, 0x30, 0x0A, 0x30};

#define JCMON_MSG(severity, id, ...) TOLLAN_TRACE_MSG(severity, Function, Source, id, __VA_ARGS__)

std::wstring Wide(const char* text)
{
    return std::wstring(text, text + strlen(text));
}

QLibStatus LogOn(const CTollanAttrib& attrib, QLibUserLogon& logon)
{
    static const wchar_t* const Failures[] = {
        L"[%d] LogonUser failed. User = [%s], Domain = [%s]",
        L"[%d] LoadUserProfileW failed. User = [%s], Domain = [%s]",
        L"[%d] CreateEnvBlock failed. User = [%s], Domain = [%s]",
    };
    CTollanPassword password = attrib.GetSAPAdminPassword();
    QLibUserLogon::Step failed = QLibUserLogon::LogonStep;
    // A password that could not be deciphered would fail in every cycle and could lock the account.
    QLibStatus status = password.empty()
        ? QLibWin32Failure(ERROR_LOGON_FAILURE)
        : logon.Open(attrib.GetSAPAdminDomain().c_str(), attrib.GetSAPAdmin().c_str(), password.c_str(), TRUE, failed);
    if (status.IsFailed())
        QLIB_TRACE(Function, Failures[failed], status.GetCode(), attrib.GetSAPAdmin().c_str(),
                   attrib.GetSAPAdminDomain().c_str());
    return status;
}

// The three folders jcmon.exe may be in, in the order they are tried. The instance's own folder is
// reachable only when SAPHome names the SID: without it there is no root to start from.
std::vector<std::wstring> JcmonFolders(const CTollanAttrib& attrib)
{
    std::vector<std::wstring> folders{attrib.GetSAPMonHome(), attrib.GetSAPHome()};
    std::wstring root = CTollanUtil::GetPathBefore(attrib.GetSAPHome(), CTollanUtil::ToUpper(attrib.GetSAPSID()));
    if (root.empty())
        QLIB_TRACE(Function, L"SAPHome [%s] holds no [%s]: the instance's os_libs folder is not looked at.",
                   attrib.GetSAPHome().c_str(), attrib.GetSAPSID().c_str());
    else
        folders.push_back(root + L"\\" + attrib.GetSAPSID() + L"\\" + attrib.GetInstName() + L"\\j2ee\\os_libs");
    return folders;
}

QLibStatus FindJcmon(const CTollanAttrib& attrib, std::wstring* folder)
{
    static const uint32_t EvaluationMessages[] = {10168, 10170, 10172};
    std::vector<std::wstring> folders = JcmonFolders(attrib);
    std::wstring path;
    for (size_t place = 0; place < folders.size(); ++place) {
        if (place > 0)
            QLIB_TRACE(Function, L"The binary [%s] does NOT exist. Checking in alternative path ...", path.c_str());
        path = folders[place] + L"\\" + Jcmon;
        uint8_t exists = 0;
        QLibStatus status = CTollanUtil::DoesExistFile(path, &exists);
        if (status.IsFailed()) {
            QLIB_TRACE_FAILED(Function, L"CTollanUtil::DoesExistFile", status);
            if (place < 2)
                JCMON_MSG(
                    TARNAG_SEV_FAILURE, EvaluationMessages[place],
                    L"Failed to evaluate the path for jcmon.exe [%s]. Please make sure the directory [%s] exists.",
                    path.c_str(), folders[place].c_str());
            else
                JCMON_MSG(TARNAG_SEV_FAILURE, EvaluationMessages[place],
                          L"Failed to evaluate the path for jcmon.exe [%s].", path.c_str());
            return status;
        }
        if (exists) {
            *folder = folders[place];
            return QLibOk();
        }
    }
    QLibStatus missing = QLibWin32Failure(ERROR_FILE_NOT_FOUND);
    QLIB_TRACE_FAILED(Function, L"CTollanUtil::DoesExistFile.", missing);
    QLIB_TRACE(Function, L"The binary [%s] does NOT exist.", path.c_str());
    TOLLAN_MSG(TARNAG_SEV_FAILURE, Function, Source, 10173,
               L"The binary [%s] does NOT exist. Skipping Second Level Monitor...", path.c_str());
    return missing;
}

// A run that never got going: the call that failed names the message.
QLibStatus ReportNotStarted(const QLibChildResult& run, const std::wstring& commandLine)
{
    static const struct {
        const char* call;
        QLibChildPipe pipe;
        uint32_t id;
        const wchar_t* text;
    } Messages[] = {
        {"CreatePipe", QLibChildPipe::Input, 10174, L"CreatePipe failed for the standard input."},
        {"SetHandleInformation", QLibChildPipe::Input, 10175,
         L"SetHandleInformation failed to close the write end of the input pipe."},
        {"CreatePipe", QLibChildPipe::Output, 10176, L"CreatePipe failed for the standard output."},
        {"SetHandleInformation", QLibChildPipe::Output, 10177,
         L"SetHandleInformation failed to close the read end of the output pipe."},
        {"WriteFile", QLibChildPipe::None, 10178,
         L"WriteFile failed to push the input for jcmon.exe into the stdin pipe."},
    };
    QLibStatus status = run.failure;
    if (strcmp(run.failedCall, "CreateProcessAsUserW") == 0) {
        JCMON_MSG(TARNAG_SEV_FAILURE, 10179, L"[%d] CreateProcessAsUser failed. CmdLine = [%s].", status.GetCode(),
                  commandLine.c_str());
        return status;
    }
    QLIB_TRACE_FAILED(Function, Wide(run.failedCall).c_str(), status);
    for (const auto& message : Messages)
        if (strcmp(run.failedCall, message.call) == 0 && run.failedPipe == message.pipe)
            JCMON_MSG(TARNAG_SEV_FAILURE, message.id, L"%s", message.text);
    return status;
}

std::wstring AnsiToWide(const std::string& bytes)
{
    if (bytes.empty())
        return std::wstring();
    int length = static_cast<int>(bytes.size());
    int chars = MultiByteToWideChar(CP_ACP, 0, bytes.data(), length, nullptr, 0);
    if (chars <= 0) {
        QLIB_TRACE(Function, L"(%d) MultiByteToWideChar failed.", GetLastError());
        return std::wstring();
    }
    std::wstring text(static_cast<size_t>(chars), L'\0');
    MultiByteToWideChar(CP_ACP, 0, bytes.data(), length, &text[0], chars);
    return text;
}

struct JcmonScan {
    bool dispatcherRunning = false;
    bool dispatcherStopped = false;
    bool serverRunning = false;
    bool serverStopped = false;
    bool serverOther = false;
};

bool Holds(const std::wstring& line, const wchar_t* word)
{
    return line.find(word) != std::wstring::npos;
}

// Case-sensitive words, line by line; the scan ends as soon as the answer can no longer change.
JcmonScan Scan(const std::wstring& output)
{
    JcmonScan scan;
    for (size_t begin = 0; begin < output.size();) {
        size_t end = output.find(L'\n', begin);
        if (end == std::wstring::npos)
            end = output.size();
        std::wstring line = output.substr(begin, end - begin);
        begin = end + 1;
        if (Holds(line, L"dispatcher")) {
            if (Holds(line, L"Running")) {
                scan.dispatcherRunning = true;
                if (scan.serverRunning)
                    break;
            } else if (Holds(line, L"Stopped")) {
                scan.dispatcherStopped = true;
                break;
            }
        } else if (Holds(line, L"server")) {
            if (Holds(line, L"Running")) {
                scan.serverRunning = true;
                scan.serverStopped = scan.serverOther = false;
                if (scan.dispatcherRunning)
                    break;
            } else if (Holds(line, L"Stopped")) {
                scan.serverStopped = true;
            } else {
                scan.serverOther = true;
            }
        }
    }
    return scan;
}

uint32_t Judge(const JcmonScan& scan)
{
    if (scan.dispatcherRunning && scan.serverRunning) {
        QLIB_TRACE(Function,
                   L"jcmon.exe indicates Dispatcher and atleast one J2EE Server is Running for the SAP Instance.");
        return 1;
    }
    if (scan.dispatcherStopped) {
        JCMON_MSG(TARNAG_SEV_FAILURE, 10184, L"Dispatcher Stopped for the SAP Instance.");
        return 0;
    }
    if (scan.serverStopped && !scan.serverRunning && !scan.serverOther) {
        JCMON_MSG(TARNAG_SEV_FAILURE, 10185, L"All J2EE Servers Stopped for the SAP Instance.");
        return 0;
    }
    JCMON_MSG(TARNAG_SEV_WARNING, 10186, L"The status of the SAP Instance couldn't be determined with jcmon.exe.");
    return 2;
}

// Only an ended run is judged. One that outlasted its limit, or whose wait failed, has been ended by the
// runner and leaves the state as it was.
QLibStatus JudgeRun(const QLibChildResult& run, const std::wstring& commandLine, int64_t timeLimit, uint32_t* state)
{
    switch (run.end) {
    case QLibChildEnd::NotStarted:
        return ReportNotStarted(run, commandLine);
    case QLibChildEnd::TimedOut:
        QLIB_TRACE(Function, L"The command [%s] did not end within [%I64d] ms.", commandLine.c_str(), timeLimit);
        return QLibFailure(QLIB_ERR_PROCESS_WAIT, WAIT_TIMEOUT);
    case QLibChildEnd::WaitFailed:
        QLIB_TRACE_FAILED(Function, Wide(run.failedCall).c_str(), run.failure);
        return run.failure;
    case QLibChildEnd::Exited:
        break;
    }
    std::wstring output;
    // Output cut short by a failed read is no answer.
    if (run.failedCall != nullptr)
        QLIB_TRACE_FAILED(Function, Wide(run.failedCall).c_str(), run.failure);
    else
        output = AnsiToWide(run.output);
    *state = Judge(Scan(output));
    return QLibOk();
}

} // namespace

QLibStatus CTollan::_RunJcmonMonitorCheck(const CTollanAttrib& attrib, uint32_t* state, int64_t timeLimit)
{
    QLIB_TRACE(Function, L"_RunJcmonMonitorCheck is called with dwTimeOut [%I64d]", timeLimit);
    if (timeLimit <= 0)
        return QLibFailure(QLIB_ERR_PROCESS_WAIT, WAIT_TIMEOUT);
    QLibUserLogon logon;
    QLibStatus status = LogOn(attrib, logon);
    std::wstring folder;
    if (status.IsOK())
        status = FindJcmon(attrib, &folder);
    if (status.IsFailed())
        return status;
    std::wstring program, commandLine;
    if (!CTollanUtil::BuildCommandLine(folder, Jcmon, {{L" pf=", attrib.GetInstProfile()}}, &program, &commandLine)) {
        QLIB_TRACE(Function, L"InstProfile [%s] cannot be put on a command line.", attrib.GetInstProfile().c_str());
        return QLibWin32Failure(ERROR_INVALID_PARAMETER);
    }
    QLIB_TRACE(Function, L"Executing the command [%s] to check the SAP Instance status.", commandLine.c_str());
    QLibChildSpec spec;
    spec.commandLine = commandLine.c_str();
    spec.token = logon.GetToken();
    spec.environment = logon.GetEnvironment();
    spec.input.assign(MenuInput, sizeof(MenuInput));
    spec.timeLimit = timeLimit;
    spec.endOnWaitFailure = true;
    return JudgeRun(QLibRunChild(spec), commandLine, timeLimit, state);
}
