// Hardware and IPv4 address texts of the network object.

#include <gtest/gtest.h>

#include <array>
#include <optional>

#include "LibNet.h"
#include "ImportHook.h"
#include "ServiceTestSupport.h"

namespace {

const HMODULE self = GetModuleHandleW(nullptr);

using Mac = std::array<BYTE, QLibNet::MacLength>;

std::wstring Wide(const char* text)
{
    return std::wstring(text, text + strlen(text));
}

struct MacCase {
    const char* text;
    std::optional<Mac> bytes;
};

const MacCase macCases[] = {
    {"00-0c-29-AB-cd-EF", Mac{0x00, 0x0C, 0x29, 0xAB, 0xCD, 0xEF}},
    {"00:0C:29:AB:CD:EF", Mac{0x00, 0x0C, 0x29, 0xAB, 0xCD, 0xEF}},
    {"02:00-5e:10-00:ff", Mac{0x02, 0x00, 0x5E, 0x10, 0x00, 0xFF}},
    {"00:0C:29:AB:CD:E", std::nullopt},
    {"00:0C:29:AB:CD:EF0", std::nullopt},
    {"00.0C.29.AB.CD.EF", std::nullopt},
    {"00:0C:29:AB:CD:EG", std::nullopt},
    {"", std::nullopt},
};

TEST(QLibNetText, MacAddressTexts)
{
    for (const MacCase& row : macCases) {
        Mac narrow = {};
        Mac wide = {};
        QLibStatus narrowStatus = QLibNet::ConvertMacAddress(narrow.data(), row.text);
        QLibStatus wideStatus = QLibNet::ConvertMacAddress(wide.data(), Wide(row.text).c_str());
        if (row.bytes) {
            EXPECT_TRUE(IsOK(narrowStatus)) << row.text;
            EXPECT_TRUE(IsOK(wideStatus)) << row.text;
            EXPECT_EQ(*row.bytes, narrow) << row.text;
            EXPECT_EQ(*row.bytes, wide) << row.text;
        } else {
            EXPECT_TRUE(IsStatus(narrowStatus, QLIB_ERR_NETWORK, ERROR_INVALID_PARAMETER)) << row.text;
            EXPECT_TRUE(IsStatus(wideStatus, QLIB_ERR_NETWORK, ERROR_INVALID_PARAMETER)) << row.text;
        }
    }
    Mac none = {};
    EXPECT_EQ(QLIB_ERR_NOT_SET,
              static_cast<uint32_t>(QLibNet::ConvertMacAddress(none.data(), (const wchar_t*)nullptr).GetType()));
}

struct AddressCase {
    const char* text;
    bool wellFormed;
    const char* normalized; // also the text the value converts back to
    std::optional<std::array<BYTE, 4>> bytes;
};

// Leading zeros are decimal: the octal reading would turn 010 into 8 and refuse 08.
const AddressCase addressCases[] = {
    {"010.001.000.005", true, "10.1.0.5", std::array<BYTE, 4>{10, 1, 0, 5}},
    {"08.09.0.1", true, "8.9.0.1", std::array<BYTE, 4>{8, 9, 0, 1}},
    {"0.0.0.0", true, "0.0.0.0", std::array<BYTE, 4>{0, 0, 0, 0}},
    {"10.77.0.5", true, "10.77.0.5", std::array<BYTE, 4>{10, 77, 0, 5}},
    {"192.168.000.100", true, "192.168.0.100", std::array<BYTE, 4>{192, 168, 0, 100}},
    {"999.999.999.999", true, "999.999.999.999", std::nullopt},
    {"1.2.3.256", true, "1.2.3.256", std::nullopt},
    {"255.255.255.255", true, "255.255.255.255", std::nullopt},
    {"1.2.3", false, nullptr, std::nullopt},
    {"1.2.3.4.5", false, nullptr, std::nullopt},
    {"1..2.3", false, nullptr, std::nullopt},
    {"1234.1.1.1", false, nullptr, std::nullopt},
    {"1.2.3.4 ", false, nullptr, std::nullopt},
    {"0x1.2.3.4", false, nullptr, std::nullopt},
    {"", false, nullptr, std::nullopt},
};

TEST(QLibNetText, AddressTexts)
{
    for (const AddressCase& row : addressCases) {
        std::wstring wide = Wide(row.text);
        EXPECT_EQ(row.wellFormed, QLibNet::IsValidIPFormat(row.text)) << row.text;
        EXPECT_EQ(row.wellFormed, QLibNet::IsValidIPFormat(wide.c_str())) << row.text;
        std::string normalized;
        EXPECT_EQ(row.wellFormed, QLibNet::NormalizeIPFormat(row.text, normalized)) << row.text;
        if (row.wellFormed) {
            EXPECT_EQ(row.normalized, normalized) << row.text;
        }

        uint32_t value = 0x5A5A5A5A;
        ASSERT_EQ(row.bytes.has_value(), QLibNet::ConvertIPAddress(wide.c_str(), &value)) << row.text;
        if (!row.bytes)
            continue;
        EXPECT_EQ(0, memcmp(row.bytes->data(), &value, 4)) << row.text;
        wchar_t text[QLibNet::AddressChars];
        EXPECT_TRUE(IsOK(QLibNet::ConvertIPAddress(&value, text)));
        EXPECT_EQ(Wide(row.normalized), text);
    }
}

char* WINAPI NoText(in_addr)
{
    return nullptr;
}

TEST(QLibNetText, AddressToTextAlwaysGivesTextOrFails)
{
    // Were the text still made by the socket library, its failure would leave the buffer as it was.
    ImportHook text(self, "inet_ntoa", reinterpret_cast<void*>(&NoText));
    uint32_t value = 0xFFFFFFFF;
    wchar_t buffer[QLibNet::AddressChars] = L"untouched";
    EXPECT_TRUE(IsOK(QLibNet::ConvertIPAddress(&value, buffer)));
    EXPECT_STREQ(L"255.255.255.255", buffer);
    EXPECT_TRUE(IsStatus(QLibNet::ConvertIPAddress(&value, nullptr), QLIB_ERR_NETWORK, 2));
    EXPECT_TRUE(IsStatus(QLibNet::ConvertIPAddress(nullptr, buffer), QLIB_ERR_NETWORK, 2));
}

} // namespace
