#include "TollanAttrib.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "TollanAgent.h"
#include "TollanLog.h"
#include "TollanOwners.h"
#include "TollanUtil.h"

namespace {

const char ParseFn[] = "CTollanAttrib::Parse";
const char Source[] = "TollanAttrib";

const wchar_t* const InstTypes[] = {L"CENTRAL",  L"DIALOG",  L"ENQUEUE",  L"ENQREP",
                                    L"AENQUEUE", L"AENQREP", L"JENQUEUE", L"JENQREP"};

// One trailing backslash goes; a drive's root keeps its own.
void StripOneBackslash(std::wstring& path)
{
    bool driveRoot = path.size() == 3 && path[1] == L':';
    if (!path.empty() && path.back() == L'\\' && !driveRoot)
        path.pop_back();
}

std::string CookieName(const std::wstring& resourceName, bool* converted)
{
    std::string name;
    *converted = CTollanUtil::ToAnsi(resourceName, &name);
    return name + "_tollan_slmcounter";
}

// The framework's own code, or an invalid parameter when it answered success without an answer.
QLibStatus FrameworkFailure(int32_t result)
{
    return QLibFailure(QLIB_ERR_FRAMEWORK, result != 0 ? static_cast<uint32_t>(result) : ERROR_INVALID_PARAMETER);
}

} // namespace

// The framework's list, read one value at a time and never past its closing null entry.
class CTollanAttrib::ArgReader {
public:
    explicit ArgReader(wchar_t** list) : m_List(list)
    {
        while (m_List[m_Count] != nullptr)
            ++m_Count;
    }
    size_t Count() const { return m_Count; }
    size_t Left() const { return m_Count - m_Next; }
    bool Take(std::wstring* value)
    {
        if (m_Next >= m_Count)
            return false;
        *value = m_List[m_Next++];
        return true;
    }

private:
    wchar_t** m_List;
    size_t m_Count = 0;
    size_t m_Next = 0;
};

QLibStatus CTollanAttrib::Parse(uint32_t kind, const char* resourceName, TarnAgArgs* args, uint8_t validate)
{
    if (resourceName == nullptr || args == nullptr) {
        QLibStatus status = QLibFailure(QLIB_ERR_FRAMEWORK, ERROR_INVALID_PARAMETER);
        TOLLAN_FAILED_MSG(ParseFn, Source, 10009,
                          L"Resource name or the argument list received from the engine is empty.", status);
        return status;
    }
    CTollanTarnMemOwner wideName;
    uint32_t length = 0;
    int32_t result = TarnAgEncodeString(0, resourceName, static_cast<uint32_t>(strlen(resourceName) + 1),
                                        TARNAG_TO_WIDE, wideName.put(), &length);
    // A success that hands back nothing is as unreadable as a failure.
    if (result != 0 || !wideName) {
        QLibStatus status = FrameworkFailure(result);
        TOLLAN_FAILED_MSG(ParseFn, Source, 10010, L"Failed to convert(encode) resource name.", status);
        return status;
    }
    m_ResourceName = wideName.get();

    CTollanTarnArgListOwner list;
    result = TarnAgGetEncodedArgList(0, args, TARNAG_TO_WIDE, list.put());
    if (result != 0 || !list) {
        QLibStatus status = FrameworkFailure(result);
        TOLLAN_FAILED_MSG(ParseFn, Source, 10011, L"Failed to convert(encode) the argument list.", status);
        return status;
    }
    ArgReader reader(list.get());
    if (!ReadArgs(reader)) {
        QLibStatus status = QLibFailure(QLIB_ERR_FRAMEWORK, ERROR_INVALID_PARAMETER);
        QLIB_TRACE(ParseFn, L"The argument list holds %d values, fewer than the resource type declares.",
                   static_cast<int>(reader.Count()));
        TOLLAN_FAILED_MSG(ParseFn, Source, 10011, L"Failed to convert(encode) the argument list.", status);
        return status;
    }
    Normalise();

    if (validate) {
        QLibStatus status = _CheckArgs(static_cast<int32_t>(kind));
        if (status.IsFailed()) {
            TOLLAN_FAILED_MSG(ParseFn, Source, 10012, L"CheckArgs Failed.", status);
            return status;
        }
    }
    (void)_FindTimeout(&m_Timeout, kind);
    return QLibOk();
}

bool CTollanAttrib::ReadArgs(ArgReader& args)
{
    std::wstring number;
    if (!args.Take(&m_SAPSID))
        return false;
    m_SAPSID = CTollanUtil::ToUpper(m_SAPSID);
    if (!args.Take(&number))
        return false;
    m_SecondLevelMonitor = _wtoi(number.c_str());
    if (!args.Take(&number))
        return false;
    m_EPProgramTimeout = _wtoi(number.c_str());
    for (std::wstring* value : {&m_SAPHome, &m_SAPMonHome, &m_SAPHost})
        if (!args.Take(value))
            return false;

    m_ProcMon.clear();
    if (!args.Take(&number))
        return false;
    int declared = _wtoi(number.c_str());
    size_t items = declared <= 0 ? 0 : static_cast<size_t>(declared);
    // A count the list cannot hold is read as far as the list goes, and then fails.
    for (size_t i = 0, present = std::min(items, args.Left()); i < present; ++i) {
        std::wstring name;
        (void)args.Take(&name);
        m_ProcMon.push_back(CTollanUtil::ToUpper(name));
    }
    if (m_ProcMon.size() < items)
        return false;

    for (std::wstring* value : {&m_SAPServiceUser, &m_SAPAdminDomain, &m_SAPAdmin, &m_SAPAdminPassword, &m_ResLogLevel,
                                &m_InstType, &m_InstName, &m_InstProfile, &m_EnqSrvResName, &m_MonitorProgram})
        if (!args.Take(value))
            return false;
    m_InstName = CTollanUtil::ToUpper(m_InstName);
    return true;
}

void CTollanAttrib::Normalise()
{
    StripOneBackslash(m_SAPHome);
    StripOneBackslash(m_SAPMonHome);
    for (const wchar_t* type : InstTypes) {
        if (_wcsicmp(type, m_InstType.c_str()) == 0) {
            m_InstType = type;
            return;
        }
    }
    QLIB_TRACE(ParseFn, L"InstType [%s] is invalid.", m_InstType.c_str());
}

uint32_t CTollanAttrib::TimeoutOf(uint32_t kind)
{
    switch (kind) {
    case 1:
        return g_OnlineTimeout.load();
    case 2:
        return g_OfflineTimeout.load();
    case 4:
        return g_CleanTimeout.load();
    case 3:
    case 5:
    case 6:
    case 7:
        return g_MonitorTimeout.load();
    default:
        return 600;
    }
}

QLibStatus CTollanAttrib::_FindTimeout(uint32_t* timeout, uint32_t kind)
{
    *timeout = TimeoutOf(kind);
    QLIB_TRACE("CTollanAttrib::_FindTimeout", L"Got timeout for the entry point from cluster [%d].", *timeout);
    return QLibOk();
}

void CTollanAttrib::LogArgs() const
{
    const std::pair<const wchar_t*, std::wstring> values[] = {
        {L"ResourceName", m_ResourceName},
        {L"SAPSID", m_SAPSID},
        {L"SAPHome", m_SAPHome},
        {L"SAPMonHome", m_SAPMonHome},
        {L"SAPHost", m_SAPHost},
        {L"SAPServiceUser", m_SAPServiceUser},
        {L"SAPAdminDomain", m_SAPAdminDomain},
        {L"SAPAdmin", m_SAPAdmin},
        {L"SAPAdminPassword", L"********"},
        {L"ResLogLevel", m_ResLogLevel},
        {L"InstType", m_InstType},
        {L"InstName", m_InstName},
        {L"InstProfile", m_InstProfile},
        {L"EnqSrvResName", m_EnqSrvResName},
        {L"MonitorProgram", m_MonitorProgram},
        {L"SecondLevelMonitor", std::to_wstring(m_SecondLevelMonitor)},
        {L"EPProgramTimeout", std::to_wstring(m_EPProgramTimeout)},
    };
    std::wstring line = L"The entry point is called with attribute values: ";
    for (const auto& value : values) {
        std::wstring name = value.first;
        name.resize(std::max<size_t>(name.size(), 20), L' ');
        bool last = &value == &values[std::size(values) - 1];
        line += L"\n \t\t\t\t\t\t" + name + L"= [" + value.second + (last ? L"]. \n" : L"], ");
    }
    // Configured values may hold %: the line is an insert, and the queue cuts it to its record size.
    QLIB_TRACE("CTollanAttrib::LogArgs", L"%s", line.c_str());
}

QLibStatus CTollanAttrib::GetSLMCounter(uint32_t* counter, const std::wstring& resourceName, uint8_t release)
{
    const char* function = "CTollanAttrib::GetSLMCounter";
    QLIB_TRACE(function, L"GetSLMCounter called with resname [%s].", resourceName.c_str());
    bool converted = false;
    std::string name = CookieName(resourceName, &converted);
    wchar_t* value = converted ? TarnAgGetCookie(name.c_str()) : nullptr;
    // Without the release flag the copy stays the caller's.
    CTollanCrtTextOwner copy(release ? value : nullptr);
    QLibStatus status = QLibOk();
    if (value != nullptr) {
        *counter = static_cast<uint32_t>(_wtoi(value));
    } else {
        *counter = 1;
        status = SetSLMCounter(1, resourceName);
        QLIB_TRACE_FAILED(function, L"Cookie NOT found.", status);
        QLIB_TRACE(function, L"Cookie NOT found. Seting it to [%d].", 1);
    }
    QLIB_TRACE(function, L"Got slmcounter [%d] from GetSLMCounter.", *counter);
    return status;
}

QLibStatus CTollanAttrib::SetSLMCounter(uint32_t counter, const std::wstring& resourceName)
{
    const char* function = "CTollanAttrib::SetSLMCounter";
    QLIB_TRACE(function, L"SetSLMCounter called with slmcounter [%d] and resname [%s].", counter, resourceName.c_str());
    bool converted = false;
    std::string name = CookieName(resourceName, &converted);
    if (!converted) {
        QLIB_TRACE(function, L"Resource name [%s] has no form in the system's code page.", resourceName.c_str());
        return QLibFailure(QLIB_ERR_FRAMEWORK, ERROR_NO_UNICODE_TRANSLATION);
    }
    // The framework keeps the buffer and frees it itself, but only once it has taken it.
    CTollanCrtTextOwner value(static_cast<wchar_t*>(malloc(80)));
    if (!value)
        return QLibFailure(QLIB_ERR_FRAMEWORK, ERROR_OUTOFMEMORY);
    _ultow(counter, value.get(), 10);
    int32_t result = TarnAgSetCookie(name.c_str(), value.get());
    if (result != 0) {
        QLibStatus status = QLibFailure(QLIB_ERR_FRAMEWORK, static_cast<uint32_t>(result));
        QLIB_TRACE_FAILED(function, L"TarnAgSetCookie", status);
        return status;
    }
    (void)value.release();
    return QLibOk();
}

std::wstring CTollanAttrib::GetInstNumber() const
{
    return m_InstName.size() < 2 ? m_InstName : m_InstName.substr(m_InstName.size() - 2);
}

int64_t CTollanAttrib::GetTimeBudget() const
{
    return BudgetOf(m_Timeout, m_EPProgramTimeout);
}

int64_t CTollanAttrib::BudgetOf(uint32_t timeout, int32_t epProgramTimeout)
{
    int64_t seconds = static_cast<int64_t>(timeout) - epProgramTimeout;
    return seconds <= 0 ? 0 : seconds * 1000;
}
