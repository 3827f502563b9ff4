#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TarnTestHost.h"
#include "TollanLog.h"

namespace {

class AgentSink : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_QLibLogQueue.SetSink(&g_TollanLogSink);
        g_QLibLogQueue.OpenThreadQueue();
        g_QLibLogQueue.EnableThreadQueue();
        g_QLibLogQueue.ClearThreadQueue();
        TarnAgHostLogClear();
    }
    void TearDown() override { g_QLibLogQueue.ClearThreadQueue(); }
};

TEST_F(AgentSink, TraceLineReachesTheResourceLogAtOnceWithTag19)
{
    QLIB_TRACE("CTollan::Online", L"Starting service %s.", L"SAPPRD_00");
    std::vector<TarnAgLogEntry> lines = TarnTestLogs(TARNAG_LOG_RESOURCE);
    ASSERT_EQ(1u, lines.size());
    EXPECT_EQ(19u, lines[0].tag);
    EXPECT_STREQ("CTollan::Online", lines[0].function);
    EXPECT_STREQ("TollanLogTest.cpp", lines[0].source);
    EXPECT_EQ(static_cast<uint32_t>(__LINE__ - 6), lines[0].line);
    EXPECT_STREQ(L"Starting service SAPPRD_00.", lines[0].text);
    EXPECT_TRUE(TarnTestLogs(TARNAG_LOG_MESSAGE).empty());
}

TEST_F(AgentSink, DumpOfThreeRecordsGivesFiveMessagesWithId10000)
{
    for (int i = 1; i <= 3; ++i)
        QLIB_TRACE("CTollan::Monitor", L"step %d", i);
    g_QLibLogQueue.Dump();
    std::vector<TarnAgLogEntry> messages = TarnTestLogs(TARNAG_LOG_MESSAGE);
    ASSERT_EQ(5u, messages.size());
    for (const TarnAgLogEntry& m : messages) {
        EXPECT_EQ(10000u, m.msgId);
        EXPECT_EQ(4u, m.severity);
        EXPECT_STREQ("TollanLog", m.source);
        EXPECT_EQ(24u, m.line);
    }
    EXPECT_STREQ(L"*** Start of debug information dump for troubleshooting ***", messages[0].text);
    EXPECT_STREQ(L"step 2", messages[2].text);
    EXPECT_STREQ("CTollan::Monitor", messages[2].function);
    EXPECT_STREQ(L"*** End of debug information dump for troubleshooting ***", messages[4].text);
    EXPECT_EQ(3u, TarnTestLogs(TARNAG_LOG_RESOURCE).size()); // the dump itself is not traced again
}

TEST_F(AgentSink, PercentSignsComeOutUnchangedInBothLogs)
{
    QLIB_TRACE("CTollanUtil::Run", L"%s", L"disk 100% full, %s %d %S");
    g_QLibLogQueue.Dump();
    EXPECT_STREQ(L"disk 100% full, %s %d %S", TarnTestLogs(TARNAG_LOG_RESOURCE).at(0).text);
    EXPECT_STREQ(L"disk 100% full, %s %d %S", TarnTestLogs(TARNAG_LOG_MESSAGE).at(1).text);
}

TEST(TarnAgLogSink, WritesRecordsWithItsDumpTagAndNothingAtOnceWhenNotImmediate)
{
    TarnAgHostLogClear();
    CTarnAgLogSink sink(5, 6);
    EXPECT_TRUE(sink.IsImmediate());
    sink.WriteNow("a.cpp", 1, "F::A", L"now");
    sink.WriteRecord("b.cpp", 2, "F::B", L"record");
    sink.SetImmediate(0);
    sink.WriteNow("c.cpp", 3, "F::C", L"dropped");
    std::vector<TarnAgLogEntry> lines = TarnTestLogs(TARNAG_LOG_RESOURCE);
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ(6u, lines[0].tag);
    EXPECT_EQ(5u, lines[1].tag);
    EXPECT_STREQ("b.cpp", lines[1].source);
    EXPECT_EQ(2u, lines[1].line);
}

} // namespace
