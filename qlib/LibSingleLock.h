#pragma once
// Scoped lock over any waitable object; one lock belongs to one thread.

#include "LibSyncObject.h"

class QLibSingleLock : public QLibObject {
public:
    QLibSingleLock(QLibSyncObject* object, uint32_t lockNow);
    ~QLibSingleLock() override;

    QLibSingleLock(const QLibSingleLock&) = delete;
    QLibSingleLock& operator=(const QLibSingleLock&) = delete;

    bool IsValid() const override;
    QLibStatus Wait(DWORD milliseconds);
    QLibStatus Release();
    QLibStatus Release(LONG count, LONG* previous);
    bool IsLocked() const;

private:
    template <typename ReleaseCall>
    QLibStatus ReleaseWith(ReleaseCall release);

    QLibSyncObject* m_pObject;
    uint32_t m_Locked = 0;
};
