// Whether the instance runs, from the process list and its SAP service.

#include <windows.h>

#include <cwchar>
#include <set>

#include "LibLogger.h"
#include "Tollan.h"
#include "TollanLog.h"
#include "TollanUtil.h"
#include "TollanWalk.h"

namespace {

constexpr const char* Source = "Tollan";
constexpr const char* StateFunction = "CTollan::GetProcessState";
constexpr const char* ResourceFunction = "CTollan::GetResourceState";
constexpr int64_t RecheckPause = 5000;
constexpr int64_t JlaunchRecheckNeeds = 20000;
constexpr int64_t JcontrolRecheckNeeds = 25000;

constexpr const wchar_t* AllRunning = L"All the processes in the ProcMon are Running.";
constexpr const wchar_t* SomeRunning = L"Some of the SAP Instance processes are Running.";
constexpr const wchar_t* NotRunning = L"Some/All the processes in the ProcMon are NOT Running.";
constexpr const wchar_t* NoJlaunch = L"All the processes in the ProcMon are Running. But no jlaunch.exe is Running.";
constexpr const wchar_t* CriticalDown = L"Some of the critical processes are NOT Running.";

bool IsName(const std::wstring& name, const wchar_t* image)
{
    return _wcsicmp(name.c_str(), image) == 0;
}

bool IsOneOf(const std::wstring& type, std::initializer_list<const wchar_t*> types)
{
    for (const wchar_t* candidate : types)
        if (type == candidate)
            return true;
    return false;
}

// What the state rules decide before any re-check.
enum class Verdict { Untouched, Online, Unknown, Offline, OnlineOrOfflineUnknown, RecheckJlaunch, RecheckJcontrol };

struct Rule {
    bool applies;
    Verdict verdict;
    const wchar_t* trace;
};

Verdict FirstRule(const char* function, std::initializer_list<Rule> rules)
{
    for (const Rule& rule : rules) {
        if (!rule.applies)
            continue;
        QLIB_TRACE(function, rule.trace);
        return rule.verdict;
    }
    return Verdict::Untouched;
}

// What the last process check found, as the state rules read it.
struct ProcessCheck {
    bool dispWork;
    bool jcontrol;
    bool jlaunch;
    bool enrepserver;
    bool all; // every name of the working ProcMon list ran
    bool partial; // not all, but another process of the instance's accounts, while onlining or offlining
    bool onlineAs; // the architecture's own online condition
};

constexpr const wchar_t* StateUnknown = L"Resource State is Unknown.";
constexpr const wchar_t* OfProcMonNotRunning = L"Some/All of the processes in the ProcMon are NOT Running.";

Verdict DecideAbap(const ProcessCheck& found)
{
    return FirstRule(ResourceFunction,
                     {{found.dispWork && found.all, Verdict::Online, AllRunning},
                      {found.partial, Verdict::Unknown, SomeRunning},
                      {found.all, Verdict::Unknown, StateUnknown},
                      {true, Verdict::Offline, OfProcMonNotRunning}});
}

Verdict DecideJava(const ProcessCheck& found)
{
    return FirstRule(ResourceFunction,
                     {{found.onlineAs, Verdict::Online, AllRunning},
                      {found.jcontrol && !found.jlaunch, Verdict::RecheckJlaunch, NoJlaunch},
                      {found.jlaunch && !found.jcontrol, Verdict::OnlineOrOfflineUnknown,
                       L"jcontrol.exe process in the ProcMon is NOT Running."},
                      {found.partial, Verdict::Unknown, SomeRunning},
                      {found.all, Verdict::Unknown, StateUnknown},
                      {true, Verdict::Offline, OfProcMonNotRunning}});
}

Verdict DecideAddIn(const ProcessCheck& found)
{
    return FirstRule(ResourceFunction,
                     {{found.onlineAs, Verdict::Online, AllRunning},
                      {found.dispWork && found.jcontrol && !found.jlaunch, Verdict::RecheckJlaunch, NoJlaunch},
                      {found.dispWork && !found.jcontrol, Verdict::RecheckJcontrol, L"jcontrol.exe is NOT Running."},
                      {found.jcontrol && !found.dispWork, Verdict::OnlineOrOfflineUnknown, NotRunning},
                      {found.partial, Verdict::Unknown, SomeRunning},
                      {found.all, Verdict::Unknown, StateUnknown},
                      {true, Verdict::Offline, NotRunning}});
}

// The enqueue and replication servers, whose ProcMon list tells no architecture.
Verdict DecideByInstType(const std::wstring& type, const ProcessCheck& found)
{
    if (CTollanUtil::IsEnqueueType(type)) {
        QLIB_TRACE(ResourceFunction, L"The instance type is [%s].", type.c_str());
        return FirstRule(ResourceFunction,
                         {{found.all, Verdict::Online, AllRunning},
                          {found.partial, Verdict::Unknown, SomeRunning},
                          {true, Verdict::Offline, NotRunning}});
    }
    if (CTollanUtil::IsReplicationType(type)) {
        QLIB_TRACE(ResourceFunction, L"The instance is [%s].", type.c_str());
        return FirstRule(ResourceFunction,
                         {{found.enrepserver && found.all, Verdict::Online, AllRunning},
                          {found.partial, Verdict::Unknown, SomeRunning},
                          {true, Verdict::Offline, NotRunning}});
    }
    return FirstRule(ResourceFunction, {{true, Verdict::Unknown, L"Invalid SAP Instance."}});
}

// An instance of an architecture is judged only as a central or dialog instance.
Verdict DecideByArchitecture(uint32_t architecture, const std::wstring& type, const ProcessCheck& found)
{
    const struct {
        uint32_t architecture;
        const wchar_t* trace;
        Verdict (*decide)(const ProcessCheck&);
    } architectures[] = {
        {TOLLAN_ARCH_ABAP, L"Architecture is ABAP.", DecideAbap},
        {TOLLAN_ARCH_JAVA, L"Architecture is Java.", DecideJava},
        {TOLLAN_ARCH_ADDIN, L"Architecture is Add-In.", DecideAddIn},
    };
    for (const auto& entry : architectures) {
        if (entry.architecture != architecture)
            continue;
        QLIB_TRACE(ResourceFunction, entry.trace);
        return IsOneOf(type, {L"CENTRAL", L"DIALOG"}) ? entry.decide(found) : Verdict::Untouched;
    }
    return DecideByInstType(type, found);
}

} // namespace

std::vector<std::wstring> TollanWorkingProcMon(const char* function, const CTollanAttrib& attrib,
                                               uint32_t* architecture)
{
    std::vector<std::wstring> names = attrib.GetProcMon();
    *architecture = CTollanUtil::FindSAPArch(names);
    if (*architecture == TOLLAN_ARCH_ABAP)
        QLIB_TRACE(function, L"This is ABAP Instance.");
    if (*architecture == TOLLAN_ARCH_JAVA || *architecture == TOLLAN_ARCH_ADDIN) {
        QLIB_TRACE(function, L"This is Java/Add-In instance. Pushing jlaunch.exe onto ProcMon.");
        names.push_back(L"JLAUNCH.EXE");
    }
    QLIB_TRACE(function, L"Got ProcMon size [%d].", static_cast<uint32_t>(names.size()));
    return names;
}

void CTollan::ClearFlags()
{
    dispWorkRunning = jcontrolRunning = jlaunchRunning = msgServerRunning = 0;
    enserverRunning = enrepserverRunning = otherProcessRunning = 0;
    m_AllNamesRunning = false;
    m_NamedRunning = false;
}

bool CTollan::AnyProcessRunning() const
{
    return m_NamedRunning || otherProcessRunning;
}

QLibStatus CTollan::GetProcessState(const CTollanAttrib& attrib, uint64_t* procCount, uint64_t* procmonCount,
                                    uint32_t* architecture)
{
    const char* function = StateFunction;
    ClearFlags();
    QLIB_TRACE(function, L"Checking for the existence of processes listed in the ProcMon.");
    CTollanWalk walk(function, attrib, PROCESS_QUERY_LIMITED_INFORMATION);
    QLibStatus status = walk.Open();
    if (status.IsFailed()) {
        QLIB_TRACE_FAILED(function, L"QLibProcessList::Open", status);
        TOLLAN_TRACE_MSG(TARNAG_SEV_FAILURE, function, Source, 10192, L"Failed to open the process list.");
        return status;
    }
    uint32_t arch = TOLLAN_ARCH_NONE;
    std::vector<std::wstring> names = TollanWorkingProcMon(function, attrib, &arch);
    *architecture = arch;
    const wchar_t* ownerFailed = L"Failed to get the user name for the process [%s] with PID [%d].";
    const CTollanMatchTexts texts = {ownerFailed, ownerFailed,
                                     L"User name [%s] didn't match for process [%s] with PID [%d].", false};
    uint64_t count = 0;
    std::set<std::wstring> seen;
    while (walk.Next(&status)) {
        CTollanWalk::Match match = walk.MatchProcMon(names, texts);
        if (!match.ours)
            continue;
        QLIB_TRACE(function, L"Matched User name [%s] for process [%s] with PID [%d].", walk.User().c_str(),
                   walk.Path().c_str(), walk.Pid());
        if (match.name == nullptr)
            otherProcessRunning = 1;
        else
            count += CountMatch(*match.name, walk.ViaInstName(), seen);
    }
    if (status.IsFailed())
        return status;
    QLIB_TRACE(function, L"Got [%d] process[es] from process table matching ProcMon.", static_cast<uint32_t>(count));
    m_NamedRunning = !seen.empty();
    m_AllNamesRunning = true;
    for (const std::wstring& name : names)
        m_AllNamesRunning = m_AllNamesRunning && seen.count(name) > 0;
    *procCount = count;
    *procmonCount = names.size();
    return status;
}

uint64_t CTollan::CountMatch(const std::wstring& name, bool viaInstName, std::set<std::wstring>& seen)
{
    struct Counted {
        const wchar_t* image;
        uint8_t* flag;
        bool counts;
    };
    const Counted table[] = {
        {L"disp+work.exe", &dispWorkRunning, true},
        {L"jcontrol.exe", &jcontrolRunning, true},
        {L"jlaunch.exe", &jlaunchRunning, jlaunchRunning == 0},
        {L"msg_server.exe", &msgServerRunning, true},
        {L"enserver.exe", &enserverRunning, true},
        // From the system folder a replication server is another instance's.
        {L"enrepserver.exe", &enrepserverRunning, viaInstName},
    };
    for (const Counted& row : table) {
        if (!IsName(name, row.image))
            continue;
        if (row.flag == &enrepserverRunning && !row.counts)
            return 0;
        seen.insert(name);
        QLIB_TRACE(StateFunction, L"%s process found.", row.image);
        if (!row.counts)
            return 0;
        *row.flag = 1;
        return 1;
    }
    seen.insert(name);
    return 0;
}

QLibStatus CTollan::CheckProcesses(const CTollanAttrib& attrib, uint32_t* architecture)
{
    uint64_t procCount = 0;
    uint64_t procmonCount = 0;
    QLibStatus status = GetProcessState(attrib, &procCount, &procmonCount, architecture);
    if (status.IsFailed()) {
        QLIB_TRACE_FAILED(ResourceFunction, L"CTollan::GetProcessState", status);
        QLIB_TRACE(ResourceFunction, L"GetProcessState failed.");
        return status;
    }
    QLIB_TRACE(ResourceFunction, L"Got procCount[%d] and procmonCount[%d] from GetProcessState.",
               static_cast<uint32_t>(procCount), static_cast<uint32_t>(procmonCount));
    return status;
}

bool CTollan::OnlineAs(uint32_t architecture) const
{
    bool java = jcontrolRunning && jlaunchRunning && m_AllNamesRunning;
    return architecture == TOLLAN_ARCH_ADDIN ? dispWorkRunning && java : java;
}

QLibStatus CTollan::RecheckJlaunch(const CTollanAttrib& attrib, uint32_t architecture, CTollanTimeLeft& timeLeft,
                                   uint32_t* state, Recheck* outcome)
{
    const char* function = ResourceFunction;
    int64_t remaining = timeLeft.Get();
    *outcome = Recheck::Exhausted;
    while (remaining > JlaunchRecheckNeeds && operation == TOLLAN_OP_MONITOR) {
        QLIB_TRACE(function, L"Sleeping for [5]secs before rechecking for jlaunch.exe.");
        Sleep(static_cast<DWORD>(RecheckPause));
        uint32_t arch = architecture;
        QLibStatus status = CheckProcesses(attrib, &arch);
        if (status.IsFailed())
            return status;
        if (OnlineAs(architecture)) {
            QLIB_TRACE(function, AllRunning);
            *state = TOLLAN_STATE_ONLINE;
            *outcome = Recheck::Online;
            return status;
        }
        QLIB_TRACE(function, CriticalDown);
        *state = TOLLAN_STATE_OFFLINE;
        remaining = timeLeft.Get() - RecheckPause;
    }
    if (remaining < RecheckPause) {
        QLIB_TRACE(function, L"Not enough time to recheck for jlaunch.exe.");
        *state = TOLLAN_STATE_OFFLINE;
        *outcome = Recheck::OutOfTime;
    }
    return QLibOk();
}

QLibStatus CTollan::RecheckJcontrol(const CTollanAttrib& attrib, CTollanTimeLeft& timeLeft, uint32_t* state)
{
    const char* function = ResourceFunction;
    int64_t remaining = timeLeft.Get();
    while (remaining > JcontrolRecheckNeeds && operation == TOLLAN_OP_MONITOR) {
        QLIB_TRACE(function, L"Sleeping for [5]secs before rechecking for jcontrol.exe.");
        Sleep(static_cast<DWORD>(RecheckPause));
        uint32_t arch = TOLLAN_ARCH_ADDIN;
        QLibStatus status = CheckProcesses(attrib, &arch);
        if (status.IsFailed())
            return status;
        if (OnlineAs(TOLLAN_ARCH_ADDIN)) {
            *state = TOLLAN_STATE_ONLINE;
            return status;
        }
        if (dispWorkRunning && jcontrolRunning) {
            QLIB_TRACE(function, NoJlaunch);
            Recheck outcome = Recheck::Exhausted;
            status = RecheckJlaunch(attrib, TOLLAN_ARCH_ADDIN, timeLeft, state, &outcome);
            if (status.IsFailed() || outcome != Recheck::Exhausted)
                return status;
        } else {
            QLIB_TRACE(function, CriticalDown);
            *state = TOLLAN_STATE_OFFLINE;
        }
        remaining = timeLeft.Get() - RecheckPause;
    }
    if (remaining < RecheckPause) {
        QLIB_TRACE(function, L"Not enough time to recheck for jcontrol.exe.");
        *state = TOLLAN_STATE_OFFLINE;
    }
    return QLibOk();
}

QLibStatus CTollan::GetResourceState(const CTollanAttrib& attrib, uint32_t* state, int64_t timeLeft)
{
    ClearFlags();
    CTollanTimeLeft left(timeLeft);
    uint32_t arch = TOLLAN_ARCH_NONE;
    QLibStatus status = CheckProcesses(attrib, &arch);
    if (status.IsFailed())
        return status;

    bool onlineOrOffline = operation == TOLLAN_OP_ONLINE || operation == TOLLAN_OP_OFFLINE;
    ProcessCheck found;
    found.dispWork = dispWorkRunning != 0;
    found.jcontrol = jcontrolRunning != 0;
    found.jlaunch = jlaunchRunning != 0;
    found.enrepserver = enrepserverRunning != 0;
    found.all = m_AllNamesRunning;
    found.partial = !found.all && otherProcessRunning && onlineOrOffline;
    found.onlineAs = OnlineAs(arch);
    Recheck outcome = Recheck::Exhausted;
    switch (DecideByArchitecture(arch, attrib.GetInstType(), found)) {
    case Verdict::Online:
        *state = TOLLAN_STATE_ONLINE;
        break;
    case Verdict::Unknown:
        *state = TOLLAN_STATE_UNKNOWN;
        break;
    case Verdict::Offline:
        *state = TOLLAN_STATE_OFFLINE;
        break;
    case Verdict::OnlineOrOfflineUnknown:
        *state = onlineOrOffline ? TOLLAN_STATE_UNKNOWN : TOLLAN_STATE_OFFLINE;
        break;
    case Verdict::RecheckJlaunch:
        return RecheckJlaunch(attrib, arch, left, state, &outcome);
    case Verdict::RecheckJcontrol:
        return RecheckJcontrol(attrib, left, state);
    case Verdict::Untouched:
        break;
    }
    return status;
}

QLibStatus CTollan::_FirstLevelMonitor(const CTollanAttrib& attrib, uint32_t* state, int64_t timeLeft)
{
    const char* function = "CTollan::_FirstLevelMonitor";
    // A failed process check leaves the caller's state; the service still tells something.
    (void)GetResourceState(attrib, state, timeLeft);
    std::wstring service = TollanServiceName(attrib);
    QLIB_TRACE(function, L"Going to check the status of the SAP Service [%s].", service.c_str());
    uint32_t running = 0;
    QLibStatus status = CTollanUtil::IsServiceRunning(service, &running);
    if (status.IsFailed()) {
        QLIB_TRACE_FAILED(function, L"CTollanUtil::IsServiceRunning", status);
        QLIB_TRACE(function, L"Failed to get the status of SAP Service [%s].", service.c_str());
        return status;
    }
    if (running) {
        QLIB_TRACE(function, L"The SAP Service [%s] is Running.", service.c_str());
    } else if (*state == TOLLAN_STATE_ONLINE) {
        TOLLAN_TRACE_MSG(TARNAG_SEV_FAILURE, function, Source, 10135, L"The SAP Service [%s] is NOT Running.",
                         service.c_str());
        *state = TOLLAN_STATE_OFFLINE;
    } else {
        QLIB_TRACE(function, L"The SAP Service [%s] is NOT Running.", service.c_str());
    }
    return status;
}
