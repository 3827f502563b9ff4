// The name checks, and the functions of the DNS library that are resolved by name at run time.

#include "LibDNS.h"

#include <algorithm>
#include <new>

#include "LibDNSParts.h"
#include "LibLogger.h"

namespace {

QLibDnsApi g_DnsApi;
INIT_ONCE g_ValidateOnce = INIT_ONCE_STATIC_INIT;
INIT_ONCE g_UpdateOnce = INIT_ONCE_STATIC_INIT;

constexpr DWORD ComputerNameChars = 260;

// What a one-time initialisation tells the caller that asked for it.
struct Resolution {
    const char* function;
    QLibStatus status;
};

struct QLibDnsFreeFlat : QLibNonNull {
    static void Close(char* text) { DnsFree(text, DnsFreeFlat); }
};

bool LoadDnsModule(Resolution& resolution, HMODULE& module)
{
    module = GetModuleHandleW(L"DNSAPI.dll");
    if (module == nullptr)
        module = LoadLibraryW(L"dnsapi.dll");
    if (module != nullptr)
        return true;
    resolution.status = QLibDnsTraced(resolution.function, L"LoadLibraryW", QLibLastError());
    return false;
}

template <typename Function>
bool Find(Resolution& resolution, HMODULE module, const char* name, const wchar_t* callee, Function& function)
{
    function = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    if (function != nullptr)
        return true;
    resolution.status = QLibDnsTraced(resolution.function, callee, QLibLastError());
    return false;
}

BOOL CALLBACK ResolveValidateName(INIT_ONCE*, void* parameter, void**)
{
    auto& resolution = *static_cast<Resolution*>(parameter);
    HMODULE module = nullptr;
    return LoadDnsModule(resolution, module)
        && Find(resolution, module, "DnsValidateName_W", L"GetProcAddress for DnsValidateName_W",
                g_DnsApi.validateName);
}

// The name check alone needs only its own function.
bool ValidateNameResolved(Resolution& resolution)
{
    return InitOnceExecuteOnce(&g_ValidateOnce, ResolveValidateName, &resolution, nullptr) != FALSE;
}

// The update functions are published together, and only with the name check.
BOOL CALLBACK ResolveUpdateFunctions(INIT_ONCE*, void* parameter, void**)
{
    auto& resolution = *static_cast<Resolution*>(parameter);
    HMODULE module = nullptr;
    QLibDnsApi found = {};
    if (!LoadDnsModule(resolution, module)
        || !Find(resolution, module, "DnsUpdateTest_W", L"GetProcAddress for DnsUpdateTest_W", found.updateTest)
        || !Find(resolution, module, "DnsCreateReverseNameStringForIpAddress",
                 L"GetProcAddress for DnsCreateReverseNameStringForIpAddress", found.reverseName)
        || !Find(resolution, module, "DnsRecordBuild_W", L"GetProcAddress for DnsRecordBuild_W", found.recordBuild)
        || !ValidateNameResolved(resolution))
        return FALSE;
    g_DnsApi.updateTest = found.updateTest;
    g_DnsApi.reverseName = found.reverseName;
    g_DnsApi.recordBuild = found.recordBuild;
    return TRUE;
}

QLibStatus ComputerDnsName(std::wstring& computer)
{
    wchar_t buffer[ComputerNameChars];
    DWORD size = ComputerNameChars;
    if (GetComputerNameExW(ComputerNameDnsFullyQualified, buffer, &size)) {
        computer.assign(buffer, size);
        return QLibOk();
    }
    if (GetLastError() != ERROR_MORE_DATA)
        return QLibLastError();
    DWORD chars = size + 1;
    QLibLocalOwner<wchar_t> larger(static_cast<wchar_t*>(LocalAlloc(LPTR, chars * sizeof(wchar_t))));
    if (!larger)
        return QLibWin32Failure(ERROR_NOT_ENOUGH_MEMORY);
    size = chars;
    if (!GetComputerNameExW(ComputerNameDnsFullyQualified, larger.get(), &size))
        return QLibLastError();
    computer.assign(larger.get(), size);
    return QLibOk();
}

// A final dot does not count: "host.example." ends with ".example".
bool EndsWithDomain(const std::wstring& name, const std::wstring& domain)
{
    size_t length = name.size();
    if (length > 0 && name[length - 1] == L'.')
        --length;
    return length >= domain.size()
        && _wcsnicmp(name.c_str() + length - domain.size(), domain.c_str(), domain.size()) == 0;
}

} // namespace

const QLibDnsApi& QLibDnsFunctions()
{
    return g_DnsApi;
}

QLibStatus QLibDnsResolveUpdateFunctions(const char* function)
{
    Resolution resolution = {function, QLibOk()};
    if (InitOnceExecuteOnce(&g_UpdateOnce, ResolveUpdateFunctions, &resolution, nullptr))
        return QLibOk();
    return resolution.status.IsFailed() ? resolution.status : QLibLastError();
}

QLibStatus QLibDNS::IsNameValid(const wchar_t* name, DNS_NAME_FORMAT format)
{
    const char* function = "QLibDNS::IsNameValid";
    Resolution resolution = {function, QLibOk()};
    if (!ValidateNameResolved(resolution))
        return resolution.status.IsFailed() ? resolution.status : QLibLastError();
    DNS_STATUS result = g_DnsApi.validateName(name, format);
    if (result != 0)
        return QLibDnsCallFailure(function, L"DnsValidateName", result, QLIB_ERR_DNS);
    return QLibOk();
}

QLibStatus QLibDNS::AttachDomainSuffix(const wchar_t* name, std::wstring& full)
{
    if (name == nullptr)
        return QLibWin32Failure(ERROR_INVALID_PARAMETER);
    full = name;
    std::wstring computer;
    QLibStatus status = ComputerDnsName(computer);
    if (status.IsFailed())
        return status;
    size_t dot = computer.find(L'.');
    if (dot == std::wstring::npos)
        return QLibWin32Failure(ERROR_INVALID_PARAMETER);
    std::wstring domain = computer.substr(dot);
    if (!EndsWithDomain(full, domain))
        full += domain;
    return QLibOk();
}

QLibStatus QLibDNS::GetReverseName(uint32_t address, std::wstring& name)
{
    const char* function = "QLibDNS::GetReverseName";
    QLibStatus status = QLibDnsResolveUpdateFunctions(function);
    if (status.IsFailed())
        return status;
    QLibUnique<char*, QLibDnsFreeFlat> reverse(g_DnsApi.reverseName(address));
    size_t length = reverse ? strlen(reverse.get()) : 0;
    bool ascii = reverse && std::all_of(reverse.get(), reverse.get() + length, [](char c) {
                     return static_cast<unsigned char>(c) < 0x80;
                 });
    if (!ascii) {
        QLIB_TRACE(function, L"gpDnsCreateReverseNameStringFromIPAddress call failed.");
        return QLibFailure(QLIB_ERR_DNS, 4);
    }
    try {
        name.assign(reverse.get(), reverse.get() + length);
    } catch (const std::bad_alloc&) {
        return QLibFailure(QLIB_ERR_DNS, 5);
    }
    return QLibOk();
}
