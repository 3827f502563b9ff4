#pragma once
// The attributes of one resource of type Tollan for one entry-point call: read from the framework's
// argument list, normalised, validated for the entry point, and the entry point's timeout. Also the
// second-level-monitor counter, kept between calls in the framework's cookie store.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "LibStatus.h"
#include "TarnAgfw.h"
#include "TollanTimeLeft.h"

// The entry points' kinds, as Parse and the checks take them.
enum CTollanEntryKind : uint32_t {
    TOLLAN_EP_ONLINE = 1,
    TOLLAN_EP_OFFLINE = 2,
    TOLLAN_EP_CLEAN = 4,
    TOLLAN_EP_MONITOR = 5,
};

// The administrator's clear password; wiped when it goes, never copied.
class CTollanPassword {
public:
    CTollanPassword();
    CTollanPassword(const wchar_t* text, size_t length);
    ~CTollanPassword();
    CTollanPassword(const CTollanPassword&) = delete;
    CTollanPassword& operator=(const CTollanPassword&) = delete;

    const wchar_t* c_str() const { return m_Text.data(); }
    bool empty() const { return m_Text.size() <= 1; }

private:
    std::vector<wchar_t> m_Text; // terminated
};

// The program a MonitorProgram names: a quoted path without its quotes (an empty one names a program that does
// not exist), else the text up to the first blank or tab. None when the value holds only blanks and tabs.
std::optional<std::wstring> TollanProgramOf(const std::wstring& command);
// 'A'-'Z' and 'a'-'z' trade case; every other character stays.
char SwapCaseChar(char c);
// At most size - 1 characters and a terminator (when size is non-zero); the source's whole length.
size_t CopyBounded(char* destination, const char* source, size_t size);

class CTollanAttrib {
public:
    // The work buffers of the password, in bytes and in characters.
    static constexpr size_t PasswordBufferSize = 4096;

    CTollanAttrib() = default;

    QLibStatus Parse(uint32_t kind, const char* resourceName, TarnAgArgs* args, uint8_t validate);
    void LogArgs() const;
    QLibStatus GetSLMCounter(uint32_t* counter, const std::wstring& resourceName, uint8_t release);
    QLibStatus SetSLMCounter(uint32_t counter, const std::wstring& resourceName);
    // Empty when the configured value is not a valid enciphered password.
    CTollanPassword GetSAPAdminPassword() const;

    std::wstring GetResourceName() const { return m_ResourceName; }
    const std::wstring& GetSAPSID() const { return m_SAPSID; }
    const std::wstring& GetSAPHome() const { return m_SAPHome; }
    const std::wstring& GetSAPMonHome() const { return m_SAPMonHome; }
    const std::wstring& GetSAPHost() const { return m_SAPHost; }
    const std::wstring& GetSAPServiceUser() const { return m_SAPServiceUser; }
    const std::wstring& GetSAPAdminDomain() const { return m_SAPAdminDomain; }
    const std::wstring& GetSAPAdmin() const { return m_SAPAdmin; }
    const std::wstring& GetResLogLevel() const { return m_ResLogLevel; }
    const std::wstring& GetInstType() const { return m_InstType; }
    const std::wstring& GetInstName() const { return m_InstName; }
    const std::wstring& GetInstProfile() const { return m_InstProfile; }
    const std::wstring& GetEnqSrvResName() const { return m_EnqSrvResName; }
    const std::wstring& GetMonitorProgram() const { return m_MonitorProgram; }
    int32_t GetSecondLevelMonitor() const { return m_SecondLevelMonitor; }
    int32_t GetEPProgramTimeout() const { return m_EPProgramTimeout; }
    const std::vector<std::wstring>& GetProcMon() const { return m_ProcMon; }
    uint32_t GetTimeout() const { return m_Timeout; }
    std::wstring GetInstNumber() const;
    // Milliseconds the entry point's programs may take: (timeout - EPProgramTimeout) x 1000, never below 0.
    int64_t GetTimeBudget() const;
    // The entry point call's time left: its budget, counted from when the call made its attributes. Validation
    // and the operation after it draw on this one budget, as the framework's timeout counts from the call.
    CTollanTimeLeft GetTimeLeft() const { return CTollanTimeLeft(m_CallStart, GetTimeBudget()); }

protected:
    virtual QLibStatus _CheckArgs(int32_t kind);
    virtual QLibStatus _FindTimeout(uint32_t* timeout, uint32_t kind);
    // In place on a terminated buffer of PasswordBufferSize bytes: 0, or -2 for a value that is no password.
    virtual int32_t _Decrypt(char* text) const;

private:
    class ArgReader;
    // The entry point's timeout in seconds (the module-wide value of its kind, 600 for an unknown kind).
    static uint32_t TimeoutOf(uint32_t kind);
    // (timeout - EPProgramTimeout) x 1000 milliseconds, never below 0.
    static int64_t BudgetOf(uint32_t timeout, int32_t epProgramTimeout);
    // What is left of the entry point's budget for the account checks.
    int64_t CheckTimeLeft() const;
    bool ReadArgs(ArgReader& args);
    void Normalise();

    // Validation, one attribute each, in the order _CheckArgs runs them.
    QLibStatus CheckSAPSID();
    QLibStatus CheckSecondLevelMonitor();
    QLibStatus CheckEPProgramTimeout();
    QLibStatus CheckSAPHomeDirectory();
    QLibStatus CheckSAPHomeNull();
    QLibStatus CheckSAPHost();
    QLibStatus CheckInstType();
    QLibStatus CheckProcMon();
    QLibStatus CheckSAPMonHome();
    QLibStatus CheckSAPServiceUser();
    QLibStatus CheckSAPAdminDomain();
    QLibStatus CheckSAPAdmin();
    QLibStatus CheckResLogLevel();
    QLibStatus CheckInstName();
    QLibStatus CheckInstProfile();
    QLibStatus CheckEnqSrvResName();
    QLibStatus CheckMonitorProgram();

    std::wstring m_ResourceName;
    std::wstring m_SAPSID;
    std::wstring m_SAPHome;
    std::wstring m_SAPMonHome;
    std::wstring m_SAPHost;
    std::wstring m_SAPServiceUser;
    std::wstring m_SAPAdminDomain;
    std::wstring m_SAPAdmin;
    std::wstring m_SAPAdminPassword;
    std::wstring m_ResLogLevel;
    std::wstring m_InstType;
    std::wstring m_InstName;
    std::wstring m_InstProfile;
    std::wstring m_EnqSrvResName;
    std::wstring m_MonitorProgram;
    int32_t m_SecondLevelMonitor = 0;
    int32_t m_EPProgramTimeout = 0;
    std::vector<std::wstring> m_ProcMon;
    uint32_t m_Timeout = 0;
    // When the entry point's call began: its attributes are the first thing it makes.
    uint64_t m_CallStart = CTollanTimeLeft::Now();
    // The call's time left for validation, which runs before the call's timeout is found.
    CTollanTimeLeft m_CheckTime{m_CallStart, 0};
};
