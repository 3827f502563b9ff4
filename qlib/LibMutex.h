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
    QLibStatus Close() override;
    HANDLE Detach() override;

private:
    std::wstring m_Name;
};
