#include "LibProcessList.h"

#include <cwchar>

#include "LibAssert.h"
#include "LibLogger.h"
#include "LibProcess.h"

QLibProcessList::QLibProcessList(BOOL open)
{
    if (open)
        (void)Open();
}

QLibProcessList::~QLibProcessList()
{
    (void)QLibProcessList::Close();
}

bool QLibProcessList::IsValid() const
{
    return m_Snapshot.IsValid();
}

QLibStatus QLibProcessList::Close()
{
    if (m_Snapshot.IsValid())
        return m_Snapshot.Close();
    QLibStatus status;
    status.SetOK();
    return status;
}

QLibStatus QLibProcessList::Open()
{
    (void)Close();
    QLibStatus status;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        status.Set(QLIB_ERR_WIN32, GetLastError());
        QLIB_TRACE("QLibProcessList::Open", L"(%d) CreateToolhelp32SnapShot failed.", status.GetCode());
        return status;
    }
    status = m_Snapshot.Attach(snapshot);
    if (status.IsFailed())
        CloseHandle(snapshot);
    return status;
}

QLibStatus QLibProcessList::GetFirst(uint32_t* pid)
{
    return Step(Process32FirstW, "QLibProcessList::GetFirst", L"(%d) Process32First failed.", pid);
}

QLibStatus QLibProcessList::GetNext(uint32_t* pid)
{
    return Step(Process32NextW, "QLibProcessList::GetNext", L"(%d) Process32Next failed.", pid);
}

QLibStatus QLibProcessList::Step(StepCall call, const char* function, const wchar_t* message, uint32_t* pid)
{
    QLIB_ASSERT(IsValid());
    *pid = 0xFFFFFFFFu;
    QLibStatus status;
    m_Entry.dwSize = sizeof(m_Entry);
    if (!call(m_Snapshot.GetHandle(), &m_Entry)) {
        status.Set(QLIB_ERR_WIN32, GetLastError());
        QLIB_TRACE(function, message, status.GetCode());
        return status;
    }
    *pid = m_Entry.th32ProcessID;
    status.SetOK();
    return status;
}

QLibMultInstProcessList::QLibMultInstProcessList()
{
    OSVERSIONINFOW version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    GetVersionExW(&version);
    QLIB_ASSERT(version.dwMajorVersion >= 5);
    m_MajorVersion = version.dwMajorVersion;
    m_MinorVersion = version.dwMinorVersion;
}

QLibMultInstProcessList::QLibMultInstProcessList(const wchar_t* exeName, BOOL open) : QLibMultInstProcessList()
{
    SetExeName(exeName);
    if (open)
        (void)Open();
}

void QLibMultInstProcessList::SetExeName(const wchar_t* exeName)
{
    QLIB_ASSERT(exeName != nullptr);
    m_ExeName = exeName;
}

QLibStatus QLibMultInstProcessList::GetFirst(uint32_t* pid)
{
    QLIB_ASSERT(IsValid());
    *pid = 0;
    uint32_t candidate = 0;
    QLibStatus status = QLibProcessList::GetFirst(&candidate);
    if (status.IsFailed())
        return status;
    return _CheckPid(candidate, pid);
}

QLibStatus QLibMultInstProcessList::GetNext(uint32_t* pid)
{
    QLIB_ASSERT(IsValid());
    uint32_t candidate = 0;
    QLibStatus status = QLibProcessList::GetNext(&candidate);
    if (status.IsFailed())
        return status;
    return _CheckPid(candidate, pid);
}

// A process whose path cannot be read is passed over as one that does not match.
QLibStatus QLibMultInstProcessList::_CheckPid(uint32_t candidate, uint32_t* pid)
{
    bool firstRelease = m_MajorVersion == 5 && m_MinorVersion == 0;
    uint32_t systemPid = firstRelease ? 8 : 4;
    QLibStatus status;
    status.SetOK();
    while (status.IsOK()) {
        if (candidate != 0 && candidate != systemPid) {
            wchar_t* exeName = nullptr;
            QLibStatus query = QLibProcess::GetExeName(candidate, &exeName);
            if (query.IsOK()) {
                bool match = _wcsicmp(exeName, m_ExeName.c_str()) == 0;
                HeapFree(GetProcessHeap(), 0, exeName);
                if (match) {
                    *pid = candidate;
                    return status;
                }
            } else {
                QLIB_TRACE("QLibMultInstProcessList::_CheckPid", L"(%d) Failed to get exe name of pid = %d",
                           query.GetCode(), candidate);
            }
        }
        status = QLibProcessList::GetNext(&candidate);
    }
    return status;
}
