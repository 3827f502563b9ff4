// Validation of the attributes for the calling entry point: a fixed sequence of checks that stops at
// the first failure. Every message passes its format and inserts apart (values may hold %).

#include <cwchar>

#include "Tollan.h"
#include "TollanAttrib.h"
#include "TollanLog.h"
#include "TollanUtil.h"

namespace {

const char CheckFn[] = "CTollanAttrib::_CheckArgs";
const char Source[] = "TollanAttrib";

#define CHECK_TRACE(...) QLIB_TRACE(CheckFn, __VA_ARGS__)
#define CHECK_MSG(id, ...) TOLLAN_MSG(TARNAG_SEV_FAILURE, CheckFn, Source, id, __VA_ARGS__)
#define CHECK_TRACE_MSG(id, ...) TOLLAN_TRACE_MSG(TARNAG_SEV_FAILURE, CheckFn, Source, id, __VA_ARGS__)
#define TYPE_CODE(status) (status).GetType(), (status).GetCode()

// The value itself is wrong.
QLibStatus InvalidValue()
{
    return QLibWin32Failure(ERROR_BAD_ARGUMENTS);
}

// The message's own text (its wording differs from one value to the next) takes the value.
QLibStatus NotNegative(const wchar_t* name, int32_t value, uint32_t id, const wchar_t* message)
{
    if (value >= 0) {
        CHECK_TRACE(L"%s [%d] is a valid value.", name, value);
        return QLibOk();
    }
    QLibStatus status = InvalidValue();
    CHECK_TRACE(L"%s [%d] is negative [%d, 0x%.08X].", name, value, TYPE_CODE(status));
    CHECK_MSG(id, message, value);
    return status;
}

QLibStatus Empty(uint32_t id, const wchar_t* text)
{
    QLibStatus status = InvalidValue();
    TOLLAN_FAILED_MSG(CheckFn, Source, id, text, status);
    return status;
}

// How a check reports a utility's answer about a value. Every format takes the value first; the
// rejection trace and the optional trace after a failed call end with the status's type and code.
struct Verdict {
    const wchar_t* callLabel;
    const wchar_t* callTrace;
    uint32_t callId;
    const wchar_t* callMessage;
    const wchar_t* rejectTrace;
    uint32_t rejectId;
    const wchar_t* rejectMessage;
    bool rejectMessageFirst;
    const wchar_t* acceptTrace;
};

QLibStatus Judge(const QLibStatus& call, bool accepted, const wchar_t* value, const Verdict& verdict)
{
    if (call.IsFailed()) {
        QLIB_TRACE_FAILED(CheckFn, verdict.callLabel, call);
        if (verdict.callTrace != nullptr)
            CHECK_TRACE(verdict.callTrace, value, TYPE_CODE(call));
        CHECK_MSG(verdict.callId, verdict.callMessage, value);
        return call;
    }
    if (accepted) {
        CHECK_TRACE(verdict.acceptTrace, value);
        return QLibOk();
    }
    QLibStatus status = InvalidValue();
    if (verdict.rejectMessageFirst)
        CHECK_MSG(verdict.rejectId, verdict.rejectMessage, value);
    CHECK_TRACE(verdict.rejectTrace, value, TYPE_CODE(status));
    if (!verdict.rejectMessageFirst)
        CHECK_MSG(verdict.rejectId, verdict.rejectMessage, value);
    return status;
}

bool IsAsciiUpper(wchar_t c)
{
    return c >= L'A' && c <= L'Z';
}

bool IsAsciiDigit(wchar_t c)
{
    return c >= L'0' && c <= L'9';
}

const wchar_t* const InstTypes[] = {L"CENTRAL",  L"DIALOG",  L"ENQUEUE",  L"ENQREP",
                                    L"AENQUEUE", L"AENQREP", L"JENQUEUE", L"JENQREP"};

bool IsOneOf(const std::wstring& value, std::initializer_list<const wchar_t*> names)
{
    for (const wchar_t* name : names)
        if (value == name)
            return true;
    return false;
}

// The processes each instance type may monitor, and the message for any other.
struct ProcMonRule {
    std::initializer_list<const wchar_t*> types;
    std::initializer_list<const wchar_t*> names;
    uint32_t msgId;
};

const ProcMonRule* FindProcMonRule(const std::wstring& instType)
{
    static const ProcMonRule rules[] = {
        {{L"CENTRAL"}, {L"disp+work.exe", L"jcontrol.exe", L"msg_server.exe"}, 10031},
        {{L"DIALOG"}, {L"disp+work.exe", L"jcontrol.exe"}, 10032},
        {{L"ENQUEUE", L"AENQUEUE", L"JENQUEUE"}, {L"msg_server.exe", L"enserver.exe"}, 10033},
        {{L"ENQREP", L"AENQREP", L"JENQREP"}, {L"enrepserver.exe"}, 10034},
    };
    for (const ProcMonRule& rule : rules)
        if (IsOneOf(instType, rule.types))
            return &rule;
    return nullptr;
}

bool Allows(const ProcMonRule& rule, const std::wstring& name)
{
    for (const wchar_t* allowed : rule.names)
        if (_wcsicmp(allowed, name.c_str()) == 0)
            return true;
    return false;
}

constexpr uint32_t KindBit(int32_t kind)
{
    return 1u << kind;
}
constexpr uint32_t Online = KindBit(TOLLAN_EP_ONLINE);
constexpr uint32_t Offline = KindBit(TOLLAN_EP_OFFLINE);
constexpr uint32_t Clean = KindBit(TOLLAN_EP_CLEAN);
constexpr uint32_t Monitor = KindBit(TOLLAN_EP_MONITOR);
constexpr uint32_t Every = Online | Offline | Clean | Monitor;

} // namespace

// The program a MonitorProgram names: a quoted path without its quotes (an empty one names a program that does
// not exist), else the text up to the first blank or tab. None when the value holds only blanks and tabs.
std::optional<std::wstring> TollanProgramOf(const std::wstring& command)
{
    size_t start = command.find_first_not_of(L" \t");
    if (start == std::wstring::npos)
        return std::nullopt;
    if (command[start] == L'"') {
        size_t close = command.find(L'"', start + 1);
        return command.substr(start + 1, close == std::wstring::npos ? std::wstring::npos : close - start - 1);
    }
    size_t end = command.find_first_of(L" \t", start);
    return command.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
}

QLibStatus CTollanAttrib::_CheckArgs(int32_t kind)
{
    using Check = QLibStatus (CTollanAttrib::*)();
    static const struct {
        uint32_t kinds;
        Check check;
    } checks[] = {
        {Every, &CTollanAttrib::CheckSAPSID},
        {Online, &CTollanAttrib::CheckSecondLevelMonitor},
        {Every, &CTollanAttrib::CheckEPProgramTimeout},
        {Online | Offline, &CTollanAttrib::CheckSAPHomeDirectory},
        {Monitor, &CTollanAttrib::CheckSAPHomeNull},
        {Online | Offline, &CTollanAttrib::CheckSAPHost},
        {Online | Monitor, &CTollanAttrib::CheckInstType},
        {Online | Monitor, &CTollanAttrib::CheckProcMon},
        {Online, &CTollanAttrib::CheckSAPMonHome},
        {Online | Clean | Monitor, &CTollanAttrib::CheckSAPServiceUser},
        {Online | Offline | Monitor, &CTollanAttrib::CheckSAPAdminDomain},
        {Every, &CTollanAttrib::CheckSAPAdmin},
        {Online, &CTollanAttrib::CheckResLogLevel},
        {Every, &CTollanAttrib::CheckInstName},
        {Online, &CTollanAttrib::CheckInstProfile},
        {Online, &CTollanAttrib::CheckEnqSrvResName},
        {Online, &CTollanAttrib::CheckMonitorProgram},
    };
    // The directory lookups of the checks may take no longer than the entry point has left.
    m_CheckTime = CTollanTimeLeft(m_CallStart, BudgetOf(TimeoutOf(static_cast<uint32_t>(kind)), m_EPProgramTimeout));
    uint32_t bit = kind >= 0 && kind < 32 ? KindBit(kind) : 0;
    for (const auto& entry : checks) {
        if ((entry.kinds & bit) == 0)
            continue;
        QLibStatus status = (this->*entry.check)();
        if (status.IsFailed())
            return status;
    }
    return QLibOk();
}

int64_t CTollanAttrib::CheckTimeLeft() const
{
    return m_CheckTime.Get();
}

QLibStatus CTollanAttrib::CheckSAPSID()
{
    const wchar_t* sid = m_SAPSID.c_str();
    if (m_SAPSID.empty())
        return Empty(10015, L"SAPSID is empty.");
    bool valid = true;
    if (m_SAPSID.size() < 3) {
        CHECK_TRACE_MSG(10016, L"SAPSID [%s] is less than three characters.", sid);
        valid = false;
    } else if (m_SAPSID.size() > 3) {
        CHECK_TRACE_MSG(10017, L"SAPSID [%s] is more than three characters.", sid);
        valid = false;
    } else {
        // ASCII only: the SID becomes part of 8-bit paths, service names and the SAP log.
        if (!IsAsciiUpper(sid[0])) {
            CHECK_TRACE(L"The first letter in SAPSID [%s] is either not an alphabet or not an UPPER case character.",
                        sid);
            valid = false;
        }
        for (int i = 1; i < 3; ++i) {
            if (!IsAsciiUpper(sid[i]) && !IsAsciiDigit(sid[i])) {
                CHECK_TRACE(L"Invalid characters exist in SAPSID [%s].", sid);
                valid = false;
            }
        }
    }
    if (valid) {
        CHECK_TRACE(L"SAPSID [%s] is validated successfully.", sid);
        return QLibOk();
    }
    CHECK_TRACE_MSG(10018, L"SAPSID [%s] is NOT valid.", sid);
    return InvalidValue();
}

QLibStatus CTollanAttrib::CheckSecondLevelMonitor()
{
    return NotNegative(L"SecondLevelMonitor", m_SecondLevelMonitor, 10019, L"SecondLevelMonitor [%d] is negative.");
}

QLibStatus CTollanAttrib::CheckEPProgramTimeout()
{
    return NotNegative(L"EPProgramTimeout", m_EPProgramTimeout, 10020, L"EPProgramTimeout is negative [%d].");
}

QLibStatus CTollanAttrib::CheckSAPHomeDirectory()
{
    if (m_SAPHome.empty())
        return Empty(10021, L"SAPHome is empty.");
    uint8_t isDirectory = 0;
    QLibStatus status = CTollanUtil::IsDirectory(m_SAPHome, &isDirectory);
    return Judge(status, isDirectory != 0, m_SAPHome.c_str(),
                 {L"CTollanUtil::DoesExistDir.", nullptr, 10024, L"SAPHome [%s] does NOT exist.",
                  L"SAPHome [%s] does NOT exist [%d, 0x%.08X].", 10025, L"SAPHome [%s] does NOT exist.", false,
                  L"SAPHome [%s] is a valid directory."});
}

QLibStatus CTollanAttrib::CheckSAPHomeNull()
{
    if (m_SAPHome.empty())
        return Empty(10021, L"SAPHome is empty.");
    uint8_t isNull = 0;
    QLibStatus status = CTollanUtil::IsNull(m_SAPHome, &isNull);
    return Judge(status, isNull == 0, m_SAPHome.c_str(),
                 {L"CTollanUtil::DoesExistDir.", nullptr, 10022, L"SAPHome [%s] is NULL.",
                  L"SAPHome [%s] is NULL [%d, 0x%.08X].", 10023, L"SAPHome [%s] is NULL.", false,
                  L"SAPHome [%s] is NOT null."});
}

QLibStatus CTollanAttrib::CheckSAPHost()
{
    if (m_SAPHost.empty())
        return Empty(10026, L"SAPHost is empty.");
    uint8_t valid = 0;
    QLibStatus status = CTollanUtil::IsValidHostName(m_SAPHost, &valid);
    return Judge(status, valid != 0, m_SAPHost.c_str(),
                 {L"CTollanUtil::IsValidHostName", nullptr, 10027, L"SAPHost [%s] is NOT a valid hostname.",
                  L"SAPHost [%s] is NOT a valid hostname [%d, 0x%.08X].", 10028,
                  L"SAPHost [%s] is NOT a valid hostname.", false, L"SAPHost [%s] is a valid hostname."});
}

QLibStatus CTollanAttrib::CheckInstType()
{
    const wchar_t* type = m_InstType.c_str();
    if (m_InstType.empty())
        return Empty(10029, L"InstType is NULL.");
    for (const wchar_t* known : InstTypes) {
        if (m_InstType == known) {
            CHECK_TRACE(L"InstType [%s] is a valid SAP Instance Type.", type);
            return QLibOk();
        }
    }
    QLibStatus status = InvalidValue();
    CHECK_TRACE(L"InstType [%s] is invalid [%d, 0x%.08X].", type, TYPE_CODE(status));
    CHECK_MSG(10030, L"InstType [%s] is invalid.", type);
    return status;
}

QLibStatus CTollanAttrib::CheckProcMon()
{
    const wchar_t* type = m_InstType.c_str();
    const ProcMonRule* rule = FindProcMonRule(m_InstType);
    for (const std::wstring& name : m_ProcMon) {
        CHECK_TRACE(L"Got [%s] from ProcMon list.", name.c_str());
        if (rule == nullptr) {
            QLibStatus status = InvalidValue();
            CHECK_TRACE(L"InstType [%s] is invalid [%d, 0x%.08X].", type, TYPE_CODE(status));
            CHECK_MSG(10035, L"InstType [%s] is invalid.", type);
            return status;
        }
        if (!Allows(*rule, name)) {
            CHECK_TRACE_MSG(rule->msgId, L"Invalid process name in the ProcMon list [%s] for InstType [%s].",
                            name.c_str(), type);
            return InvalidValue();
        }
    }
    CHECK_TRACE(L"All the processes listed in the ProcMon are valid for the SAP Instance Type [%s].", type);
    return QLibOk();
}

QLibStatus CTollanAttrib::CheckSAPMonHome()
{
    if (m_SAPMonHome.empty())
        return Empty(10036, L"SAPMonHome is empty.");
    uint8_t isDirectory = 0;
    QLibStatus status = CTollanUtil::IsDirectory(m_SAPMonHome, &isDirectory);
    return Judge(status, isDirectory != 0, m_SAPMonHome.c_str(),
                 {L"CTollanUtil::DoesExistDir", nullptr, 10037, L"SAPMonHome [%s] does NOT exist.",
                  L"SAPMonHome [%s] does NOT exist [%d, 0x%.08X].", 10038, L"SAPMonHome [%s] does NOT exist.", true,
                  L"SAPMonHome [%s] is a valid directory."});
}

QLibStatus CTollanAttrib::CheckSAPServiceUser()
{
    if (m_SAPServiceUser.empty()) {
        QLibStatus status = InvalidValue();
        QLIB_TRACE_FAILED(CheckFn, L"SAPServiceUser is NULL.", status);
        CHECK_MSG(10039, L"%s", L"SAPSeviceUser is NULL.");
        return status;
    }
    uint8_t exists = 0;
    QLibStatus status = CTollanUtil::DoesExistUser(m_SAPServiceUser, m_SAPAdminDomain, &exists, CheckTimeLeft());
    return Judge(status, exists != 0, m_SAPServiceUser.c_str(),
                 {L"CTollanUtil::DoesExistUser", L"SAPServiceUser [%s] does NOT exist [%d, 0x%.08X].", 10040,
                  L"SAPServiceUser [%s] does NOT exist.", L"SAPServiceUser [%s] does NOT exist [%d, 0x%.08X].", 10041,
                  L"SAPServiceUser [%s] does NOT exist.", true, L"User SAPServiceUser [%s] exist."});
}

QLibStatus CTollanAttrib::CheckSAPAdminDomain()
{
    const wchar_t* domain = m_SAPAdminDomain.c_str();
    if (m_SAPAdminDomain.empty()) {
        CHECK_TRACE(L"SAPAdminDomain [%s] is null. Treating the user as local system user.", domain);
        TOLLAN_MSG(TARNAG_SEV_NOTICE, CheckFn, Source, 10042,
                   L"SAPAdminDomain [%s] is null. Treating the User as local system User.", domain);
        return QLibOk();
    }
    uint8_t valid = 0;
    QLibStatus status = CTollanUtil::IsValidDomainName(m_SAPAdminDomain, &valid);
    return Judge(status, valid != 0, domain,
                 {L"CTollanUtil::IsValidDomainName()", L"SAPAdminDomain [%s] is NOT a valid domain name [%d, 0x%.08X].",
                  10043, L"SAPAdminDomain [%s] is NOT a valid domainname.",
                  L"SAPAdminDomain [%s] is NOT a valid domainname [%d, 0x%.08X].", 10044,
                  L"SAPAdminDomain [%s] is NOT a valid domainname.", false,
                  L"SAPAdminDomain [%s] is a valid domainname."});
}

QLibStatus CTollanAttrib::CheckSAPAdmin()
{
    if (m_SAPAdmin.empty())
        return Empty(10045, L"SAPAdmin is NULL.");
    uint8_t exists = 0;
    QLibStatus status = CTollanUtil::DoesExistUser(m_SAPAdmin, m_SAPAdminDomain, &exists, CheckTimeLeft());
    return Judge(status, exists != 0, m_SAPAdmin.c_str(),
                 {L"CTollanUtil::DoesExistUser()", L"SAPAdmin [%s] does NOT exist [%d, 0x%.08X].", 10046,
                  L"SAPAdmin [%s] does NOT exist.", L"SAPAdmin [%s] does NOT exist [%d, 0x%.08X].", 10047,
                  L"SAPAdmin [%s] does NOT exist.", false, L"User SAPAdmin [%s] exist."});
}

QLibStatus CTollanAttrib::CheckResLogLevel()
{
    if (IsOneOf(m_ResLogLevel, {L"INFO", L"TRACE", L"TRACETRACE"}))
        return QLibOk();
    // A wrong level is repaired, not fatal.
    QLibStatus status = InvalidValue();
    CHECK_TRACE(L"ResLogLevel [%s] is invalid [%d, 0x%.08X].", m_ResLogLevel.c_str(), TYPE_CODE(status));
    TOLLAN_MSG(TARNAG_SEV_WARNING, CheckFn, Source, 10048, L"ResLogLevel [%s] is invalid.", m_ResLogLevel.c_str());
    m_ResLogLevel = L"INFO";
    TOLLAN_TRACE_MSG(TARNAG_SEV_NOTICE, CheckFn, Source, 10049, L"Setting ResLogLevel to default Log Level [%s].",
                     m_ResLogLevel.c_str());
    return QLibOk();
}

QLibStatus CTollanAttrib::CheckInstName()
{
    const wchar_t* name = m_InstName.c_str();
    size_t length = m_InstName.size();
    if (length == 0) {
        CHECK_TRACE_MSG(10050, L"InstName is null [%s].", name);
        return InvalidValue();
    }
    QLibStatus status = InvalidValue();
    if (length < 3) {
        CHECK_TRACE(L"InstName [%s] has length less than 3 characters [%d, 0x%.08X].", name, TYPE_CODE(status));
        CHECK_MSG(10051, L"InstName [%s] has length less than 3 characters.", name);
        return status;
    }
    wchar_t tens = name[length - 2];
    wchar_t ones = name[length - 1];
    if (!IsAsciiDigit(tens) || !IsAsciiDigit(ones)) {
        CHECK_TRACE(L"InstName [%s] does NOT contain digits as last two characters [%d, 0x%.08X].", name,
                    TYPE_CODE(status));
        CHECK_MSG(10052, L"InstName [%s] does NOT contain digits as last two characters.", name);
        return status;
    }
    if ((tens - L'0') * 10 + (ones - L'0') > 96) {
        CHECK_TRACE(L"InstName [%s] has an integer value greater than 96 as instance id [%d, 0x%.08X].", name,
                    TYPE_CODE(status));
        CHECK_MSG(10053, L"InstName [%s] has an integer value greater than 96 as instance id.", name);
        return status;
    }
    CHECK_TRACE(L"InstName [%s] is a valid SAP Instance Name.", name);
    return QLibOk();
}

QLibStatus CTollanAttrib::CheckInstProfile()
{
    if (CTollanUtil::FindSAPArch(m_ProcMon) == TOLLAN_ARCH_ABAP) {
        CHECK_TRACE(L"SAP Architecture is ABAP. Skipping InstProfile validation.");
        return QLibOk();
    }
    if (m_InstProfile.empty()) {
        CHECK_TRACE_MSG(10054, L"InstProfile is NULL.");
        return InvalidValue();
    }
    uint8_t exists = 0;
    CTollanPassword password = GetSAPAdminPassword();
    QLibStatus status = CTollanUtil::DoesExistInstProfile(m_InstProfile, m_SAPAdmin, m_SAPAdminDomain, password.c_str(),
                                                          &exists);
    return Judge(status, exists != 0, m_InstProfile.c_str(),
                 {L"CTollanUtil::DoesExistFile.", nullptr, 10055, L"InstProfile [%s] does NOT exist.",
                  L"InstProfile [%s] does NOT exist [%d, 0x%.08X].", 10056, L"InstProfile [%s] does NOT exist.", false,
                  L"InstProfile [%s] is a valid SAP Instance Profile name and it exists."});
}

QLibStatus CTollanAttrib::CheckEnqSrvResName()
{
    if (!IsOneOf(m_InstType, {L"ENQREP", L"AENQREP", L"JENQREP"}))
        return QLibOk();
    if (m_EnqSrvResName.empty()) {
        CHECK_TRACE_MSG(10057, L"EnqSrvResName is NULL.");
        return InvalidValue();
    }
    uint8_t exists = 0;
    QLibStatus status = CTollanUtil::DoesExistTarnResource(m_EnqSrvResName, &exists);
    return Judge(status, exists != 0, m_EnqSrvResName.c_str(),
                 {L"CTollanUtil::DoesExistTarnResource", nullptr, 10058, L"EnqSrvResName [%s] does NOT exist.",
                  L"EnqSrvResName [%s] does NOT exist [%d, 0x%.08X].", 10059, L"EnqSrvResName [%s] does NOT exist.",
                  false, L"EnqSrvResName [%s] is valid Tarn Resource and is of type Tollan."});
}

QLibStatus CTollanAttrib::CheckMonitorProgram()
{
    const wchar_t* command = m_MonitorProgram.c_str();
    std::optional<std::wstring> program = TollanProgramOf(m_MonitorProgram);
    if (!program) {
        CHECK_TRACE(L"MonitorProgram [%s] is null.", command);
        return QLibOk();
    }
    const wchar_t* name = program->c_str();
    CHECK_TRACE(L"mpname [%s] from MonitorProgram [%s].", name, command);
    CHECK_TRACE(L"Got the exe name [%s] from the MonitorProgram [%s].", name, command);
    CHECK_TRACE(L"tmpexe [%s] from exename [%s].", name, name);
    uint8_t exists = 0;
    QLibStatus status = CTollanUtil::DoesExistFile(*program, &exists);
    return Judge(status, exists != 0, name,
                 {L"CTollanUtil::DoesExistFile", nullptr, 10060, L"Failed to check MonitorProgram [%s] exist or not.",
                  L"MonitorProgram [%s] does NOT exist [%d, 0x%.08X].", 10061, L"MonitorProgram [%s] does NOT exist.",
                  false, L"MonitorProgram [%s] is validated successfully."});
}
