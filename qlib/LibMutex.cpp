#include "LibMutex.h"

#include "LibAssert.h"
#include "LibLogger.h"

QLibMutex::QLibMutex(BOOL initialOwner, const wchar_t* name, uint32_t* alreadyExisted, SECURITY_ATTRIBUTES* security)
{
    (void)Create(initialOwner, name, alreadyExisted, security);
}

QLibMutex::~QLibMutex()
{
    (void)QLibMutex::Close();
}

QLibStatus QLibMutex::Create(BOOL initialOwner, const wchar_t* name, uint32_t* alreadyExisted,
                             SECURITY_ATTRIBUTES* security)
{
    QLibStatus status;
    (void)Close();
    HANDLE handle = CreateMutexW(security, initialOwner, name);
    if (handle == nullptr) {
        status = QLibLastError();
        QLIB_TRACE("QLibMutex::Create", L"(%d) CreateMutex failed. Name=%s", status.GetCode(), name ? name : L"");
        return status;
    }
    // Only "it existed" is reported; the flag is never cleared.
    if (alreadyExisted != nullptr && GetLastError() == ERROR_ALREADY_EXISTS)
        *alreadyExisted = 1;
    Hold(handle);
    if (name != nullptr)
        m_Name = name;
    return QLibOk();
}

QLibStatus QLibMutex::Release()
{
    QLIB_ASSERT(IsValid());
    QLibStatus status;
    if (!ReleaseMutex(Handle())) {
        status = QLibLastError();
        QLIB_TRACE("QLibMutex::Release", L"(%d) ReleaseMutex failed. Name=%s", status.GetCode(), m_Name.c_str());
        return status;
    }
    return QLibOk();
}

const std::wstring& QLibMutex::GetName() const
{
    QLIB_ASSERT(IsValid());
    return m_Name;
}

QLibStatus QLibMutex::Close()
{
    if (IsValid())
        m_Name.clear();
    return QLibSyncObject::Close();
}

QLibStatus QLibMutex::Attach(HANDLE handle)
{
    (void)Close();
    QLibStatus status = QLibSyncObject::Attach(handle);
    // A value such as INVALID_HANDLE_VALUE names no object: it is held as it is.
    if (!IsValid())
        return status;
    status = GetNameRelativeToBaseNamedObjects(m_Name);
    if (status.IsFailed()) {
        QLIB_TRACE("QLibMutex::Attach", L"(%d) GetRelativeName failed.", status.GetCode());
        Detach();
    }
    return status;
}

HANDLE QLibMutex::Detach()
{
    m_Name.clear();
    return QLibSyncObject::Detach();
}
