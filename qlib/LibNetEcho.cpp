// The network object's reachability probes: an ICMP echo, and a UDP datagram to the echo port.

#include "LibNet.h"

#include <icmpapi.h>

#include <cstring>

namespace {

// The fixed texts by which the probes' packets are known on the wire.
constexpr char IcmpRequestText[] = "Tarn ICMP Echo Request";
constexpr char UdpPayload[] = "Tarn UDP Broadcast Echo Request";
constexpr size_t IcmpRequestBytes = 64;
constexpr size_t IcmpReplyBytes = 168;
constexpr u_short EchoPort = 7;

struct QLibIcmpCloseHandle : QLibKernelHandleValid {
    static void Close(HANDLE handle) { IcmpCloseHandle(handle); }
};
struct QLibCloseSocket {
    static bool IsValid(SOCKET socket) { return socket != 0 && socket != INVALID_SOCKET; }
    static void Close(SOCKET socket) { closesocket(socket); }
};

sockaddr_in Endpoint(uint32_t address, u_short port)
{
    sockaddr_in endpoint = {};
    endpoint.sin_family = AF_INET;
    endpoint.sin_addr.s_addr = address;
    endpoint.sin_port = htons(port);
    return endpoint;
}

QLibStatus WinsockFailure(int error)
{
    return QLibFailure(QLIB_ERR_NETWORK, static_cast<uint32_t>(error));
}

} // namespace

QLibStatus QLibNet::SendIcmpEcho(uint32_t* reachable, uint32_t target, uint32_t timeout)
{
    *reachable = 0;
    char request[IcmpRequestBytes] = {};
    memcpy(request, IcmpRequestText, sizeof IcmpRequestText);
    alignas(ICMP_ECHO_REPLY) BYTE reply[IcmpReplyBytes] = {};
    QLibUnique<HANDLE, QLibIcmpCloseHandle> icmp(IcmpCreateFile());
    if (!icmp)
        return QLibLastError();
    DWORD replies = IcmpSendEcho(icmp.get(), target, request, sizeof request, nullptr, reply, sizeof reply, timeout);
    // A router's error about the target, or any reply that is not a success, is no answer of the target.
    const auto* first = reinterpret_cast<const ICMP_ECHO_REPLY*>(reply);
    if (replies > 0 && first->Address == target && first->Status == IP_SUCCESS)
        *reachable = 1;
    return QLibOk();
}

QLibStatus QLibNet::StartWinsock()
{
    if (m_Winsock)
        return QLibOk();
    WSADATA data;
    int result = WSAStartup(MAKEWORD(1, 0), &data);
    if (result != 0)
        return WinsockFailure(result);
    m_Winsock.reset(true);
    return QLibOk();
}

QLibStatus QLibNet::SendUdpBroadcastEcho(uint32_t local, uint32_t destination, uint32_t broadcast)
{
    QLibStatus status = StartWinsock();
    if (status.IsFailed())
        return status;
    QLibUnique<SOCKET, QLibCloseSocket> udp(socket(AF_INET, SOCK_DGRAM, 0));
    if (!udp)
        return WinsockFailure(WSAGetLastError());
    sockaddr_in from = Endpoint(local, 0);
    sockaddr_in to = Endpoint(destination, EchoPort);
    if (setsockopt(udp.get(), SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&broadcast), sizeof broadcast)
            == SOCKET_ERROR
        || bind(udp.get(), reinterpret_cast<const sockaddr*>(&from), sizeof from) == SOCKET_ERROR
        || sendto(udp.get(), UdpPayload, sizeof UdpPayload - 1, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to)
            == SOCKET_ERROR)
        return WinsockFailure(WSAGetLastError());
    return QLibOk();
}
