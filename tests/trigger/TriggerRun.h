#pragma once
// Runs the real tollanpreonline.exe against a cluster description and reads back the journal that
// the cluster API stand-in wrote.

#include <string>
#include <utility>
#include <vector>

// A cluster description built line by line: systems N1, N2, N3 unless given otherwise.
class ClusterText {
public:
    explicit ClusterText(std::vector<std::string> systems = {"N1", "N2", "N3"});
    // `states`: one digit per system in order, e.g. "020" for online on N2 only; "" for no state at all.
    ClusterText& Group(const std::string& name, const std::string& states = "");
    ClusterText& Resource(const std::string& name, const std::string& group, const std::string& instType,
                          const std::string& sid, const std::string& states = "", const std::string& enqSrvResName = "",
                          const std::string& type = "Tollan");
    // A `fail` line: CALL OBJECT CODE.
    ClusterText& Fail(const std::string& call, const std::string& object, const std::string& code = "0x2a");
    const std::string& Text() const { return m_Text; }

private:
    std::string StateLines(const std::string& states) const;

    std::vector<std::string> m_Systems;
    std::string m_Text;
};

// An enqueue group ASCS (offline everywhere) with its enqueue server ENQ, and a replication group ERS
// whose server REP has the states `replicaStates` on N1 to N3.
ClusterText EnqueueCluster(const std::string& replicaStates = "020");
// Systems N1 to N4; a replication group ERS with REP, and the enqueue server ENQ in group ASCS.
ClusterText ReplicaCluster(const std::string& enqueueStates, const std::string& groupStates = "1111");

struct TriggerLogLine {
    char severity;
    int id;
    std::string text;
};

class TriggerRun {
public:
    // Runs the trigger with `args` and keeps its exit code and the journal; with a `shim` mode, a copy of
    // the trigger runs beside the shim of the cluster API (TriggerShim.cpp) in that mode.
    TriggerRun(const ClusterText& cluster, const std::vector<std::string>& args, const std::string& shim = "");

    int exitCode = -1;
    std::vector<std::string> journal;
    std::vector<TriggerLogLine> logs;

    bool Logged(char severity, int id) const;
    std::vector<int> LogIds() const;
    // 0 when nothing was logged.
    int LastLogId() const;
    std::vector<std::string> Texts(char severity, int id) const;
    // "GROUP SYSTEM" of every accepted online request.
    std::vector<std::string> Onlines() const;
    size_t Count(const std::string& prefix) const;
    // Nothing left unreleased at TarnApiExit, nothing released twice, every online request with a
    // control info of kind 48 built for it alone; failures are reported through gtest.
    void ExpectClean() const;
    // The exit code, the one accepted online request ("GROUP SYSTEM", or "" for none), and ExpectClean.
    void ExpectOutcome(int expectedExitCode, const std::string& online) const;

private:
    void ExpectFreshOnlineControlInfo(const std::string& onlineCall) const;
};
