#pragma once
// A Windows mutex, named or unnamed.

#include <string>

#include "LibSyncObject.h"

class QLibMutex : public QLibSyncObject {
public:
    QLibMutex() = default;
    QLibMutex(BOOL initialOwner, const wchar_t* name, uint32_t* alreadyExisted, SECURITY_ATTRIBUTES* security);
    ~QLibMutex() override;

    QLibStatus Create(BOOL initialOwner, const wchar_t* name, uint32_t* alreadyExisted, SECURITY_ATTRIBUTES* security);
    using QLibSyncObject::Release;
    QLibStatus Release() override;
    const std::wstring& GetName() const;
    using QLibWin32Object::GetName;
    QLibStatus Close() override;
    // Takes over a mutex of the directory BaseNamedObjects; any other handle stays the caller's.
    QLibStatus Attach(HANDLE handle) override;
    HANDLE Detach() override;

private:
    std::wstring m_Name;
};
