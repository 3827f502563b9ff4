// The account checks of every entry point against a directory server in trouble: one of the test's own that
// takes connections on loopback and never answers.

#include <winsock2.h>

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include "AgentHostTesting.h"
#include "TarnApiTest.h"

namespace {

class SilentDirectory {
public:
    SilentDirectory()
    {
        WSADATA data;
        m_started = WSAStartup(MAKEWORD(2, 2), &data) == 0;
        m_socket = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int size = sizeof(address);
        // Connections wait in the backlog, taken by the system and never read.
        if (bind(m_socket, reinterpret_cast<sockaddr*>(&address), size) == 0 && listen(m_socket, 16) == 0
            && getsockname(m_socket, reinterpret_cast<sockaddr*>(&address), &size) == 0)
            m_port = ntohs(address.sin_port);
    }
    ~SilentDirectory()
    {
        Close();
        if (m_started)
            WSACleanup();
    }
    SilentDirectory(const SilentDirectory&) = delete;
    SilentDirectory& operator=(const SilentDirectory&) = delete;

    bool Listening() const { return m_port != 0; }
    std::wstring Server() const { return L"127.0.0.1:" + std::to_wstring(m_port); }
    // Resets every connection it holds.
    void Close()
    {
        if (m_socket != INVALID_SOCKET)
            closesocket(m_socket);
        m_socket = INVALID_SOCKET;
    }

private:
    bool m_started = false;
    SOCKET m_socket = INVALID_SOCKET;
    unsigned short m_port = 0;
};

void SetTypeTimeout(const char* name, const char* seconds)
{
    std::thread([&] { TarnApiTestChangeAttr(TARN_OBJ_TYPE, "Tollan", name, seconds); }).join();
}

bool AgentLoaded()
{
    return GetModuleHandleW(L"Tollan.dll") != nullptr;
}

TEST(AccountChecks, ASilentDirectoryFailsTheCheckWithinTheBudget)
{
    SKIP_OUTSIDE_TEST_BED();
    SilentDirectory silent;
    ASSERT_TRUE(silent.Listening());
    {
        AgentOnInstance a(SapInstanceType::Central, "QT5", {{"EPProgramTimeout", "1"}});
        ASSERT_TRUE(a.started) << a.sap.Error();
        a.directory.reset();
        a.directory = std::make_unique<ADsOpenHook>(a.agent->Get(), silent.Server());
        // Timeouts of 3 s: a budget of 2 s, and the call back within 3 s.
        const auto limit = std::chrono::seconds(3);
        const struct {
            uint32_t op;
            const char* timeout;
            uint32_t result;
            std::vector<uint32_t> messages; // the failed check's, then the parse failure's
        } rows[] = {
            {TARNAG_OP_MONITOR, "MonitorTimeout", 2, {10040, 10012, 10005}},
            {TARNAG_OP_ONLINE, "OnlineTimeout", 0, {10040, 10012, 10001}},
            {TARNAG_OP_OFFLINE, "OfflineTimeout", 0, {10046, 10012, 10003}},
            {TARNAG_OP_CLEAN, "CleanTimeout", 0, {10040, 10012, 10007}},
        };
        for (const auto& row : rows) {
            SetTypeTimeout(row.timeout, "3");
            TarnAgHostLogClear();
            auto call = std::async(std::launch::async, [&] {
                uint32_t result = 99;
                EXPECT_EQ(0, TarnAgHostCall(row.op, "R1", &result));
                return result;
            });
            bool inTime = call.wait_for(limit) == std::future_status::ready;
            if (!inTime)
                silent.Close(); // an unbounded lookup waits for the server until it goes
            EXPECT_TRUE(inTime) << row.timeout;
            EXPECT_EQ(row.result, call.get()) << row.timeout;
            EXPECT_EQ(row.messages, MessageIds()) << row.timeout;
            EXPECT_NE(std::wstring::npos, MessageText(row.messages.back()).find(L"[2, 0x00000102]")) << row.timeout;
        }
        // The lookups still waiting hold up no later call: with the bed's directory the stopped instance
        // is offline.
        a.directory.reset();
        a.directory = std::make_unique<ADsOpenHook>(a.agent->Get());
        EXPECT_EQ(0u, a.Call(TARNAG_OP_MONITOR));
    }
    // The framework and the test have let the agent go; the waiting lookups keep its code loaded until
    // the server goes, and then let it go themselves.
    EXPECT_TRUE(AgentLoaded());
    silent.Close();
    for (int tries = 0; tries < 100 && AgentLoaded(); ++tries)
        Sleep(100);
    EXPECT_FALSE(AgentLoaded());
}

} // namespace
