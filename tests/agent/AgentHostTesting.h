#pragma once
// Tollan.dll loaded by the framework stand-in and driven through its entry points on a fixture instance, as
// the cluster would: the attributes name the directory's accounts (prdadm, SAPServicePRD), the logon hook
// lets the administrator in, and the owner hook makes the instance's processes the administrator's.

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ADsOpenHook.h"
#include "LogonHook.h"
#include "OwnerHook.h"
#include "SapFixture.h"
#include "TarnTestCluster.h"
#include "TarnTestHost.h"
#include "TestBed.h"

inline std::wstring WideText(const std::string& text)
{
    return std::wstring(text.begin(), text.end());
}

// Stops the agent as the framework does, its shutdown entry point before the unload: what its start-up took from
// the cluster is released, not left to a later case.
inline void StopAgent()
{
    (void)TarnAgHostShutdown();
    TarnAgHostStop();
}

class AgentOnInstance {
public:
    AgentOnInstance(SapInstanceType type, const std::string& sid, std::map<std::string, std::string> changes = {})
        : sap(type, sid)
    {
        TarnAgHostCookiesClear();
        agent = std::make_unique<TarnTestAgentModule>(L"Tollan.dll");
        logon = std::make_unique<LogonHook>(agent->Get(), L"prdadm", L"", WideText(sap.password));
        directory = std::make_unique<ADsOpenHook>(agent->Get());
        owners = std::make_unique<OwnerHook>(agent->Get());
        started = sap.Ok() && logon->Active() && directory->Active() && owners->Active() && Describe(changes);
    }

    // The resource described anew (the fixture's attributes, the directory's accounts, the fixture's monitor
    // program, then the changes) and the agent started on it; cookies stay.
    bool Describe(const std::map<std::string, std::string>& changes)
    {
        std::map<std::string, std::string> attributes = sap.Attributes();
        attributes["SAPAdmin"] = "prdadm";
        attributes["SAPServiceUser"] = "SAPServicePRD";
        attributes["SAPAdminDomain"] = "";
        attributes["MonitorProgram"] = sap.monitorProgram;
        for (const auto& [name, value] : changes)
            attributes[name] = value;
        StopAgent();
        cluster.reset();
        cluster = std::make_unique<TarnTestCluster>(sap.Description("R1", attributes));
        return TarnAgHostStart(L"Tollan.dll") == 0;
    }
    ~AgentOnInstance()
    {
        StopAgent();
        owners.reset();
        directory.reset();
        logon.reset();
        agent.reset();
    }

    // The service and the instance's processes running, each as the administrator.
    bool Run()
    {
        // Wine's service manager turns a start away while it serves another program's: ask again.
        bool service = false;
        for (int tries = 0; !service && tries < 10; ++tries)
            service = sap.StartService() || (Sleep(500), false);
        if (!service) {
            ADD_FAILURE() << "the SAP service did not start";
            return false;
        }
        int code = sap.StartInstance();
        if (code != 0) {
            ADD_FAILURE() << "startsap exited with " << code;
            return false;
        }
        // A Java instance's jcontrol starts its jlaunch processes after startsap has returned.
        for (size_t seen = 0, now = sap.Processes().size(), tries = 0; now != seen && tries < 25; ++tries) {
            Sleep(200);
            seen = now;
            now = sap.Processes().size();
        }
        Own();
        return true;
    }
    void Own()
    {
        for (const SapProcess& process : sap.Processes())
            owners->Set(process.pid, WideText(sap.domain), L"prdadm");
    }

    // Processes the instance started since (a Java instance's late ones) are the administrator's too.
    uint32_t Call(uint32_t op, const char* resource = "R1")
    {
        Own();
        uint32_t result = 99;
        EXPECT_EQ(0, TarnAgHostCall(op, resource, &result));
        return result;
    }
    size_t Runs(const char* role) const { return sap.Runs(role).size(); }

    SapFixture sap;
    std::unique_ptr<TarnTestCluster> cluster;
    std::unique_ptr<TarnTestAgentModule> agent;
    std::unique_ptr<LogonHook> logon;
    std::unique_ptr<ADsOpenHook> directory;
    std::unique_ptr<OwnerHook> owners;
    bool started = false;
};

// The ids of the framework messages since the log was last cleared, without the dump's (10000) and the
// notice that the administrator is a local account (10042).
inline std::vector<uint32_t> MessageIds(uint32_t log = TARNAG_LOG_MESSAGE)
{
    std::vector<uint32_t> ids;
    for (const TarnAgLogEntry& entry : TarnTestLogs(log))
        if (entry.msgId != 10000 && entry.msgId != 10042)
            ids.push_back(entry.msgId);
    return ids;
}

inline size_t DumpLines()
{
    size_t count = 0;
    for (const TarnAgLogEntry& entry : TarnTestLogs(TARNAG_LOG_MESSAGE))
        count += entry.msgId == 10000;
    return count;
}

// The text of the first message with the id, or "" when there is none.
inline std::wstring MessageText(uint32_t id)
{
    for (const TarnAgLogEntry& entry : TarnTestLogs(TARNAG_LOG_MESSAGE))
        if (entry.msgId == id)
            return entry.text;
    return std::wstring();
}
