#pragma once
// Base of every library class, and the base of those that own one Windows handle.

#include <windows.h>

#include "LibStatus.h"

class QLibObject {
public:
    virtual ~QLibObject() = default;
    virtual bool IsValid() const = 0;
    virtual QLibStatus Close();
};

class QLibWin32Object : public QLibObject {
public:
    QLibWin32Object() = default;
    explicit QLibWin32Object(HANDLE handle);
    ~QLibWin32Object() override;

    QLibWin32Object(const QLibWin32Object&) = delete;
    QLibWin32Object& operator=(const QLibWin32Object&) = delete;

    bool IsValid() const override;
    QLibStatus Close() override;
    virtual HANDLE GetHandle() const;
    virtual QLibStatus Attach(HANDLE handle);
    virtual HANDLE Detach();

protected:
    HANDLE m_hHandle = nullptr;
};
