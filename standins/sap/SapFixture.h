#pragma once
// A SAP instance made of stand-ins, for the agent's tests and the demonstration: its folders, tools,
// instance processes, profile, plan and journal under a fresh root that holds no SID, no instance name
// and no "SYS", and its SAP service SAP<SID>_<NR>. The destructor removes all of it, processes and
// service included, whatever the test did.
//
//     SapFixture sap(SapInstanceType::Central, "QX7");
//     ASSERT_TRUE(sap.Ok()) << sap.Error();
//     sap.Plan("sapinfo exit=2,0");               // sapstandin.cpp lists the plan's keys
//     ASSERT_TRUE(sap.StartService());
//     ... run the agent ...
//     EXPECT_EQ(2u, sap.Runs("sapinfo").size());

#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "SapStandin.h"

enum class SapInstanceType {
    Central, // ABAP: disp+work.exe, msg_server.exe
    CentralJava, // jcontrol.exe (it starts two jlaunch.exe), msg_server.exe
    CentralAddIn, // both
    Dialog, // disp+work.exe
    Enqueue, // msg_server.exe, enserver.exe; also AENQUEUE and JENQUEUE
    AbapEnqueue,
    JavaEnqueue,
    EnqRep, // enrepserver.exe; also AENQREP and JENQREP
    AbapEnqRep,
    JavaEnqRep,
};

// One run of a stand-in, from its journal lines; a process that was killed or still runs has ended == false.
struct SapRun {
    std::string role;
    DWORD pid = 0;
    DWORD parent = 0;
    unsigned run = 0; // the role's runs counted from 1
    std::string user; // DOMAIN\USER
    std::string cwd;
    std::string commandLine;
    std::string time; // of the start
    bool ended = false;
    std::string stdinBytes;
    int exitCode = -1;
};

// The enciphered form of a clear password (printable, no blank) that the agent deciphers.
std::string SapEncipherPassword(const std::string& clear);

class SapFixture {
public:
    // number: the instance number, the last two characters of the instance name.
    SapFixture(SapInstanceType type, const std::string& sid, const std::string& number = "00");
    ~SapFixture();
    SapFixture(const SapFixture&) = delete;
    SapFixture& operator=(const SapFixture&) = delete;

    // false when the instance could not be built, or a process outside it already matches the SID.
    bool Ok() const { return m_Error.empty(); }
    const std::string& Error() const { return m_Error; }

    // Appends plan lines ("ROLE key=value ..."); for a role, a later key wins over the fixture's defaults.
    void Plan(const std::string& lines);
    // Options of the service stand-in (testservice.cpp lists them), e.g. "--start-delay=2000 --hang-stop".
    bool SetServiceOptions(const std::string& options);
    // Moves the service's program into the instance's exe folder, where a real system keeps it (the walk of
    // the instance's processes then meets it); call while the service is stopped.
    bool ServiceInInstance();
    bool StartService();
    bool StopService(); // through the service manager: a killed service process would stay RUNNING there
    // Runs startsap as the agent would (its exit code; -1 when it could not run).
    int StartInstance();
    // The live processes below the root (instance processes and tools still running).
    std::vector<SapProcess> Processes() const;
    // The stand-ins' runs in journal order; of one role (file name without .exe) or, empty, of all.
    std::vector<SapRun> Runs(const std::string& role = std::string()) const;
    // The lines of the instance's SAP log file (none while it does not exist).
    std::vector<std::string> SapLog() const;

    // The resource's attributes for this instance, by name; ProcMon's names are joined by commas.
    std::map<std::string, std::string> Attributes() const;
    // A cluster description of one system NODE1 with the resource (in its group <resource>_GRP) and the type
    // declaration beside the binaries; for a replication instance also the resource its EnqSrvResName names.
    std::string Description(const std::string& resource, const std::map<std::string, std::string>& attributes) const;
    std::string Description(const std::string& resource) const { return Description(resource, Attributes()); }

    // The instance, as the resource's attributes name it.
    std::string sid, number, instName, instType, host;
    std::vector<std::string> procMon;
    std::string root; // holds usr\sap\<SID>\...
    std::string sapHome; // <root>\usr\sap\<SID>\SYS\exe\run: startsap, stopsap, sapsrvkill, sapinfo, ensmon, jcmon
    std::string instanceDir; // <root>\usr\sap\<SID>\<INST>: exe\, log\, j2ee\os_libs\ .
    std::string profile; // <root>\usr\sap\<SID>\SYS\profile\<SID>_<INST>_<host>
    std::string logFile; // the SAP log file the agent appends to
    std::string monitorProgram; // <root>\monitor\sapmonitor.exe
    std::string serviceName; // SAP<SID>_<NR>
    std::string user, domain; // the account the running system reports (under Wine the only one)
    std::string password = "Adm1n!Qx"; // the administrator's, for the logon hook; descriptions hold it enciphered

private:
    bool Build(SapInstanceType type);
    bool InstallService();
    std::string ServiceBinary(const std::string& options) const;
    void Remove();

    std::string m_Error;
    std::string m_Binaries; // where the build put sapstandin.exe and testservice.exe
    std::string m_ServiceProgram; // the service's testservice.exe, below the root
    std::string m_ServiceOptions;
    bool m_ServiceInstalled = false;
};
