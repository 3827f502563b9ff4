#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "AttribTesting.h"
#include "ImportHook.h"
#include "TollanAgent.h"

namespace {

TEST_F(AttribTest, ParseReadsEachListWithinItsEnd)
{
    Args full;
    Args noCount;
    noCount.count = "abc";
    noCount.procMon.clear();
    Args tooMany;
    tooMany.count = "30";
    std::vector<std::string> tenOnly = full.Values();
    tenOnly.resize(10);
    const struct {
        const char* label;
        std::vector<std::string> values;
        const char* resource;
        uint32_t type, code;
        std::vector<std::wstring> procMon;
        const wchar_t* serviceUser;
    } rows[] = {
        {"full", full.Values(), "R1", QLIB_ERR_NONE, 0, {L"DISP+WORK.EXE", L"MSG_SERVER.EXE"}, L"SAPServicePRD"},
        {"count abc", noCount.Values(), "R1", QLIB_ERR_NONE, 0, {}, L"SAPServicePRD"},
        {"count above the items", tooMany.Values(), "R1", QLIB_ERR_FRAMEWORK, ERROR_INVALID_PARAMETER, {}, L""},
        {"ten values", tenOnly, "R1", QLIB_ERR_FRAMEWORK, ERROR_INVALID_PARAMETER, {}, L""},
        {"empty", {}, "R1", QLIB_ERR_FRAMEWORK, ERROR_INVALID_PARAMETER, {}, L""},
        {"no name", full.Values(), nullptr, QLIB_ERR_FRAMEWORK, ERROR_INVALID_PARAMETER, {}, L""},
    };
    for (const auto& row : rows) {
        TarnAgHostLogClear();
        Attrib attrib;
        QLibStatus status = ParseValues(attrib, TOLLAN_EP_ONLINE, row.values, 0, row.resource);
        EXPECT_TRUE(IsStatus(status, row.type, row.code)) << row.label;
        if (row.type == QLIB_ERR_NONE) {
            EXPECT_EQ(row.procMon, attrib.GetProcMon()) << row.label;
            EXPECT_EQ(std::wstring(row.serviceUser), attrib.GetSAPServiceUser()) << row.label;
        } else {
            EXPECT_EQ(std::vector<uint32_t>{row.resource ? 10011u : 10009u}, MessageIds()) << row.label;
        }
        EXPECT_EQ(0u, TarnAgHostUnreleased()) << row.label;
    }
    // What was read before the list ran out stays for the argument trace.
    Attrib partial;
    EXPECT_TRUE(ParseValues(partial, TOLLAN_EP_ONLINE, tenOnly).IsFailed());
    EXPECT_EQ(L"PRD", partial.GetSAPSID());
    EXPECT_EQ(L"R1", partial.GetResourceName());
}

TEST_F(AttribTest, ParseNormalisesValues)
{
    const struct {
        std::function<void(Args&)> change;
        const wchar_t *home, *type, *name, *number;
    } rows[] = {
        {[](Args& a) { a.home = "C:\\usr\\sap\\"; }, L"C:\\usr\\sap", L"CENTRAL", L"DVEBMGS00", L"00"},
        {[](Args& a) { a.home = "C:\\usr\\\\"; }, L"C:\\usr\\", L"CENTRAL", L"DVEBMGS00", L"00"},
        {[](Args& a) { a.home = "X:\\"; }, L"X:\\", L"CENTRAL", L"DVEBMGS00", L"00"},
        {[](Args& a) { a.home = ""; }, L"", L"CENTRAL", L"DVEBMGS00", L"00"},
        {[](Args& a) { a.type = "AenqRep"; }, L"C:\\windows", L"AENQREP", L"DVEBMGS00", L"00"},
        {[](Args& a) { a.type = "central "; }, L"C:\\windows", L"central ", L"DVEBMGS00", L"00"},
        {[](Args& a) { a.name = "ascs01"; }, L"C:\\windows", L"CENTRAL", L"ASCS01", L"01"},
    };
    for (const auto& row : rows) {
        Args args;
        row.change(args);
        Attrib attrib;
        EXPECT_TRUE(IsOK(ParseValues(attrib, TOLLAN_EP_ONLINE, args.Values())));
        EXPECT_EQ(row.home, attrib.GetSAPHome());
        EXPECT_EQ(L"C:\\windows", attrib.GetSAPMonHome());
        EXPECT_EQ(row.type, attrib.GetInstType());
        EXPECT_EQ(row.name, attrib.GetInstName());
        EXPECT_EQ(row.number, attrib.GetInstNumber());
    }
    // A byte of the name that the framework widens comes back in the cookie's 8-bit name.
    Attrib widened;
    ASSERT_TRUE(IsOK(ParseValues(widened, TOLLAN_EP_MONITOR, Args().Values(), 0, "R\xe9")));
    EXPECT_EQ(L"R\u00e9", widened.GetResourceName());
    uint32_t counter = 0;
    EXPECT_TRUE(IsOK(widened.SetSLMCounter(4, widened.GetResourceName())));
    wchar_t* value = TarnAgGetCookie("R\xe9_tollan_slmcounter");
    ASSERT_NE(nullptr, value);
    EXPECT_STREQ(L"4", value);
    free(value);
    EXPECT_TRUE(IsOK(widened.GetSLMCounter(&counter, widened.GetResourceName(), 1)));
    EXPECT_EQ(4u, counter);
}

TEST_F(AttribTest, TimeoutsByKindAndTheBudget)
{
    const struct {
        uint32_t kind, timeout;
    } rows[] = {{1, 600}, {2, 600}, {3, 60}, {4, 120}, {5, 60}, {6, 60}, {7, 60}, {9, 600}};
    for (const auto& row : rows) {
        Attrib attrib;
        uint32_t timeout = 0;
        EXPECT_TRUE(IsOK(attrib._FindTimeout(&timeout, row.kind)));
        EXPECT_EQ(row.timeout, timeout) << row.kind;
    }
    const struct {
        const char* ept;
        uint32_t kind;
        int64_t budget;
    } budgets[] = {{"10", 5, 50000}, {"60", 5, 0}, {"2000000000", 1, 0}, {"0", 1, 600000}};
    for (const auto& row : budgets) {
        Args args;
        args.ept = row.ept;
        Attrib attrib;
        EXPECT_TRUE(IsOK(ParseValues(attrib, row.kind, args.Values())));
        EXPECT_EQ(row.budget, attrib.GetTimeBudget()) << row.ept;
    }
}

struct CookieRedirect {
    static int32_t Refuse(const char*, wchar_t*) { return 0x3001; }
};

TEST_F(AttribTest, SecondLevelMonitorCounterLivesInTheCookie)
{
    Attrib attrib;
    uint32_t counter = 0;
    EXPECT_TRUE(IsOK(attrib.GetSLMCounter(&counter, L"SLM1", 1)));
    EXPECT_EQ(1u, counter);
    wchar_t* value = TarnAgGetCookie("SLM1_tollan_slmcounter");
    ASSERT_NE(nullptr, value);
    EXPECT_STREQ(L"1", value);
    free(value);
    EXPECT_TRUE(IsOK(attrib.SetSLMCounter(5, L"SLM1")));
    EXPECT_TRUE(IsOK(attrib.GetSLMCounter(&counter, L"SLM1", 1)));
    EXPECT_EQ(5u, counter);

    ImportHook refuse(GetModuleHandleW(nullptr), "TarnAgSetCookie", reinterpret_cast<void*>(&CookieRedirect::Refuse));
    ASSERT_TRUE(refuse.Active());
    EXPECT_TRUE(IsStatus(attrib.SetSLMCounter(6, L"SLM1"), QLIB_ERR_FRAMEWORK, 0x3001));
    EXPECT_TRUE(IsStatus(attrib.GetSLMCounter(&counter, L"SLM2", 1), QLIB_ERR_FRAMEWORK, 0x3001));
    EXPECT_EQ(1u, counter);
    EXPECT_TRUE(IsStatus(attrib.SetSLMCounter(6, L"SLM\u4e00"), QLIB_ERR_FRAMEWORK, ERROR_NO_UNICODE_TRANSLATION));
}

TEST_F(AttribTest, PasswordVectors)
{
    ASSERT_EQ(1252u, GetACP()) << "the vectors hold bytes of code page 1252";
    const struct {
        std::string configured;
        const wchar_t* clear;
    } rows[] = {
        {"akdMfmDocGdoEeb", L"Secr3t!"},
        {"aka", L"P"}, // the case pass turns "ka" into "KA" before the pair is read
        {"Z\xa0\xa0", L"6"}, // both differences negative
        {"", L""},
        {"ab", L""},
        {"abc", L""}, // decodes below 33
        {"akaX", L""}, // a character without its partner
        {"a" + std::string(4094, 'A'), L""},
        {"a" + std::string(5000, 'A'), L""},
    };
    for (const auto& row : rows) {
        Args args;
        args.password = row.configured;
        Attrib attrib;
        ASSERT_TRUE(IsOK(ParseValues(attrib, TOLLAN_EP_ONLINE, args.Values())));
        g_QLibLogQueue.ClearThreadQueue();
        CTollanPassword clear = attrib.GetSAPAdminPassword();
        EXPECT_STREQ(row.clear, clear.c_str()) << row.configured.size();
        EXPECT_EQ(*row.clear == L'\0', m_Trace.Has("CTollanAttrib::GetSAPAdminPassword", L"Inavlid password."));
    }
}

TEST_F(AttribTest, NoLogHoldsThePasswordAndValuesKeepTheirPercent)
{
    Args args;
    args.level = "TRACETRACE";
    args.home = "C:\\100%s\\%d";
    Attrib attrib;
    EXPECT_TRUE(ParseValues(attrib, TOLLAN_EP_ONLINE, args.Values(), 1).IsFailed()); // SAPHome does not exist
    attrib.LogArgs();
    CTollanPassword clear = attrib.GetSAPAdminPassword();
    EXPECT_STREQ(L"Secr3t!", clear.c_str());
    g_QLibLogQueue.Dump();
    bool masked = false;
    bool reported = false;
    for (const TarnAgLogEntry& entry : TarnTestLogs()) {
        std::wstring text = entry.text;
        EXPECT_EQ(std::wstring::npos, text.find(L"Secr3t!"));
        EXPECT_EQ(std::wstring::npos, text.find(L"akdMfmDocGdoEeb"));
        masked = masked || text.find(L"SAPAdminPassword    = [********], ") != std::wstring::npos;
        reported = reported || (entry.msgId == 10025 && text == L"SAPHome [C:\\100%s\\%d] does NOT exist.");
    }
    EXPECT_TRUE(masked);
    EXPECT_TRUE(reported);
}

} // namespace
