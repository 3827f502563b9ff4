// The checks of each entry point's kind over the bed's directory server: every message of the checks.

#include <gtest/gtest.h>

#include <objbase.h>

#include <string>
#include <vector>

#include "ADsOpenHook.h"
#include "AttribTesting.h"
#include "LogonHook.h"
#include "TestBed.h"
#include "Tollan.h"
#include "TollanUtil.h"

namespace {

// A profile and a monitor program of the test's own; the program's folder has a blank in its name.
struct CheckFiles {
    CheckFiles()
    {
        char temp[MAX_PATH] = {};
        GetTempPathA(MAX_PATH - 1, temp);
        std::string base = std::string(temp) + "tollan check " + std::to_string(GetCurrentProcessId());
        CreateDirectoryA(base.c_str(), nullptr);
        profile = base + "\\PRD_J00_host1";
        program = base + "\\mon.exe";
        for (const std::string& file : {profile, program})
            CloseHandle(CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        folder = base;
    }
    ~CheckFiles()
    {
        DeleteFileA(profile.c_str());
        DeleteFileA(program.c_str());
        RemoveDirectoryA(folder.c_str());
    }
    std::string folder, profile, program;
};

using Preset = void (*)(Args&, const CheckFiles&);

// One attribute set to a value, on top of the preset when there is one.
struct CheckRow {
    std::string Args::*field;
    std::string value;
    uint32_t type, code;
    std::vector<uint32_t> messages; // without the closing 10012 of a failure
    Preset preset = nullptr;
};

void Java(Args& a, const CheckFiles& f)
{
    a.procMon = {"jcontrol.exe", "msg_server.exe"};
    a.profile = f.profile;
}

void NoProcMon(Args& a, const CheckFiles& f)
{
    a.procMon.clear();
    a.profile = f.profile;
}

void NetworkJava(Args& a, const CheckFiles& f)
{
    Java(a, f);
    a.profile = "\\\\?\\" + f.profile;
}

void Replication(Args& a, const CheckFiles& f)
{
    a.type = "ENQREP";
    a.procMon = {"enrepserver.exe"};
    a.profile = f.profile;
    a.enqSrv = "ERS";
}

void QuotedMonitor(Args& a, const CheckFiles& f)
{
    a.monitor = "\"" + f.program + "\" -level 3";
}

void RunRows(uint32_t kind, const std::vector<CheckRow>& rows)
{
    CheckFiles files;
    ADsOpenHook directory(GetModuleHandleW(nullptr));
    LogonHook logon(GetModuleHandleW(nullptr), L"prdadm", L"test.example", L"Secr3t!");
    ASSERT_TRUE(directory.Active() && logon.Active());
    for (const CheckRow& row : rows) {
        Args args;
        if (row.preset != nullptr)
            row.preset(args, files);
        if (row.field != nullptr)
            args.*row.field = row.value;
        TarnAgHostLogClear();
        CTollanAttrib attrib;
        QLibStatus status = ParseValues(attrib, kind, args.Values(), 1);
        std::vector<uint32_t> expected = row.messages;
        if (row.type != QLIB_ERR_NONE)
            expected.push_back(10012);
        EXPECT_TRUE(IsStatus(status, row.type, row.code)) << row.value;
        EXPECT_EQ(expected, MessageIds()) << row.value;
    }
}

const uint32_t Bad = QLIB_ERR_WIN32;
const uint32_t Wrong = ERROR_BAD_ARGUMENTS;

TEST_F(AttribTest, OnlineChecksEveryAttribute)
{
    SKIP_OUTSIDE_TEST_BED();
    RunRows(TOLLAN_EP_ONLINE,
            {
                {nullptr, "", 0, 0, {}},
                {&Args::sid, "", Bad, Wrong, {10015}},
                {&Args::sid, "AB", Bad, Wrong, {10016, 10018}},
                {&Args::sid, "ABCD", Bad, Wrong, {10017, 10018}},
                {&Args::sid, "1AB", Bad, Wrong, {10018}},
                {&Args::sid, "A_B", Bad, Wrong, {10018}},
                {&Args::sid, std::string("A\xc4") + "1", Bad, Wrong, {10018}}, // A umlaut 1
                {&Args::sid, "A12", 0, 0, {}},
                {&Args::slm, "-1", Bad, Wrong, {10019}},
                {&Args::ept, "-1", Bad, Wrong, {10020}},
                {&Args::home, "", Bad, Wrong, {10021}},
                {&Args::home, "C:\\nope", Bad, Wrong, {10025}},
                {&Args::host, "", Bad, Wrong, {10026}},
                {&Args::host, "host.example", Bad, Wrong, {10028}},
                {&Args::type, "", Bad, Wrong, {10029}},
                {&Args::type, "central ", Bad, Wrong, {10030}},
                {nullptr, "no procmon", 0, 0, {}, NoProcMon},
                {&Args::type, "dialog", Bad, Wrong, {10032}},
                {&Args::type, "ENQUEUE", Bad, Wrong, {10033}},
                {&Args::type, "ENQREP", Bad, Wrong, {10034}},
                {&Args::monHome, "", Bad, Wrong, {10036}},
                {&Args::monHome, "C:\\nope", Bad, Wrong, {10038}},
                {&Args::serviceUser, "", Bad, Wrong, {10039}},
                {&Args::serviceUser, "nobody", QLIB_ERR_DIRECTORY, 3, {10040}},
                {&Args::domain, "", 0, 0, {10042}},
                {&Args::domain, "my domain", Bad, Wrong, {10044}},
                {&Args::admin, "", Bad, Wrong, {10045}},
                {&Args::admin, "prd*2", QLIB_ERR_DIRECTORY, 3, {10046}},
                {&Args::level, "info", 0, 0, {10048, 10049}},
                {&Args::name, "", Bad, Wrong, {10050}},
                {&Args::name, "D9", Bad, Wrong, {10051}},
                {&Args::name, "DVEBMGSX1", Bad, Wrong, {10052}},
                {&Args::name, "DVEBMGS97", Bad, Wrong, {10053}},
                {&Args::name, "DVEBMGS96", 0, 0, {}},
                {nullptr, "java", 0, 0, {}, Java},
                {&Args::profile, "", Bad, Wrong, {10054}, Java},
                {nullptr, "network", 0, 0, {}, NetworkJava},
                {&Args::password, "aka", Bad, ERROR_LOGON_FAILURE, {10055}, NetworkJava},
                {&Args::enqSrv, "", Bad, Wrong, {10057}, Replication},
                {nullptr, "no cluster", Bad, Wrong, {10059}, Replication},
                {&Args::monitor, " \t ", 0, 0, {}},
                {&Args::monitor, "C:\\nope.exe -x", Bad, Wrong, {10061}},
                {nullptr, "quoted", 0, 0, {}, QuotedMonitor},
            });
}

TEST_F(AttribTest, OtherKindsCheckTheirShare)
{
    SKIP_OUTSIDE_TEST_BED();
    RunRows(TOLLAN_EP_MONITOR,
            {
                {&Args::home, " ", Bad, Wrong, {10023}},
                {&Args::home, "\t", Bad, Wrong, {10023}},
                {&Args::home, "C:\\nope", 0, 0, {}},
                {&Args::slm, "-1", 0, 0, {}},
                {&Args::level, "bogus", 0, 0, {}},
                {&Args::type, "DIALOG", Bad, Wrong, {10032}},
            });
    RunRows(TOLLAN_EP_OFFLINE,
            {
                {&Args::host, "host.example", Bad, Wrong, {10028}},
                {&Args::type, "bogus", 0, 0, {}},
                {&Args::serviceUser, "nobody", 0, 0, {}},
            });
    RunRows(TOLLAN_EP_CLEAN,
            {
                {&Args::serviceUser, "", Bad, Wrong, {10039}},
                {&Args::home, "C:\\nope", 0, 0, {}},
                {&Args::admin, "nobody", QLIB_ERR_DIRECTORY, 3, {10046}},
            });
}

// A password attribute that deciphers to nothing costs no logon: a failed logon every cycle locks accounts.
TEST_F(AttribTest, NetworkProfileIsCheckedWithALogonOnlyForADecipheredPassword)
{
    SKIP_OUTSIDE_TEST_BED();
    CheckFiles files;
    ADsOpenHook directory(GetModuleHandleW(nullptr));
    LogonHook logon(GetModuleHandleW(nullptr), L"prdadm", L"test.example", L"Secr3t!");
    ASSERT_TRUE(directory.Active() && logon.Active());
    const struct {
        std::string password;
        uint32_t type, code;
        size_t logons;
    } rows[] = {
        {"", Bad, ERROR_LOGON_FAILURE, 0},
        {"ak", Bad, ERROR_LOGON_FAILURE, 0}, // too short
        {"aaa", Bad, ERROR_LOGON_FAILURE, 0}, // deciphers to a control character
        {"akdMfmDocGdoEe", Bad, ERROR_LOGON_FAILURE, 0}, // the last pair cut short
        {"aka", Bad, ERROR_LOGON_FAILURE, 1}, // deciphers to P, a wrong password
        {"akdMfmDocGdoEeb", 0, 0, 1},
    };
    for (const auto& row : rows) {
        Args args;
        NetworkJava(args, files);
        args.password = row.password;
        size_t before = logon.Journal().size();
        CTollanAttrib attrib;
        EXPECT_TRUE(IsStatus(ParseValues(attrib, TOLLAN_EP_ONLINE, args.Values(), 1), row.type, row.code))
            << row.password;
        EXPECT_EQ(row.logons, logon.Journal().size() - before) << row.password;
    }
}

// A value of blanks names no program; one that starts with a quote names the quoted path, and an empty path is
// a program that does not exist: online refuses it (10061), monitor reports it (10155) and answers unknown.
TEST_F(AttribTest, MonitorProgramValuesThroughOnlineAndMonitor)
{
    SKIP_OUTSIDE_TEST_BED();
    const struct {
        const char* value;
        bool names;
    } rows[] = {
        {"", false},  {" \t ", false}, {"\"\" -v", true},         {"\"\"", true},
        {"\"", true}, {"  \"", true},  {"C:\\nope.exe -x", true},
    };
    std::vector<CheckRow> online;
    for (const auto& row : rows)
        online.push_back({&Args::monitor, row.value, row.names ? Bad : 0, row.names ? Wrong : 0,
                          row.names ? std::vector<uint32_t>{10061} : std::vector<uint32_t>{}});
    RunRows(TOLLAN_EP_ONLINE, online);
    for (const auto& row : rows) {
        Args args;
        args.monitor = row.value;
        CTollanAttrib attrib;
        ASSERT_TRUE(IsOK(ParseValues(attrib, TOLLAN_EP_MONITOR, args.Values())));
        TarnAgHostLogClear();
        uint32_t state = TOLLAN_STATE_ONLINE;
        QLibStatus status = CTollan()._ThirdLevelMonitor(attrib, &state, 10000);
        EXPECT_EQ(row.names, status.IsFailed()) << row.value;
        EXPECT_EQ(row.names ? TOLLAN_STATE_UNKNOWN : TOLLAN_STATE_ONLINE, state) << row.value;
        EXPECT_EQ(row.names ? std::vector<uint32_t>{10155} : std::vector<uint32_t>{}, MessageIds()) << row.value;
    }
}

TEST(TollanUtilUser, AccountsInTheDirectory)
{
    SKIP_OUTSIDE_TEST_BED();
    ADsOpenHook directory(GetModuleHandleW(nullptr));
    ASSERT_TRUE(directory.Active());
    const int64_t Enough = 30000;
    const struct {
        const wchar_t* user;
        int64_t timeLeft;
        uint32_t type, code;
        uint8_t exists;
    } rows[] = {
        {L"prdadm", Enough, QLIB_ERR_NONE, 0, 1},
        {L"prdadm2", Enough, QLIB_ERR_NONE, 0, 1},
        {L"nobody", Enough, QLIB_ERR_DIRECTORY, 3, 0},
        {L"prd*2", Enough, QLIB_ERR_DIRECTORY, 3, 0}, // a pattern matches no account, not even prdadm2
        {L"prdadm)(cn=*", Enough, QLIB_ERR_DIRECTORY, 3, 0},
        // Without time nothing is looked up.
        {L"prdadm", 0, QLIB_ERR_WIN32, WAIT_TIMEOUT, 7},
        {L"prdadm", -5000, QLIB_ERR_WIN32, WAIT_TIMEOUT, 7},
    };
    for (const auto& row : rows) {
        uint8_t exists = 7;
        size_t binds = directory.Journal().size();
        EXPECT_TRUE(
            IsStatus(CTollanUtil::DoesExistUser(row.user, L"test.example", &exists, row.timeLeft), row.type, row.code))
            << row.user;
        EXPECT_EQ(row.exists, exists) << row.user;
        EXPECT_EQ(row.timeLeft > 0, directory.Journal().size() > binds) << row.user;
    }
    // A thread already in the multithreaded apartment keeps it.
    ASSERT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    uint8_t exists = 7;
    EXPECT_TRUE(IsOK(CTollanUtil::DoesExistUser(L"prdadm", L"", &exists, Enough)));
    EXPECT_EQ(1, exists);
    APTTYPE type = APTTYPE_STA;
    APTTYPEQUALIFIER qualifier = APTTYPEQUALIFIER_NONE;
    EXPECT_EQ(S_OK, CoGetApartmentType(&type, &qualifier));
    EXPECT_EQ(APTTYPE_MTA, type);
    CoUninitialize();
}

} // namespace
