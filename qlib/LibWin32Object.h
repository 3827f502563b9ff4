#pragma once
// Base of every library class, and the base of those that own one Windows handle.

#include <windows.h>

#include <string>

#include "LibOwners.h"
#include "LibStatus.h"

class QLibObject {
public:
    virtual ~QLibObject() = default;
    virtual bool IsValid() const = 0;
    virtual QLibStatus Close();
};

// The kinds of handle the objects hold, each released by its own call.
enum class QLibHandleKind { Kernel, ServiceManager };

// A held handle with its kind, so that one owner serves every kind; a kernel handle that fails to close is traced.
struct QLibHeldHandle {
    HANDLE value = nullptr;
    QLibHandleKind kind = QLibHandleKind::Kernel;
};
struct QLibCloseHeldHandle {
    static bool IsValid(const QLibHeldHandle& held) { return QLibKernelHandleValid::IsValid(held.value); }
    static void Close(const QLibHeldHandle& held);
};

class QLibWin32Object : public QLibObject {
public:
    QLibWin32Object() = default;
    explicit QLibWin32Object(HANDLE handle);
    ~QLibWin32Object() override = default;

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
    // For the classes whose handles are no kernel handles.
    explicit QLibWin32Object(QLibHandleKind kind) : m_Kind(kind) {}
    HANDLE Handle() const { return m_Handle.get().value; }
    // Holds the handle from now on; whatever was held before is released.
    void Hold(HANDLE handle) { m_Handle.reset({handle, m_Kind}); }

private:
    QLibHandleKind m_Kind = QLibHandleKind::Kernel;
    QLibUnique<QLibHeldHandle, QLibCloseHeldHandle> m_Handle;
};
