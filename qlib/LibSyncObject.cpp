#include "LibSyncObject.h"

#include "LibLogger.h"

// An abandoned object is still acquired, so it counts as success.
QLibStatus QLibSyncObject::Wait(DWORD milliseconds)
{
    QLibStatus status;
    DWORD result = WaitForSingleObject(Handle(), milliseconds);
    if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED) {
        return QLibOk();
    }
    status = QLibWin32Failure(result == WAIT_TIMEOUT ? WAIT_TIMEOUT : GetLastError());
    QLIB_TRACE("QLibSyncObject::Wait", L"(%d) Wait operation has failed.", status.GetCode());
    return status;
}

QLibStatus QLibSyncObject::Release(LONG, LONG*)
{
    return QLibOk();
}
