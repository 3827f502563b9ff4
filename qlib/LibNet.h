#pragma once
// The machine's IPv4 network adapters, looked up by hardware address, the conversions of address texts,
// and the echo probes. Addresses are 32-bit values in network byte order.

#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>

#include <cstdint>
#include <string>

#include "LibFetchSized.h"
#include "LibOwners.h"
#include "LibWin32Object.h"

// Code-page conversions into a zero-filled LocalAlloc buffer the caller frees: 0 or the Windows error.
DWORD ConvertToWide(wchar_t** wide, const char* text);
DWORD ConvertToAnsi(char** text, const wchar_t* wide);

// The network object's own condition: no such adapter or address.
inline QLibStatus QLibNetNotFound()
{
    return QLibFailure(QLIB_ERR_NETWORK, 2);
}

struct QLibWinsockCleanup : QLibNonNull {
    static void Close(bool) { WSACleanup(); }
};
// Winsock started once for the object: true while it holds a start that it must end.
using QLibWinsockOwner = QLibUnique<bool, QLibWinsockCleanup>;

class QLibNet : public QLibObject {
public:
    static constexpr uint32_t MacLength = 6;
    // The longest dotted text with its terminator.
    static constexpr size_t AddressChars = 16;

    QLibNet() = default;
    ~QLibNet() override;

    QLibNet(const QLibNet&) = delete;
    QLibNet& operator=(const QLibNet&) = delete;

    bool IsValid() const override;
    QLibStatus Close() override;
    // Takes a snapshot of the adapter list, kept until Close or Refresh.
    QLibStatus Open();
    QLibStatus Refresh();
    IP_ADAPTER_INFO* GetAdapterList() const;

    // Name (LocalAlloc, caller frees) and interface index of the adapter with the 6-byte hardware address.
    QLibStatus GetNameFromMAC(char** name, const BYTE* mac, uint32_t* index) const;
    QLibStatus GetNameFromMAC(wchar_t** name, const BYTE* mac, uint32_t* index) const;
    QLibStatus HasNoCurrentIPAddress(const BYTE* mac, uint32_t* noAddress) const;
    QLibStatus GetIfRow(const BYTE* mac, MIB_IFROW* row, uint32_t* found) const;
    // Name of the adapter's network connection (LocalAlloc, caller frees), at most DisplayNameChars - 1 long.
    static constexpr size_t DisplayNameChars = 130;
    QLibStatus GetDisplayNameFromMAC(const BYTE* mac, wchar_t** displayName) const;
    QLibStatus GetDisplayNameFromMAC(const wchar_t* macText, wchar_t** displayName) const;
    QLibStatus IsMediaConnected(const wchar_t* adapterName, uint32_t* connected) const;

    QLibStatus AddIPAddress(const BYTE* mac, uint32_t address, uint32_t mask);
    // Every adapter, or only the one with the hardware address, loses its entry with that address and mask.
    QLibStatus DeleteIPAddress(uint32_t address, uint32_t mask, const BYTE* mac = nullptr);
    QLibStatus DeleteAllIPAddresses(const BYTE* mac) const;

    // "00:0C:29:AB:CD:EF" or "00-0c-29-ab-cd-ef" into 6 bytes.
    static QLibStatus ConvertMacAddress(BYTE* mac, const char* text);
    static QLibStatus ConvertMacAddress(BYTE* mac, const wchar_t* text);
    // Four dot-separated groups of 1 to 3 digits; the groups' values are not checked.
    static bool IsValidIPFormat(const char* text);
    static bool IsValidIPFormat(const wchar_t* text);
    static bool NormalizeIPFormat(const char* text, std::string& normalized);
    // Dotted text to value: four decimal groups of 0 to 255, leading zeros allowed; never 255.255.255.255.
    static bool ConvertIPAddress(const wchar_t* text, uint32_t* address);
    // The same reading for the texts of the adapter list, where 255.255.255.255 is a valid mask.
    static bool ConvertIPAddress(const char* text, uint32_t* address);
    // Value to dotted text, into a buffer of AddressChars characters.
    static QLibStatus ConvertIPAddress(const uint32_t* address, wchar_t* text);
    // First entry of the chain whose address (and mask, when given) has the value.
    static const IP_ADDR_STRING* FindAddressEntry(const IP_ADDR_STRING* entry, uint32_t address,
                                                  const uint32_t* mask = nullptr);

    // Sets reachable to 1 only when the target itself answered the echo in time.
    QLibStatus SendIcmpEcho(uint32_t* reachable, uint32_t target, uint32_t timeout);
    // One datagram from the local address to the echo port; no answer is awaited.
    QLibStatus SendUdpBroadcastEcho(uint32_t local, uint32_t destination, uint32_t broadcast);

private:
    const IP_ADAPTER_INFO* FindAdapter(const BYTE* mac) const;
    QLibStatus StartWinsock();

    QLibHeapOwner<IP_ADAPTER_INFO> m_AdapterList;
    QLibWinsockOwner m_Winsock;
};

// For the IP Helper calls that are asked for a size first and answer their error: overflow is their "buffer too
// small", and a size query that succeeds is a broken answer. Fills a zero-filled process-heap buffer.
template <typename T, typename Fill>
QLibStatus QLibFetchIpHelperData(QLibHeapOwner<T>& buffer, DWORD overflow, Fill fill)
{
    QLibSizedBlock block;
    QLibSizedCall sized;
    sized.call = [&] { return fill(block.Get<T>(), &block.size); };
    sized.moreData = overflow;
    sized.sizeQuerySuccess = QLibSizeQuerySuccess::InvalidData;
    QLibStatus status = QLibFetchSized(sized, {&block});
    buffer.reset(block.Release<T>());
    return status;
}
