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
    // Waits 30 seconds at most for WMI's answer; a WMI that stays silent fails it with (2, 258).
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

    // Starting programs: on success the objects are closed and then given the new process and its primary
    // thread; on failure neither is touched. The command line is copied, never written; a null one (the
    // application name alone) is passed on as null.
    static QLibStatus Create(const wchar_t* applicationName, const wchar_t* commandLine,
                             SECURITY_ATTRIBUTES* processAttributes, SECURITY_ATTRIBUTES* threadAttributes,
                             BOOL inheritHandles, DWORD creationFlags, void* environment,
                             const wchar_t* currentDirectory, STARTUPINFOW* startup, QLibProcess& process,
                             QLibThread& thread);
    // The primary thread waits for the caller's ResumeThread. The 64-bit argument has no effect.
    static QLibStatus CreateSuspended(const wchar_t* applicationName, const wchar_t* commandLine,
                                      SECURITY_ATTRIBUTES* processAttributes, SECURITY_ATTRIBUTES* threadAttributes,
                                      BOOL inheritHandles, DWORD creationFlags, void* environment,
                                      const wchar_t* currentDirectory, STARTUPINFOW* startup, uint64_t unused,
                                      QLibProcess& process, QLibThread& thread);
    // As the user, with the user's own environment (none of the caller's variables).
    static QLibStatus CreateAsUser(const wchar_t* domain, const wchar_t* userName, const wchar_t* password,
                                   const wchar_t* applicationName, const wchar_t* commandLine,
                                   SECURITY_ATTRIBUTES* processAttributes, SECURITY_ATTRIBUTES* threadAttributes,
                                   BOOL inheritHandles, DWORD creationFlags, const wchar_t* currentDirectory,
                                   STARTUPINFOW* startup, QLibProcess& process, QLibThread& thread);
    // The two output runs wait 10 minutes at most: a program still running then is ended, and the run fails
    // with type 7, code 258 (the output read so far stays in the buffer, no exit code is stored).
    // Runs the program to its end. Its standard output and error, as written, fill the buffer up to size - 2
    // bytes (the rest is dropped), and the buffer always ends with at least two zero bytes.
    static QLibStatus CreateAndGetOutput(const wchar_t* commandLine, const wchar_t* currentDirectory, uint8_t* buffer,
                                         uint32_t bufferSize, uint32_t* exitCode);
    // Runs the program as the user to its end, with the user's environment and the caller's variables. The
    // output, converted from the ANSI code page, comes in a VirtualAlloc buffer that the caller frees with
    // VirtualFree (MEM_RELEASE); outputSize counts its bytes without the terminator. No output: null and 0.
    // A failed read or conversion fails the call; the exit code is stored all the same.
    static QLibStatus CreateAsUserAndGetOutput(const wchar_t* domain, const wchar_t* userName, const wchar_t* password,
                                               const wchar_t* commandLine, const wchar_t* currentDirectory,
                                               wchar_t** output, uint32_t* outputSize, uint32_t* exitCode,
                                               DWORD creationFlags, uint32_t unused);

private:
    void Reset();
    void Take(HANDLE handle, uint32_t pid, uint32_t parentPid);
    QLibStatus ReadCmdLine();

    uint32_t m_ParentPid = 0xFFFFFFFFu;
    uint32_t m_Pid = 0xFFFFFFFFu;
    std::wstring m_ExeName;
    std::wstring m_CmdLine;
};
