// An agent that exercises every framework call, for the framework's and the host's tests.

#include <windows.h>

#include <cstdlib>
#include <string>

#include "TarnAgfw.h"

namespace {

// Online: echoes its resource name and arguments into the message log; returns how many there were,
// or the framework's error when a conversion failed.
uint32_t Online(const char* resource, TarnAgArgs* args)
{
    wchar_t* name = nullptr;
    uint32_t length = static_cast<uint32_t>(strlen(resource));
    int32_t r = TarnAgEncodeString(0, resource, length + 1, TARNAG_TO_WIDE, &name, &length);
    if (r != 0)
        return static_cast<uint32_t>(r);
    wchar_t** list = nullptr;
    r = TarnAgGetEncodedArgList(0, args, TARNAG_TO_WIDE, &list);
    if (r != 0) {
        TarnAgDeleteMem(name);
        return static_cast<uint32_t>(r);
    }
    std::wstring joined;
    uint32_t count = 0;
    for (; list[count] != nullptr; ++count)
        joined += (count == 0 ? L"" : L"|") + std::wstring(list[count]);
    TarnAgLogMsg2(TARNAG_SEV_SUCCESS, "FakeOnline", "FakeAgent", 21, 20001, 0, L"%s (%u chars, %S): %s", name, length,
                  resource, joined.c_str());
    TarnAgDeleteMem(name);
    TarnAgDelEncodedArgList(list);
    return count;
}

// Offline: a resource-log line that looks like a format; returns the calling thread.
uint32_t Offline(const char*, TarnAgArgs*)
{
    TarnAgResLogMsg2(19, "FakeOffline", "FakeAgent.cpp", 7, 0, L"100% done %s %d");
    return GetCurrentThreadId();
}

// Monitor: counts its calls per resource in a cookie, as text.
uint32_t Monitor(const char* resource, TarnAgArgs*, void*)
{
    std::string cookie = std::string(resource) + "_count";
    wchar_t* value = TarnAgGetCookie(cookie.c_str());
    int counter = value == nullptr ? 0 : _wtoi(value);
    free(value);
    auto* next = static_cast<wchar_t*>(malloc(80));
    _itow(counter + 1, next, 10);
    TarnAgSetCookie(cookie.c_str(), next);
    return static_cast<uint32_t>(counter + 1);
}

// Clean: first says whether the logon of its fixed account gave a token Windows accepts, then notes the call.
uint32_t Clean(const char*, uint32_t reason, TarnAgArgs* args)
{
    HANDLE token = nullptr;
    DWORD error = 0;
    if (LogonUserW(L"fakeadm", L"", L"Fake1!", LOGON32_LOGON_INTERACTIVE, LOGON32_PROVIDER_DEFAULT, &token)) {
        TOKEN_TYPE type;
        DWORD size = 0;
        error = GetTokenInformation(token, TokenType, &type, sizeof(type), &size) ? 0 : GetLastError();
        CloseHandle(token);
    } else {
        error = GetLastError();
    }
    TarnAgLogMsg2(TARNAG_SEV_NOTICE, "FakeClean", "FakeAgent", 54, 20006, 0, L"logon: %u", error);
    TarnAgLogConsoleMsg2(TARNAG_SEV_NOTICE, "FakeClean", "FakeAgent", 55, 20004, 0, L"clean %u with %u values", reason,
                         args->count);
    return 1;
}

void Shutdown()
{
    TarnAgLogMsg2(TARNAG_SEV_NOTICE, "FakeShutdown", "FakeAgent", 60, 20005, 0, L"%u", GetCurrentThreadId());
}

} // namespace

extern "C" void TarnAgStartup()
{
    TarnAgSetLogCategory(55002);
    TarnAgEPTable table{};
    table.monitor = Monitor;
    table.online = Online;
    table.offline = Offline;
    table.clean = Clean;
    table.shutdown = Shutdown;
    TarnAgRegisterEPStruct(TARNAG_EP_VERSION, &table);
    TarnAgLogMsg2(TARNAG_SEV_NOTICE, "FakeStartup", "FakeAgent", 80, 20000, 0, L"%u", GetCurrentThreadId());
}
