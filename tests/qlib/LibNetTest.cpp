// The network object's lookups by hardware address and the address object, over adapter lists made up for
// the test (Wine refuses address changes and has no media device), then on the test bed's veth pair.

#include <gtest/gtest.h>

#include <array>
#include <tuple>
#include <vector>

#include "LibNet.h"
#include "LibNetIP.h"
#include "LibOwners.h"
#include "ImportHook.h"
#include "ServiceTestSupport.h"
#include "TestBed.h"

namespace {

const HMODULE self = GetModuleHandleW(nullptr);

// Hardware addresses are 02:00:5E:10:00:<index>:B7:B8 cut to the adapter's length; the adapters with WINS
// servers (192.0.2.53 and .54) also have a gateway (192.0.2.1). Address contexts are index * 100 + 1, + 2.
struct FakeAdapter {
    std::string name;
    UINT macLength;
    DWORD index;
    std::vector<const char*> addresses; // address, mask, address, mask ...
    bool wins;
    bool current;
};

std::string Guid(char last)
{
    return std::string("{00000000-0000-0000-0000-00000000000") + last + "}";
}

const FakeAdapter fakeAdapters[] = {
    // First in the list, an adapter without a hardware address, as the loopback's interface row has.
    {Guid('A'), 0, 1, {"127.0.0.1", "255.0.0.0"}, false, true},
    {Guid('B'), 8, 2, {"192.0.2.2", "255.255.255.0"}, false, true},
    {Guid('C'), 6, 3, {"192.0.2.10", "255.255.255.0", "192.0.2.11", "255.255.0.0"}, true, true},
    {Guid('D'), 6, 4, {"192.0.2.20", "255.255.255.0"}, false, false},
    {"{" + std::string(200, 'E') + "}", 6, 5, {"192.0.2.30", "255.255.255.0"}, false, true},
};
const FakeAdapter& adapterB = fakeAdapters[1];
const FakeAdapter& adapterC = fakeAdapters[2];
const FakeAdapter& adapterD = fakeAdapters[3];
const FakeAdapter& adapterE = fakeAdapters[4];

std::array<BYTE, 8> Query(const FakeAdapter& fake)
{
    return {2, 0, 0x5E, 0x10, 0, static_cast<BYTE>(fake.index), 0xB7, 0xB8};
}

void SetText(IP_ADDRESS_STRING& text, const char* value)
{
    strncpy(text.String, value, sizeof text.String - 1);
}

void SetEntry(IP_ADDR_STRING& entry, const char* address, const char* mask, DWORD context)
{
    SetText(entry.IpAddress, address);
    SetText(entry.IpMask, mask);
    entry.Context = context;
}

// GetAdaptersInfo and GetPerAdapterInfo of the test program answer from the fake adapters while it lives.
class FakeAdapterList {
public:
    static inline DWORD perAdapterError = NO_ERROR;

    FakeAdapterList() { perAdapterError = NO_ERROR; }

    static ULONG ListBytes()
    {
        ULONG bytes = 0;
        for (const FakeAdapter& fake : fakeAdapters)
            bytes += sizeof(IP_ADAPTER_INFO) + (fake.addresses.size() / 2 - 1) * sizeof(IP_ADDR_STRING);
        return bytes;
    }

private:
    static ULONG WINAPI List(IP_ADAPTER_INFO* buffer, ULONG* size)
    {
        if (buffer == nullptr || *size < ListBytes()) {
            *size = ListBytes();
            return ERROR_BUFFER_OVERFLOW;
        }
        auto* adapter = buffer;
        // Further addresses follow the adapters, so the whole list lives in the caller's buffer.
        auto* more = reinterpret_cast<IP_ADDR_STRING*>(buffer + std::size(fakeAdapters));
        for (const FakeAdapter& fake : fakeAdapters) {
            IP_ADAPTER_INFO& info = *adapter++;
            info = {};
            info.Next = adapter < buffer + std::size(fakeAdapters) ? adapter : nullptr;
            strncpy(info.AdapterName, fake.name.c_str(), sizeof info.AdapterName - 1);
            info.AddressLength = fake.macLength;
            memcpy(info.Address, Query(fake).data(), fake.macLength);
            info.Index = fake.index;
            IP_ADDR_STRING* entry = &info.IpAddressList;
            for (size_t i = 0; i < fake.addresses.size(); i += 2) {
                if (i > 0)
                    entry = entry->Next = more++;
                SetEntry(*entry, fake.addresses[i], fake.addresses[i + 1], fake.index * 100 + i / 2 + 1);
            }
            info.CurrentIpAddress = fake.current ? &info.IpAddressList : nullptr;
            info.HaveWins = fake.wins;
            SetText(info.GatewayList.IpAddress, fake.wins ? "192.0.2.1" : "");
            SetText(info.PrimaryWinsServer.IpAddress, fake.wins ? "192.0.2.53" : "");
            SetText(info.SecondaryWinsServer.IpAddress, fake.wins ? "192.0.2.54" : "");
        }
        return NO_ERROR;
    }

    // Two name servers and, as Windows may give, no current one.
    static DWORD WINAPI PerAdapter(ULONG, IP_PER_ADAPTER_INFO* buffer, ULONG* size)
    {
        const ULONG bytes = sizeof(IP_PER_ADAPTER_INFO) + sizeof(IP_ADDR_STRING);
        if (perAdapterError != NO_ERROR)
            return perAdapterError;
        if (buffer == nullptr || *size < bytes) {
            *size = bytes;
            return ERROR_BUFFER_OVERFLOW;
        }
        *buffer = {};
        auto* second = reinterpret_cast<IP_ADDR_STRING*>(buffer + 1);
        SetEntry(buffer->DnsServerList, "127.0.0.1", "", 0);
        SetEntry(*second, "127.0.0.2", "", 0);
        buffer->DnsServerList.Next = second;
        return NO_ERROR;
    }

    ImportHook m_List{self, "GetAdaptersInfo", reinterpret_cast<void*>(&List)};
    ImportHook m_PerAdapter{self, "GetPerAdapterInfo", reinterpret_cast<void*>(&PerAdapter)};
};

// What the address changes asked of Windows.
struct AddressChanges {
    static inline std::vector<ULONG> deleted;
    static inline std::vector<DWORD> addedTo;
    static inline DWORD result = NO_ERROR;

    static void Reset(DWORD answer)
    {
        deleted.clear();
        addedTo.clear();
        result = answer;
    }
    static DWORD WINAPI Delete(ULONG context)
    {
        deleted.push_back(context);
        return result;
    }
    static DWORD WINAPI Add(IPAddr, IPMask, DWORD index, ULONG* context, ULONG* instance)
    {
        addedTo.push_back(index);
        *context = *instance = 0;
        return result;
    }
};

class QLibNetAdapters : public ::testing::Test {
protected:
    void SetUp() override
    {
        AddressChanges::Reset(NO_ERROR);
        ASSERT_TRUE(IsOK(net.Open()));
    }

    FakeAdapterList fakes;
    QLibNet net;
};

struct LookupCase {
    std::array<BYTE, 8> mac;
    const FakeAdapter* found;
    std::vector<ULONG> contexts;
};

// Only a 6-byte hardware address can equal the caller's 6 bytes.
const LookupCase lookupCases[] = {
    {Query(adapterC), &adapterC, {301, 302}},
    {Query(adapterD), &adapterD, {401}},
    {Query(adapterB), nullptr, {}},
    {{2, 0, 0x5E, 0x10, 0, 0x99}, nullptr, {}},
};

TEST_F(QLibNetAdapters, LookupsByHardwareAddress)
{
    ImportHook add(self, "AddIPAddress", reinterpret_cast<void*>(&AddressChanges::Add));
    ImportHook remove(self, "DeleteIPAddress", reinterpret_cast<void*>(&AddressChanges::Delete));
    for (const LookupCase& row : lookupCases) {
        AddressChanges::Reset(NO_ERROR);
        QLibLocalOwner<char> narrow;
        QLibLocalOwner<wchar_t> wide;
        uint32_t index = 0;
        uint32_t wideIndex = 0;
        uint32_t noAddress = 7;
        QLibStatus narrowStatus = net.GetNameFromMAC(narrow.put(), row.mac.data(), &index);
        QLibStatus wideStatus = net.GetNameFromMAC(wide.put(), row.mac.data(), &wideIndex);
        QLibStatus currentStatus = net.HasNoCurrentIPAddress(row.mac.data(), &noAddress);
        QLibStatus deleteStatus = net.DeleteAllIPAddresses(row.mac.data());
        QLibStatus addStatus = net.AddIPAddress(row.mac.data(), inet_addr("192.0.2.99"), inet_addr("255.255.255.0"));
        EXPECT_EQ(row.contexts, AddressChanges::deleted);
        if (row.found == nullptr) {
            for (const QLibStatus& status : {narrowStatus, wideStatus, currentStatus, deleteStatus, addStatus})
                EXPECT_TRUE(IsStatus(status, QLIB_ERR_NETWORK, 2));
            EXPECT_TRUE(AddressChanges::addedTo.empty());
            continue;
        }
        for (const QLibStatus& status : {narrowStatus, wideStatus, currentStatus, deleteStatus, addStatus})
            EXPECT_TRUE(IsOK(status));
        EXPECT_EQ(row.found->name, narrow.get());
        EXPECT_EQ(std::wstring(row.found->name.begin(), row.found->name.end()), wide.get());
        EXPECT_EQ(row.found->index, index);
        EXPECT_EQ(row.found->index, wideIndex);
        EXPECT_EQ(row.found->current ? 0u : 1u, noAddress);
        EXPECT_EQ(std::vector<DWORD>{row.found->index}, AddressChanges::addedTo);
    }
}

struct DeleteCase {
    const char* address;
    const char* mask;
    const FakeAdapter* only;
    DWORD answer;
    uint32_t type;
    uint32_t code;
    std::vector<ULONG> deleted;
};

const DeleteCase deleteCases[] = {
    {"192.0.2.11", "255.255.0.0", nullptr, NO_ERROR, QLIB_ERR_NONE, 0, {302}},
    {"192.0.2.11", "255.255.255.0", nullptr, NO_ERROR, QLIB_ERR_NETWORK, 2, {}},
    {"192.0.2.10", "255.255.255.0", &adapterD, NO_ERROR, QLIB_ERR_NETWORK, 2, {}},
    {"192.0.2.10", "255.255.255.0", &adapterC, NO_ERROR, QLIB_ERR_NONE, 0, {301}},
    {"192.0.2.10", "255.255.255.0", nullptr, ERROR_ACCESS_DENIED, QLIB_ERR_WIN32, ERROR_ACCESS_DENIED, {301}},
};

TEST_F(QLibNetAdapters, DeleteMatchesAddressAndMask)
{
    ImportHook remove(self, "DeleteIPAddress", reinterpret_cast<void*>(&AddressChanges::Delete));
    for (const DeleteCase& row : deleteCases) {
        AddressChanges::Reset(row.answer);
        auto mac = row.only ? Query(*row.only) : std::array<BYTE, 8>{};
        QLibStatus status = net.DeleteIPAddress(inet_addr(row.address), inet_addr(row.mask),
                                                row.only ? mac.data() : nullptr);
        EXPECT_TRUE(IsStatus(status, row.type, row.code)) << row.address << " " << row.mask;
        EXPECT_EQ(row.deleted, AddressChanges::deleted) << row.address << " " << row.mask;
        EXPECT_TRUE(net.IsValid());
    }
}

// An allocator that fails for one size without saying why, as not every allocator sets the last error.
template <typename Result, typename... Leading>
struct FailingAlloc {
    static inline SIZE_T size = 0;
    static inline Result(WINAPI* original)(Leading..., SIZE_T) = nullptr;

    static Result WINAPI Call(Leading... leading, SIZE_T bytes)
    {
        if (bytes != size)
            return original(leading..., bytes);
        SetLastError(ERROR_SUCCESS);
        return nullptr;
    }
};
using FailingHeapAlloc = FailingAlloc<LPVOID, HANDLE, DWORD>;
using FailingLocalAlloc = FailingAlloc<HLOCAL, UINT>;

TEST_F(QLibNetAdapters, AllocationFailuresAreReported)
{
    ImportHook heap(self, "HeapAlloc", reinterpret_cast<void*>(&FailingHeapAlloc::Call));
    FailingHeapAlloc::original = heap.Original<decltype(&HeapAlloc)>();
    ImportHook local(self, "LocalAlloc", reinterpret_cast<void*>(&FailingLocalAlloc::Call));
    FailingLocalAlloc::original = local.Original<decltype(&LocalAlloc)>();

    FailingHeapAlloc::size = FakeAdapterList::ListBytes();
    QLibNet snapshot;
    EXPECT_TRUE(IsStatus(snapshot.Open(), QLIB_ERR_WIN32, ERROR_NOT_ENOUGH_MEMORY));
    EXPECT_FALSE(snapshot.IsValid());

    FailingLocalAlloc::size = QLibNet::DisplayNameChars * sizeof(wchar_t);
    auto mac = Query(adapterC);
    wchar_t* name = reinterpret_cast<wchar_t*>(1);
    EXPECT_TRUE(IsStatus(net.GetDisplayNameFromMAC(mac.data(), &name), QLIB_ERR_WIN32, ERROR_NOT_ENOUGH_MEMORY));
    EXPECT_EQ(nullptr, name);
}

std::vector<std::wstring> Texts(std::initializer_list<const char*> texts)
{
    std::vector<std::wstring> wide;
    for (const char* text : texts)
        wide.emplace_back(text, text + strlen(text));
    return wide;
}

TEST_F(QLibNetAdapters, AddressObjectKeepsWhatBelongsToTheAddress)
{
    QLibNetIP ip(L"192.0.2.11");
    ASSERT_TRUE(ip.IsValid());
    std::array<BYTE, 8> mac = {};
    uint32_t length = 0;
    EXPECT_TRUE(IsOK(ip.GetMAC(mac.data(), 8, &length)));
    EXPECT_EQ(6u, length);
    EXPECT_EQ(0, memcmp(Query(adapterC).data(), mac.data(), 6));
    wchar_t address[QLibNet::AddressChars];
    wchar_t mask[QLibNet::AddressChars];
    wchar_t gateway[QLibNet::AddressChars];
    EXPECT_TRUE(IsOK(ip.GetIPAddress(address)));
    EXPECT_TRUE(IsOK(ip.GetSubnetMask(mask)));
    EXPECT_TRUE(IsOK(ip.GetDefaultGateway(gateway)));
    EXPECT_EQ(Texts({"192.0.2.11", "255.255.0.0", "192.0.2.1"}), (std::vector<std::wstring>{address, mask, gateway}));
    std::vector<std::wstring> wins;
    std::vector<std::wstring> dns;
    std::vector<uint32_t> dnsValues;
    EXPECT_TRUE(IsOK(ip.GetWINSServers(wins)));
    EXPECT_TRUE(IsOK(ip.GetDNSServers(dns)));
    EXPECT_TRUE(IsOK(ip.GetDNSServers(dnsValues)));
    EXPECT_EQ(Texts({"192.0.2.53", "192.0.2.54"}), wins);
    EXPECT_EQ(Texts({"127.0.0.1", "127.0.0.2"}), dns);
    EXPECT_EQ((std::vector<uint32_t>{inet_addr("127.0.0.1"), inet_addr("127.0.0.2")}), dnsValues);
    uint32_t current = 0;
    EXPECT_TRUE(IsStatus(ip.GetCurrentDNSServer(&current), QLIB_ERR_NETWORK, 2));
    EXPECT_TRUE(IsStatus(ip.GetCurrentDNSServer(address), QLIB_ERR_NETWORK, 2));

    // A second open keeps nothing of the first adapter.
    EXPECT_TRUE(IsOK(ip.Open(inet_addr("192.0.2.20"))));
    EXPECT_TRUE(IsOK(ip.GetWINSServers(wins)));
    EXPECT_TRUE(wins.empty());
    EXPECT_TRUE(IsStatus(ip.GetDefaultGateway(gateway), QLIB_ERR_NETWORK, 2));
    EXPECT_TRUE(IsOK(ip.GetMAC(mac.data(), 8, &length)));
    EXPECT_EQ(0, memcmp(Query(adapterD).data(), mac.data(), 6));
}

TEST_F(QLibNetAdapters, AddressObjectOpenFailuresLeaveItClosed)
{
    QLibNetIP ip(L"192.0.2.11");
    EXPECT_TRUE(IsStatus(ip.Open(L"198.51.100.7"), QLIB_ERR_NETWORK, 2));
    EXPECT_FALSE(ip.IsValid());
    EXPECT_TRUE(IsStatus(ip.Open(L"192.0.2"), QLIB_ERR_NETWORK, 2));
    EXPECT_FALSE(ip.IsValid());
    FakeAdapterList::perAdapterError = ERROR_NO_DATA;
    EXPECT_TRUE(IsStatus(ip.Open(L"192.0.2.11"), QLIB_ERR_WIN32, ERROR_NO_DATA));
    EXPECT_FALSE(ip.IsValid());
}

const wchar_t connectionsKey[]
    = L"SYSTEM\\CurrentControlSet\\Control\\Network\\{4D36E972-E325-11CE-BFC1-08002BE10318}\\";

// The connection's registry entry of one adapter, with a name of the given length, removed again.
class ConnectionName {
public:
    ConnectionName(const FakeAdapter& fake, int length)
        : m_Key(connectionsKey + std::wstring(fake.name.begin(), fake.name.end()))
    {
        for (int i = 0; i < length; ++i)
            m_Name += static_cast<wchar_t>(L'a' + i % 26);
        QLibKeyOwner key;
        EXPECT_EQ(ERROR_SUCCESS,
                  RegCreateKeyExW(HKEY_LOCAL_MACHINE, (m_Key + L"\\Connection").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, key.put(), nullptr));
        EXPECT_EQ(ERROR_SUCCESS,
                  RegSetValueExW(key.get(), L"Name", 0, REG_SZ, reinterpret_cast<const BYTE*>(m_Name.c_str()),
                                 static_cast<DWORD>((m_Name.size() + 1) * sizeof(wchar_t))));
    }
    ~ConnectionName()
    {
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, m_Key.c_str());
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, m_Key.c_str());
    }
    const std::wstring& Name() const { return m_Name; }

private:
    std::wstring m_Key;
    std::wstring m_Name;
};

std::wstring DisplayName(const QLibNet& net, const FakeAdapter& fake)
{
    auto mac = Query(fake);
    QLibLocalOwner<wchar_t> name;
    EXPECT_TRUE(IsOK(net.GetDisplayNameFromMAC(mac.data(), name.put())));
    return name ? name.get() : L"(none)";
}

TEST_F(QLibNetAdapters, DisplayNameIsTheConnectionsOrTheAdaptersCutTo129)
{
    const std::wstring nameC(adapterC.name.begin(), adapterC.name.end());
    const std::wstring nameE(adapterE.name.begin(), adapterE.name.end());
    EXPECT_EQ(nameC, DisplayName(net, adapterC));
    EXPECT_EQ(nameE.substr(0, 129), DisplayName(net, adapterE));
    for (int length : {0, 12, 129, 130, 200}) {
        ConnectionName connection(adapterC, length);
        EXPECT_EQ(length == 0 ? nameC : connection.Name().substr(0, 129), DisplayName(net, adapterC)) << length;
    }

    QLibLocalOwner<wchar_t> name;
    EXPECT_TRUE(IsOK(net.GetDisplayNameFromMAC(L"02-00-5e-10-00-03", name.put())));
    EXPECT_STREQ(nameC.c_str(), name.get());
    EXPECT_TRUE(IsStatus(net.GetDisplayNameFromMAC(L"02-00-5E-10-00", name.put()), QLIB_ERR_NETWORK, 87));
    EXPECT_TRUE(IsStatus(net.GetDisplayNameFromMAC((const wchar_t*)nullptr, name.put()), QLIB_ERR_NETWORK, 2));
}

// The device calls of the media query; Wine has no such device.
struct MediaCalls {
    static inline DWORD queryError = 0;
    static inline DWORD defineError = 0;
    static inline DWORD controlError = 0;
    static inline ULONG state = 0;
    static inline std::vector<std::tuple<DWORD, std::wstring, std::wstring>> defines;
    static inline std::wstring opened;

    static DWORD WINAPI Query(LPCWSTR, LPWSTR target, DWORD)
    {
        SetLastError(queryError);
        target[0] = target[1] = L'\0';
        return queryError ? 0 : 2;
    }
    static BOOL WINAPI Define(DWORD flags, LPCWSTR name, LPCWSTR target)
    {
        defines.emplace_back(flags, name, target);
        SetLastError(defineError);
        return defineError == 0 || (flags & DDD_REMOVE_DEFINITION);
    }
    static HANDLE WINAPI Create(LPCWSTR path, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE)
    {
        opened = path;
        return CreateEventW(nullptr, FALSE, FALSE, nullptr);
    }
    static BOOL WINAPI Control(HANDLE, DWORD, LPVOID, DWORD, LPVOID out, DWORD, LPDWORD returned, LPOVERLAPPED)
    {
        SetLastError(controlError);
        *static_cast<ULONG*>(out) = state;
        *returned = sizeof state;
        return controlError == 0;
    }
};

struct MediaCase {
    DWORD queryError;
    DWORD defineError;
    DWORD controlError;
    ULONG state;
    uint32_t type;
    uint32_t code;
    uint32_t connected;
};

const MediaCase mediaCases[] = {
    {0, 0, 0, 0, QLIB_ERR_NONE, 0, 1},
    {ERROR_FILE_NOT_FOUND, 0, 0, 0, QLIB_ERR_NONE, 0, 1},
    {ERROR_FILE_NOT_FOUND, 0, 0, 1, QLIB_ERR_NONE, 0, 0},
    {ERROR_FILE_NOT_FOUND, 0, ERROR_INVALID_PARAMETER, 0, QLIB_ERR_WIN32, ERROR_INVALID_PARAMETER, 0},
    {ERROR_ACCESS_DENIED, 0, 0, 0, QLIB_ERR_WIN32, ERROR_ACCESS_DENIED, 0},
    {ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED, 0, 0, QLIB_ERR_NETWORK, ERROR_ACCESS_DENIED, 0},
};

TEST(QLibNetMedia, MediaStateThroughAPrivateDeviceName)
{
    ImportHook query(self, "QueryDosDeviceW", reinterpret_cast<void*>(&MediaCalls::Query));
    ImportHook define(self, "DefineDosDeviceW", reinterpret_cast<void*>(&MediaCalls::Define));
    ImportHook create(self, "CreateFileW", reinterpret_cast<void*>(&MediaCalls::Create));
    ImportHook control(self, "DeviceIoControl", reinterpret_cast<void*>(&MediaCalls::Control));
    const std::wstring adapter = L"{00000000-0000-0000-0000-00000000000C}";
    QLibNet net;
    for (const MediaCase& row : mediaCases) {
        MediaCalls::queryError = row.queryError;
        MediaCalls::defineError = row.defineError;
        MediaCalls::controlError = row.controlError;
        MediaCalls::state = row.state;
        MediaCalls::defines.clear();
        MediaCalls::opened.clear();
        uint32_t connected = 7;
        EXPECT_TRUE(IsStatus(net.IsMediaConnected(adapter.c_str(), &connected), row.type, row.code));
        EXPECT_EQ(row.connected, connected);
        if (row.queryError != ERROR_FILE_NOT_FOUND) {
            EXPECT_TRUE(MediaCalls::defines.empty());
            EXPECT_EQ(row.queryError ? L"" : L"\\\\.\\" + adapter, MediaCalls::opened);
            continue;
        }
        // Concurrent queries of one adapter must not share, and so remove, each other's name.
        ASSERT_FALSE(MediaCalls::defines.empty());
        auto [flags, name, target] = MediaCalls::defines[0];
        EXPECT_EQ(DWORD{DDD_RAW_TARGET_PATH}, flags);
        EXPECT_NE(std::wstring::npos, name.find(std::to_wstring(GetCurrentThreadId())));
        EXPECT_EQ(L"\\Device\\" + adapter, target);
        if (row.defineError != 0) {
            EXPECT_EQ(1u, MediaCalls::defines.size());
            continue;
        }
        EXPECT_EQ(L"\\\\.\\" + name, MediaCalls::opened);
        const auto removal = std::make_tuple(DWORD{DDD_RAW_TARGET_PATH | DDD_REMOVE_DEFINITION
                                                   | DDD_EXACT_MATCH_ON_REMOVE},
                                             name, target);
        EXPECT_EQ(2u, MediaCalls::defines.size());
        EXPECT_EQ(removal, MediaCalls::defines.back());
    }
}

} // namespace

// The bed's veth pair: the first end carries 10.77.0.5/24, its peer no address.
class QLibNetBed : public ::testing::Test {
protected:
    void SetUp() override
    {
        SKIP_OUTSIDE_TEST_BED();
        ASSERT_TRUE(IsOK(net.Open()));
    }

    QLibNet net;
};

TEST_F(QLibNetBed, LookupsOfBothEndsAndOfAnUnknownAddress)
{
    for (const BYTE* mac : {TestBedMac, TestBedPeerMac}) {
        QLibLocalOwner<wchar_t> name;
        QLibLocalOwner<wchar_t> displayName;
        uint32_t index = 0;
        MIB_IFROW row = {};
        uint32_t found = 0;
        EXPECT_TRUE(IsOK(net.GetNameFromMAC(name.put(), mac, &index)));
        EXPECT_TRUE(IsOK(net.GetIfRow(mac, &row, &found)));
        EXPECT_EQ(1u, found);
        EXPECT_EQ(0, memcmp(mac, row.bPhysAddr, 6));
        // Wine keeps no connection names: the adapter's own name stands in.
        EXPECT_TRUE(IsOK(net.GetDisplayNameFromMAC(mac, displayName.put())));
        EXPECT_STREQ(name.get(), displayName.get());
    }
    const BYTE unknown[] = {2, 0, 0x5E, 0x10, 0, 0x03};
    QLibLocalOwner<wchar_t> name;
    QLibLocalOwner<wchar_t> displayName;
    uint32_t value = 0;
    MIB_IFROW row = {};
    for (const QLibStatus& status :
         {net.GetNameFromMAC(name.put(), unknown, &value), net.HasNoCurrentIPAddress(unknown, &value),
          net.DeleteAllIPAddresses(unknown), net.GetIfRow(unknown, &row, &value),
          net.GetDisplayNameFromMAC(unknown, displayName.put())})
        EXPECT_TRUE(IsStatus(status, QLIB_ERR_NETWORK, 2));
}

TEST_F(QLibNetBed, AddressObjectOfTheBedsAddress)
{
    QLibNetIP ip(L"10.77.0.5");
    ASSERT_TRUE(ip.IsValid());
    BYTE mac[8] = {};
    uint32_t length = 0;
    EXPECT_TRUE(IsOK(ip.GetMAC(mac, sizeof mac, &length)));
    EXPECT_EQ(6u, length);
    EXPECT_EQ(0, memcmp(TestBedMac, mac, 6));
    wchar_t mask[QLibNet::AddressChars];
    EXPECT_TRUE(IsOK(ip.GetSubnetMask(mask)));
    EXPECT_STREQ(L"255.255.255.0", mask);
    std::vector<std::wstring> dns;
    EXPECT_TRUE(IsOK(ip.GetDNSServers(dns)));
    EXPECT_EQ(Texts({"127.0.0.1", "127.0.0.2"}), dns);

    EXPECT_TRUE(IsStatus(ip.Open(inet_addr("10.77.0.6")), QLIB_ERR_NETWORK, 2));
    EXPECT_FALSE(ip.IsValid());
}

TEST_F(QLibNetBed, EchoToTheBedsOwnAddressAnswers)
{
    uint32_t reachable = 0;
    EXPECT_TRUE(IsOK(net.SendIcmpEcho(&reachable, inet_addr(TestBedAddress), 2000)));
    EXPECT_EQ(1u, reachable);
}
