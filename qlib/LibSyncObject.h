#pragma once
// A handle that can be waited for.

#include "LibWin32Object.h"

class QLibSyncObject : public QLibWin32Object {
public:
    using QLibWin32Object::QLibWin32Object;

    virtual QLibStatus Wait(DWORD milliseconds);
    virtual QLibStatus Release(LONG count, LONG* previous);
    virtual QLibStatus Release() = 0;
};
