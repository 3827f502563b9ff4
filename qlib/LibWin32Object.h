#pragma once
// Base of every library class, and the base of those that own one Windows handle.

#include <windows.h>

#include <string>

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
    // The kernel object's full name, and the part of it inside the directory BaseNamedObjects.
    QLibStatus GetName(std::wstring& name) const;
    QLibStatus GetNameRelativeToBaseNamedObjects(std::wstring& name) const;

protected:
    HANDLE m_hHandle = nullptr;
};
