#pragma once
// What the attribute tests share: a resource's argument list as the framework hands it over, a parse of
// it, and the framework messages a call left.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ServiceTestSupport.h"
#include "TarnTestHost.h"
#include "TollanAttrib.h"
#include "TollanLog.h"

// A resource's argument list as the framework hands it over: 8-bit values in the type's order.
struct Args {
    std::string sid = "prd", slm = "2", ept = "10", home = "C:\\windows\\", monHome = "C:\\windows", host = "host1";
    std::string count; // empty: the number of items
    std::vector<std::string> procMon{"disp+work.exe", "msg_server.exe"};
    std::string serviceUser = "SAPServicePRD", domain = "test.example", admin = "prdadm";
    std::string password = "akdMfmDocGdoEeb"; // deciphers to Secr3t!
    std::string level = "TRACE", type = "central", name = "dvebmgs00", profile, enqSrv, monitor;

    std::vector<std::string> Values() const
    {
        std::vector<std::string> values{sid, slm, ept, home, monHome, host};
        values.push_back(count.empty() ? std::to_string(procMon.size()) : count);
        values.insert(values.end(), procMon.begin(), procMon.end());
        values.insert(values.end(),
                      {serviceUser, domain, admin, password, level, type, name, profile, enqSrv, monitor});
        return values;
    }
};

// The virtual operations, reachable for the tests.
class Attrib : public CTollanAttrib {
public:
    using CTollanAttrib::_Decrypt;
    using CTollanAttrib::_FindTimeout;
};

inline QLibStatus ParseValues(CTollanAttrib& attrib, uint32_t kind, const std::vector<std::string>& values,
                              uint8_t validate = 0, const char* resource = "R1")
{
    std::vector<const char*> pointers;
    for (const std::string& value : values)
        pointers.push_back(value.c_str());
    TarnAgArgs args{static_cast<uint32_t>(pointers.size()), pointers.data()};
    return attrib.Parse(kind, resource, &args, validate);
}

inline std::vector<uint32_t> MessageIds()
{
    std::vector<uint32_t> ids;
    for (const TarnAgLogEntry& entry : TarnTestLogs(TARNAG_LOG_MESSAGE))
        if (entry.msgId != 10000)
            ids.push_back(entry.msgId);
    return ids;
}

class AttribTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_QLibLogQueue.SetSink(&g_TollanLogSink);
        TarnAgHostLogClear();
        TarnAgHostCookiesClear();
    }
    ThreadTrace m_Trace;
};
