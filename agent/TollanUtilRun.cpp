// Running SAP's programs and the user's monitor program as the SAP administrator, and their command lines.

#include <windows.h>

#include <cstring>

#include "LibChildRun.h"
#include "LibLogger.h"
#include "LibUserLogon.h"
#include "TollanAttrib.h"
#include "TollanOwners.h"
#include "TollanUtil.h"

namespace {

constexpr const char* RunFunction = "CTollanUtil::CreateAsUserAndGetOutput";
constexpr const wchar_t* LogonFailed = L"[%d] LogonUser failed. User=%s, Dom=%s";

QLibStatus Logon(const wchar_t* domain, const wchar_t* user, const wchar_t* password, QLibUserLogon& logon)
{
    static const wchar_t* const succeeded[] = {
        L"LogonUser Succeed from CreateAsUserAndGetOutput.",
        L"LoadUserProfileW Succeed from CreateAsUserAndGetOutput.",
        L"CreateEnvironmentBlock Succeed from CreateAsUserAndGetOutput.",
    };
    static const wchar_t* const failed[] = {
        LogonFailed,
        L"[%d] LoadUserProfileW failed. User=%s, Dom=%s",
        L"[%d] CreateEnvBlock failed. User=%s, Dom=%s",
    };
    QLibUserLogon::Step step = QLibUserLogon::LogonStep;
    QLibStatus status = logon.Open(domain, user, password, TRUE, step);
    int done = status.IsOK() ? QLibUserLogon::EnvironmentStep + 1 : step;
    for (int i = 0; i < done; ++i)
        QLIB_TRACE(RunFunction, succeeded[i]);
    if (status.IsFailed())
        QLIB_TRACE(RunFunction, failed[step], status.GetCode(), user, domain);
    return status;
}

// The status of a run that did not end by itself, with the trace of the step that failed.
QLibStatus FailedRun(const QLibChildSpec& spec, const QLibChildResult& run)
{
    if (run.end == QLibChildEnd::TimedOut)
        return QLibFailure(QLIB_ERR_PROCESS_WAIT, WAIT_TIMEOUT);
    QLibStatus status = run.failure;
    DWORD code = status.GetCode();
    if (run.end == QLibChildEnd::WaitFailed)
        QLIB_TRACE_FAILED(RunFunction, L"CTollanUtil::CreateAsUserAndGetOutput.", status);
    else if (strcmp(run.failedCall, "CreateProcessAsUserW") == 0)
        QLIB_TRACE(RunFunction, L"[%d] CreateProcessAsUser failed. CmdLine = %s. ", code, spec.commandLine);
    else if (strcmp(run.failedCall, "DuplicateHandle") == 0)
        QLIB_TRACE(RunFunction, L"DuplicateHandle failed with exit code [%d].", code);
    else
        QLIB_TRACE(RunFunction, L"[%d] %S failed.", code, run.failedCall);
    return status;
}

bool FitsOnCommandLine(const std::wstring& value)
{
    for (wchar_t c : value)
        if (c == L'"' || (c < L' ' && c != L'\t') || c == 0x7F)
            return false;
    return true;
}

// A value as one token: in quotes when it holds a blank or tab, with the backslashes in front of the closing
// quote doubled so that they do not escape it.
void AppendToken(std::wstring& line, const std::wstring& value)
{
    if (value.find_first_of(L" \t") == std::wstring::npos) {
        line += value;
        return;
    }
    size_t kept = value.find_last_not_of(L'\\') + 1;
    line += L'"';
    line += value;
    line.append(value.size() - kept, L'\\');
    line += L'"';
}

} // namespace

QLibStatus CTollanUtil::CreateAndGetExitCode(const std::wstring& commandLine, const std::wstring& directory,
                                             const std::wstring& user, const std::wstring& domain,
                                             const wchar_t* password, std::wstring* output, uint32_t* exitCode,
                                             int64_t timeLeft)
{
    const char* function = "CTollanUtil::CreateAndGetExitCode";
    QLIB_TRACE(function,
               L"CreateAndGetExitCode called with command [%s], path [%s], user [%s], domain [%s] and millitimeout "
               L"[%I64d]",
               commandLine.c_str(), directory.c_str(), user.c_str(), domain.c_str(), timeLeft);
    CTollanOutputOwner buffer;
    uint32_t size = 0;
    QLibStatus status = CreateAsUserAndGetOutput(domain.c_str(), user.c_str(), password, commandLine.c_str(),
                                                 directory.empty() ? nullptr : directory.c_str(), buffer.put(), &size,
                                                 exitCode, 0, timeLeft);
    if (status.IsFailed())
        QLIB_TRACE_FAILED(function, L"CTollanUtil::CreateAsUserAndGetOutput", status);
    else
        output->assign(buffer ? buffer.get() : L"");
    return status;
}

QLibStatus CTollanUtil::CreateAsUserAndGetOutput(const wchar_t* domain, const wchar_t* user, const wchar_t* password,
                                                 const wchar_t* commandLine, const wchar_t* directory, wchar_t** output,
                                                 uint32_t* outputSize, uint32_t* exitCode, uint32_t creationFlags,
                                                 int64_t timeLeft)
{
    QLIB_TRACE(RunFunction,
               L"CreateAsUserAndGetOutput called with pwzDomain [%s], pwzUser [%s], lpCmdLine [%s], lpCurDir [%s], "
               L"dwTimeOut [%I64d]",
               domain, user, commandLine, directory != nullptr ? directory : L"", timeLeft);
    *output = nullptr;
    *outputSize = 0;
    // Without time there is nothing to run, and no logon is spent on it.
    if (timeLeft <= 0)
        return QLibFailure(QLIB_ERR_PROCESS_WAIT, WAIT_TIMEOUT);
    // A password that could not be deciphered would fail the logon in every cycle and could lock the account.
    if (password == nullptr || password[0] == L'\0') {
        QLIB_TRACE(RunFunction, LogonFailed, ERROR_LOGON_FAILURE, user, domain);
        return QLibWin32Failure(ERROR_LOGON_FAILURE);
    }
    QLibUserLogon logon;
    QLibStatus status = Logon(domain, user, password, logon);
    if (status.IsFailed())
        return status;

    QLibChildSpec spec;
    spec.commandLine = commandLine;
    spec.currentDirectory = directory;
    spec.token = logon.GetToken();
    spec.environment = logon.GetEnvironment();
    spec.creationFlags = creationFlags;
    spec.timeLimit = timeLeft;
    spec.endOnWaitFailure = true;
    QLibChildResult run = QLibRunChild(spec);
    if (run.end != QLibChildEnd::Exited) {
        if (run.end == QLibChildEnd::WaitFailed && exitCode != nullptr)
            *exitCode = 0;
        return FailedRun(spec, run);
    }
    // Output that could not be read or converted is only traced: the program has run and its code counts.
    if (run.failedCall == nullptr)
        (void)QLibChildOutputText(RunFunction, run.output, output, outputSize);
    if (exitCode != nullptr)
        *exitCode = run.exitCode;
    return QLibOk();
}

bool CTollanUtil::BuildCommandLine(const std::wstring& directory, const wchar_t* file,
                                   const std::vector<CommandPart>& parts, std::wstring* program,
                                   std::wstring* commandLine)
{
    // An empty folder would name the program from the current drive's root.
    if (directory.empty() || !FitsOnCommandLine(directory))
        return false;
    std::wstring path = directory + L"\\" + file;
    std::wstring line;
    AppendToken(line, path);
    for (const CommandPart& part : parts) {
        if (!FitsOnCommandLine(part.value))
            return false;
        line += part.text;
        AppendToken(line, part.value);
    }
    *program = path;
    *commandLine = line;
    return true;
}

bool CTollanUtil::GetToolCommand(CTollanTool tool, const CTollanAttrib& attrib, std::wstring* program,
                                 std::wstring* directory, std::wstring* commandLine)
{
    const std::wstring& sid = attrib.GetSAPSID();
    const std::wstring& host = attrib.GetSAPHost();
    std::wstring number = attrib.GetInstNumber();
    const std::vector<CommandPart> instance = {{L" name=", sid}, {L" nr=", number}, {L" sapdiahost=", host}};
    const struct {
        CTollanTool tool;
        const std::wstring& directory;
        const wchar_t* file;
        std::vector<CommandPart> parts;
    } tools[] = {
        {CTollanTool::StartSap, attrib.GetSAPHome(), L"startsap.exe", instance},
        {CTollanTool::StopSap, attrib.GetSAPHome(), L"stopsap.exe", instance},
        {CTollanTool::SapSrvKill, attrib.GetSAPHome(), L"sapsrvkill.exe", {{L" ", host + L"_" + sid + L"_" + number}}},
        {CTollanTool::SapInfo, attrib.GetSAPMonHome(), L"sapinfo.exe", {{L" ashost=", host}, {L" sysnr=", number}}},
        {CTollanTool::EnsMon,
         attrib.GetSAPMonHome(),
         L"ensmon.exe",
         {{L" pf=", attrib.GetInstProfile()}, {L" 2", L""}}},
    };
    for (const auto& entry : tools) {
        if (entry.tool != tool)
            continue;
        if (!BuildCommandLine(entry.directory, entry.file, entry.parts, program, commandLine))
            return false;
        *directory = entry.directory;
        return true;
    }
    return false;
}
