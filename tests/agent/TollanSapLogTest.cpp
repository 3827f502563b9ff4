#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>
#include <sstream>
#include <string>

#include "ClockHook.h"
#include "ImportHook.h"
#include "SapFixture.h"
#include "ServiceTestSupport.h"
#include "TarnTestHost.h"
#include "Tollan.h"

namespace {

// 1 May 2027, 07:05:09 UTC, whatever the machine's clock says.
void WINAPI PinnedTime(SYSTEMTIME* time)
{
    *time = {2027, 5, 6, 1, 7, 5, 9, 0};
}

std::string ReadAll(const std::wstring& path)
{
    std::ifstream file(path.c_str(), std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

std::string Record(const std::string& sid, const std::string& instName, const std::string& action)
{
    const std::string line = "===========================================";
    return line + "\r\nSAPSID: " + sid + "\r\nInstance Name: " + instName + "\r\nDate: 01-May-2027 07:05:09" + action
        + "\r\n" + line + "\r\n";
}

std::wstring Wide(const std::string& text)
{
    return std::wstring(text.begin(), text.end());
}

TEST(TollanSapLog, RecordsAreAppendedWholeAsTheirBytesOrReportedAs10187)
{
    ImportHook clock(GetModuleHandleW(nullptr), "GetSystemTime", reinterpret_cast<const void*>(&PinnedTime));
    ASSERT_TRUE(clock.Active());
    SapFixture sap(SapInstanceType::Central, "QL1");
    ASSERT_TRUE(sap.Ok()) << sap.Error();
    const std::wstring home = Wide(sap.sapHome), sidFolder = Wide(sap.root) + L"\\usr\\sap\\QL1";
    // A character above 255 becomes '?' in the record, while the file keeps its real name.
    const std::wstring wide = L"D\u0100VEBMGS00";
    CreateDirectoryW((sidFolder + L"\\" + wide).c_str(), nullptr);
    CreateDirectoryW((sidFolder + L"\\" + wide + L"\\log").c_str(), nullptr);
    const std::wstring central = Wide(sap.logFile),
                       odd = sidFolder + L"\\" + wide + L"\\log\\QL1_" + wide + L"_logfile.log";
    const std::wstring missing = sidFolder + L"\\D01\\log\\QL1_D01_logfile.log", noSid = Wide(sap.root) + L"\\run";
    const std::string clean = Record("QL1", "DVEBMGS00", "Action: SAP instance cleaned by Tarn.");
    const std::string started = Record("QL1", "DVEBMGS00", "Action: SAP instance started by Tarn.");
    const struct {
        std::wstring home, instName;
        uint32_t action;
        std::wstring file;
        std::string content; // the file after the call
        std::wstring reported; // the insert of message 10187, empty when none
    } rows[] = {
        {home, L"DVEBMGS00", 4, central, clean, L""},
        {home, L"DVEBMGS00", 1, central, clean + started, L""},
        {home, wide, 9, odd, Record("QL1", "D?VEBMGS00", ""), L""},
        {home, L"D01", 2, missing, "", missing},
        {noSid, L"DVEBMGS00", 3, noSid, "", noSid},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::PrintToString(row.file));
        TarnAgHostLogClear();
        EXPECT_TRUE(IsOK(CTollan::_LogSAP(row.home, L"QL1", row.instName, row.action)));
        EXPECT_EQ(row.content, ReadAll(row.file));
        std::vector<TarnAgLogEntry> messages = TarnTestLogs(TARNAG_LOG_MESSAGE);
        ASSERT_EQ(row.reported.empty() ? 0u : 1u, messages.size());
        if (!row.reported.empty()) {
            EXPECT_EQ(10187u, messages[0].msgId);
            EXPECT_EQ(L"Failed to open the SAP log file [" + row.reported + L"], Check file permissions.",
                      std::wstring(messages[0].text));
        }
    }
}

TEST(TollanSapLog, MonthNames)
{
    const struct {
        uint32_t month;
        const wchar_t* name;
    } rows[] = {{1, L"Jan"}, {5, L"May"}, {12, L"Dec"}, {0, L"???"}, {13, L"???"}, {0xFFFFFFFF, L"???"}};
    for (const auto& row : rows) {
        wchar_t name[4] = L"xyz";
        CTollan::_GetMonthName(row.month, name);
        EXPECT_STREQ(row.name, name) << row.month;
    }
}

// The time of day moved in the middle of an operation moves its time left neither way: only the time that passes
// on the forward clock counts.
TEST(TollanClock, TimeLeftFollowsTheForwardClockAlone)
{
    ClockHook clock(GetModuleHandleW(nullptr));
    ASSERT_TRUE(clock.Active());
    const struct {
        const char* step;
        int64_t advance, shiftWall;
        int64_t most; // the time left at most; real time passing between steps takes a little more
    } rows[] = {
        {"1.5 s pass", 1500, 0, 58500},
        {"the clock is set back by an hour", 0, -3600 * 1000, 58500},
        {"2 s pass on the clock set back", 2000, 0, 56500},
        {"the clock is set forward by two hours", 0, 2 * 3600 * 1000, 56500},
        {"a minute passes", 60000, 0, -3500},
    };
    CTollanTimeLeft timeLeft(60000);
    for (const auto& row : rows) {
        clock.Advance(row.advance);
        clock.ShiftWallClock(row.shiftWall);
        int64_t left = timeLeft.Get();
        EXPECT_LE(left, row.most) << row.step;
        EXPECT_GT(left, row.most - 10000) << row.step;
    }
}

} // namespace
