// The native queries when ntdll's entries cannot be found. The library resolves them once per process, so
// this program resolves them first, with every entry but the status converter missing, and holds no case
// that needs them found.

#include <gtest/gtest.h>
#include <windows.h>
#include <winternl.h>

#include <cstring>
#include <string>

#include "ImportHook.h"
#include "LibMutex.h"
#include "LibNtDll.h"
#include "LibProcess.h"

namespace {

ImportHook* g_lookups = nullptr;

FARPROC WINAPI FindNothingInNtDll(HMODULE module, LPCSTR name)
{
    if (module == GetModuleHandleW(L"ntdll.dll") && !IS_INTRESOURCE(name)
        && strcmp(name, "RtlNtStatusToDosError") != 0) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    return g_lookups->Original<decltype(&GetProcAddress)>()(module, name);
}

void ResolveWithEntriesMissing()
{
    static const bool resolved = [] {
        ImportHook hook(GetModuleHandleW(nullptr), "GetProcAddress",
                        reinterpret_cast<const void*>(&FindNothingInNtDll));
        g_lookups = &hook;
        QLibNtDll first;
        g_lookups = nullptr;
        return hook.Active() && first.IsValid();
    }();
    ASSERT_TRUE(resolved) << "the program's own lookups could not be redirected";
}

// A missing entry is never called: each row would end the program through a null call otherwise.
TEST(QLibNtDllUnresolved, OperationWithoutItsEntryFailsAndCallsNothing)
{
    ResolveWithEntriesMissing();
    using Operation = QLibStatus (*)(QLibNtDll&);
    static void* out;
    static HANDLE handle;
    static UNICODE_STRING text;
    static IO_STATUS_BLOCK io;
    static OBJECT_ATTRIBUTES attributes;
    const struct {
        const char* name;
        Operation call;
        DWORD code;
    } rows[] = {
        {"GetProcessInformation", [](QLibNtDll& n) { return n.GetProcessInformation(GetCurrentProcess(), 0, &out); },
         ERROR_PROC_NOT_FOUND},
        {"GetThreadInformation", [](QLibNtDll& n) { return n.GetThreadInformation(GetCurrentThread(), 0, &out); },
         ERROR_PROC_NOT_FOUND},
        {"GetObjectInformation", [](QLibNtDll& n) { return n.GetObjectInformation(GetCurrentProcess(), 2, &out); },
         ERROR_PROC_NOT_FOUND},
        {"GetSectionInformation", [](QLibNtDll& n) { return n.GetSectionInformation(nullptr, 0, &out); },
         ERROR_PROC_NOT_FOUND},
        {"GetSystemInformation", [](QLibNtDll& n) { return n.GetSystemInformation(5, &out); }, ERROR_PROC_NOT_FOUND},
        {"GetFileInformation", [](QLibNtDll& n) { return n.GetFileInformation(nullptr, &io, &out, 9); },
         ERROR_PROC_NOT_FOUND},
        {"DuplicateObject",
         [](QLibNtDll& n) {
             return n.DuplicateObject(GetCurrentProcess(), GetCurrentProcess(), GetCurrentProcess(), &handle, 0);
         },
         ERROR_PROC_NOT_FOUND},
        {"CreateFile",
         [](QLibNtDll& n) {
             return n.CreateFile(&handle, GENERIC_READ, L"\\??\\C:\\windows\\win.ini", 0, 0, FILE_OPEN, nullptr, 0);
         },
         ERROR_PROC_NOT_FOUND},
        {"CloseObject", [](QLibNtDll& n) { return n.CloseObject(nullptr); }, ERROR_PROC_NOT_FOUND},
        {"InitUnicodeString", [](QLibNtDll& n) { return n.InitUnicodeString(&text, L"name"); }, ERROR_PROC_NOT_FOUND},
        {"FreeUnicodeString", [](QLibNtDll& n) { return n.FreeUnicodeString(&text); }, ERROR_PROC_NOT_FOUND},
        {"OpenSymbolicLinkObject", [](QLibNtDll& n) { return n.OpenSymbolicLinkObject(&handle, 1, &attributes); },
         ERROR_PROC_NOT_FOUND},
        {"QuerySymbolicLinkObject", [](QLibNtDll& n) { return n.QuerySymbolicLinkObject(nullptr, &text, nullptr); },
         ERROR_PROC_NOT_FOUND},
        {"CreateEnvironment", [](QLibNtDll& n) { return n.CreateEnvironment(FALSE, &out); }, ERROR_PROC_NOT_FOUND},
        {"SetEnvironmentVariable", [](QLibNtDll& n) { return n.SetEnvironmentVariable(&out, L"A", L"b"); },
         ERROR_PROC_NOT_FOUND},
        {"DestroyEnvironment", [](QLibNtDll& n) { return n.DestroyEnvironment(nullptr); }, ERROR_PROC_NOT_FOUND},
        {"ExpandEnvStrings",
         [](QLibNtDll&) { return QLibNtDll::ExpandEnvStrings(nullptr, L"%PATH%", reinterpret_cast<wchar_t**>(&out)); },
         ERROR_PROC_NOT_FOUND},
        // The converter was found: a native status still reads in Windows terms.
        {"StatusToError", [](QLibNtDll& n) { return n.StatusToError(static_cast<NTSTATUS>(0xC0000022)); },
         ERROR_ACCESS_DENIED},
        // Callers in the library pass the failure on; a failed attach leaves the handle open and the caller's.
        {"QLibProcess::Attach",
         [](QLibNtDll&) {
             HANDLE own = nullptr;
             DuplicateHandle(GetCurrentProcess(), GetCurrentProcess(), GetCurrentProcess(), &own, 0, FALSE,
                             DUPLICATE_SAME_ACCESS);
             QLibProcess process;
             QLibStatus status = process.Attach(own);
             return CloseHandle(own) && !process.IsValid() ? status : QLibOk();
         },
         ERROR_PROC_NOT_FOUND},
        {"QLibWin32Object::GetName",
         [](QLibNtDll&) {
             QLibMutex mutex(FALSE, L"QLibUnresolvedNameTest", nullptr, nullptr);
             std::wstring name;
             return mutex.GetName(name);
         },
         ERROR_PROC_NOT_FOUND},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        QLibNtDll ntDll;
        QLibStatus status = row.call(ntDll);
        EXPECT_TRUE(status.Is(QLIB_ERR_WIN32, row.code)) << status.GetType() << ", " << status.GetCode();
    }
}

} // namespace
