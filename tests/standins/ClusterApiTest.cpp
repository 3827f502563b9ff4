#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "TarnApiTest.h"
#include "TarnTestCluster.h"

namespace {

const char* const Sample = R"(# a small cluster
system N1
system N2
system N3
type Tollan
    arg SAPSID
    arg ProcMon list
    OnlineTimeout = 450
group ASCS
    state N1 1
    state N2 4
group ERS
resource EnqA
    Type = Tollan
    Group = ASCS
    InstType = ENQUEUE
    SAPSID = PRD
resource Other
    Type = Disk
    Group = ASCS
resource RepA
    Type = Tollan
    Group = ERS
    InstType = ENQREP
    ProcMon += a.exe
    ProcMon += b.exe
    state N3 2
    state N1 1
)";

class ClusterApi : public ::testing::Test {
protected:
    void Open(const std::string& extra = "")
    {
        files = std::make_unique<TarnTestCluster>(Sample + extra);
        ASSERT_EQ(0, TarnApiInit(0, 0));
        cluster = TarnClusterOpenLocal(0xFFFFFFFF, 0);
        ASSERT_NE(nullptr, cluster);
    }
    void TearDown() override
    {
        if (cluster != nullptr)
            TarnClusterClose(cluster, 0);
        TarnApiExit(0);
    }

    std::vector<std::string> Names(uint32_t kind, uint32_t cntlKind, std::vector<const char*> values)
    {
        TarnCntlInfo* cntl = nullptr;
        if (cntlKind != 0) {
            EXPECT_EQ(0, TarnFillCntlInfo(cntlKind, values.data(), static_cast<uint32_t>(values.size()), &cntl));
        }
        TarnNameList* list = nullptr;
        EXPECT_EQ(0, TarnObjGetNames(cluster, kind, 0, &list, cntl));
        std::vector<std::string> names;
        for (uint32_t i = 0; list != nullptr && i < list->count; ++i)
            names.push_back(list->names[i]);
        TarnFreeObjNames(list);
        if (cntl != nullptr)
            TarnFreeCntlInfo(cntl);
        return names;
    }

    void ExpectJournalHas(std::initializer_list<const char*> lines)
    {
        for (const char* line : lines)
            EXPECT_TRUE(files->JournalHas(line)) << line;
    }

    std::unique_ptr<TarnTestCluster> files;
    TarnHandle cluster = nullptr;
};

using Strings = std::vector<std::string>;

TEST_F(ClusterApi, NamesComeInDescriptionOrderAndControlKindsSelectThem)
{
    Open();
    EXPECT_EQ((Strings{"EnqA", "Other", "RepA"}), Names(TARN_OBJ_RESOURCE, 0, {}));
    EXPECT_EQ((Strings{"EnqA", "RepA"}), Names(TARN_OBJ_RESOURCE, TARN_CNTL_TYPE, {"Tollan"}));
    EXPECT_EQ((Strings{"EnqA"}), Names(TARN_OBJ_RESOURCE, TARN_CNTL_TYPE_IN_GROUP, {"Tollan", "ASCS"}));
    EXPECT_EQ((Strings{}), Names(TARN_OBJ_RESOURCE, TARN_CNTL_TYPE_IN_GROUP, {"Tollan", "NOPE"}));
    EXPECT_EQ((Strings{"N1", "N2", "N3"}), Names(TARN_OBJ_SYSTEM, 0, {}));
    EXPECT_EQ((Strings{"ASCS", "ERS"}), Names(TARN_OBJ_GROUP, 0, {}));
    const char* twoValues[] = {"a", "b"};
    TarnCntlInfo* cntl = nullptr;
    EXPECT_EQ(TARN_E_INVALID_ARG, TarnFillCntlInfo(TARN_CNTL_TYPE, twoValues, 2, &cntl));
    EXPECT_EQ(nullptr, cntl);
    TarnFreeError();
    EXPECT_EQ(1u, TarnApiTestUnreleased()); // the cluster handle alone
}

TEST_F(ClusterApi, StatesListSystemsInDescriptionOrderAndKind17LimitsToOne)
{
    Open();
    TarnStateInfo* info = nullptr;
    ASSERT_EQ(0, TarnObjGetState(cluster, TARN_OBJ_RESOURCE, "RepA", 0, &info, nullptr));
    ASSERT_EQ(1u, info->count);
    ASSERT_EQ(2u, info->objects[0].count);
    EXPECT_STREQ("N1", info->objects[0].systems[0].system);
    EXPECT_EQ(1u, info->objects[0].systems[0].state);
    EXPECT_STREQ("N3", info->objects[0].systems[1].system);
    EXPECT_EQ(2u, info->objects[0].systems[1].state);
    TarnFreeStateInfo(info);

    const char* system[] = {"N3"};
    TarnCntlInfo* cntl = nullptr;
    ASSERT_EQ(0, TarnFillCntlInfo(TARN_CNTL_ON_SYSTEM, system, 1, &cntl));
    ASSERT_EQ(0, TarnObjGetState(cluster, TARN_OBJ_RESOURCE, "RepA", 0, &info, cntl));
    ASSERT_EQ(1u, info->objects[0].count);
    EXPECT_EQ(2u, info->objects[0].systems[0].state);
    TarnFreeStateInfo(info);
    TarnFreeCntlInfo(cntl);

    ASSERT_EQ(0, TarnObjGetState(cluster, TARN_OBJ_GROUP, "ERS", 0, &info, nullptr));
    EXPECT_EQ(0u, info->objects[0].count);
    TarnFreeStateInfo(info);
    EXPECT_EQ(TARN_E_NOT_FOUND, TarnObjGetState(cluster, TARN_OBJ_GROUP, "EnqA", 0, &info, nullptr));
    TarnFreeError();
}

TEST_F(ClusterApi, IntegerAttributeLiesWhereTheAgentLooksAndTextCopiesAreOwned)
{
    Open();
    TarnAttr* attr = nullptr;
    ASSERT_EQ(0, TarnObjGetAttribute(cluster, TARN_OBJ_TYPE, "Tollan", "OnlineTimeout", nullptr, &attr, 0));
    // Byte 16, then the pointer it points to, byte 8 of that, the pointer there points to the value.
    auto at = [](const void* base, size_t offset) {
        return *reinterpret_cast<char* const*>(static_cast<const char*>(base) + offset);
    };
    const char* item = at(at(attr, 16), 0);
    EXPECT_EQ(450, *reinterpret_cast<const int32_t*>(at(at(item, 8), 0)));
    char* text = nullptr;
    ASSERT_EQ(0, TarnAttrGetStr(attr, 0, 0, &text, 0));
    EXPECT_STREQ("450", text);
    TarnFreeStr(&text);
    EXPECT_EQ(nullptr, text);
    TarnFreeAttr(&attr);
    EXPECT_EQ(nullptr, attr);

    ASSERT_EQ(0, TarnObjGetAttribute(cluster, TARN_OBJ_RESOURCE, "RepA", "ProcMon", nullptr, &attr, 0));
    EXPECT_EQ(2u, attr->itemCount);
    ASSERT_EQ(0, TarnAttrGetStr(attr, 1, 0, &text, 0));
    EXPECT_STREQ("b.exe", text);
    TarnFreeStr(&text);
    TarnFreeAttr(&attr);

    ASSERT_EQ(0, TarnResGetType(cluster, "Other", &text, 0));
    EXPECT_STREQ("Disk", text);
    TarnFreeStr(&text);
    EXPECT_EQ(TARN_E_NOT_FOUND, TarnObjGetAttribute(cluster, TARN_OBJ_RESOURCE, "RepA", "SAPSID", nullptr, &attr, 0));
    TarnFreeError();
    EXPECT_EQ(1u, TarnApiTestUnreleased());
}

TEST_F(ClusterApi, InjectedFailureGivesItsCodeAndAnErrorRecordUntilFreed)
{
    Open("fail TarnObjGetAttribute EnqA.SAPSID 0x1234 1\nfail TarnClusterClose * 9\n");
    TarnAttr* attr = nullptr;
    EXPECT_EQ(0x1234, TarnObjGetAttribute(cluster, TARN_OBJ_RESOURCE, "EnqA", "SAPSID", nullptr, &attr, 0));
    EXPECT_EQ(nullptr, attr);
    const auto* record = reinterpret_cast<const uint8_t*>(TarnApiGetLastError());
    uint32_t number = 0, code = 0;
    memcpy(&number, record + 4, 4);
    memcpy(&code, record + 8, 4);
    EXPECT_EQ(0x1234u, code);
    EXPECT_GT(number, 0u);
    EXPECT_EQ(2u, TarnApiTestUnreleased()); // cluster handle and the error record
    TarnFreeError();
    EXPECT_EQ(1u, TarnApiTestUnreleased());
    EXPECT_EQ(0u, TarnApiGetLastError()->code);

    // Used up: the second read succeeds.
    ASSERT_EQ(0, TarnObjGetAttribute(cluster, TARN_OBJ_RESOURCE, "EnqA", "SAPSID", nullptr, &attr, 0));
    TarnFreeAttr(&attr);
    EXPECT_EQ(9, TarnClusterClose(cluster, 0));
    EXPECT_EQ(9, TarnClusterClose(cluster, 0));
    TarnFreeError();
    TarnFreeError();
    ExpectJournalHas({"call TarnObjGetAttribute EnqA.SAPSID kind=3 = 4660",
                      "release TarnFreeError error TarnObjGetAttribute",
                      "release TarnFreeError error TarnClusterClose"});
}

TEST_F(ClusterApi, EmptyAnswersAreListsWithoutEntries)
{
    Open(
        "fail TarnObjGetNames 18,Tollan empty\nfail TarnObjGetState EnqA empty\nfail TarnObjGetAttribute Tollan.OnlineTimeout empty\n");
    EXPECT_EQ((Strings{}), Names(TARN_OBJ_RESOURCE, TARN_CNTL_TYPE, {"Tollan"}));
    TarnStateInfo* info = nullptr;
    ASSERT_EQ(0, TarnObjGetState(cluster, TARN_OBJ_RESOURCE, "EnqA", 0, &info, nullptr));
    EXPECT_EQ(0u, info->count);
    TarnFreeStateInfo(info);
    TarnAttr* attr = reinterpret_cast<TarnAttr*>(&info);
    EXPECT_EQ(0, TarnObjGetAttribute(cluster, TARN_OBJ_TYPE, "Tollan", "OnlineTimeout", nullptr, &attr, 0));
    EXPECT_EQ(nullptr, attr);
    EXPECT_EQ(1u, TarnApiTestUnreleased());
}

TEST_F(ClusterApi, GroupOnlineTakesAFreshOnlineControlInfoAndIsJournaled)
{
    Open("fail TarnGrpOnline ERS 7 1\n");
    TarnCntlInfo* online = nullptr;
    ASSERT_EQ(0, TarnFillCntlInfo(TARN_CNTL_ONLINE, nullptr, 0, &online));
    EXPECT_EQ(0, TarnGrpOnline(cluster, "ASCS", "N2", 0, online));
    EXPECT_EQ(7, TarnGrpOnline(cluster, "ERS", "N2", 0, online));
    TarnFreeError();
    EXPECT_EQ(TARN_E_NOT_FOUND, TarnGrpOnline(cluster, "ASCS", "N9", 0, online));
    TarnFreeError();
    EXPECT_EQ(TARN_E_INVALID_ARG, TarnGrpOnline(cluster, "ASCS", "N2", 0, nullptr));
    TarnFreeError();
    TarnFreeCntlInfo(online);
    EXPECT_EQ(TARN_E_INVALID_ARG, TarnGrpOnline(cluster, "ASCS", "N2", 0, online)); // released before
    TarnFreeError();
    ExpectJournalHas({"call TarnFillCntlInfo 48 values= cntl=#1/48 = 0", "online ASCS N2 #1/48",
                      "call TarnGrpOnline ERS@N2 cntl=#1/48 = 7", "call TarnGrpOnline ASCS@N2 cntl=unknown = 8193"});
    EXPECT_FALSE(files->JournalHas("online ERS N2 #1/48"));
}

TEST_F(ClusterApi, JournalKeepsMessagesAsGivenAndCountsWhatWasNeverReleased)
{
    Open();
    EXPECT_EQ(0, TarnLogAddMsg(cluster, 'N', "two\ttabs\there\nand a break", 0, 50004, 0));
    TarnNameList* list = nullptr;
    ASSERT_EQ(0, TarnObjGetNames(cluster, TARN_OBJ_GROUP, 0, &list, nullptr));
    TarnFreeObjNames(list);
    TarnFreeObjNames(list); // twice
    ASSERT_EQ(0, TarnObjGetNames(cluster, TARN_OBJ_GROUP, 0, &list, nullptr)); // never released
    EXPECT_EQ(TARN_E_INVALID_ARG, TarnLogAddMsg(nullptr, 'E', "x", 0, 50012, 0)); // error record kept
    EXPECT_EQ(0, TarnClusterClose(cluster, 0));
    cluster = nullptr;
    EXPECT_EQ(0, TarnApiExit(0));
    ExpectJournalHas({"log N 50004 two\ttabs\there\\nand a break", "release TarnFreeObjNames names -",
                      "release TarnFreeObjNames unknown", "release TarnClusterClose cluster TarnClusterOpenLocal",
                      "leak names -", "leak error TarnLogAddMsg", "unreleased 2"});
}

TEST_F(ClusterApi, WithoutInitOrDescriptionThereIsNoCluster)
{
    EXPECT_EQ(nullptr, TarnClusterOpenLocal(0xFFFFFFFF, 0));
    EXPECT_EQ(static_cast<uint32_t>(TARN_E_NOT_INITIALIZED), TarnApiGetLastError()->code);
    TarnFreeError();
    ASSERT_EQ(0, TarnApiInit(0, 0)); // TARN_CLUSTER_DESC unset
    EXPECT_EQ(nullptr, TarnClusterOpenLocal(0xFFFFFFFF, 0));
    EXPECT_EQ(static_cast<uint32_t>(TARN_E_NOT_FOUND), TarnApiGetLastError()->code);
    TarnFreeError();
}

TEST_F(ClusterApi, UnreadableDescriptionFailsInitNamingTheLine)
{
    TarnTestCluster bad("system N1\nresource R\n    no assignment here\n");
    EXPECT_EQ(TARN_E_DESCRIPTION, TarnApiInit(0, 0));
    EXPECT_NE(nullptr, strstr(TarnApiGetLastError()->text, "line 3"));
    TarnFreeError();
    TarnTestCluster badFail("fail TarnApiInit * 0\n");
    EXPECT_EQ(TARN_E_DESCRIPTION, TarnApiInit(0, 0));
    TarnFreeError();
}

struct Seen {
    DWORD thread = 0;
    int32_t value = -1;
    bool nullAttr = false;
    int calls = 0;
};
Seen g_Seen;

int32_t RecordChange(int32_t event, int32_t kind, void* context, TarnAttr* attr)
{
    g_Seen.thread = GetCurrentThreadId();
    g_Seen.nullAttr = attr == nullptr;
    if (attr != nullptr)
        g_Seen.value = *attr->items[0]->scalar->intValue;
    g_Seen.calls += event == TARN_EVENT_ATTR_CHANGED && kind == TARN_OBJ_TYPE && context == &g_Seen;
    return 0;
}

TEST_F(ClusterApi, AttributeChangeCallsTheRegisteredCallbackOnAnotherThread)
{
    Open();
    g_Seen = {};
    TarnRegHandle reg = TarnObjRegister(cluster, TARN_OBJ_TYPE, "Tollan", "OnlineTimeout", 7, RecordChange, &g_Seen);
    ASSERT_NE(nullptr, reg);
    EXPECT_EQ(1, TarnApiTestChangeAttr(TARN_OBJ_TYPE, "Tollan", "OnlineTimeout", "77"));
    EXPECT_EQ(77, g_Seen.value);
    EXPECT_NE(GetCurrentThreadId(), g_Seen.thread);
    EXPECT_EQ(1, TarnApiTestChangeAttr(TARN_OBJ_TYPE, "Tollan", "OnlineTimeout", nullptr));
    EXPECT_TRUE(g_Seen.nullAttr);
    EXPECT_EQ(0, TarnApiTestChangeAttr(TARN_OBJ_TYPE, "Tollan", "CleanTimeout", "5"));
    EXPECT_EQ(2, g_Seen.calls);

    TarnAttr* attr = nullptr;
    ASSERT_EQ(0, TarnObjGetAttribute(cluster, TARN_OBJ_TYPE, "Tollan", "OnlineTimeout", nullptr, &attr, 0));
    EXPECT_EQ(77, *attr->items[0]->scalar->intValue);
    TarnFreeAttr(&attr);
    EXPECT_EQ(0, TarnObjUnRegister(reg, 0));
    EXPECT_EQ(0, TarnApiTestChangeAttr(TARN_OBJ_TYPE, "Tollan", "OnlineTimeout", "78"));
    EXPECT_EQ(nullptr, TarnObjRegister(cluster, TARN_OBJ_TYPE, "NoType", "X", 7, RecordChange, nullptr));
    TarnFreeError();
}

} // namespace
