#pragma once
// A snapshot of the machine's processes, walked one process id at a time.

#include <windows.h>
#include <tlhelp32.h>

#include <string>

#include "LibWin32Object.h"

class QLibProcessList : public QLibObject {
public:
    explicit QLibProcessList(BOOL open = FALSE);
    ~QLibProcessList() override;

    QLibProcessList(const QLibProcessList&) = delete;
    QLibProcessList& operator=(const QLibProcessList&) = delete;

    bool IsValid() const override;
    QLibStatus Close() override;
    // Takes a fresh snapshot; processes started later are not seen.
    virtual QLibStatus Open();
    // The end of the list is a failure: (2, ERROR_NO_MORE_FILES).
    virtual QLibStatus GetFirst(uint32_t* pid);
    virtual QLibStatus GetNext(uint32_t* pid);

    // The entry of the process last yielded.
    const PROCESSENTRY32W& GetEntry() const { return m_Entry; }

private:
    using StepCall = BOOL(WINAPI*)(HANDLE, PROCESSENTRY32W*);
    QLibStatus Step(StepCall call, const char* function, const wchar_t* message, uint32_t* pid);

    QLibWin32Object m_Snapshot;
    PROCESSENTRY32W m_Entry = {};
};

// Yields only the processes whose executable path equals the given one, without regard to case.
class QLibMultInstProcessList : public QLibProcessList {
public:
    QLibMultInstProcessList();
    QLibMultInstProcessList(const wchar_t* exeName, BOOL open);
    ~QLibMultInstProcessList() override = default;

    void SetExeName(const wchar_t* exeName);
    QLibStatus GetFirst(uint32_t* pid) override;
    QLibStatus GetNext(uint32_t* pid) override;

private:
    QLibStatus _CheckPid(uint32_t candidate, uint32_t* pid);

    std::wstring m_ExeName;
    uint32_t m_MinorVersion = 0;
    uint32_t m_MajorVersion = 0;
};
