#include "LibProcessList.h"

#include <cwchar>

#include "LibAssert.h"
#include "LibLogger.h"
#include "LibOwners.h"
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
    return QLibOk();
}

QLibStatus QLibProcessList::Open()
{
    (void)Close();
    QLibStatus status;
    QLibHandleOwner snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) {
        status = QLibLastError();
        QLIB_TRACE("QLibProcessList::Open", L"(%d) CreateToolhelp32SnapShot failed.", status.GetCode());
        return status;
    }
    status = m_Snapshot.Attach(snapshot.get());
    if (status.IsOK())
        (void)snapshot.release();
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
        status = QLibLastError();
        QLIB_TRACE(function, message, status.GetCode());
        return status;
    }
    *pid = m_Entry.th32ProcessID;
    return QLibOk();
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
    QLibStatus status = QLibOk();
    while (status.IsOK()) {
        if (candidate != 0 && candidate != systemPid) {
            QLibHeapOwner<wchar_t> exeName;
            QLibStatus query = QLibProcess::GetExeName(candidate, exeName.put());
            if (query.IsOK()) {
                if (_wcsicmp(exeName.get(), m_ExeName.c_str()) == 0) {
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
