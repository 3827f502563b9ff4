#include "LibProcess.h"

#include <aclapi.h>
#include <tlhelp32.h>
#include <wbemidl.h>
#include <winternl.h>

#include <cstddef>
#include <cwchar>

#include "LibAssert.h"
#include "LibFetchSized.h"
#include "LibLogger.h"
#include "LibOwners.h"
#include "LibNtDll.h"

namespace {

constexpr uint32_t Unknown = 0xFFFFFFFFu;
constexpr uint32_t QueryAndRead = PROCESS_QUERY_INFORMATION | PROCESS_VM_READ;
// Longer than any path the system can hand out.
constexpr DWORD MaxExeNameChars = 32768 + 1024;

// A heap copy of the text with its terminator.
QLibStatus CopyToHeap(const std::wstring& text, wchar_t** copy, const char* function)
{
    QLibStatus status;
    DWORD bytes = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
    *copy = static_cast<wchar_t*>(QLibHeapAlloc(bytes, status));
    if (*copy == nullptr) {
        QLIB_TRACE(function, L"(%d) HeapAlloc failed. Size=%d.", status.GetCode(), bytes);
        return status;
    }
    wmemcpy(*copy, text.c_str(), text.size() + 1);
    return QLibOk();
}

template <typename Query>
QLibStatus WithProcess(uint32_t pid, uint32_t access, Query query)
{
    QLibProcess process;
    QLibStatus status = process.Open(pid, FALSE, access);
    if (status.IsFailed())
        return status;
    return query(process);
}

// The WMI objects of one command-line query, released when it ends; COM objects last-made first.
struct WmiQuery {
    QLibComOwner<IWbemLocator> locator;
    QLibComOwner<IWbemServices> services;
    QLibComOwner<IEnumWbemClassObject> enumerator;
    QLibComOwner<IWbemClassObject> object;
    QLibBstrOwner nameSpace{SysAllocString(L"ROOT\\CIMV2")};
    QLibBstrOwner language{SysAllocString(L"WQL")};
    QLibBstrOwner query;
    QLibVariantOwner value;
};

// One process's record comes in well under a second. A WMI service that has not answered within 30 seconds is
// taken as hung: the query then fails, leaving a caller the rest of even a short entry-point budget.
constexpr LONG WmiAnswerLimit = 30 * 1000;

// The message of a failed step, with the Windows error of that moment.
struct WmiFailure {
    const wchar_t* message;
    DWORD code;
};

WmiFailure Failed(const wchar_t* message, DWORD code = GetLastError())
{
    return {message, code};
}

// Runs on a thread where COM is initialised; a null message when the text was read.
WmiFailure WmiCommandLine(uint32_t pid, std::wstring& text)
{
    WmiQuery wmi;
    wchar_t query[64];
    _snwprintf(query, 64, L"SELECT * from Win32_Process Where ProcessId = %d", pid);
    query[63] = L'\0';
    wmi.query.reset(SysAllocString(query));
    ULONG returned = 0;

    if (FAILED(CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_DEFAULT,
                                    RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr)))
        return Failed(L"GetWMIGetCmdLine: Failed to initialize COM Security\n");
    if (FAILED(CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                                reinterpret_cast<void**>(wmi.locator.put()))))
        return Failed(L"GetWMIGetCmdLine: Failed at CoCreateInstance\n");
    if (FAILED(wmi.locator.get()->ConnectServer(wmi.nameSpace.get(), nullptr, nullptr, nullptr, 0, nullptr, nullptr,
                                                wmi.services.put())))
        return Failed(L"GetWMIGetCmdLine: Failed to connect to root\\cimv2 Server\n");
    if (FAILED(CoSetProxyBlanket(wmi.services.get(), RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr,
                                 RPC_C_AUTHN_LEVEL_CALL, RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE)))
        return Failed(L"GetWMIGetCmdLine: Failed to call CoSetProxyBlanket\n");
    if (FAILED(wmi.services.get()->ExecQuery(wmi.language.get(), wmi.query.get(),
                                             WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY, nullptr,
                                             wmi.enumerator.put())))
        return Failed(L"GetWMIGetCmdLine: Failed to execute WMI query \n");
    HRESULT next = wmi.enumerator.get()->Next(WmiAnswerLimit, 1, wmi.object.put(), &returned);
    if (next == WBEM_S_TIMEDOUT)
        return Failed(L"GetWMIGetCmdLine: Failed to execute Enumerator Next\n", WAIT_TIMEOUT);
    if (FAILED(next) || returned == 0)
        return Failed(L"GetWMIGetCmdLine: Failed to execute Enumerator Next\n");
    if (FAILED(wmi.object.get()->Get(L"CommandLine", 0, wmi.value.put(), nullptr, nullptr)))
        return Failed(L"GetWMIGetCmdLine: Failed to execute WMI Instance.Get for CommandLine \n");
    const VARIANT& value = wmi.value.get();
    if (value.vt != VT_BSTR)
        return Failed(L"GetWMIGetCmdLine:CommandLine returned as NULL\n");
    text.assign(value.bstrVal, SysStringLen(value.bstrVal));
    return {nullptr, 0};
}

// The query in the multithreaded apartment, entered for it and left again.
WmiFailure WmiCommandLineInApartment(uint32_t pid, std::wstring& text)
{
    QLibComApartment apartment(COINIT_MULTITHREADED);
    if (!apartment.Entered())
        return Failed(L"GetWMIGetCmdLine: Failed to initialize COM\n");
    return WmiCommandLine(pid, text);
}

} // namespace

QLibProcess::QLibProcess(uint32_t pid, BOOL inherit, uint32_t access)
{
    (void)Open(pid, inherit, access);
}

QLibProcess::~QLibProcess()
{
    (void)QLibProcess::Close();
}

void QLibProcess::Reset()
{
    m_ExeName.clear();
    m_CmdLine.clear();
    m_ParentPid = Unknown;
    m_Pid = Unknown;
}

QLibStatus QLibProcess::Close()
{
    if (!IsValid())
        return QLibOk();
    Reset();
    return QLibSyncObject::Close();
}

HANDLE QLibProcess::Detach()
{
    Reset();
    return QLibSyncObject::Detach();
}

QLibStatus QLibProcess::Release()
{
    return QLibOk();
}

QLibStatus QLibProcess::Open(uint32_t pid, BOOL inherit, uint32_t access)
{
    (void)Close();
    HANDLE handle = OpenProcess(access, inherit, pid);
    if (handle == nullptr) {
        QLibStatus status = QLibLastError();
        QLIB_TRACE("QLibProcess::Open", L"(%d) Failed to open the process %d.", status.GetCode(), pid);
        return status;
    }
    Hold(handle);
    m_Pid = pid;
    return QLibOk();
}

QLibStatus QLibProcess::Attach(HANDLE handle)
{
    (void)Close();
    QLibStatus status = QLibSyncObject::Attach(handle);
    if (status.IsFailed()) {
        QLIB_TRACE("QLibProcess::Attach", L"(%d) QLibSyncObject::Attach failed.", status.GetCode());
    } else {
        QLibNtDll ntDll;
        QLibHeapOwner<void> buffer;
        status = ntDll.GetProcessInformation(handle, 0, buffer.put());
        if (status.IsFailed()) {
            QLIB_TRACE("QLibProcess::Attach", L"(%d) GetProcessInformation failed.", status.GetCode());
        } else {
            const auto* info = static_cast<const PROCESS_BASIC_INFORMATION*>(buffer.get());
            m_Pid = static_cast<uint32_t>(info->UniqueProcessId);
            m_ParentPid = static_cast<uint32_t>(info->InheritedFromUniqueProcessId);
            return status;
        }
    }
    Detach();
    return status;
}

uint32_t QLibProcess::GetPid() const
{
    QLIB_ASSERT(IsValid());
    return m_Pid;
}

QLibStatus QLibProcess::IsAlive(BOOL* alive)
{
    QLIB_ASSERT(IsValid());
    DWORD exitCode = 0;
    if (!GetExitCodeProcess(Handle(), &exitCode)) {
        QLibStatus status = QLibLastError();
        QLIB_TRACE("QLibProcess::IsAlive", L"(%d) GetExitCodeProcess failed. pid=%d", status.GetCode(), m_Pid);
        return status;
    }
    *alive = exitCode == STILL_ACTIVE;
    return QLibOk();
}

QLibStatus QLibProcess::GetExeName(wchar_t** exeName)
{
    QLIB_ASSERT(IsValid());
    *exeName = nullptr;
    if (!m_ExeName.empty())
        return CopyToHeap(m_ExeName, exeName, "QLibProcess::GetExeName");

    // The image path needs no more than limited query rights, and no walk of the module list.
    QLibStatus status;
    for (DWORD capacity = MAX_PATH + 1; capacity <= MaxExeNameChars; capacity *= 2) {
        DWORD bytes = capacity * sizeof(wchar_t);
        QLibHeapOwner<wchar_t> buffer(static_cast<wchar_t*>(QLibHeapAlloc(bytes, status)));
        if (!buffer) {
            QLIB_TRACE("QLibProcess::GetExeName", L"(%d) HeapAlloc failed. Size=%d.", status.GetCode(), bytes);
            return status;
        }
        DWORD count = capacity;
        if (QueryFullProcessImageNameW(Handle(), 0, buffer.get(), &count) && count < capacity) {
            m_ExeName.assign(buffer.get(), count);
            *exeName = buffer.release();
            return QLibOk();
        }
        status = QLibLastError();
        if (status.GetCode() != ERROR_INSUFFICIENT_BUFFER)
            break;
    }
    QLIB_TRACE("QLibProcess::GetExeName", L"(%d) GetModuleFileNameEx failed. pid=%d", status.GetCode(), m_Pid);
    return status;
}

// The text is found through the target's PEB and read no further than the length that it records.
QLibStatus QLibProcess::ReadCmdLine()
{
    QLibNtDll ntDll;
    QLibHeapOwner<void> buffer;
    QLibStatus status = ntDll.GetProcessInformation(Handle(), 0, buffer.put());
    if (status.IsFailed()) {
        QLIB_TRACE("QLibProcess::GetCmdLine", L"(%d) GetProcessInformation failed.", status.GetCode());
        return status;
    }
    auto* peb = reinterpret_cast<const BYTE*>(static_cast<PROCESS_BASIC_INFORMATION*>(buffer.get())->PebBaseAddress);
    buffer.reset();

    auto read = [&](const void* address, void* target, size_t bytes) {
        SIZE_T done = 0;
        if (ReadProcessMemory(Handle(), address, target, bytes, &done) && done == bytes)
            return true;
        DWORD error = GetLastError();
        status = QLibWin32Failure(error != 0 ? error : ERROR_PARTIAL_COPY);
        QLIB_TRACE("QLibProcess::GetCmdLine", L"(%d) Failed to read memory. Pid=%d.", status.GetCode(), m_Pid);
        return false;
    };
    const BYTE* parameters = nullptr;
    UNICODE_STRING text = {};
    if (!read(peb + offsetof(PEB, ProcessParameters), &parameters, sizeof(parameters))
        || !read(parameters + offsetof(RTL_USER_PROCESS_PARAMETERS, CommandLine), &text, sizeof(text)))
        return status;
    std::wstring cmdLine(text.Length / sizeof(wchar_t), L'\0');
    if (!cmdLine.empty() && !read(text.Buffer, &cmdLine[0], cmdLine.size() * sizeof(wchar_t)))
        return status;
    // A terminator inside the recorded length ends the text there.
    cmdLine.resize(wcslen(cmdLine.c_str()));
    m_CmdLine = cmdLine;
    return QLibOk();
}

QLibStatus QLibProcess::GetCmdLine(wchar_t** cmdLine)
{
    QLIB_ASSERT(IsValid());
    *cmdLine = nullptr;
    if (m_CmdLine.empty()) {
        QLibStatus status = ReadCmdLine();
        if (status.IsFailed())
            return status;
    }
    return CopyToHeap(m_CmdLine, cmdLine, "QLibProcess::GetCmdLine");
}

QLibStatus QLibProcess::GetWMICmdLine(wchar_t** cmdLine)
{
    QLIB_ASSERT(IsValid());
    if (!m_CmdLine.empty())
        return CopyToHeap(m_CmdLine, cmdLine, "QLibProcess::GetWMICmdLine");

    std::wstring text;
    WmiFailure failure = WmiCommandLineInApartment(m_Pid, text);
    if (failure.message != nullptr) {
        QLIB_TRACE("QLibProcess::GetWMICmdLine", failure.message);
        return QLibWin32Failure(failure.code);
    }
    QLibStatus status = CopyToHeap(text, cmdLine, "QLibProcess::GetWMICmdLine");
    if (status.IsOK())
        m_CmdLine = text;
    return status;
}

QLibStatus QLibProcess::GetParentPid(uint32_t* parentPid)
{
    QLIB_ASSERT(IsValid());
    if (m_ParentPid != Unknown) {
        *parentPid = m_ParentPid;
        return QLibOk();
    }
    QLibStatus status;
    QLibWin32Object snapshot;
    HANDLE handle = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (handle == INVALID_HANDLE_VALUE) {
        status = QLibLastError();
        QLIB_TRACE("QLibProcess::GetParentPid", L"(%d) CreateSnapshot failed.", status.GetCode());
        return status;
    }
    (void)snapshot.Attach(handle);
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(handle, &entry); more; more = Process32NextW(handle, &entry)) {
        if (entry.th32ProcessID == m_Pid) {
            m_ParentPid = entry.th32ParentProcessID;
            *parentPid = m_ParentPid;
            return QLibOk();
        }
        entry.dwSize = sizeof(entry);
    }
    DWORD error = GetLastError();
    if (error == ERROR_NO_MORE_FILES) {
        status = QLibWin32Failure(ERROR_FILE_NOT_FOUND);
        QLIB_TRACE("QLibProcess::GetParentPid", L"Could not find pid entry for %d in the task list.", m_Pid);
    } else {
        status = QLibWin32Failure(error);
        QLIB_TRACE("QLibProcess::GetParentPid", L"(%d) Failed to enumerate processes in the system.", status.GetCode());
    }
    return status;
}

QLibStatus QLibProcess::GetUserSid(PSID* sid)
{
    QLIB_ASSERT(IsValid());
    *sid = nullptr;
    QLibProcessToken token;
    QLibHeapOwner<void> tokenUser;
    QLibLocalOwner<void> descriptor;
    PSID source = nullptr;
    QLibStatus status = OpenToken(TOKEN_READ, token);
    if (status.IsOK()) {
        status = token.GetInformation(TokenUser, tokenUser.put());
        if (status.IsFailed())
            QLIB_TRACE("QLibProcess::GetUserSid", L"(%d) Failed to get token information. pid=%d", status.GetCode(),
                       m_Pid);
        else
            source = static_cast<TOKEN_USER*>(tokenUser.get())->User.Sid;
    } else if (status.GetCode() != ERROR_ACCESS_DENIED) {
        QLIB_TRACE("QLibProcess::GetUserSid", L"(%d) GetToken failed. pid=%d", status.GetCode(), m_Pid);
    } else {
        // Without the token the process object's group stands for the account; the SIDs point into the descriptor.
        PSID owner = nullptr;
        PSID group = nullptr;
        DWORD result = GetSecurityInfo(Handle(), SE_KERNEL_OBJECT,
                                       OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION, &owner, &group, nullptr,
                                       nullptr, descriptor.put());
        if (result != ERROR_SUCCESS) {
            status = QLibWin32Failure(result);
            QLIB_TRACE("QLibProcess::GetUserSid", L"(%d) GetSecurityInfo failed. pid=%d", status.GetCode(), m_Pid);
        } else if (group == nullptr) {
            status = QLibWin32Failure(ERROR_INVALID_SID);
            QLIB_TRACE("QLibProcess::GetUserSid", L"(%d) GetSecurityInfo failed. pid=%d", status.GetCode(), m_Pid);
        } else {
            source = group;
        }
    }
    if (source != nullptr) {
        DWORD length = GetLengthSid(source);
        QLibHeapOwner<void> copy(QLibHeapAlloc(length, status));
        if (!copy) {
            QLIB_TRACE("QLibProcess::GetUserSid", L"(%d) HeapAlloc failed. Size=%d", status.GetCode(), length);
        } else if (!CopySid(length, copy.get(), source)) {
            status = QLibLastError();
            QLIB_TRACE("QLibProcess::GetUserSid", L"(%d) CopySid failed.", status.GetCode());
        } else {
            *sid = copy.release();
            status = QLibOk();
        }
    }
    return status;
}

QLibStatus QLibProcess::GetUserName(wchar_t** domain, wchar_t** userName)
{
    QLIB_ASSERT(IsValid());
    *domain = nullptr;
    *userName = nullptr;
    QLibHeapOwner<void> sid;
    QLibStatus status = GetUserSid(sid.put());
    if (status.IsFailed()) {
        QLIB_TRACE("QLibProcess::GetUserNameW", L"(%d) GetUserSid failed. pid=%d", status.GetCode(), m_Pid);
        return status;
    }
    QLibSizedBlock name(sizeof(wchar_t));
    QLibSizedBlock domainName(sizeof(wchar_t));
    SID_NAME_USE use;
    QLibSizedCall sized;
    sized.call = [&] {
        return QLibCallResult(LookupAccountSidW(nullptr, sid.get(), name.Get<wchar_t>(), &name.size,
                                                domainName.Get<wchar_t>(), &domainName.size, &use));
    };
    sized.traceFailure = [&](DWORD code, bool second) {
        if (second)
            QLIB_TRACE("QLibProcess::GetUserNameW", L"(%d) LookupAccountSid failed.", code);
        else
            QLIB_TRACE("QLibProcess::GetUserNameW", L"(%d) LookupAccountSid failed. pid=%d", code, m_Pid);
    };
    sized.function = "QLibProcess::GetUserNameW";
    sized.allocFailedFormat = L"(%d) HeapAlloc failed. Size=%d.";
    status = QLibFetchSized(sized, {&name, &domainName});
    *userName = name.Release<wchar_t>();
    *domain = domainName.Release<wchar_t>();
    return status;
}

QLibStatus QLibProcess::OpenToken(uint32_t access, QLibProcessToken& token)
{
    QLIB_ASSERT(IsValid());
    return token.Open(Handle(), access);
}

QLibStatus QLibProcess::CreateRemoteThread(SECURITY_ATTRIBUTES* threadAttributes, SIZE_T stackSize,
                                           LPTHREAD_START_ROUTINE start, void* parameter, DWORD creationFlags,
                                           QLibThread& thread)
{
    QLIB_ASSERT(IsValid());
    DWORD threadId = 0;
    HANDLE handle = ::CreateRemoteThread(Handle(), threadAttributes, stackSize, start, parameter, creationFlags,
                                         &threadId);
    if (handle == nullptr) {
        QLibStatus status = QLibLastError();
        QLIB_TRACE("QLibProcess::CreateRemoteThread", L"(%d) Failed to create thread. Pid=%d.", status.GetCode(),
                   m_Pid);
        return status;
    }
    thread.Take(handle, threadId, m_Pid);
    return QLibOk();
}

QLibStatus QLibProcess::GetCmdLine(uint32_t pid, wchar_t** cmdLine)
{
    return WithProcess(pid, QueryAndRead, [&](QLibProcess& process) { return process.GetCmdLine(cmdLine); });
}

QLibStatus QLibProcess::GetWMICmdLine(uint32_t pid, wchar_t** cmdLine)
{
    return WithProcess(pid, QueryAndRead, [&](QLibProcess& process) { return process.GetWMICmdLine(cmdLine); });
}

QLibStatus QLibProcess::GetExeName(uint32_t pid, wchar_t** exeName)
{
    return WithProcess(pid, PROCESS_QUERY_LIMITED_INFORMATION,
                       [&](QLibProcess& process) { return process.GetExeName(exeName); });
}

QLibStatus QLibProcess::GetUserName(uint32_t pid, wchar_t** domain, wchar_t** userName)
{
    return WithProcess(pid, QueryAndRead, [&](QLibProcess& process) { return process.GetUserName(domain, userName); });
}

QLibStatus QLibProcess::IsAlive(uint32_t pid, BOOL* alive)
{
    return WithProcess(pid, PROCESS_QUERY_INFORMATION, [&](QLibProcess& process) { return process.IsAlive(alive); });
}

QLibStatus QLibProcess::GetParentPid(uint32_t pid, uint32_t* parentPid)
{
    return WithProcess(pid, PROCESS_QUERY_INFORMATION,
                       [&](QLibProcess& process) { return process.GetParentPid(parentPid); });
}

QLibStatus QLibProcess::GetUserSid(uint32_t pid, PSID* sid)
{
    return WithProcess(pid, PROCESS_QUERY_INFORMATION, [&](QLibProcess& process) { return process.GetUserSid(sid); });
}

QLibStatus QLibProcess::EnablePrivilege(uint32_t pid, const wchar_t* privilegeName, BOOL enable)
{
    QLIB_ASSERT(privilegeName != nullptr);
    return WithProcess(pid, PROCESS_ALL_ACCESS, [&](QLibProcess& process) {
        QLibProcessToken token;
        QLibStatus status = process.OpenToken(TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token);
        if (status.IsFailed())
            return status;
        return token.EnablePrivilege(privilegeName, enable);
    });
}
