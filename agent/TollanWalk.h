#pragma once
// One walk over the machine's processes for the processes of one SAP instance: those whose image path has a
// folder named as the SID and, below it, one named as the instance (or "SYS" for the types run from the system
// folder); names match whole, in any case. Each process is opened once; its owner is read through that handle,
// once, and only when asked; Kill ends it through that same handle, so a process id reused meanwhile can never
// end an unrelated process.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "LibProcess.h"
#include "LibProcessList.h"
#include "TollanAttrib.h"

// What a caller's matching traces, besides the lines every match writes.
struct CTollanMatchTexts {
    // An owner that could not be read: with the path and the process id. The second serves the last owner check
    // of a process below the instance's own folder, once no ProcMon name led to it.
    const wchar_t* ownerFailed;
    const wchar_t* instFolderOwnerFailed;
    // An owner in the domain that is neither of the instance's accounts: with the user, the path and the process
    // id. Null: not traced.
    const wchar_t* otherUser;
    // A name that is empty, one blank or one tab is skipped as invalid (traced once a walk) rather than looked for.
    bool skipBlankNames;
};

class CTollanWalk {
public:
    // The instance's claim on a process: whether it runs under the administrator or the service user, and the
    // ProcMon name that led to it, null when none did.
    struct Match {
        bool ours;
        const std::wstring* name;
    };

    // function: the caller's name in every trace line; access: the rights each process is opened with.
    CTollanWalk(const char* function, const CTollanAttrib& attrib, uint32_t access);

    QLibStatus Open();
    // The next process of the instance; false at the end of the list, with the walk's status in *status:
    // success at the normal end, the failure of the list otherwise.
    bool Next(QLibStatus* status);

    uint32_t Pid() const { return m_Pid; }
    const std::wstring& Path() const { return m_Path; } // upper case
    bool ViaInstName() const { return m_ViaInstName; }
    // True when the image's own file name is name.
    bool ImageIs(const wchar_t* name) const;

    // The process's match against the working ProcMon list, in list order: the first name found in the path from
    // the anchor on whose owner is one of the instance's accounts; when none, the owner alone decides.
    Match MatchProcMon(const std::vector<std::wstring>& names, const CTollanMatchTexts& texts);
    const std::wstring& User() const { return m_User; }

    // Hands the open process to the caller (for a kill after the walk).
    std::unique_ptr<QLibProcess> TakeProcess() { return std::move(m_Process); }
    QLibProcess& Process() { return *m_Process; }

private:
    enum Owner { OwnerUnknown, OwnerOtherDomain, OwnerOtherUser, OwnerMatches };

    bool Matches();
    bool OpenCurrent();
    // Where a ProcMon name is looked for: from the instance name or "SYS" on.
    bool PathHolds(const std::wstring& name) const;
    // Reads the owner once per process (tracing failureText on failure) and judges it against the
    // administrator, the service user and their domain.
    Owner CheckOwner(const wchar_t* failureText);
    bool RunsUnderInstanceAccount(const wchar_t* failureText, const wchar_t* otherUser);

    const char* m_Function;
    const CTollanAttrib& m_Attrib;
    uint32_t m_Access;
    std::wstring m_AdminDomain;
    uint32_t m_SkipPid = 4; // the system process; 8 on version 5.0
    QLibProcessList m_List;
    bool m_Started = false;
    bool m_BlankTraced = false;

    uint32_t m_Pid = 0;
    std::unique_ptr<QLibProcess> m_Process;
    std::wstring m_Path;
    size_t m_Anchor = 0;
    bool m_ViaInstName = false;
    bool m_OwnerRead = false;
    bool m_OwnerKnown = false;
    QLibStatus m_OwnerStatus;
    std::wstring m_Domain;
    std::wstring m_User;
};

// Ends a process through its open handle; a process that has already ended counts as ended.
QLibStatus TollanEndProcess(const char* function, QLibProcess& process, uint32_t pid);
