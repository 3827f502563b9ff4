#pragma once
// What the tests of the instance operations share: a fixture instance's attributes parsed as an entry point
// would, the framework's messages and trace lines of a call, and what a call may leave behind.

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "AttribTesting.h"
#include "LedgerHook.h"
#include "LogonHook.h"
#include "SapFixture.h"

inline HMODULE TestModule()
{
    return GetModuleHandleW(nullptr);
}

inline std::wstring Wide(const std::string& text)
{
    return std::wstring(text.begin(), text.end());
}

// The fixture's attributes with some changed, in the framework's order, parsed without the checks.
inline QLibStatus ParseFixture(CTollanAttrib& attrib, const SapFixture& sap, uint32_t kind,
                               const std::map<std::string, std::string>& changes = {})
{
    std::map<std::string, std::string> values = sap.Attributes();
    for (const auto& [name, value] : changes)
        values[name] = value;
    Args args;
    args.sid = values["SAPSID"], args.slm = values["SecondLevelMonitor"], args.ept = values["EPProgramTimeout"];
    args.home = values["SAPHome"], args.monHome = values["SAPMonHome"], args.host = values["SAPHost"];
    args.procMon.clear();
    std::istringstream names(values["ProcMon"]);
    for (std::string name; std::getline(names, name, ',');)
        args.procMon.push_back(name);
    args.serviceUser = values["SAPServiceUser"], args.domain = values["SAPAdminDomain"];
    args.admin = values["SAPAdmin"], args.password = values["SAPAdminPassword"], args.level = values["ResLogLevel"];
    args.type = values["InstType"], args.name = values["InstName"], args.profile = values["InstProfile"];
    args.enqSrv = values["EnqSrvResName"], args.monitor = values["MonitorProgram"];
    return ParseValues(attrib, kind, args.Values());
}

// How many trace lines of the call hold the text.
inline size_t TraceLines(const std::wstring& text)
{
    size_t count = 0;
    for (const TarnAgLogEntry& entry : TarnTestLogs(TARNAG_LOG_RESOURCE))
        count += std::wstring(entry.text).find(text) != std::wstring::npos;
    return count;
}

inline bool ToolRunning(const SapFixture& sap, const wchar_t* image)
{
    for (const SapProcess& process : sap.Processes())
        if (_wcsicmp(process.image.c_str(), image) == 0)
            return true;
    return false;
}

// A test on one fixture instance, as the SAP administrator; each call is made under a fresh ledger.
class OperationTest : public AttribTest {
protected:
    bool Open(SapInstanceType type, const char* sid)
    {
        m_Logon.reset();
        m_Sap.reset(new SapFixture(type, sid));
        if (!m_Sap->Ok())
            return false;
        m_Logon.reset(new LogonHook(TestModule(), Wide(m_Sap->user), Wide(m_Sap->domain), Wide(m_Sap->password)));
        return m_Logon->Active();
    }

    // Runs the call under a ledger that must be empty afterwards, with the framework's logs cleared first.
    template <typename Call>
    void Checked(Call call)
    {
        TarnAgHostLogClear();
        {
            LedgerHook ledger(TestModule());
            call();
            EXPECT_TRUE(ledger.Outstanding().empty()) << testing::PrintToString(ledger.Outstanding());
        }
    }

    std::unique_ptr<SapFixture> m_Sap;
    std::unique_ptr<LogonHook> m_Logon;
};
