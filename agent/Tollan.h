#pragma once
// The instance operations on one SAP instance, built fresh by each entry point: the process-level state,
// kill, clean and offline, the SAP log record and its time of day.

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "LibStatus.h"
#include "TollanAttrib.h"
#include "TollanTimeLeft.h"

// The framework's resource states.
enum CTollanState : uint32_t {
    TOLLAN_STATE_OFFLINE = 0,
    TOLLAN_STATE_ONLINE = 1,
    TOLLAN_STATE_UNKNOWN = 2,
};

// The operation in progress, as the process check reads it.
enum CTollanOperation : uint32_t {
    TOLLAN_OP_NONE = 0,
    TOLLAN_OP_ONLINE = 1,
    TOLLAN_OP_OFFLINE = 2,
    TOLLAN_OP_MONITOR = 3,
    TOLLAN_OP_CLEAN = 4,
};

class CTollan {
public:
    // Which of the instance's processes run: one walk of the process list. Fails when the list cannot be
    // opened or walked to its end.
    QLibStatus GetProcessState(const CTollanAttrib& attrib, uint64_t* procCount, uint64_t* procmonCount,
                               uint32_t* architecture);
    // The resource state the processes give; writes *state only where a rule decides. timeLeft: signed
    // milliseconds left for re-checks of Java processes that start late (Monitor only).
    QLibStatus GetResourceState(const CTollanAttrib& attrib, uint32_t* state, int64_t timeLeft);
    // The process state, then the SAP service: a stopped service makes an online instance offline.
    QLibStatus _FirstLevelMonitor(const CTollanAttrib& attrib, uint32_t* state, int64_t timeLeft);

    // Monitor's three levels: processes and service every cycle, SAP's tools in the cycles the counter picks,
    // the administrator's MonitorProgram whenever it names a program. *state: 1 online, 0 offline, 2 unknown.
    QLibStatus Monitor(CTollanAttrib& attrib, uint32_t* state);
    // Level 2: SAP's tools by the instance's architecture; writes *state only where a tool or a check decides.
    QLibStatus _SecondLevelMonitor(const CTollanAttrib& attrib, uint32_t* state, int64_t timeLeft);
    // Level 3: the MonitorProgram's exit code; nothing when it names no program.
    QLibStatus _ThirdLevelMonitor(const CTollanAttrib& attrib, uint32_t* state, int64_t timeLeft);
    // A tool's exit code as a resource state, with its messages; always success.
    static QLibStatus _InterpretSapinfoExitCode(uint32_t exitCode, uint32_t* state, const std::wstring& instType);
    static QLibStatus _InterpretEnsmonExitCode(uint32_t exitCode, uint32_t* state, const std::wstring& instType);

    // Ends every process of the instance: those a ProcMon name leads to during the walk, then those of the
    // instance's accounts that no name matched. *failed is 1 when Kill fails, whatever the reason: a process
    // left running, a process list that could not be opened or walked. Processes are ended through the
    // handles opened when they were matched.
    QLibStatus Kill(const CTollanAttrib& attrib, int64_t timeLeft, uint32_t* failed);
    // SAP's kill tool, a wait for the processes to go, the service's stop and a kill of what is left, then
    // the log record. *failed as Kill gives it; a failed Kill is also the result. The framework's clean reason
    // plays no part.
    QLibStatus Clean(const CTollanAttrib& attrib, uint32_t reason, uint32_t* failed);
    // The stop command, the service's stop and a kill of what is left, then the log record. *result stays 0.
    QLibStatus Offline(const CTollanAttrib& attrib, uint32_t* result);
    // Leftovers killed, the service and the start command run, the counter reset, then SAP's own check until
    // the instance answers or the budget is spent. Fails only when the process check or the start fails.
    QLibStatus Online(CTollanAttrib& attrib);

    // The record of the action (1 online, 2 offline, 3 monitor, 4 clean) for the instance the attributes name.
    static QLibStatus _LogSAP(const CTollanAttrib& attrib, uint32_t action);
    // Appends the action's record to the instance's SAP log file. Always success: the calling operation
    // never fails for its log record; a file that cannot be written is reported through message 10187.
    static QLibStatus _LogSAP(const std::wstring& sapHome, const std::wstring& sapSid, const std::wstring& instName,
                              uint32_t action);
    // Milliseconds of the time of day (since 1601, UTC). It jumps when the clock is set, so no budget is
    // counted on it: CTollanTimeLeft counts on a clock that only moves forward.
    static uint64_t _GetCurrentTimeMs();
    // "DD-Mon-YYYY hh:mm:ss" in UTC.
    static std::wstring _GetDateTimeString();
    // The month's English three-letter name, "???" outside 1 to 12.
    static void _GetMonthName(uint32_t month, wchar_t name[4]);

    // jcmon's word on the Java part of the instance: online when its dispatcher and a J2EE server run.
    // The state (1 online, 0 offline, 2 unknown) is written only once jcmon has ended and its output was
    // judged; a run that outlasts timeLimit (signed milliseconds) is ended and reported as type 7, code 258.
    static QLibStatus _RunJcmonMonitorCheck(const CTollanAttrib& attrib, uint32_t* state, int64_t timeLimit);

    uint8_t dispWorkRunning = 0;
    uint8_t jcontrolRunning = 0;
    uint8_t jlaunchRunning = 0;
    uint8_t msgServerRunning = 0;
    uint8_t enserverRunning = 0;
    uint8_t enrepserverRunning = 0;
    uint8_t otherProcessRunning = 0;
    uint32_t operation = TOLLAN_OP_NONE;

private:
    enum class Recheck { Online, OutOfTime, Exhausted };

    void ClearFlags();
    // The last process check found a process of the instance, counted or not.
    bool AnyProcessRunning() const;
    // The last process check found a process of the instance that a ProcMon name matched.
    bool NamedProcessRunning() const { return m_NamedRunning; }
    QLibStatus CheckProcesses(const CTollanAttrib& attrib, uint32_t* architecture);
    // A process that the ProcMon name matched: its flag set and the name noted as seen; 1 when it counts, else 0.
    uint64_t CountMatch(const std::wstring& name, bool viaInstName, std::set<std::wstring>& seen);
    bool OnlineAs(uint32_t architecture) const;
    QLibStatus RecheckJlaunch(const CTollanAttrib& attrib, uint32_t architecture, CTollanTimeLeft& timeLeft,
                              uint32_t* state, Recheck* outcome);
    // No process of the instance that a ProcMon name matches runs any more, within the time left. Others of its
    // accounts (the SAP service's own program) go with the service and the kill.
    bool WaitForInstanceEnd(const CTollanAttrib& attrib, const std::wstring& command, CTollanTimeLeft& timeLeft);
    QLibStatus RecheckJcontrol(const CTollanAttrib& attrib, CTollanTimeLeft& timeLeft, uint32_t* state);
    // SAP's kill tool run as the administrator; once it has run, the wait for the instance's processes to go.
    void ShutdownGracefully(const CTollanAttrib& attrib, const std::wstring& directory, const std::wstring& command,
                            CTollanTimeLeft& timeLeft);

    // Every distinct name of the working ProcMon list was matched by a process in the last check.
    bool m_AllNamesRunning = false;
    // A process that a ProcMon name matched ran in the last check.
    bool m_NamedRunning = false;
};

// The ProcMon list an operation works with: for Java and Add-In instances with "JLAUNCH.EXE" added.
std::vector<std::wstring> TollanWorkingProcMon(const char* function, const CTollanAttrib& attrib,
                                               uint32_t* architecture);

// The instance's Windows service: "SAP" + SID + "_" + instance number.
std::wstring TollanServiceName(const CTollanAttrib& attrib);

// What an operation says of its stop of the SAP service.
struct CTollanServiceStopTexts {
    const wchar_t* stopTrace; // with the service's name
    const wchar_t* failed; // the failed step's name in the failure trace
    uint32_t timedOutId;
    uint32_t stoppedId;
    const wchar_t* stopped; // with the service's name
};

// Stops the instance's service within the time left; a failure is only reported.
void TollanStopService(const char* function, const CTollanAttrib& attrib, int64_t timeLeft,
                       const CTollanServiceStopTexts& texts);
