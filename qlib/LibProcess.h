#pragma once
// A Windows process with the facts the library reads about it: ids, executable path, command line, account.
// Text and SIDs handed out come from the process heap; the caller frees them with HeapFree after success.

#include <string>

#include "LibAccessToken.h"
#include "LibSyncObject.h"
#include "LibThread.h"

class QLibProcess : public QLibSyncObject {
public:
    QLibProcess() = default;
    QLibProcess(uint32_t pid, BOOL inherit, uint32_t access);
    ~QLibProcess() override;

    QLibStatus Close() override;
    // Takes over a process handle; on failure the handle stays open and the caller's.
    QLibStatus Attach(HANDLE handle) override;
    HANDLE Detach() override;
    using QLibSyncObject::Release;
    QLibStatus Release() override;

    QLibStatus Open(uint32_t pid, BOOL inherit, uint32_t access);
    uint32_t GetPid() const;
    QLibStatus IsAlive(BOOL* alive);
    QLibStatus GetExeName(wchar_t** exeName);
    QLibStatus GetCmdLine(wchar_t** cmdLine);
    QLibStatus GetWMICmdLine(wchar_t** cmdLine);
    QLibStatus GetParentPid(uint32_t* parentPid);
    QLibStatus GetUserSid(PSID* sid);
    QLibStatus GetUserName(wchar_t** domain, wchar_t** userName);
    QLibStatus OpenToken(uint32_t access, QLibProcessToken& token);
    QLibStatus CreateRemoteThread(SECURITY_ATTRIBUTES* threadAttributes, SIZE_T stackSize, LPTHREAD_START_ROUTINE start,
                                  void* parameter, DWORD creationFlags, QLibThread& thread);

    // By process id: each opens the process for the one query and closes it again.
    static QLibStatus GetCmdLine(uint32_t pid, wchar_t** cmdLine);
    static QLibStatus GetWMICmdLine(uint32_t pid, wchar_t** cmdLine);
    static QLibStatus GetExeName(uint32_t pid, wchar_t** exeName);
    static QLibStatus GetUserName(uint32_t pid, wchar_t** domain, wchar_t** userName);
    static QLibStatus IsAlive(uint32_t pid, BOOL* alive);
    static QLibStatus GetParentPid(uint32_t pid, uint32_t* parentPid);
    static QLibStatus GetUserSid(uint32_t pid, PSID* sid);
    static QLibStatus EnablePrivilege(uint32_t pid, const wchar_t* privilegeName, BOOL enable);

private:
    void Reset();
    QLibStatus ReadCmdLine();

    uint32_t m_ParentPid = 0xFFFFFFFFu;
    uint32_t m_Pid = 0xFFFFFFFFu;
    std::wstring m_ExeName;
    std::wstring m_CmdLine;
};
