// The test bed itself: what the namespaces, the test DNS server and the import hooks make Wine show.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <windows.h>
#include <iphlpapi.h>
#include <windns.h>

#include <cstring>
#include <string>
#include <vector>

#include "LogonHook.h"
#include "TestBed.h"

using ::testing::ElementsAre;

namespace {

std::wstring ProgramPath(const wchar_t* name)
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH - 1);
    std::wstring folder = path;
    return folder.substr(0, folder.rfind(L'\\') + 1) + name;
}

DWORD RunAs(HANDLE token, const std::wstring& arguments)
{
    std::wstring program = ProgramPath(L"testchild.exe");
    std::wstring commandLine = L"\"" + program + L"\" " + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION started = {};
    if (!CreateProcessAsUserW(token, program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                              &startup, &started))
        return GetLastError() | 0x80000000;
    WaitForSingleObject(started.hProcess, 10000);
    DWORD code = 0;
    GetExitCodeProcess(started.hProcess, &code);
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
    return code;
}

bool HasAdapter(const char* address, const BYTE (&mac)[6])
{
    ULONG size = 0;
    GetAdaptersInfo(nullptr, &size);
    std::vector<BYTE> buffer(size);
    auto* adapters = reinterpret_cast<IP_ADAPTER_INFO*>(buffer.data());
    if (size == 0 || GetAdaptersInfo(adapters, &size) != NO_ERROR)
        return false;
    for (auto* adapter = adapters; adapter != nullptr; adapter = adapter->Next)
        if (strcmp(adapter->IpAddressList.IpAddress.String, address) == 0 && adapter->AddressLength == 6
            && memcmp(adapter->Address, mac, 6) == 0)
            return true;
    return false;
}

std::string FirstNameServer()
{
    BYTE buffer[256] = {};
    DWORD size = sizeof(buffer);
    if (DnsQueryConfig(DnsConfigDnsServerList, 0, nullptr, nullptr, buffer, &size) != 0)
        return "";
    auto* servers = reinterpret_cast<IP4_ARRAY*>(buffer);
    if (servers->AddrCount == 0)
        return "";
    const BYTE* octets = reinterpret_cast<const BYTE*>(&servers->AddrArray[0]);
    return std::to_string(octets[0]) + "." + std::to_string(octets[1]) + "." + std::to_string(octets[2]) + "."
        + std::to_string(octets[3]);
}

std::wstring ComputerName(COMPUTER_NAME_FORMAT format)
{
    wchar_t name[256] = {};
    DWORD size = 256;
    return GetComputerNameExW(format, name, &size) ? name : L"";
}

} // namespace

TEST(TestBedSmoke, NamespacesShowTheBedsAdapterNameServerAndHostName)
{
    SKIP_OUTSIDE_TEST_BED();
    EXPECT_TRUE(HasAdapter(TestBedAddress, TestBedMac));
    EXPECT_EQ("127.0.0.1", FirstNameServer());
    EXPECT_EQ(L"host1", ComputerName(ComputerNameDnsHostname));
    EXPECT_EQ(L"test.example", ComputerName(ComputerNameDnsDomain));
}

TEST(TestBedSmoke, LogonHookStartsAChildForTheAccountAndRefusesAWrongPassword)
{
    LogonHook hook(GetModuleHandleW(nullptr), L"prdadm", L"NODE1", L"Secret1");
    ASSERT_TRUE(hook.Active());
    HANDLE token = nullptr;
    EXPECT_FALSE(LogonUserW(L"prdadm", L"NODE1", L"secret1", LOGON32_LOGON_SERVICE, LOGON32_PROVIDER_DEFAULT, &token));
    EXPECT_EQ(static_cast<DWORD>(ERROR_LOGON_FAILURE), GetLastError());
    ASSERT_TRUE(
        LogonUserW(L"PRDADM", L"node1", L"Secret1", LOGON32_LOGON_INTERACTIVE, LOGON32_PROVIDER_DEFAULT, &token));
    EXPECT_EQ(7u, RunAs(token, L"--exit 7"));
    CloseHandle(token);
    EXPECT_THAT(hook.Journal(), ElementsAre(L"user=prdadm domain=NODE1 type=5", L"user=PRDADM domain=node1 type=2"));
}
