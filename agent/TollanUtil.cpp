#include "TollanUtil.h"

#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <utility>

#include "LibDNS.h"
#include "LibLogger.h"
#include "LibOwners.h"
#include "LibProcess.h"
#include "LibService.h"
#include "TarnApi.h"
#include "TollanAgent.h"
#include "TollanOwners.h"

namespace {

// Readable by the agent: a wide open, so that no name is cut by a code page, and without backup
// semantics, so that a directory never passes for a file. A file that opens but cannot tell what it is
// fails the check: nobody knows then whether it is there to use.
QLibStatus QueryReadableFile(const std::wstring& path, uint8_t* readable)
{
    *readable = 0;
    QLibHandleOwner file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return QLibOk();
    BY_HANDLE_FILE_INFORMATION info = {};
    if (!GetFileInformationByHandle(file.get(), &info))
        return QLibLastError();
    *readable = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ? 1 : 0;
    return QLibOk();
}

bool CanReadFile(const std::wstring& path)
{
    uint8_t readable = 0;
    return QueryReadableFile(path, &readable).IsOK() && readable;
}

// The calling thread in a logged-on user's identity while the object lives, and never beyond: a revert that
// fails is made good by dropping the thread's token.
class Impersonation {
public:
    Impersonation() = default;
    ~Impersonation() { (void)End(); }
    Impersonation(const Impersonation&) = delete;
    Impersonation& operator=(const Impersonation&) = delete;

    QLibStatus Begin(HANDLE token)
    {
        if (!ImpersonateLoggedOnUser(token))
            return QLibLastError();
        m_Active = true;
        return QLibOk();
    }

    struct Ending {
        QLibStatus revert; // the failure of RevertToSelf, else success
        QLibStatus drop; // after a failed revert: the failure of dropping the token, else success
    };
    Ending End()
    {
        Ending ending = {QLibOk(), QLibOk()};
        if (!std::exchange(m_Active, false) || RevertToSelf())
            return ending;
        ending.revert = QLibLastError();
        if (!SetThreadToken(nullptr, nullptr))
            ending.drop = QLibLastError();
        return ending;
    }

private:
    bool m_Active = false;
};

// Whether the user can read the file: success unless the thread could not take the user's identity, or could
// leave it neither by reverting nor by dropping its token.
QLibStatus CanReadFileAs(const char* function, HANDLE token, const std::wstring& path, const std::wstring& user,
                         const std::wstring& domain, uint8_t* readable)
{
    Impersonation impersonation;
    QLibStatus status = impersonation.Begin(token);
    if (status.IsFailed()) {
        QLIB_TRACE(function, L"Could not ImpersonateLoggedOnUser for user [%s] and domain [%s].", user.c_str(),
                   domain.c_str());
        return status;
    }
    *readable = CanReadFile(path) ? 1 : 0;
    Impersonation::Ending ending = impersonation.End();
    if (ending.revert.IsOK()) {
        QLIB_TRACE(function, L"RevertToSelf for user [%s] and domain [%s] Successful.", user.c_str(), domain.c_str());
        return ending.revert;
    }
    QLIB_TRACE(function, L"Could not RevertToSelf for user [%s] and domain [%s].", user.c_str(), domain.c_str());
    // The framework's thread must not stay in the administrator's identity.
    if (ending.drop.IsFailed()) {
        QLIB_TRACE(function, L"(%d) Could not drop the impersonation token either.", ending.drop.GetCode());
        return ending.revert;
    }
    QLIB_TRACE(function, L"Dropped the impersonation token of user [%s] and domain [%s].", user.c_str(),
               domain.c_str());
    return QLibOk();
}

QLibStatus OpenService(const char* function, const std::wstring& name, QLibService& service)
{
    QLibStatus status = service.Open(name.c_str(), SERVICE_ALL_ACCESS, nullptr);
    if (status.IsFailed())
        QLIB_TRACE_FAILED(function, L"QLibService::Open", status);
    return status;
}

using ServiceStep = std::pair<const wchar_t*, QLibStatus (*)(QLibService&, uint32_t)>;
using ServiceTest = std::pair<const wchar_t*, QLibStatus (QLibService::*)(uint32_t*)>;

// A service already in the wanted state needs no time. Any other needs it: with none left nothing is
// started or stopped, and the caller hears a time-out.
QLibStatus ChangeServiceState(const char* function, const std::wstring& name, int64_t timeLeft, ServiceTest reached,
                              ServiceStep change, ServiceStep wait)
{
    QLibService service;
    QLibStatus status = OpenService(function, name, service);
    uint32_t already = 0;
    if (status.IsOK()) {
        status = (service.*reached.second)(&already);
        if (status.IsFailed())
            QLIB_TRACE_FAILED(function, reached.first, status);
    }
    if (status.IsOK() && !already && timeLeft <= 0) {
        QLIB_TRACE(function, L"No time is left for service [%s].", name.c_str());
        status = QLibWin32Failure(WAIT_TIMEOUT);
    }
    uint32_t timeout = QLibService::TimeoutFromTimeLeft(timeLeft);
    for (const ServiceStep& step : {change, wait}) {
        if (status.IsFailed() || already)
            break;
        status = step.second(service, timeout);
        if (status.IsFailed())
            QLIB_TRACE_FAILED(function, step.first, status);
    }
    return status;
}

QLibStatus IsNameOfFormat(const char* function, const wchar_t* trace, const std::wstring& name, DNS_NAME_FORMAT format,
                          uint8_t* valid)
{
    QLIB_TRACE(function, trace, name.c_str());
    // A rejected name is an answer, not a failure of the check.
    *valid = QLibDNS::IsNameValid(name.c_str(), format).IsOK() ? 1 : 0;
    return QLibOk();
}

} // namespace

bool CTollanUtil::ToAnsi(const std::wstring& text, std::string* ansi)
{
    ansi->clear();
    if (text.empty())
        return true;
    BOOL defaulted = FALSE;
    int size = WideCharToMultiByte(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                   &defaulted);
    if (size <= 0 || defaulted)
        return false;
    ansi->resize(static_cast<size_t>(size));
    int written = WideCharToMultiByte(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), &(*ansi)[0], size,
                                      nullptr, &defaulted);
    if (written != size || defaulted) {
        ansi->clear();
        return false;
    }
    return true;
}

QLibStatus CTollanUtil::DoesExistFile(const std::wstring& path, uint8_t* exists)
{
    QLIB_TRACE("CTollanUtil::DoesExistFile", L"DoesExistFile called with file [%s].", path.c_str());
    return QueryReadableFile(path, exists);
}

QLibStatus CTollanUtil::DoesExistInstProfile(const std::wstring& path, const std::wstring& user,
                                             const std::wstring& domain, const wchar_t* password, uint8_t* exists)
{
    const char* function = "CTollanUtil::DoesExistInstProfile";
    QLIB_TRACE(function, L"DoesExistInstProfile called with file [%s], user [%s] and domain [%s].", path.c_str(),
               user.c_str(), domain.c_str());
    if (path.empty() || path[0] != L'\\') {
        *exists = CanReadFile(path) ? 1 : 0;
        return QLibOk();
    }

    QLibHandleOwner token;
    // A password that could not be deciphered would fail the logon in every cycle and could lock the account.
    bool noPassword = password == nullptr || password[0] == L'\0';
    if (noPassword
        || !LogonUserW(user.c_str(), domain.c_str(), password, LOGON32_LOGON_INTERACTIVE, LOGON32_PROVIDER_DEFAULT,
                       token.put())) {
        QLibStatus status = noPassword ? QLibWin32Failure(ERROR_LOGON_FAILURE) : QLibLastError();
        QLIB_TRACE(function, L"User [%s] for Domain [%s] could not logon.", user.c_str(), domain.c_str());
        return status;
    }
    uint8_t found = 0;
    QLibStatus status = CanReadFileAs(function, token.get(), path, user, domain, &found);
    if (status.IsFailed())
        return status;
    QLIB_TRACE(function, L"ImpersonateLoggedOnUser for user [%s] and domain [%s] Successful.", user.c_str(),
               domain.c_str());
    QLIB_TRACE(function, L"LogonUser for User [%s] and Domain [%s] Successful.", user.c_str(), domain.c_str());
    *exists = found;
    return status;
}

QLibStatus CTollanUtil::DoesExistDir(const std::wstring& path, uint8_t* exists)
{
    // A directory is never a readable file, so the answer is the directory test's alone.
    QLIB_TRACE("CTollanUtil::DoesExistDir", L"DoesExistDir called with dir [%s].", path.c_str());
    return IsDirectory(path, exists);
}

QLibStatus CTollanUtil::IsDirectory(const std::wstring& path, uint8_t* isDirectory)
{
    const char* function = "CTollanUtil::IsDirectory";
    QLIB_TRACE(function, L"IsDirectory called with dir [%s].", path.c_str());
    *isDirectory = 0;
    // A pattern names no one directory, though a search for it may find one.
    if (path.find_first_of(L"*?") != std::wstring::npos)
        return QLibOk();
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        QLIB_TRACE(function, L"%s returned 0x%.08X", L"GetFileAttributes", GetLastError());
        return QLibOk();
    }
    *isDirectory = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? 1 : 0;
    return QLibOk();
}

QLibStatus CTollanUtil::IsNull(const std::wstring& text, uint8_t* isNull)
{
    const char* function = "CTollanUtil::IsNull";
    QLIB_TRACE(function, L"IsNull called with str [%s].", text.c_str());
    *isNull = text.empty() || text == L" " || text == L"\t" ? 1 : 0;
    QLIB_TRACE(function, *isNull ? L"The string is null [%s]" : L"The string is NOT null [%s]", text.c_str());
    return QLibOk();
}

QLibStatus CTollanUtil::DoesExistTarnResource(std::wstring resourceName, uint8_t* exists)
{
    const char* function = "CTollanUtil::DoesExistTarnResource";
    QLIB_TRACE(function, L"DoesExistTarnResource called with ResName [%s].", resourceName.c_str());
    std::string name;
    TarnHandle cluster = g_TarnCluster.load();
    if (cluster == nullptr || !ToAnsi(resourceName, &name)) {
        // No cluster connection, or a name no resource can have.
        QLIB_TRACE(function, L"Resource [%s] is NOT of type Tollan.", resourceName.c_str());
        *exists = 0;
        return QLibOk();
    }
    CTollanTarnStrOwner type;
    if (TarnResGetType(cluster, name.c_str(), type.put(), 0) != 0) {
        CTollanTarnError error;
        QLIB_TRACE(function, L"TarnResGetType() failed for the resource[%s] with error [%d, 0x%.08X].",
                   resourceName.c_str(), error.Number(), error.Code());
        return QLibFailure(QLIB_ERR_CLUSTER_API, error.Code());
    }
    bool ours = type && strcmp(type.get(), "Tollan") == 0;
    QLIB_TRACE(function, ours ? L"Found the Resource [%s] is of type Tollan." : L"Resource [%s] is NOT of type Tollan.",
               resourceName.c_str());
    *exists = ours ? 1 : 0;
    return QLibOk();
}

QLibStatus CTollanUtil::IsServiceRunning(const std::wstring& service, uint32_t* running)
{
    const char* function = "CTollanUtil::IsServiceRunning";
    QLIB_TRACE(function, L"IsServiceRunning called with service [%s].", service.c_str());
    QLibService object;
    QLibStatus status = OpenService(function, service, object);
    if (status.IsOK()) {
        status = object.IsServiceRunning(running);
        if (status.IsFailed())
            QLIB_TRACE_FAILED(function, L"QLibService::IsServiceRunning", status);
    }
    return status;
}

QLibStatus CTollanUtil::GetProcessUserName(uint32_t pid, wchar_t** domain, wchar_t** user)
{
    const char* function = "CTollanUtil::GetProcessUserName";
    QLIB_TRACE(function, L"GetProcessUserName called with pid [%d].", pid);
    QLibStatus status = QLibProcess::GetUserName(pid, domain, user);
    if (status.IsFailed())
        QLIB_TRACE_FAILED(function, L"QLibProcess::GetUserName", status);
    return status;
}

QLibStatus CTollanUtil::KillProcess(uint32_t pid)
{
    const char* function = "CTollanUtil::KillProcess";
    QLIB_TRACE(function, L"KillProcess called with pid [%d].", pid);
    // The right to end other accounts' processes is the agent's own; without it the open below tells.
    QLibStatus privilege = QLibProcess::EnablePrivilege(GetCurrentProcessId(), L"SeDebugPrivilege", TRUE);
    if (privilege.IsFailed())
        QLIB_TRACE_FAILED(function, L"QLibProcess::EnablePrivilege", privilege);

    QLibHandleOwner process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid));
    if (!process) {
        DWORD error = GetLastError();
        if (error == ERROR_INVALID_PARAMETER) {
            QLIB_TRACE(function, L"Process with PID [%d] doesn't exist.", pid);
            return QLibOk();
        }
        QLibStatus status = QLibWin32Failure(error);
        QLIB_TRACE_FAILED(function, L"OpenProcess", status);
        return status;
    }
    if (TerminateProcess(process.get(), 0))
        return QLibOk();
    QLibStatus status = QLibLastError();
    // A process that ended on its own in the meantime is as good as killed.
    if (WaitForSingleObject(process.get(), 0) == WAIT_OBJECT_0) {
        QLIB_TRACE(function, L"Process with PID [%d] has already ended.", pid);
        return QLibOk();
    }
    QLIB_TRACE_FAILED(function, L"TerminateProcess", status);
    return status;
}

QLibStatus CTollanUtil::StartService(const std::wstring& service, int64_t timeLeft)
{
    const char* function = "CTollanUtil::StartServiceW";
    QLIB_TRACE(function, L"StartService called with service [%s] and timeout [%I64d].", service.c_str(), timeLeft);
    return ChangeServiceState(function, service, timeLeft,
                              {L"QLibService::IsServiceRunning", &QLibService::IsServiceRunning},
                              {L"QLibService::Start", [](QLibService& s, uint32_t) { return s.Start(); }},
                              {L"QLibService::WaitForStart",
                               [](QLibService& s, uint32_t timeout) { return s.WaitForStart(timeout); }});
}

QLibStatus CTollanUtil::StopService(const std::wstring& service, int64_t timeLeft)
{
    const char* function = "CTollanUtil::StopService";
    QLIB_TRACE(function, L"StopService called with service [%s] and timeout [%I64d].", service.c_str(), timeLeft);
    return ChangeServiceState(function, service, timeLeft,
                              {L"QLibService::IsServiceStopped", &QLibService::IsServiceStopped},
                              {L"QLibService::Stop", [](QLibService& s, uint32_t) { return s.Stop(); }},
                              {L"QLibService::WaitForStop",
                               [](QLibService& s, uint32_t timeout) { return s.WaitForStop(timeout); }});
}

uint32_t CTollanUtil::FindSAPArch(const std::vector<std::wstring>& procMon)
{
    const char* function = "CTollanUtil::FindSAPArch";
    QLIB_TRACE(function, L"Finding SAP SYSTEM Architecture.");
    bool abap = false;
    bool java = false;
    for (const std::wstring& name : procMon) {
        QLIB_TRACE(function, L"Got [%s] from ProcMon list.", name.c_str());
        if (_wcsicmp(name.c_str(), L"disp+work.exe") == 0) {
            abap = true;
            QLIB_TRACE(function, L"disp+wrok.exe process found in the ProcMon list.");
        } else if (_wcsicmp(name.c_str(), L"jcontrol.exe") == 0) {
            java = true;
            QLIB_TRACE(function, L"jcontrol.exe process found in the ProcMon list");
        }
    }
    if (abap && java) {
        QLIB_TRACE(function, L"SAP SYSTEM Architecture is Add-In.");
        return TOLLAN_ARCH_ADDIN;
    }
    if (abap) {
        QLIB_TRACE(function, L"SAP SYSTEM Architecture is ABAP.");
        return TOLLAN_ARCH_ABAP;
    }
    if (java) {
        QLIB_TRACE(function, L"SAP SYSTEM Architecture is Java.");
        return TOLLAN_ARCH_JAVA;
    }
    QLIB_TRACE(function, L"SAP Architecuture is not inferred from ProcMon.");
    return TOLLAN_ARCH_NONE;
}

std::wstring CTollanUtil::GetPathBefore(const std::wstring& path, const std::wstring& marker)
{
    if (marker.empty())
        return std::wstring();
    std::wstring upper = ToUpper(path);
    // A whole folder name first, so that a marker inside another folder's name cannot cut too early.
    std::wstring component = L"\\" + marker;
    for (size_t at = upper.find(component); at != std::wstring::npos; at = upper.find(component, at + 1)) {
        size_t end = at + component.size();
        if (end == upper.size() || upper[end] == L'\\')
            return path.substr(0, at);
    }
    size_t at = upper.find(marker);
    if (at == std::wstring::npos)
        return std::wstring();
    return at == 0 ? path : path.substr(0, at - 1);
}

void CTollanUtil::GetOSVersion(uint32_t* major, uint32_t* minor)
{
    OSVERSIONINFOW version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    GetVersionExW(&version);
    *major = version.dwMajorVersion;
    *minor = version.dwMinorVersion;
}

bool CTollanUtil::IsEnqueueType(const std::wstring& instType)
{
    return instType == L"ENQUEUE" || instType == L"AENQUEUE" || instType == L"JENQUEUE";
}

bool CTollanUtil::IsReplicationType(const std::wstring& instType)
{
    return instType == L"ENQREP" || instType == L"AENQREP" || instType == L"JENQREP";
}

std::wstring CTollanUtil::ToUpper(const std::wstring& text)
{
    std::wstring upper = text;
    if (!upper.empty())
        _wcsupr(&upper[0]);
    return upper;
}

wchar_t* CTollanUtil::DupUpper(const wchar_t* text)
{
    wchar_t* copy = _wcsdup(text);
    if (copy != nullptr)
        _wcsupr(copy);
    return copy;
}

QLibStatus CTollanUtil::IsValidHostName(const std::wstring& name, uint8_t* valid)
{
    return IsNameOfFormat("CTollanUtil::IsValidHostName", L"IsValidHostName called with hostname [%s].", name,
                          DnsNameHostnameLabel, valid);
}

QLibStatus CTollanUtil::IsValidDomainName(const std::wstring& name, uint8_t* valid)
{
    return IsNameOfFormat("CTollanUtil::IsValidDomainName", L"IsValidDomainName called with domainname [%s].", name,
                          DnsNameDomain, valid);
}
