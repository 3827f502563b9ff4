// The network object's echo probes, aimed only at loopback; the unanswered cases come from a redirect.

#include <gtest/gtest.h>

#include "LibNet.h"

#include <icmpapi.h>

#include "ImportHook.h"
#include "ServiceTestSupport.h"

namespace {

const HMODULE self = GetModuleHandleW(nullptr);

const uint32_t loopback = inet_addr("127.0.0.1");

TEST(QLibNetEcho, LoopbackAnswers)
{
    QLibNet net;
    uint32_t reachable = 0;
    EXPECT_TRUE(IsOK(net.SendIcmpEcho(&reachable, loopback, 2000)));
    EXPECT_EQ(1u, reachable);
}

// The reply IcmpSendEcho hands back.
struct CraftedReply {
    static inline DWORD replies = 0;
    static inline uint32_t from = 0;
    static inline ULONG status = IP_SUCCESS;

    static DWORD WINAPI Send(HANDLE, IPAddr, LPVOID, WORD, PIP_OPTION_INFORMATION, LPVOID reply, DWORD, DWORD)
    {
        auto* first = static_cast<ICMP_ECHO_REPLY*>(reply);
        first->Address = from;
        first->Status = status;
        return replies;
    }
};

struct ReplyCase {
    DWORD replies;
    uint32_t from;
    ULONG status;
    uint32_t reachable;
};

const ReplyCase replyCases[] = {
    {0, 0, IP_REQ_TIMED_OUT, 0},
    {1, loopback, IP_DEST_HOST_UNREACHABLE, 0},
    {1, inet_addr("127.0.0.2"), IP_SUCCESS, 0},
    {1, loopback, IP_SUCCESS, 1},
};

TEST(QLibNetEcho, OnlyTheTargetsSuccessCountsAsAnswer)
{
    ImportHook send(self, "IcmpSendEcho", reinterpret_cast<void*>(&CraftedReply::Send));
    QLibNet net;
    for (const ReplyCase& row : replyCases) {
        CraftedReply::replies = row.replies;
        CraftedReply::from = row.from;
        CraftedReply::status = row.status;
        uint32_t reachable = 7;
        EXPECT_TRUE(IsOK(net.SendIcmpEcho(&reachable, loopback, 100)));
        EXPECT_EQ(row.reachable, reachable) << row.replies << " " << row.status;
    }
}

HANDLE WINAPI NoIcmpHandle()
{
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return INVALID_HANDLE_VALUE;
}

TEST(QLibNetEcho, NoIcmpHandleIsTheOnlyFailure)
{
    ImportHook create(self, "IcmpCreateFile", reinterpret_cast<void*>(&NoIcmpHandle));
    QLibNet net;
    uint32_t reachable = 7;
    EXPECT_TRUE(IsStatus(net.SendIcmpEcho(&reachable, loopback, 100), QLIB_ERR_WIN32, ERROR_NOT_ENOUGH_MEMORY));
    EXPECT_EQ(0u, reachable);
}

// Counts the object's Winsock starts and ends, passing them on.
struct WinsockUse {
    static inline int starts = 0;
    static inline int cleanups = 0;
    static inline decltype(&WSAStartup) startup = nullptr;
    static inline decltype(&WSACleanup) cleanup = nullptr;

    static int WINAPI Startup(WORD version, WSADATA* data)
    {
        ++starts;
        return startup(version, data);
    }
    static int WINAPI Cleanup()
    {
        ++cleanups;
        return cleanup();
    }
};

// A socket of the test on the echo port of loopback.
class EchoPort {
public:
    EchoPort()
    {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
        m_Socket = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = loopback;
        address.sin_port = htons(7);
        EXPECT_EQ(0, bind(m_Socket, reinterpret_cast<sockaddr*>(&address), sizeof address)) << WSAGetLastError();
        DWORD timeout = 5000;
        setsockopt(m_Socket, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
    }
    ~EchoPort()
    {
        closesocket(m_Socket);
        WSACleanup();
    }
    std::string Receive() const
    {
        char buffer[256];
        int length = recv(m_Socket, buffer, sizeof buffer, 0);
        return length > 0 ? std::string(buffer, length) : std::string();
    }

private:
    SOCKET m_Socket = INVALID_SOCKET;
};

TEST(QLibNetEcho, DatagramArrivesAndWinsockStartsOncePerObject)
{
    EchoPort port;
    ImportHook startup(self, "WSAStartup", reinterpret_cast<void*>(&WinsockUse::Startup));
    ImportHook cleanup(self, "WSACleanup", reinterpret_cast<void*>(&WinsockUse::Cleanup));
    WinsockUse::startup = startup.Original<decltype(&WSAStartup)>();
    WinsockUse::cleanup = cleanup.Original<decltype(&WSACleanup)>();
    WinsockUse::starts = 0;
    WinsockUse::cleanups = 0;

    QLibNet net;
    const std::string payload = "Tarn UDP Broadcast Echo Request";
    EXPECT_TRUE(IsOK(net.SendUdpBroadcastEcho(loopback, loopback, 0)));
    EXPECT_EQ(payload, port.Receive());
    EXPECT_TRUE(IsOK(net.SendUdpBroadcastEcho(loopback, loopback, 1)));
    EXPECT_EQ(payload, port.Receive());
    EXPECT_EQ(1, WinsockUse::starts);
    EXPECT_TRUE(IsOK(net.Close()));
    EXPECT_EQ(1, WinsockUse::cleanups);
    EXPECT_TRUE(IsOK(net.SendUdpBroadcastEcho(loopback, loopback, 0)));
    EXPECT_EQ(payload, port.Receive());
    EXPECT_EQ(2, WinsockUse::starts);
    EXPECT_TRUE(IsOK(net.Close()));
}

} // namespace
