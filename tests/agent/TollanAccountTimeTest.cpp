// The account checks of every entry point against directory servers in trouble, the test's own on loopback:
// one that takes connections and never answers, and one that answers the bed's directory only late.

#include <winsock2.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <thread>
#include <vector>

#include "AgentHostTesting.h"
#include "ImportHook.h"
#include "TarnApiTest.h"
#include "TollanUtil.h"

namespace {

using Clock = std::chrono::steady_clock;

// A listener on loopback for the test's own sockets; nothing when it could not listen.
SOCKET Listen(unsigned short* port)
{
    SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int size = sizeof(address);
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), size) == 0 && listen(listener, 16) == 0
        && getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size) == 0)
        *port = ntohs(address.sin_port);
    return listener;
}

class SilentDirectory {
public:
    SilentDirectory()
    {
        WSADATA data;
        m_started = WSAStartup(MAKEWORD(2, 2), &data) == 0;
        // Connections wait in the backlog, taken by the system and never read.
        m_socket = Listen(&m_port);
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

// One connection to the late directory and its own to the bed's directory.
struct Relayed {
    Relayed(SOCKET from, SOCKET to) : client(from), server(to) {}
    ~Relayed()
    {
        closesocket(client);
        closesocket(server);
    }
    Relayed(const Relayed&) = delete;
    Relayed& operator=(const Relayed&) = delete;
    SOCKET client;
    SOCKET server;
};

// What one side sent, passed to the other; false when that side has gone.
bool Pass(SOCKET from, SOCKET to)
{
    char buffer[16384];
    int got = recv(from, buffer, sizeof(buffer), 0);
    for (int sent = 0, now = 0; got > 0 && sent < got; sent += now)
        if ((now = send(to, buffer + sent, got - sent, 0)) <= 0)
            return false;
    return got > 0;
}

// The bed's directory behind a listener of the test's own that passes nothing either way until it is released:
// a directory that answers, but late.
class LateDirectory {
public:
    LateDirectory()
    {
        WSADATA data;
        m_started = WSAStartup(MAKEWORD(2, 2), &data) == 0;
        m_listener = Listen(&m_port);
        if (m_port != 0)
            m_relay = std::thread([this] { Relay(); });
    }
    ~LateDirectory()
    {
        m_stop = true;
        if (m_relay.joinable())
            m_relay.join();
        closesocket(m_listener);
        if (m_started)
            WSACleanup();
    }
    LateDirectory(const LateDirectory&) = delete;
    LateDirectory& operator=(const LateDirectory&) = delete;

    bool Listening() const { return m_port != 0; }
    std::wstring Server() const { return L"127.0.0.1:" + std::to_wstring(m_port); }
    // Nothing passes for the next ms.
    void HoldFor(std::chrono::milliseconds ms) { m_release = (Clock::now() + ms).time_since_epoch().count(); }

private:
    void Accept(std::vector<std::unique_ptr<Relayed>>& relayed)
    {
        SOCKET client = accept(m_listener, nullptr, nullptr);
        if (client == INVALID_SOCKET)
            return;
        auto connection = std::make_unique<Relayed>(client, socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
        sockaddr_in bed = {};
        bed.sin_family = AF_INET;
        bed.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bed.sin_port = htons(389);
        if (connect(connection->server, reinterpret_cast<sockaddr*>(&bed), sizeof(bed)) == 0)
            relayed.push_back(std::move(connection));
    }
    void Relay()
    {
        std::vector<std::unique_ptr<Relayed>> relayed;
        while (!m_stop) {
            bool released = Clock::now().time_since_epoch().count() >= m_release;
            fd_set readable;
            FD_ZERO(&readable);
            FD_SET(m_listener, &readable);
            for (const auto& connection : relayed)
                if (released) {
                    FD_SET(connection->client, &readable);
                    FD_SET(connection->server, &readable);
                }
            timeval wait = {0, 20000};
            if (select(0, &readable, nullptr, nullptr, &wait) <= 0)
                continue;
            if (FD_ISSET(m_listener, &readable))
                Accept(relayed);
            for (size_t i = relayed.size(); i-- > 0;) {
                Relayed& connection = *relayed[i];
                if ((FD_ISSET(connection.client, &readable) && !Pass(connection.client, connection.server))
                    || (FD_ISSET(connection.server, &readable) && !Pass(connection.server, connection.client)))
                    relayed.erase(relayed.begin() + static_cast<std::ptrdiff_t>(i));
            }
        }
    }

    bool m_started = false;
    SOCKET m_listener = INVALID_SOCKET;
    unsigned short m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<Clock::rep> m_release{0};
    std::thread m_relay;
};

// The threads Tollan.dll starts: how many, and each one's end.
class AgentThreads {
public:
    explicit AgentThreads(HMODULE agent) : m_hook(agent, "CreateThread", reinterpret_cast<const void*>(&Create))
    {
        s_threads = this;
    }
    ~AgentThreads()
    {
        s_threads = nullptr;
        for (HANDLE thread : m_started)
            CloseHandle(thread);
    }
    AgentThreads(const AgentThreads&) = delete;
    AgentThreads& operator=(const AgentThreads&) = delete;

    bool Active() const { return m_hook.Active(); }
    size_t Started() const { return m_started.size(); }
    bool AllEndWithin(DWORD ms) const
    {
        for (HANDLE thread : m_started)
            if (WaitForSingleObject(thread, ms) != WAIT_OBJECT_0)
                return false;
        return true;
    }

private:
    static HANDLE WINAPI Create(LPSECURITY_ATTRIBUTES attributes, SIZE_T stack, LPTHREAD_START_ROUTINE start,
                                LPVOID parameter, DWORD flags, LPDWORD id)
    {
        HANDLE thread = s_threads->m_hook.Original<decltype(&CreateThread)>()(attributes, stack, start, parameter,
                                                                              flags, id);
        HANDLE kept = nullptr;
        if (thread != nullptr
            && DuplicateHandle(GetCurrentProcess(), thread, GetCurrentProcess(), &kept, SYNCHRONIZE, FALSE, 0))
            s_threads->m_started.push_back(kept);
        return thread;
    }

    static AgentThreads* s_threads;
    ImportHook m_hook;
    std::vector<HANDLE> m_started;
};
AgentThreads* AgentThreads::s_threads = nullptr;

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

// A directory that answers after most of the budget, then an operation whose program hangs: validation and the
// operation draw on one budget, so the call comes back within it.
TEST(AccountChecks, ALateDirectoryLeavesTheOperationOnlyTheRestOfTheBudget)
{
    SKIP_OUTSIDE_TEST_BED();
    LateDirectory late;
    ASSERT_TRUE(late.Listening());
    // Timeouts of 7 s less EPProgramTimeout 1: budgets of 6 s, of which the directory takes 4.
    const int64_t budgetMs = 6000;
    const struct {
        const char* name;
        const char* sid;
        uint32_t op;
        const char* timeout;
        bool running;
        const char* plan;
        uint32_t result;
        uint32_t timedOut; // the message of the program's time-out
    } rows[] = {
        {"online, the start command hangs", "QT6", TARNAG_OP_ONLINE, "OnlineTimeout", false, "startsap delay=hang", 0,
         10069},
        {"monitor, sapinfo hangs", "QT7", TARNAG_OP_MONITOR, "MonitorTimeout", true, "sapinfo delay=hang", 2, 10144},
        {"clean, the kill tool hangs", "QT8", TARNAG_OP_CLEAN, "CleanTimeout", false, "sapsrvkill delay=hang", 0,
         10128},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        AgentOnInstance a(SapInstanceType::Central, row.sid, {{"EPProgramTimeout", "1"}});
        ASSERT_TRUE(a.started) << a.sap.Error();
        a.sap.Plan(row.plan);
        if (row.running) {
            ASSERT_TRUE(a.Run());
        }
        a.directory.reset();
        a.directory = std::make_unique<ADsOpenHook>(a.agent->Get(), late.Server());
        SetTypeTimeout(row.timeout, "7");
        TarnAgHostLogClear();
        late.HoldFor(std::chrono::milliseconds(4000));
        Clock::time_point begin = Clock::now();
        EXPECT_EQ(row.result, a.Call(row.op));
        EXPECT_LE(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - begin).count(), budgetMs + 1000);
        std::vector<uint32_t> messages = MessageIds();
        EXPECT_NE(messages.end(), std::find(messages.begin(), messages.end(), row.timedOut))
            << testing::PrintToString(messages);
    }
}

// Against a directory that never answers, the lookups left waiting stay within their bound: checks past it fail at
// once as timed out and start no thread. Once the directory goes, the waiting lookups end, the checks answer
// again, and the agent's code is let go.
TEST(AccountChecks, LookupsLeftWaitingStayWithinTheirBound)
{
    SKIP_OUTSIDE_TEST_BED();
    SilentDirectory silent;
    ASSERT_TRUE(silent.Listening());
    {
        AgentOnInstance a(SapInstanceType::Central, "QT9", {{"EPProgramTimeout", "1"}});
        ASSERT_TRUE(a.started) << a.sap.Error();
        AgentThreads threads(a.agent->Get());
        ASSERT_TRUE(threads.Active());
        a.directory.reset();
        a.directory = std::make_unique<ADsOpenHook>(a.agent->Get(), silent.Server());
        SetTypeTimeout("MonitorTimeout", "2"); // a budget of 1 s
        const size_t bound = CTollanUtil::MaxOutstandingLookups;
        // Each monitor checks SAPServiceUser first; timed out, that check ends the call.
        const struct {
            const char* step;
            size_t calls;
            size_t threadsEach;
        } rows[] = {
            {"up to the bound, each call leaves its lookup waiting", bound, 1},
            {"past the bound, calls fail at once", 3, 0},
        };
        for (const auto& row : rows) {
            for (size_t call = 0; call < row.calls; ++call) {
                SCOPED_TRACE(row.step);
                size_t started = threads.Started();
                TarnAgHostLogClear();
                EXPECT_EQ(2u, a.Call(TARNAG_OP_MONITOR));
                EXPECT_EQ(row.threadsEach, threads.Started() - started);
                EXPECT_EQ((std::vector<uint32_t>{10040, 10012, 10005}), MessageIds());
                EXPECT_NE(std::wstring::npos, MessageText(10005).find(L"[2, 0x00000102]"));
            }
        }
        silent.Close();
        EXPECT_TRUE(threads.AllEndWithin(10000));
        a.directory.reset();
        a.directory = std::make_unique<ADsOpenHook>(a.agent->Get());
        EXPECT_EQ(0u, a.Call(TARNAG_OP_MONITOR)) << "the stopped instance is offline";
    }
    for (int tries = 0; tries < 100 && AgentLoaded(); ++tries)
        Sleep(100);
    EXPECT_FALSE(AgentLoaded());
}

} // namespace
