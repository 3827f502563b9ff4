// A failure injected into each cluster call the trigger makes: its message, its exit code, the error
// record fetched and released, and whatever the Part's fallback brings online.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "TriggerRun.h"

namespace {

struct FailureCase {
    const char* name;
    bool replicaGroup; // the replication group's run, else the enqueue group's
    const char* call;
    const char* object;
    std::vector<int> ids; // each logged with severity "E"
    int exitCode;
    const char* online; // "GROUP SYSTEM", or "" for none
    const char* code = "0x2a"; // "empty": the call succeeds with an empty answer
};

// The enqueue group fails over to N2, the replication group goes online on N1, when nothing fails.
const FailureCase Cases[] = {
    {"GroupControlInfo", false, "TarnFillCntlInfo", "16", {50102, 50202}, 99, ""},
    {"GroupNames", false, "TarnObjGetNames", "16,Tollan,ASCS", {50103, 50203}, 99, ""},
    {"GroupInstTypeAttribute", false, "TarnObjGetAttribute", "ENQ.InstType", {50107, 50207}, 99, ""},
    {"GroupInstTypeText", false, "TarnAttrGetStr", "ENQ.InstType", {50108, 50208}, 99, ""},
    // Before a replication server is found online, the enqueue group goes where the engine wanted it.
    {"ClusterControlInfo", false, "TarnFillCntlInfo", "18", {50302}, 0, "ASCS N1"},
    {"ClusterNames", false, "TarnObjGetNames", "18,Tollan", {50303}, 0, "ASCS N1"},
    {"ReplicaInstTypeAttribute", false, "TarnObjGetAttribute", "REP.InstType", {50307}, 0, "ASCS N1"},
    {"ReplicaInstTypeText", false, "TarnAttrGetStr", "REP.InstType", {50308}, 0, "ASCS N1"},
    {"ReplicaSidAttribute", false, "TarnObjGetAttribute", "REP.SAPSID", {50310}, 0, "ASCS N1"},
    {"ReplicaSidText", false, "TarnAttrGetStr", "REP.SAPSID", {50311}, 0, "ASCS N1"},
    {"EnqueueSidAttribute", false, "TarnObjGetAttribute", "ENQ.SAPSID", {50313}, 0, "ASCS N1"},
    {"EnqueueSidText", false, "TarnAttrGetStr", "ENQ.SAPSID", {50314}, 0, "ASCS N1"},
    {"ReplicaEnqueueNameAttribute", false, "TarnObjGetAttribute", "REP.EnqSrvResName", {50317}, 0, "ASCS N1"},
    {"ReplicaEnqueueNameText", false, "TarnAttrGetStr", "REP.EnqSrvResName", {50318}, 0, "ASCS N1"},
    {"ReplicaState", false, "TarnObjGetState", "REP", {50321}, 0, "ASCS N1"},
    // Found online: no fallback any more.
    {"FailOverControlInfo", false, "TarnFillCntlInfo", "48", {50323}, 99, ""},
    {"FailOverRefused", false, "TarnGrpOnline", "ASCS", {50325}, 1, ""},

    {"EnqueueNameAttribute", true, "TarnObjGetAttribute", "REP.EnqSrvResName", {50402}, 99, ""},
    {"EnqueueNameText", true, "TarnAttrGetStr", "REP.EnqSrvResName", {50403}, 99, ""},
    {"EnqueueTypeAttribute", true, "TarnObjGetAttribute", "ENQ.Type", {50405}, 99, ""},
    {"EnqueueTypeText", true, "TarnAttrGetStr", "ENQ.Type", {50406}, 99, ""},
    {"EnqueueInstTypeAttribute", true, "TarnObjGetAttribute", "ENQ.InstType", {50409}, 99, ""},
    {"EnqueueInstTypeText", true, "TarnAttrGetStr", "ENQ.InstType", {50410}, 99, ""},
    {"ReplicaSidAttribute", true, "TarnObjGetAttribute", "REP.SAPSID", {50412}, 99, ""},
    {"ReplicaSidText", true, "TarnAttrGetStr", "REP.SAPSID", {50413}, 99, ""},
    {"EnqueueSidAttribute", true, "TarnObjGetAttribute", "ENQ.SAPSID", {50415}, 99, ""},
    {"EnqueueSidText", true, "TarnAttrGetStr", "ENQ.SAPSID", {50416}, 99, ""},
    {"EnqueueState", true, "TarnObjGetState", "ENQ", {50420}, 99, ""},
    {"TargetControlInfo", true, "TarnFillCntlInfo", "17", {50302}, 99, ""},
    {"GroupState", true, "TarnObjGetState", "ERS", {50924}, 99, ""},
    {"FailOverControlInfo", true, "TarnFillCntlInfo", "48", {50425}, 99, ""},
    {"FailOverRefused", true, "TarnGrpOnline", "ERS", {50427}, 99, ""},
};

void PrintTo(const FailureCase& c, std::ostream* os)
{
    *os << c.call << " " << c.object;
}

// Empty answers are "not found": no read past an array, no value guessed for a missing text.
const FailureCase EmptyCases[] = {
    {"ClusterNames", false, "TarnObjGetNames", "18,Tollan", {50305}, 0, "ASCS N1", "empty"},
    {"ReplicaState", false, "TarnObjGetState", "REP", {}, 0, "ASCS N1", "empty"},
    {"ReplicaSidAttribute", false, "TarnObjGetAttribute", "REP.SAPSID", {50311}, 0, "ASCS N1", "empty"},
    {"EnqueueSidText", false, "TarnAttrGetStr", "ENQ.SAPSID", {50314}, 0, "ASCS N1", "empty"},
    {"EnqueueState", true, "TarnObjGetState", "ENQ", {}, 1, "", "empty"},
    {"GroupState", true, "TarnObjGetState", "ERS", {50923}, 1, "", "empty"},
    {"EnqueueTypeText", true, "TarnAttrGetStr", "ENQ.Type", {50406}, 99, "", "empty"},
};

std::string CaseName(const ::testing::TestParamInfo<FailureCase>& info)
{
    return std::string(info.param.replicaGroup ? "Replica" : "Enqueue") + info.param.name;
}

class TriggerFailure : public ::testing::TestWithParam<FailureCase> {};

TriggerRun RunWithFailure(const FailureCase& c)
{
    ClusterText cluster = c.replicaGroup ? ReplicaCluster("0200") : EnqueueCluster();
    cluster.Fail(c.call, c.object, c.code);
    return TriggerRun(cluster, {"N1", c.replicaGroup ? "ERS" : "ASCS", "FAULT"});
}

TEST_P(TriggerFailure, EndsWithItsMessageAndExitCode)
{
    const FailureCase& c = GetParam();
    TriggerRun run = RunWithFailure(c);
    for (int id : c.ids)
        EXPECT_TRUE(run.Logged('E', id)) << id;
    EXPECT_EQ(50017, run.LastLogId());
    run.ExpectOutcome(c.exitCode, c.online);
}

INSTANTIATE_TEST_SUITE_P(EachCall, TriggerFailure, ::testing::ValuesIn(Cases), CaseName);

INSTANTIATE_TEST_SUITE_P(EmptyAnswer, TriggerFailure, ::testing::ValuesIn(EmptyCases), CaseName);

TEST(TriggerEmptyAnswer, EmptyGroupListOrStatelessResourceIsNotFound)
{
    ClusterText noNames = EnqueueCluster();
    TriggerRun names(noNames.Fail("TarnObjGetNames", "16,Tollan,ASCS", "empty"), {"N1", "ASCS", "FAULT"});
    EXPECT_TRUE(names.Logged('W', 50105) && names.Logged('W', 50205) && names.Logged('N', 50016));
    names.ExpectOutcome(99, "");

    // A replication server with no state on any system: an object entry without system entries.
    TriggerRun stateless(EnqueueCluster(""), {"N1", "ASCS", "FAULT"});
    EXPECT_THAT(stateless.Texts('N', 50327),
                ::testing::ElementsAre(
                    "The corresponding Replication Server is Offline on all the nodes in the cluster."));
    stateless.ExpectOutcome(0, "ASCS N1");
}

TEST(TriggerFailureOutsidePlacement, NoApiOrNoClusterEndsWith99Silently)
{
    for (const char* call : {"TarnApiInit", "TarnClusterOpenLocal"}) {
        ClusterText cluster = EnqueueCluster();
        TriggerRun run(cluster.Fail(call, "-"), {"N1", "ASCS", "FAULT"});
        EXPECT_EQ(99, run.exitCode) << call;
        EXPECT_TRUE(run.logs.empty()) << call;
        EXPECT_EQ(1u, run.Count("release TarnFreeError error ")) << call;
        EXPECT_EQ(0u, run.Count("call TarnObjGetNames")) << call;
    }
}

TEST(TriggerFailureOutsidePlacement, NoClusterStillEndsTheApi)
{
    ClusterText cluster = EnqueueCluster();
    TriggerRun run(cluster.Fail("TarnClusterOpenLocal", "-"), {"N1", "ASCS", "FAULT"});
    run.ExpectOutcome(99, "");
}

TEST(TriggerFailureOutsidePlacement, RequestedSystemOnlineFailuresEndWith99)
{
    struct {
        const char* call;
        const char* object;
        int id;
    } cases[] = {{"TarnFillCntlInfo", "48", 50010}, {"TarnGrpOnline", "ASCS", 50012}};
    for (const auto& c : cases) {
        ClusterText cluster = EnqueueCluster("000");
        TriggerRun run(cluster.Fail(c.call, c.object), {"N1", "ASCS", "FAULT"});
        SCOPED_TRACE(c.id);
        EXPECT_TRUE(run.Logged('E', c.id));
        run.ExpectOutcome(99, "");
    }
}

TEST(TriggerFailureOutsidePlacement, FailedLogLinesLeaveNoErrorRecord)
{
    ClusterText cluster = EnqueueCluster();
    TriggerRun run(cluster.Fail("TarnLogAddMsg", "*"), {"N1", "ASCS", "FAULT"});
    EXPECT_EQ(run.Count("call TarnLogAddMsg"), run.Count("release TarnFreeError error TarnLogAddMsg"));
    run.ExpectOutcome(0, "ASCS N2");
}

TEST(TriggerFailureOutsidePlacement, ClosingFailuresKeepTheExitCode)
{
    ClusterText closeFails = EnqueueCluster();
    TriggerRun close(closeFails.Fail("TarnClusterClose", "-"), {"N1", "ASCS", "FAULT"});
    EXPECT_EQ(0, close.exitCode);
    EXPECT_EQ(1u, close.Count("release TarnFreeError error TarnClusterClose"));
    // The handle the engine would not close is all that is left.
    EXPECT_EQ(1u, close.Count("leak cluster "));
    EXPECT_EQ(1u, close.Count("unreleased 1"));

    ClusterText exitFails = EnqueueCluster();
    TriggerRun exit(exitFails.Fail("TarnApiExit", "-"), {"N1", "ASCS", "FAULT"});
    EXPECT_EQ(0, exit.exitCode);
    EXPECT_EQ(1u, exit.Count("release TarnFreeError error TarnApiExit"));
}

// What no described cluster does, made by the shim: the trigger exits 99 as for any other outcome that is
// no placement, ends its run as always (50017, cluster closed) and leaves nothing unreleased.
TEST(TriggerFailureOutsidePlacement, AllocationFailureAndAnAttributeFromAFailedRead)
{
    struct Row {
        const char* shim;
        int failedReadId; // 0: none
    };
    const Row rows[] = {{"names-nomemory", 0}, {"attr-handed:ENQ.InstType", 50107}};
    for (const Row& row : rows) {
        TriggerRun run(EnqueueCluster(), {"N1", "ASCS", "FAULT"}, row.shim);
        run.ExpectOutcome(99, "");
        EXPECT_EQ(50017, run.LastLogId()) << row.shim;
        if (row.failedReadId) {
            EXPECT_TRUE(run.Logged('E', row.failedReadId)) << row.shim;
        }
    }
}

} // namespace
