// The trigger's decisions, each shown end to end: the real program against a described cluster.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "TriggerRun.h"

namespace {

using Strings = std::vector<std::string>;
using ::testing::Contains;

bool Before(const TriggerRun& run, int first, int second)
{
    std::vector<int> ids = run.LogIds();
    auto a = std::find(ids.begin(), ids.end(), first);
    auto b = std::find(ids.begin(), ids.end(), second);
    return a != ids.end() && b != ids.end() && a < b;
}

TEST(TriggerMain, ManualOnlineTouchesNoCluster)
{
    TriggerRun run(EnqueueCluster(), {"N1", "ASCS", "MANUAL"});
    EXPECT_EQ(99, run.exitCode);
    EXPECT_TRUE(run.journal.empty());
}

TEST(TriggerMain, FewerThanThreeArgumentsTouchNoCluster)
{
    TriggerRun run(EnqueueCluster(), {"N1", "ASCS"});
    EXPECT_EQ(99, run.exitCode);
    EXPECT_TRUE(run.journal.empty());
}

TEST(TriggerMain, LowerCaseManualTakesTheNormalPath)
{
    TriggerRun run(EnqueueCluster(), {"N1", "ASCS", "manual"});
    EXPECT_THAT(run.Texts('N', 50004),
                Contains("tollanpreonline trigger is called with whyonlining[manual] for the group[ASCS]."));
    run.ExpectOutcome(0, "ASCS N2");
}

TEST(TriggerMain, OverlongMessageIsCutToTheBuffer)
{
    std::string group(1500, 'G');
    TriggerRun run(EnqueueCluster(), {"N1", group, "FAULT"});
    std::vector<std::string> called = run.Texts('N', 50004);
    ASSERT_EQ(1u, called.size());
    EXPECT_EQ(1023u, called[0].size());
    EXPECT_EQ("tollanpreonline trigger is called with whyonlining[FAULT] for the group[GGG", called[0].substr(0, 75));
    run.ExpectOutcome(99, "");
}

TEST(TriggerMain, GroupWithNeitherResourceIsLeftAlone)
{
    ClusterText cluster;
    cluster.Group("WEB", "1").Resource("DIA", "WEB", "DIALOG", "PRD");
    TriggerRun run(cluster, {"N1", "WEB", "FAULT"});
    EXPECT_TRUE(run.Logged('N', 50015) && run.Logged('N', 50016));
    EXPECT_EQ(0u, run.Count("call TarnGrpOnline"));
    EXPECT_THAT(run.Texts('N', 50016),
                Contains(
                    "No Resource existed of type Tollan with \t\t\t\t\t\t InstType = [A/J]ENQREP in the group [WEB]. "
                    "Exiting the trigger ... "));
    EXPECT_EQ(50017, run.LastLogId());
    run.ExpectOutcome(99, "");
}

TEST(TriggerMain, GroupWithBothResourcesTakesTheEnqueuePathOnly)
{
    ClusterText cluster = EnqueueCluster();
    cluster.Resource("REP2", "ASCS", "ENQREP", "PRD", "002", "ENQ");
    TriggerRun run(cluster, {"N1", "ASCS", "FAULT"});
    EXPECT_FALSE(run.Logged('N', 50015));
    EXPECT_FALSE(run.Logged('I', 50401));
    // REP comes first in the cluster's list, so its system wins.
    run.ExpectOutcome(0, "ASCS N2");
}

TEST(TriggerEnqueue, FailsOverOntoTheReplicationServersSystem)
{
    TriggerRun run(EnqueueCluster(), {"N1", "ASCS", "FAULT"});
    EXPECT_TRUE(run.Logged('N', 50114));
    EXPECT_TRUE(run.Logged('N', 50330)); // ENQ itself is not a replication server
    EXPECT_THAT(run.Texts('N', 50327), Contains("system [N1] is not right one to online the ENQUEUE Server Group."));
    EXPECT_TRUE(Before(run, 50322, 50326));
    EXPECT_TRUE(run.Logged('N', 50014));
    EXPECT_THAT(run.Texts('I', 50009), Contains("OnlineEnqueueOnCorrespondingEnqrepNode returned with exit code [0]."));
    EXPECT_FALSE(run.Logged('C', 50009));
    EXPECT_EQ(1u, run.Count("call TarnGrpOnline"));
    run.ExpectOutcome(0, "ASCS N2");
}

TEST(TriggerEnqueue, ReplicationServerOnlineNowhereOnlinesOnTheRequestedSystem)
{
    TriggerRun run(EnqueueCluster("000"), {"N3", "ASCS", "FAULT"});
    EXPECT_THAT(run.Texts('N', 50327),
                Contains("The corresponding Replication Server is Offline on all the nodes in the cluster."));
    EXPECT_TRUE(run.Logged('N', 50337) && run.Logged('C', 50009) && run.Logged('N', 50011));
    EXPECT_THAT(run.Texts('N', 50013), Contains("Succesfully Onlined the group [ASCS] on system [N3]."));
    EXPECT_FALSE(run.Logged('N', 50014));
    run.ExpectOutcome(0, "ASCS N3");
}

TEST(TriggerEnqueue, ReplicationOnlineNowhereEndsTheSearchEvenWhenALaterOneMatches)
{
    ClusterText cluster = EnqueueCluster("000");
    cluster.Resource("REP2", "ERS", "ENQREP", "PRD", "002", "ENQ");
    TriggerRun run(cluster, {"N1", "ASCS", "FAULT"});
    EXPECT_EQ(0u, run.Count("call TarnObjGetAttribute REP2."));
    EXPECT_TRUE(run.Logged('N', 50337));
    run.ExpectOutcome(0, "ASCS N1");
}

TEST(TriggerEnqueue, RefusedFailOverEndsWithOneAndNoOtherOnline)
{
    ClusterText cluster = EnqueueCluster();
    cluster.Fail("TarnGrpOnline", "ASCS", "7");
    TriggerRun run(cluster, {"N1", "ASCS", "FAULT"});
    EXPECT_TRUE(run.Logged('E', 50325));
    EXPECT_EQ(1u, run.Count("call TarnGrpOnline"));
    EXPECT_TRUE(run.Logged('N', 50014));
    EXPECT_THAT(run.Texts('N', 50330),
                Contains(
                    "Corresponding Replication Server found for the Enqueue Server. Exiting with Return code [1]"));
    run.ExpectOutcome(1, "");
}

TEST(TriggerEnqueue, AAndJResourcesUseTheJFamily)
{
    ClusterText cluster;
    cluster.Group("ASCS", "111").Group("ERS");
    cluster.Resource("AENQ", "ASCS", "AENQUEUE", "PRD").Resource("JENQ", "ASCS", "JENQUEUE", "PRD");
    cluster.Resource("AREP", "ERS", "AENQREP", "PRD", "020", "JENQ");
    cluster.Resource("JREP", "ERS", "jenqrep", "prd", "002", "jenq");
    TriggerRun run(cluster, {"N1", "ASCS", "FAULT"});
    EXPECT_THAT(run.Texts('N', 50111),
                Contains("Both AENQUEUE [AENQ] and JENQUEUE[JENQ] of type Tollan found in the group [ASCS]."));
    // Placement comparisons ignore case: "jenqrep", "prd" and "jenq" match.
    run.ExpectOutcome(0, "ASCS N3");
}

TEST(TriggerEnqueue, SingleAOrJResourceKeepsItsFamily)
{
    ClusterText cluster;
    cluster.Group("AGRP", "111").Group("JGRP", "111").Group("ERS", "111");
    cluster.Resource("AENQ", "AGRP", "AENQUEUE", "PRD").Resource("JENQ", "JGRP", "JENQUEUE", "PRD");
    cluster.Resource("JREP", "ERS", "JENQREP", "PRD", "200", "JENQ");
    cluster.Resource("AREP", "ERS", "AENQREP", "PRD", "020", "AENQ");
    TriggerRun a(cluster, {"N3", "AGRP", "FAULT"});
    EXPECT_TRUE(a.Logged('N', 50112));
    a.ExpectOutcome(0, "AGRP N2");
    TriggerRun j(cluster, {"N3", "JGRP", "FAULT"});
    EXPECT_TRUE(j.Logged('N', 50113));
    j.ExpectOutcome(0, "JGRP N1");
}

TEST(TriggerEnqueue, LowerCaseEnqueueIsNoEnqueueButLowerCaseEnqrepMatches)
{
    ClusterText cluster;
    cluster.Group("ASCS", "111").Group("ERS").Group("OLD");
    cluster.Resource("LOWER", "OLD", "enqueue", "PRD");
    cluster.Resource("ENQ", "ASCS", "ENQUEUE", "PRD").Resource("REP", "ERS", "enqrep", "PRD", "020", "ENQ");
    TriggerRun lower(cluster, {"N1", "OLD", "FAULT"});
    EXPECT_TRUE(lower.Logged('N', 50110) && lower.Logged('N', 50115));
    lower.ExpectOutcome(99, "");

    TriggerRun plain(cluster, {"N1", "ASCS", "FAULT"});
    plain.ExpectOutcome(0, "ASCS N2");
}

TEST(TriggerEnqueue, MismatchedCandidatesAreSkippedForTheNextOne)
{
    ClusterText cluster;
    cluster.Group("ASCS", "111").Group("ERS");
    cluster.Resource("ENQ", "ASCS", "ENQUEUE", "PRD");
    cluster.Resource("OTHERSID", "ERS", "ENQREP", "QAS", "200", "ENQ");
    cluster.Resource("OTHERENQ", "ERS", "ENQREP", "PRD", "200", "ENQ2");
    cluster.Resource("AFAMILY", "ERS", "AENQREP", "PRD", "200", "ENQ");
    cluster.Resource("REP", "ERS", "ENQREP", "PRD", "002", "ENQ");
    TriggerRun run(cluster, {"N1", "ASCS", "FAULT"});
    EXPECT_THAT(run.Texts('N', 50329), Contains("SAPSID for ENQREP [QAS] does NOT match with ENQUEUE [PRD]."));
    EXPECT_THAT(run.Texts('N', 50328),
                Contains(
                    "EnqSrvResName attribute value[ENQ2] for ENQREP Resource [OTHERENQ] does \t\t\t\t\t\t\t\t\tNOT "
                    "match with ENQUEUE Server Resource Name."));
    run.ExpectOutcome(0, "ASCS N3");
}

TEST(TriggerEnqueue, NoReplicationServerOfTheTypeAtAll)
{
    ClusterText cluster;
    cluster.Group("ASCS", "111").Resource("ENQ", "ASCS", "ENQUEUE", "PRD");
    TriggerRun run(cluster, {"N1", "ASCS", "FAULT"});
    EXPECT_THAT(run.Texts('N', 50330), Contains("No Corresponding Replication Server found for the Enqueue Server."));
    EXPECT_THAT(run.Texts('N', 50337),
                Contains("No Corresponding Replication Server found Online for the Enqueue "
                         "Server.Exiting with Return code [99]"));
    run.ExpectOutcome(0, "ASCS N1");
}

std::string TargetOf(const TriggerRun& run)
{
    std::vector<std::string> target = run.Texts('I', 50425);
    return target.empty() ? "" : target.front();
}

TEST(TriggerEnqrep, OtherSystemWhenTheEnqueueServerRunsOnTheRequestedOne)
{
    TriggerRun run(ReplicaCluster("2202"), {"N1", "ERS", "FAULT"});
    EXPECT_EQ("Target system [N3].", TargetOf(run));
    EXPECT_TRUE(run.Logged('N', 50421) && run.Logged('N', 50424));
    EXPECT_TRUE(run.Logged('I', 50901) && run.Logged('I', 50428));
    run.ExpectOutcome(0, "ERS N3");
}

TEST(TriggerEnqrep, RequestedSystemWinsOverEarlierOnes)
{
    TriggerRun run(ReplicaCluster("0002"), {"N3", "ERS", "FAULT"});
    EXPECT_EQ("Target system [N3].", TargetOf(run));
    EXPECT_TRUE(run.Logged('I', 50422));
    run.ExpectOutcome(0, "ERS N3");
}

TEST(TriggerEnqrep, LaterQualifyingSystemReplacesAnEarlierOne)
{
    TriggerRun run(ReplicaCluster("2002"), {"N4", "ERS", "FAULT"});
    EXPECT_EQ("Target system [N3].", TargetOf(run));
    EXPECT_THAT(
        run.Texts('N', 50421),
        Contains("system [N4] is not right one to online the [A/J]ENQREP Server Group.\t\t\t\t\t\t\t\t\t\t The Enqueue "
                 "Server is Online on this node."));
    run.ExpectOutcome(0, "ERS N3");
}

TEST(TriggerEnqrep, OnlyTheFaultedSystemLeftGivesNoTarget)
{
    TriggerRun run(ReplicaCluster("2202"), {"N1", "ERS", "FAULT", "n3"});
    EXPECT_THAT(
        run.Texts('N', 50423),
        Contains(
            "system [N3] is not right one to online the [A/J]ENQREP Server Group.\t\t\t\t\t\t\t\t\t The Replication "
            "Server is Faulted on this node."));
    EXPECT_TRUE(run.Logged('C', 50429));
    EXPECT_EQ(0u, run.Count("call TarnGrpOnline"));
    run.ExpectOutcome(1, "");
}

TEST(TriggerEnqrep, RequestedSystemThatIsAlsoFaultedIsJudgedAsTheRequestedOne)
{
    TriggerRun run(ReplicaCluster("0020"), {"N2", "ERS", "FAULT", "N2"});
    EXPECT_EQ("Target system [N2].", TargetOf(run));
    EXPECT_FALSE(run.Logged('N', 50423));
    run.ExpectOutcome(0, "ERS N2");
}

TEST(TriggerEnqrep, GroupNotOfflineOnTheTarget)
{
    TriggerRun run(ReplicaCluster("2000", "14"), {"N2", "ERS", "FAULT"});
    EXPECT_EQ("Target system [N2].", TargetOf(run));
    EXPECT_THAT(run.Texts('I', 50900), Contains("Number of systems [1] and the system name [N2]."));
    EXPECT_TRUE(run.Logged('E', 50922) && run.Logged('E', 50923));
    EXPECT_EQ(0u, run.Count("call TarnGrpOnline"));
    run.ExpectOutcome(1, "");
}

TEST(TriggerEnqrep, EnqueueResourceOfAnotherKindOrSystemIsRefused)
{
    struct Case {
        const char* type;
        const char* instType;
        const char* sid;
        int id;
    } cases[] = {{"Tollan", "JENQUEUE", "PRD", 50431},
                 {"Other", "ENQUEUE", "PRD", 50432},
                 {"tollan", "enqueue", "QAS", 50430}};
    for (const Case& c : cases) {
        ClusterText cluster;
        cluster.Group("ASCS").Group("ERS", "111");
        cluster.Resource("ENQ", "ASCS", c.instType, c.sid, {}, "", c.type);
        cluster.Resource("REP", "ERS", "ENQREP", "PRD", {}, "ENQ");
        SCOPED_TRACE(c.id);
        TriggerRun run(cluster, {"N1", "ERS", "FAULT"});
        EXPECT_TRUE(run.Logged('E', c.id));
        run.ExpectOutcome(99, "");
    }
}

} // namespace
