#pragma once

// The test bed: scripts/test.sh runs the tests in private network, mount and UTS namespaces with the
// addresses, name servers and host name below. Tests that need them call SKIP_OUTSIDE_TEST_BED() first, so
// that a test program run by hand skips them and says how to run them (the macro is for GoogleTest bodies).

#include <windows.h>

#include <cwchar>

constexpr wchar_t TestBedHostName[] = L"host1.test.example";
// The bed's own address, on the veth end with the first MAC; its peer has the second MAC and no address.
constexpr char TestBedAddress[] = "10.77.0.5";
constexpr BYTE TestBedMac[6] = {0x02, 0x00, 0x5e, 0x10, 0x00, 0x01};
constexpr BYTE TestBedPeerMac[6] = {0x02, 0x00, 0x5e, 0x10, 0x00, 0x02};
// The bed's directory server (slapd on 127.0.0.1:389, scripts/bed/): its suffix, which is also the default
// naming context, and its administrator.
constexpr wchar_t TestBedDirectorySuffix[] = L"dc=test,dc=example";
constexpr wchar_t TestBedDirectoryAdmin[] = L"cn=admin,dc=test,dc=example";
constexpr wchar_t TestBedDirectoryPassword[] = L"bed-admin";

inline bool InTestBed()
{
    wchar_t name[256] = {};
    DWORD size = 256;
    return GetComputerNameExW(ComputerNameDnsFullyQualified, name, &size) && _wcsicmp(name, TestBedHostName) == 0;
}

#define SKIP_OUTSIDE_TEST_BED()                                                                                        \
    if (InTestBed()) {                                                                                                 \
    } else                                                                                                             \
        GTEST_SKIP()                                                                                                   \
            << "needs the test bed's namespaces (host name host1.test.example, address 10.77.0.5, name "               \
               "servers 127.0.0.1 and 127.0.0.2, directory server): run it with bash scripts/test.sh -R <test name>"
