#include "LibSingleLock.h"

#include "LibAssert.h"
#include "LibLogger.h"

QLibSingleLock::QLibSingleLock(QLibSyncObject* object, uint32_t lockNow) : m_pObject(object)
{
    QLIB_ASSERT(object != nullptr);
    QLIB_ASSERT(object->IsValid());
    if (lockNow)
        (void)Wait(INFINITE);
}

QLibSingleLock::~QLibSingleLock()
{
    (void)Release();
}

bool QLibSingleLock::IsValid() const
{
    return m_pObject != nullptr;
}

QLibStatus QLibSingleLock::Wait(DWORD milliseconds)
{
    QLIB_ASSERT(IsValid());
    QLIB_ASSERT(!m_Locked);
    QLibStatus status = m_pObject->Wait(milliseconds);
    if (status.IsFailed()) {
        QLIB_TRACE("QLibSingleLock::Wait", L"(%d) Wait operation on the object failed.", status.GetCode());
        return status;
    }
    m_Locked = 1;
    return status;
}

template <typename ReleaseCall>
QLibStatus QLibSingleLock::ReleaseWith(ReleaseCall release)
{
    QLIB_ASSERT(IsValid());
    QLibStatus status;
    if (!m_Locked) {
        return QLibOk();
    }
    status = release();
    if (status.IsFailed()) {
        QLIB_TRACE("QLibSingleLock::Release", L"(%d) Release operation on the object failed.", status.GetCode());
        return status;
    }
    m_Locked = 0;
    return status;
}

QLibStatus QLibSingleLock::Release()
{
    return ReleaseWith([this] { return m_pObject->Release(); });
}

QLibStatus QLibSingleLock::Release(LONG count, LONG* previous)
{
    return ReleaseWith([this, count, previous] { return m_pObject->Release(count, previous); });
}

bool QLibSingleLock::IsLocked() const
{
    return m_Locked != 0;
}
