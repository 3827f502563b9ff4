#pragma once
// An access token: its information and its privileges; opened from a process or a thread.

#include "LibWin32Object.h"

class QLibAccessToken : public QLibWin32Object {
public:
    ~QLibAccessToken() override;

    // The buffer is the system's structure for the class, from the process heap; the caller frees it.
    QLibStatus GetInformation(uint32_t infoClass, void** buffer);
    // A privilege that the token does not hold is not reported as a failure.
    QLibStatus EnablePrivilege(const wchar_t* privilegeName, BOOL enable);

protected:
    QLibAccessToken() = default;
};

class QLibProcessToken : public QLibAccessToken {
public:
    QLibProcessToken() = default;
    QLibProcessToken(HANDLE process, uint32_t access);
    ~QLibProcessToken() override = default;

    QLibStatus Open(HANDLE process, uint32_t access);
};

class QLibThreadToken : public QLibAccessToken {
public:
    QLibThreadToken() = default;
    QLibThreadToken(HANDLE thread, uint32_t access, BOOL openAsSelf);
    ~QLibThreadToken() override = default;

    QLibStatus Open(HANDLE thread, uint32_t access, BOOL openAsSelf);
};
