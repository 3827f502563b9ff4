#include "LibWin32Object.h"

#include "LibAssert.h"
#include "LibLogger.h"

QLibStatus QLibObject::Close()
{
    QLibStatus status;
    status.SetOK();
    return status;
}

QLibWin32Object::QLibWin32Object(HANDLE handle)
    : m_hHandle(handle)
{
    QLIB_ASSERT(IsValid());
}

QLibWin32Object::~QLibWin32Object()
{
    QLibWin32Object::Close();
}

bool QLibWin32Object::IsValid() const
{
    return m_hHandle != nullptr && m_hHandle != INVALID_HANDLE_VALUE;
}

// Never fails towards the caller; an invalid value such as INVALID_HANDLE_VALUE is left alone.
QLibStatus QLibWin32Object::Close()
{
    QLibStatus status;
    if (QLibWin32Object::IsValid()) {
        if (!CloseHandle(m_hHandle))
            QLIB_TRACE("QLibWin32Object::Close", L"Failed to close handle. Error=%d.", GetLastError());
        m_hHandle = nullptr;
    }
    status.SetOK();
    return status;
}

HANDLE QLibWin32Object::GetHandle() const
{
    return m_hHandle;
}

QLibStatus QLibWin32Object::Attach(HANDLE handle)
{
    Close();
    m_hHandle = handle;
    QLibStatus status;
    status.SetOK();
    return status;
}

HANDLE QLibWin32Object::Detach()
{
    HANDLE handle = m_hHandle;
    m_hHandle = nullptr;
    return handle;
}
