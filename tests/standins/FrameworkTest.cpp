#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "TarnTestCluster.h"
#include "TarnTestHost.h"

namespace {

const char* const Cluster = R"(system N1
type fakeagent
    arg SAPSID
    arg ProcMon list
    arg InstName
resource R1
    Type = fakeagent
    SAPSID = PRD
    ProcMon += disp+work.exe
    ProcMon += msg_server.exe
    InstName = DVEBMGS00
resource R2
    Type = fakeagent
    InstName =
)";

class Framework : public ::testing::Test {
protected:
    void Start(const std::string& extra = "")
    {
        files = std::make_unique<TarnTestCluster>(Cluster + extra);
        TarnAgHostLogClear();
        TarnAgHostCookiesClear();
        ASSERT_EQ(0, TarnAgHostStart(L"fakeagent.dll"));
    }
    void TearDown() override { TarnAgHostStop(); }

    TarnAgLogEntry Last() { return TarnTestLogs().back(); }

    std::unique_ptr<TarnTestCluster> files;
};

TEST_F(Framework, StartupRegistersTheTableAndCategoryOnTheControlThread)
{
    Start();
    ASSERT_NE(nullptr, TarnAgHostTable());
    EXPECT_EQ(nullptr, TarnAgHostTable()->reserved0);
    EXPECT_EQ(55002u, TarnAgHostLogCategory());
    TarnAgLogEntry started = Last();
    EXPECT_EQ(static_cast<uint32_t>(TARNAG_LOG_MESSAGE), started.log);
    EXPECT_EQ(20000u, started.msgId);
    EXPECT_NE(std::to_wstring(GetCurrentThreadId()), started.text);

    ASSERT_EQ(0, TarnAgHostShutdown());
    EXPECT_STREQ(started.text, Last().text); // the same framework thread
    EXPECT_EQ(static_cast<int32_t>(TARNAG_E_NO_STARTUP), TarnAgHostStart(L"tarnapi_mt.dll"));
    EXPECT_EQ(static_cast<int32_t>(TARNAG_E_NO_AGENT), TarnAgHostStart(L"nosuchagent.dll"));
}

TEST_F(Framework, ArgumentListFollowsTheTypeOrderWithListsAsCountThenItems)
{
    Start();
    uint32_t result = 0;
    ASSERT_EQ(0, TarnAgHostCall(TARNAG_OP_ONLINE, "R1", &result));
    EXPECT_EQ(5u, result);
    TarnAgLogEntry entry = Last();
    EXPECT_STREQ(L"R1 (2 chars, R1): PRD|2|disp+work.exe|msg_server.exe|DVEBMGS00", entry.text);
    EXPECT_STREQ("FakeOnline", entry.function);
    EXPECT_STREQ("FakeAgent", entry.source);
    EXPECT_EQ(21u, entry.line);
    EXPECT_EQ(4u, entry.severity);

    ASSERT_EQ(0, TarnAgHostCall(TARNAG_OP_ONLINE, "R2", &result));
    EXPECT_STREQ(L"R2 (2 chars, R2): |0|", Last().text);
    const char* values[] = {"a", "b"};
    ASSERT_EQ(0, TarnAgHostCallWith(TARNAG_OP_ONLINE, "Raw", values, 2, &result));
    EXPECT_STREQ(L"Raw (3 chars, Raw): a|b", Last().text);
    EXPECT_EQ(0u, TarnAgHostUnreleased());
    EXPECT_EQ(static_cast<int32_t>(TARNAG_E_NO_RESOURCE), TarnAgHostCall(TARNAG_OP_ONLINE, "R9", &result));
}

TEST_F(Framework, InjectedConversionFailuresReturnTheirCodes)
{
    Start(
        "fail TarnAgEncodeString R1 0x51 1\nfail TarnAgGetEncodedArgList PRD 0x52\nfail TarnAgGetEncodedArgList - empty\n");
    uint32_t result = 0;
    ASSERT_EQ(0, TarnAgHostCall(TARNAG_OP_ONLINE, "R1", &result));
    EXPECT_EQ(0x51u, result);
    ASSERT_EQ(0, TarnAgHostCall(TARNAG_OP_ONLINE, "R1", &result));
    EXPECT_EQ(0x52u, result);
    // An empty answer: a list without entries.
    ASSERT_EQ(0, TarnAgHostCallWith(TARNAG_OP_ONLINE, "R3", nullptr, 0, &result));
    EXPECT_EQ(0u, result) << Last().text;
    EXPECT_EQ(0u, TarnAgHostUnreleased());
}

TEST_F(Framework, MessagesFormatWithWideRulesAndResourceLinesStayAsWritten)
{
    Start();
    uint32_t thread = 0;
    ASSERT_EQ(0, TarnAgHostCall(TARNAG_OP_OFFLINE, "R1", &thread));
    EXPECT_NE(GetCurrentThreadId(), thread);
    TarnAgLogEntry entry = Last();
    EXPECT_EQ(static_cast<uint32_t>(TARNAG_LOG_RESOURCE), entry.log);
    EXPECT_EQ(19u, entry.tag);
    EXPECT_STREQ(L"100% done %s %d", entry.text);
    EXPECT_STREQ("FakeAgent.cpp", entry.source);

    uint32_t result = 0;
    ASSERT_EQ(0, TarnAgHostCall(TARNAG_OP_CLEAN, "R1", &result));
    EXPECT_EQ(1u, result);
    entry = Last();
    EXPECT_EQ(static_cast<uint32_t>(TARNAG_LOG_CONSOLE), entry.log);
    EXPECT_STREQ(L"clean 0 with 5 values", entry.text);
    EXPECT_EQ(3u, entry.severity);
}

TEST_F(Framework, CookiesOutliveCallsAndAreKeptPerName)
{
    Start();
    uint32_t counter = 0;
    for (uint32_t expected = 1; expected <= 3; ++expected) {
        ASSERT_EQ(0, TarnAgHostCall(TARNAG_OP_MONITOR, "R1", &counter));
        EXPECT_EQ(expected, counter);
    }
    ASSERT_EQ(0, TarnAgHostCall(TARNAG_OP_MONITOR, "R2", &counter));
    EXPECT_EQ(1u, counter);
    wchar_t* value = TarnAgGetCookie("R1_count");
    ASSERT_NE(nullptr, value);
    EXPECT_STREQ(L"3", value);
    free(value);
    EXPECT_EQ(nullptr, TarnAgGetCookie("R3_count"));
    EXPECT_NE(0, TarnAgSetCookie("R1_count", nullptr));
}

TEST_F(Framework, EntryPointsRunOnThreadsOfTheirOwnAtTheSameTime)
{
    Start();
    std::vector<HANDLE> threads;
    for (int i = 0; i < 4; ++i)
        threads.push_back(CreateThread(
            nullptr, 0,
            [](void*) -> DWORD {
                uint32_t result = 0;
                return TarnAgHostCall(TARNAG_OP_ONLINE, "R1", &result) == 0 && result == 5 ? 0 : 1;
            },
            nullptr, 0, nullptr));
    for (HANDLE thread : threads) {
        WaitForSingleObject(thread, INFINITE);
        DWORD code = 1;
        GetExitCodeThread(thread, &code);
        EXPECT_EQ(0u, code);
        CloseHandle(thread);
    }
    EXPECT_EQ(0u, TarnAgHostUnreleased());
}

} // namespace
