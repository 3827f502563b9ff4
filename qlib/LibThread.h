#pragma once
// A Windows thread with its thread id and the id of the process it belongs to.

#include "LibAccessToken.h"
#include "LibSyncObject.h"

class QLibThread : public QLibSyncObject {
public:
    using StartRoutine = unsigned(__stdcall*)(void*);

    QLibThread() = default;
    QLibThread(uint32_t access, BOOL inherit, uint32_t threadId);
    ~QLibThread() override;

    QLibStatus Close() override;
    QLibStatus Attach(HANDLE handle) override;
    HANDLE Detach() override;
    using QLibSyncObject::Release;
    QLibStatus Release() override;

    QLibStatus Open(uint32_t access, BOOL inherit, uint32_t threadId);
    uint32_t GetThreadId() const;
    QLibStatus IsAlive(BOOL* alive);
    // Known after Attach or a start by the library; otherwise looked up afresh on every call.
    QLibStatus GetProcessId(uint32_t* pid);
    // The token of the calling thread, not of the thread this object holds.
    QLibStatus OpenToken(uint32_t access, BOOL openAsSelf, QLibThreadToken& token);

    static QLibStatus Create(SECURITY_ATTRIBUTES* security, unsigned stackSize, StartRoutine start, void* argument,
                             unsigned initialFlags, QLibThread& thread);

    // Takes over a thread that the library started, with ids already known.
    void Take(HANDLE handle, uint32_t threadId, uint32_t pid);

private:
    void Reset();

    uint32_t m_Tid = 0xFFFFFFFFu;
    uint32_t m_Pid = 0xFFFFFFFFu;
};
