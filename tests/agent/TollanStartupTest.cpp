// Start-up and shutdown as linked into this program: the module's timeouts and handles are read directly.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TarnApiTest.h"
#include "TarnTestCluster.h"
#include "TarnTestHost.h"
#include "TollanAgent.h"

namespace {

std::string Described(const std::string& extra)
{
    return "system N1\ninclude " + TarnTestFullPath("Tollan.desc") + "\n" + extra;
}

size_t CountLines(const TarnTestCluster& files, const std::string& prefix, const std::string& suffix = "")
{
    size_t count = 0;
    for (const std::string& line : files.Journal())
        if (line.rfind(prefix, 0) == 0 && line.size() >= suffix.size()
            && line.compare(line.size() - suffix.size(), suffix.size(), suffix) == 0)
            ++count;
    return count;
}

std::vector<uint32_t> Timeouts()
{
    return {g_OnlineTimeout.load(), g_OfflineTimeout.load(), g_MonitorTimeout.load(), g_CleanTimeout.load()};
}

TEST(Startup, ReadsAndRegistersAsFarAsTheClusterLetsIt)
{
    const struct {
        const char* fault; // null: no cluster at all
        std::vector<uint32_t> timeouts;
        size_t registered;
    } rows[] = {
        {nullptr, {600, 600, 60, 120}, 0},
        {"", {300, 300, 60, 60}, 4},
        {"fail TarnObjGetAttribute Tollan.OfflineTimeout 0x5\n", {300, 600, 60, 120}, 0},
        {"fail TarnObjGetAttribute Tollan.CleanTimeout empty\n", {300, 300, 60, 120}, 4},
        {"fail TarnObjRegister Tollan.MonitorTimeout 0x5\n", {300, 300, 60, 60}, 2},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.fault == nullptr ? "no cluster" : row.fault);
        for (const CTollanTimeoutAttr& t : g_TollanTimeouts)
            *t.seconds = t.seconds == &g_MonitorTimeout ? 60 : t.seconds == &g_CleanTimeout ? 120 : 600;
        TarnTestCluster files(Described(row.fault == nullptr ? "" : row.fault));
        if (row.fault == nullptr)
            SetEnvironmentVariableA("TARN_CLUSTER_DESC", nullptr);
        TarnAgStartup();
        EXPECT_EQ(row.timeouts, Timeouts());
        EXPECT_EQ(row.registered, CountLines(files, "call TarnObjRegister ", " = 0"));
        EXPECT_NE(nullptr, TarnAgHostTable());
        TollanShutdown();
        EXPECT_EQ(nullptr, g_TarnCluster.load());
        for (const CTollanTimeoutAttr& t : g_TollanTimeouts)
            EXPECT_EQ(nullptr, *t.registration) << t.name;
        EXPECT_TRUE(files.JournalHas("unreleased 0"));
        EXPECT_EQ(0u, CountLines(files, "release ", " unknown"));
    }
}

TEST(Startup, TimeoutChangesFromAnotherThreadAndValuesNotAboveZeroAreKept)
{
    TarnTestCluster files(Described(""));
    TarnAgStartup();
    const struct {
        const char* value;
        uint32_t seconds;
    } rows[] = {{"30", 30}, {"0", 30}, {"-5", 30}, {nullptr, 30}, {"45", 45}};
    for (const auto& row : rows) {
        EXPECT_EQ(1, TarnApiTestChangeAttr(TARN_OBJ_TYPE, "Tollan", "MonitorTimeout", row.value));
        EXPECT_EQ(row.seconds, g_MonitorTimeout.load()) << (row.value ? row.value : "null");
    }
    TollanShutdown();
}

TEST(Shutdown, TwiceReleasesEachHandleOnce)
{
    TarnTestCluster files(Described(""));
    TarnAgStartup();
    TollanShutdown();
    size_t calls = files.Journal().size();
    TollanShutdown();
    EXPECT_EQ(calls, files.Journal().size());
    EXPECT_TRUE(files.JournalHas("unreleased 0"));
    EXPECT_EQ(0u, CountLines(files, "release ", " unknown"));
}

} // namespace
