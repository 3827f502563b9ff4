#include "TollanWalk.h"

#include <cwchar>
#include <utility>

#include "LibLogger.h"
#include "LibOwners.h"
#include "TollanUtil.h"

namespace {

// A local account's domain is the computer's name, so an empty domain stands for this computer.
std::wstring AccountDomain(const std::wstring& configured)
{
    if (!configured.empty())
        return configured;
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    return GetComputerNameW(name, &size) ? std::wstring(name, size) : std::wstring();
}

// The types whose processes may run from the system folder rather than the instance's own.
bool RunsFromSys(const std::wstring& type)
{
    for (const wchar_t* name : {L"CENTRAL", L"ENQUEUE", L"AENQUEUE", L"JENQUEUE"})
        if (type == name)
            return true;
    return false;
}

bool IsBlankName(const std::wstring& name)
{
    return name.empty() || name == L" " || name == L"\t";
}

// Where a folder of the path with exactly that name starts, from the folder that starts at from on; npos when
// there is none. Only whole names count, so a folder "PRD_OLD" names no system PRD, and the image's own file
// name is no folder.
size_t FindFolder(const std::wstring& path, const std::wstring& name, size_t from)
{
    size_t fileName = path.find_last_of(L"\\/");
    for (size_t end = 0; fileName != std::wstring::npos && from < fileName; from = end + 1) {
        end = path.find_first_of(L"\\/", from);
        if (end - from == name.size() && path.compare(from, name.size(), name) == 0)
            return from;
    }
    return std::wstring::npos;
}

} // namespace

CTollanWalk::CTollanWalk(const char* function, const CTollanAttrib& attrib, uint32_t access)
    : m_Function(function), m_Attrib(attrib), m_Access(access), m_AdminDomain(AccountDomain(attrib.GetSAPAdminDomain()))
{
}

QLibStatus CTollanWalk::Open()
{
    QLibStatus status = m_List.Open();
    if (status.IsFailed())
        return status;
    uint32_t major = 0;
    uint32_t minor = 0;
    CTollanUtil::GetOSVersion(&major, &minor);
    QLIB_TRACE(m_Function, L"Major and Minor Version of the OS are [%d] and [%d].", major, minor);
    m_SkipPid = major == 5 && minor == 0 ? 8 : 4;
    return status;
}

bool CTollanWalk::Next(QLibStatus* status)
{
    for (;;) {
        uint32_t pid = 0;
        *status = m_Started ? m_List.GetNext(&pid) : m_List.GetFirst(&pid);
        m_Started = true;
        if (status->Is(QLIB_ERR_WIN32, ERROR_NO_MORE_FILES)) {
            *status = QLibOk();
            return false;
        }
        if (status->IsFailed()) {
            QLIB_TRACE_FAILED(m_Function, L"QLibInstProcessList::GetFirst or GetNext", *status);
            QLIB_TRACE(m_Function, L"Failed to get the processes from the process list.");
            return false;
        }
        if (pid == 0 || pid == m_SkipPid)
            continue;
        m_Pid = pid;
        if (Matches())
            return true;
    }
}

bool CTollanWalk::OpenCurrent()
{
    m_Process = std::make_unique<QLibProcess>();
    QLibStatus status = m_Process->Open(m_Pid, FALSE, m_Access);
    // Without the right to end it the process is still judged; only its kill then fails.
    if (status.IsFailed() && m_Access != PROCESS_QUERY_LIMITED_INFORMATION)
        status = m_Process->Open(m_Pid, FALSE, PROCESS_QUERY_LIMITED_INFORMATION);
    QLibHeapOwner<wchar_t> path;
    if (status.IsOK())
        status = m_Process->GetExeName(path.put());
    if (status.IsFailed()) {
        QLIB_TRACE_FAILED(m_Function, L"QLibProcess::GetExeName", status);
        QLIB_TRACE(m_Function, L"Failed to get the exe name for the process with PID [%d].", m_Pid);
        return false;
    }
    QLIB_TRACE(m_Function, L"Got [%s] from GetExeName for the process with PID [%d].", path.get(), m_Pid);
    m_Path = CTollanUtil::ToUpper(path.get());
    return true;
}

bool CTollanWalk::Matches()
{
    m_OwnerRead = false;
    m_ViaInstName = false;
    const std::wstring& sid = m_Attrib.GetSAPSID();
    const std::wstring& instName = m_Attrib.GetInstName();
    // An empty name would be found in every path.
    if (sid.empty() || instName.empty() || !OpenCurrent())
        return false;
    size_t sidAt = FindFolder(m_Path, sid, 0);
    if (sidAt == std::wstring::npos)
        return false;
    QLIB_TRACE(m_Function, L"Found SAPSID [%s] in the exe name [%s]", sid.c_str(), m_Path.c_str());
    size_t belowSid = sidAt + sid.size() + 1;
    m_Anchor = FindFolder(m_Path, instName, belowSid);
    if (m_Anchor != std::wstring::npos) {
        QLIB_TRACE(m_Function, L"Found InstName [%s] in the exe name [%s]", instName.c_str(), m_Path.c_str());
        m_ViaInstName = true;
        return true;
    }
    if (!RunsFromSys(m_Attrib.GetInstType()))
        return false;
    m_Anchor = FindFolder(m_Path, L"SYS", belowSid);
    if (m_Anchor == std::wstring::npos)
        return false;
    QLIB_TRACE(m_Function, L"Found [SYS] in the exe name [%s]", m_Path.c_str());
    return true;
}

bool CTollanWalk::PathHolds(const std::wstring& name) const
{
    return !name.empty() && m_Path.find(name, m_Anchor) != std::wstring::npos;
}

bool CTollanWalk::ImageIs(const wchar_t* name) const
{
    size_t slash = m_Path.find_last_of(L"\\/");
    return _wcsicmp(m_Path.c_str() + (slash == std::wstring::npos ? 0 : slash + 1), name) == 0;
}

CTollanWalk::Owner CTollanWalk::CheckOwner(const wchar_t* failureText)
{
    if (!m_OwnerRead) {
        m_OwnerRead = true;
        QLibHeapOwner<wchar_t> domain;
        QLibHeapOwner<wchar_t> user;
        m_OwnerStatus = m_Process->GetUserName(domain.put(), user.put());
        m_OwnerKnown = m_OwnerStatus.IsOK();
        m_Domain = m_OwnerKnown ? domain.get() : L"";
        m_User = m_OwnerKnown ? user.get() : L"";
    }
    if (!m_OwnerKnown) {
        QLIB_TRACE_FAILED(m_Function, L"CTollanUtil::GetProcessUserName", m_OwnerStatus);
        QLIB_TRACE(m_Function, failureText, m_Path.c_str(), m_Pid);
        return OwnerUnknown;
    }
    if (_wcsicmp(m_Domain.c_str(), m_AdminDomain.c_str()) != 0) {
        QLIB_TRACE(
            m_Function,
            L"Domain name of process [%d] is [%s] which is not matching with SAPAdminDomain attribute value [%s]",
            m_Pid, m_Domain.c_str(), m_Attrib.GetSAPAdminDomain().c_str());
        return OwnerOtherDomain;
    }
    QLIB_TRACE(m_Function, L"Got PID [%d] and User [%s] for process [%s].", m_Pid, m_User.c_str(), m_Path.c_str());
    if (_wcsicmp(m_User.c_str(), m_Attrib.GetSAPServiceUser().c_str()) == 0
        || _wcsicmp(m_User.c_str(), m_Attrib.GetSAPAdmin().c_str()) == 0)
        return OwnerMatches;
    return OwnerOtherUser;
}

CTollanWalk::Match CTollanWalk::MatchProcMon(const std::vector<std::wstring>& names, const CTollanMatchTexts& texts)
{
    for (const std::wstring& name : names) {
        if (texts.skipBlankNames && IsBlankName(name)) {
            if (!std::exchange(m_BlankTraced, true))
                QLIB_TRACE(m_Function, L"Invalid Values in ProcMon.");
            continue;
        }
        if (!PathHolds(name))
            continue;
        QLIB_TRACE(m_Function, L"Found ProcMon [%s] in the exe name [%s]", name.c_str(), m_Path.c_str());
        if (RunsUnderInstanceAccount(texts.ownerFailed, texts.otherUser))
            return {true, &name};
    }
    const wchar_t* ownerFailed = m_ViaInstName ? texts.instFolderOwnerFailed : texts.ownerFailed;
    return {RunsUnderInstanceAccount(ownerFailed, texts.otherUser), nullptr};
}

bool CTollanWalk::RunsUnderInstanceAccount(const wchar_t* failureText, const wchar_t* otherUser)
{
    Owner owner = CheckOwner(failureText);
    if (owner == OwnerOtherUser && otherUser != nullptr)
        QLIB_TRACE(m_Function, otherUser, m_User.c_str(), m_Path.c_str(), m_Pid);
    return owner == OwnerMatches;
}

QLibStatus TollanEndProcess(const char* function, QLibProcess& process, uint32_t pid)
{
    if (TerminateProcess(process.GetHandle(), 0))
        return QLibOk();
    QLibStatus status = QLibLastError();
    // A process that ended before its kill is as good as killed.
    if (WaitForSingleObject(process.GetHandle(), 0) == WAIT_OBJECT_0) {
        QLIB_TRACE(function, L"Process with PID [%d] doesn't exist.", pid);
        return QLibOk();
    }
    QLIB_TRACE_FAILED(function, L"TerminateProcess", status);
    return status;
}
