#pragma once
// The instance operations on one SAP instance, built fresh by each entry point; here the SAP log record
// and the clock that every operation's time budget is counted on.

#include <cstdint>
#include <string>

#include "LibStatus.h"

class CTollanAttrib;

class CTollan {
public:
    // The record of the action (1 online, 2 offline, 3 monitor, 4 clean) for the instance the attributes name.
    static QLibStatus _LogSAP(const CTollanAttrib& attrib, uint32_t action);
    // Appends the action's record to the instance's SAP log file. Always success: the calling operation
    // never fails for its log record; a file that cannot be written is reported through message 10187.
    static QLibStatus _LogSAP(const std::wstring& sapHome, const std::wstring& sapSid, const std::wstring& instName,
                              uint32_t action);
    // Milliseconds of the system clock (since 1601, UTC).
    static uint64_t _GetCurrentTimeMs();
    // The budget less the time since start, never more than the budget, even when the clock was set back.
    static int64_t _GetTimeLeft(uint64_t start, int64_t budget);
    // "DD-Mon-YYYY hh:mm:ss" in UTC.
    static std::wstring _GetDateTimeString();
    // The month's English three-letter name, "???" outside 1 to 12.
    static void _GetMonthName(uint32_t month, wchar_t name[4]);

    // jcmon's word on the Java part of the instance: online when its dispatcher and a J2EE server run.
    // The state (1 online, 0 offline, 2 unknown) is written only once jcmon has ended and its output was
    // judged; a run that outlasts timeLimit (signed milliseconds) is ended and reported as type 7, code 258.
    static QLibStatus _RunJcmonMonitorCheck(const CTollanAttrib& attrib, uint32_t* state, int64_t timeLimit);
};
