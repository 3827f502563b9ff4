#pragma once
// One IPv4 address of this machine and what belongs to the adapter that carries it: hardware address,
// subnet mask, default gateway, WINS and DNS servers.

#include <cstdint>
#include <string>
#include <vector>

#include "LibNet.h"

class QLibNetIP : public QLibObject {
public:
    QLibNetIP() = default;
    explicit QLibNetIP(const wchar_t* address);
    explicit QLibNetIP(uint32_t address);
    ~QLibNetIP() override;

    QLibNetIP(const QLibNetIP&) = delete;
    QLibNetIP& operator=(const QLibNetIP&) = delete;

    bool IsValid() const override;
    QLibStatus Close() override;
    QLibStatus Open(const wchar_t* address);
    QLibStatus Open(uint32_t address);

    // Copies at most size bytes of the hardware address and gives its length (6 for an Ethernet adapter).
    QLibStatus GetMAC(BYTE* mac, uint32_t size, uint32_t* length) const;
    // Texts go into buffers of QLibNet::AddressChars characters; a text getter fails when there is no address.
    QLibStatus GetIPAddress(wchar_t* text) const;
    QLibStatus GetIPAddress(uint32_t* address) const;
    QLibStatus GetSubnetMask(wchar_t* text) const;
    QLibStatus GetSubnetMask(uint32_t* mask) const;
    QLibStatus GetDefaultGateway(wchar_t* text) const;
    QLibStatus GetDefaultGateway(uint32_t* address) const;
    QLibStatus GetWINSServers(std::vector<std::wstring>& servers) const;
    QLibStatus GetWINSServers(std::vector<uint32_t>& servers) const;
    QLibStatus GetDNSServers(std::vector<std::wstring>& servers) const;
    QLibStatus GetDNSServers(std::vector<uint32_t>& servers) const;
    // No current server is (3, 2).
    QLibStatus GetCurrentDNSServer(wchar_t* text) const;
    QLibStatus GetCurrentDNSServer(uint32_t* address) const;

private:
    // What is kept of the adapter; a new Open starts from nothing.
    struct Copied {
        uint32_t macLength = 0;
        BYTE mac[MAX_ADAPTER_ADDRESS_LENGTH] = {};
        IP_ADDR_STRING address = {};
        uint32_t haveWins = 0;
        IP_ADDR_STRING wins[2] = {};
        IP_ADDR_STRING gateway = {};
    };

    QLibStatus Take(const IP_ADAPTER_INFO& adapter, const IP_ADDR_STRING& entry);
    const IP_ADDR_STRING* Wins() const;
    const IP_PER_ADAPTER_INFO& PerAdapter() const;

    QLibNet m_Net;
    QLibHeapOwner<IP_PER_ADAPTER_INFO> m_PerAdapter;
    Copied m_Copied;
    uint32_t m_Open = 0;
};
