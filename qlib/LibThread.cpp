#include "LibThread.h"

#include <process.h>
#include <tlhelp32.h>

#include "LibAssert.h"
#include "LibLogger.h"
#include "LibOwners.h"
#include "LibNtDll.h"

namespace {

constexpr uint32_t Unknown = 0xFFFFFFFFu;

struct BasicInformation {
    NTSTATUS exitStatus;
    PVOID tebBaseAddress;
    CLIENT_ID clientId;
    KAFFINITY affinityMask;
    LONG priority;
    LONG basePriority;
};

} // namespace

QLibThread::QLibThread(uint32_t access, BOOL inherit, uint32_t threadId)
{
    (void)Open(access, inherit, threadId);
}

QLibThread::~QLibThread()
{
    (void)QLibThread::Close();
}

void QLibThread::Reset()
{
    m_Tid = Unknown;
    m_Pid = Unknown;
}

QLibStatus QLibThread::Close()
{
    if (IsValid()) {
        Reset();
        return QLibSyncObject::Close();
    }
    return QLibOk();
}

HANDLE QLibThread::Detach()
{
    Reset();
    return QLibSyncObject::Detach();
}

QLibStatus QLibThread::Release()
{
    return QLibOk();
}

void QLibThread::Take(HANDLE handle, uint32_t threadId, uint32_t pid)
{
    (void)Close();
    Hold(handle);
    m_Tid = threadId;
    m_Pid = pid;
}

QLibStatus QLibThread::Open(uint32_t access, BOOL inherit, uint32_t threadId)
{
    (void)Close();
    QLibStatus status;
    HANDLE handle = OpenThread(access, inherit, threadId);
    if (handle == nullptr) {
        status = QLibLastError();
        QLIB_TRACE("QLibThread::Open", L"(%d) OpenThread failed. Tid=%d, Access=%d", status.GetCode(), threadId,
                   access);
        return status;
    }
    Hold(handle);
    m_Tid = threadId;
    return QLibOk();
}

uint32_t QLibThread::GetThreadId() const
{
    QLIB_ASSERT(IsValid());
    return m_Tid;
}

QLibStatus QLibThread::IsAlive(BOOL* alive)
{
    QLIB_ASSERT(IsValid());
    QLibStatus status;
    DWORD exitCode = 0;
    if (!GetExitCodeThread(Handle(), &exitCode)) {
        status = QLibLastError();
        QLIB_TRACE("QLibThread::IsAlive", L"(%d) GetExitCodeThread failed. tid=%d", status.GetCode(), m_Tid);
        return status;
    }
    *alive = exitCode == STILL_ACTIVE;
    return QLibOk();
}

QLibStatus QLibThread::GetProcessId(uint32_t* pid)
{
    QLIB_ASSERT(IsValid());
    *pid = Unknown;
    QLibStatus status;
    if (m_Pid != Unknown) {
        *pid = m_Pid;
        return QLibOk();
    }
    QLibWin32Object snapshot;
    HANDLE handle = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (handle == INVALID_HANDLE_VALUE) {
        status = QLibLastError();
        QLIB_TRACE("QLibThread::GetProcessId", L"(%d) CreateToolhelp32Snapshot failed. Tid=%d", status.GetCode(),
                   m_Tid);
        return status;
    }
    (void)snapshot.Attach(handle);
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Thread32First(handle, &entry); more; more = Thread32Next(handle, &entry)) {
        if (entry.th32ThreadID == m_Tid) {
            *pid = entry.th32OwnerProcessID;
            return QLibOk();
        }
        entry.dwSize = sizeof(entry);
    }
    DWORD error = GetLastError();
    if (error == ERROR_NO_MORE_FILES) {
        status = QLibWin32Failure(ERROR_FILE_NOT_FOUND);
        QLIB_TRACE("QLibThread::GetProcessId", L"Cannot find the process for tid=%d", m_Tid);
    } else {
        status = QLibWin32Failure(error);
        QLIB_TRACE("QLibThread::GetProcessId", L"(%d) Failed to enumerate the threads in the system. Tid=%d",
                   status.GetCode(), m_Tid);
    }
    return status;
}

QLibStatus QLibThread::OpenToken(uint32_t access, BOOL openAsSelf, QLibThreadToken& token)
{
    QLIB_ASSERT(IsValid());
    return token.Open(GetCurrentThread(), access, openAsSelf);
}

QLibStatus QLibThread::Create(SECURITY_ATTRIBUTES* security, unsigned stackSize, StartRoutine start, void* argument,
                              unsigned initialFlags, QLibThread& thread)
{
    QLibStatus status;
    unsigned threadId = 0;
    uintptr_t handle = _beginthreadex(security, stackSize, start, argument, initialFlags, &threadId);
    if (handle == 0) {
        status = QLibLastError();
        QLIB_TRACE("QLibThread::Create", L"(%d) _beginthreadex failed.", status.GetCode());
        return status;
    }
    thread.Take(reinterpret_cast<HANDLE>(handle), threadId, GetCurrentProcessId());
    return QLibOk();
}

// The information is read before the handle is taken, so a handle that is no thread is never owned.
QLibStatus QLibThread::Attach(HANDLE handle)
{
    QLibNtDll ntDll;
    QLibHeapOwner<void> buffer;
    QLibStatus status = ntDll.GetThreadInformation(handle, 0, buffer.put());
    if (status.IsFailed()) {
        QLIB_TRACE("QLibThread::Attach", L"(%d) GetThreadInformation failed.", status.GetCode());
        return status;
    }
    const auto* info = static_cast<const BasicInformation*>(buffer.get());
    uint32_t tid = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(info->clientId.UniqueThread));
    uint32_t pid = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(info->clientId.UniqueProcess));
    status = QLibSyncObject::Attach(handle);
    if (status.IsFailed()) {
        QLIB_TRACE("QLibThread::Attach", L"(%d) QLibWin32Object::Attach failed.", status.GetCode());
        return status;
    }
    m_Tid = tid;
    m_Pid = pid;
    return status;
}
