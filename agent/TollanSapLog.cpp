// The SAP log record, the time of day it carries, and the forward clock that budgets are counted on.

#include <windows.h>

#include <algorithm>
#include <cwchar>
#include <string>

#include "LibLogger.h"
#include "LibOwners.h"
#include "Tollan.h"
#include "TollanAttrib.h"
#include "TollanLog.h"
#include "TollanUtil.h"

namespace {

constexpr const wchar_t* Separator = L"===========================================";

const wchar_t* ActionText(uint32_t action)
{
    static const wchar_t* const texts[] = {
        L"Action: SAP instance started by Tarn.",
        L"Action: SAP instance shutdown by Tarn.",
        L"Action: SAP instance monitored by Tarn.",
        L"Action: SAP instance cleaned by Tarn.",
    };
    return action >= 1 && action <= 4 ? texts[action - 1] : L"";
}

// The record as the file holds it: a character below 256 is that byte, any other '?', and each line
// feed is written as carriage return and line feed.
std::string RecordBytes(const std::wstring& record)
{
    std::string bytes;
    bytes.reserve(record.size() + 8);
    for (wchar_t c : record) {
        if (c == L'\n')
            bytes += '\r';
        bytes += c < 256 ? static_cast<char>(c) : '?';
    }
    return bytes;
}

// One write on a handle opened for appending only: every record lands whole at the end of the file, even
// when two actions of one instance append at once.
bool Append(const std::wstring& path, const std::string& bytes)
{
    QLibHandleOwner file(CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                     OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return false;
    DWORD written = 0;
    return WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr)
        && written == bytes.size();
}

} // namespace

QLibStatus CTollan::_LogSAP(const CTollanAttrib& attrib, uint32_t action)
{
    return _LogSAP(attrib.GetSAPHome(), attrib.GetSAPSID(), attrib.GetInstName(), action);
}

QLibStatus CTollan::_LogSAP(const std::wstring& sapHome, const std::wstring& sapSid, const std::wstring& instName,
                            uint32_t action)
{
    const char* function = "CTollan::_LogSAP";
    std::wstring record = std::wstring(Separator) + L"\nSAPSID: " + sapSid + L"\nInstance Name: " + instName
        + L"\nDate: " + _GetDateTimeString() + ActionText(action) + L"\n" + Separator + L"\n";
    std::wstring root = CTollanUtil::GetPathBefore(sapHome, sapSid);
    // Without a SAP root there is no file to name: the message names the home it was looked for in.
    std::wstring path = root.empty()
        ? sapHome
        : root + L"\\" + sapSid + L"\\" + instName + L"\\log\\" + sapSid + L"_" + instName + L"_logfile.log";
    if (root.empty() || !Append(path, RecordBytes(record))) {
        TOLLAN_TRACE_MSG(TARNAG_SEV_FAILURE, function, "Tollan", 10187,
                         L"Failed to open the SAP log file [%s], Check file permissions.", path.c_str());
        return QLibOk();
    }
    QLIB_TRACE(function, L"Successfully added SAP information to the log file [%s].", path.c_str());
    return QLibOk();
}

uint64_t CTollan::_GetCurrentTimeMs()
{
    FILETIME now = {};
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER units;
    units.LowPart = now.dwLowDateTime;
    units.HighPart = now.dwHighDateTime;
    return units.QuadPart / 10000;
}

uint64_t CTollanTimeLeft::Now()
{
    return GetTickCount64();
}

int64_t CTollanTimeLeft::Get() const
{
    uint64_t now = Now();
    uint64_t elapsed = now > m_Start ? now - m_Start : 0;
    // Bounded so that the difference cannot wrap; any such span is far past every budget.
    return m_Budget - static_cast<int64_t>(std::min<uint64_t>(elapsed, INT64_MAX / 2));
}

std::wstring CTollan::_GetDateTimeString()
{
    SYSTEMTIME now = {};
    GetSystemTime(&now);
    wchar_t month[4];
    _GetMonthName(now.wMonth, month);
    wchar_t text[64];
    _snwprintf(text, 63, L"%02u-%s-%04u %02u:%02u:%02u", now.wDay, month, now.wYear, now.wHour, now.wMinute,
               now.wSecond);
    text[63] = L'\0';
    return text;
}

void CTollan::_GetMonthName(uint32_t month, wchar_t name[4])
{
    static const wchar_t* const names[] = {L"Jan", L"Feb", L"Mar", L"Apr", L"May", L"Jun",
                                           L"Jul", L"Aug", L"Sep", L"Oct", L"Nov", L"Dec"};
    wcscpy(name, month >= 1 && month <= 12 ? names[month - 1] : L"???");
}
