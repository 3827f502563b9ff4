#pragma once
// What the source files of the DNS object share: the functions of the DNS library that are resolved by name,
// and the shapes of their failures.

#include <winsock2.h>
#include <windows.h>
#include <windns.h>

#include <cstdint>

#include "LibStatus.h"

using DnsUpdateTestFn = DNS_STATUS(WINAPI*)(HANDLE context, PCWSTR name, DWORD options, IP4_ARRAY* servers);
using DnsReverseNameFn = char*(WINAPI*)(IP4_ADDRESS address);
using DnsRecordBuildFn = DNS_RECORDW*(WINAPI*)(DNS_RRSET* set, PWSTR owner, WORD type, BOOL add, UCHAR section,
                                               INT count, PWSTR* arguments);
using DnsValidateNameFn = DNS_STATUS(WINAPI*)(PCWSTR name, DNS_NAME_FORMAT format);

// Each entry is written once, inside its one-time initialisation, and read only after that completed; nothing
// ever clears it, so a thread that found an entry can always call it.
struct QLibDnsApi {
    DnsUpdateTestFn updateTest;
    DnsReverseNameFn reverseName;
    DnsRecordBuildFn recordBuild;
    DnsValidateNameFn validateName;
};
const QLibDnsApi& QLibDnsFunctions();
// The update functions, published together and only with the name check, once per process.
QLibStatus QLibDnsResolveUpdateFunctions(const char* function);

QLibStatus QLibDnsInvalidParameters(const char* function);
QLibStatus QLibDnsCallFailure(const char* function, const wchar_t* callee, DNS_STATUS result, uint32_t type);
// The status as it is, traced as the callee's failure when it failed.
QLibStatus QLibDnsTraced(const char* function, const wchar_t* callee, QLibStatus status);
