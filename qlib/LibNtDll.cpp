#include "LibNtDll.h"

#include <cwchar>

#include "LibAssert.h"
#include "LibLogger.h"
#include "LibOwners.h"

namespace {

using NtQueryHandleFn = NTSTATUS(NTAPI*)(HANDLE, ULONG, PVOID, ULONG, PULONG);
using NtQuerySystemFn = NTSTATUS(NTAPI*)(ULONG, PVOID, ULONG, PULONG);
using NtQueryFileFn = NTSTATUS(NTAPI*)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, ULONG);
using RtlNtStatusToDosErrorFn = ULONG(NTAPI*)(NTSTATUS);
using NtDuplicateObjectFn = NTSTATUS(NTAPI*)(HANDLE, HANDLE, HANDLE, PHANDLE, ACCESS_MASK, ULONG, ULONG);
using RtlInitUnicodeStringFn = VOID(NTAPI*)(PUNICODE_STRING, PCWSTR);
using RtlFreeUnicodeStringFn = VOID(NTAPI*)(PUNICODE_STRING);
using NtOpenSymbolicLinkObjectFn = NTSTATUS(NTAPI*)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES);
using NtQuerySymbolicLinkObjectFn = NTSTATUS(NTAPI*)(HANDLE, PUNICODE_STRING, PULONG);
using NtCloseFn = NTSTATUS(NTAPI*)(HANDLE);
using NtCreateFileFn = NTSTATUS(NTAPI*)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK, PLARGE_INTEGER,
                                        ULONG, ULONG, ULONG, ULONG, PVOID, ULONG);
using RtlSetEnvironmentVariableFn = NTSTATUS(NTAPI*)(PVOID*, PUNICODE_STRING, PUNICODE_STRING);
using RtlCreateEnvironmentFn = NTSTATUS(NTAPI*)(BOOLEAN, PVOID*);
using RtlDestroyEnvironmentFn = NTSTATUS(NTAPI*)(PVOID);
using RtlExpandEnvironmentStringsFn = NTSTATUS(NTAPI*)(PVOID, PUNICODE_STRING, PUNICODE_STRING, PULONG);

constexpr NTSTATUS StatusInfoLengthMismatch = static_cast<NTSTATUS>(0xC0000004);
constexpr NTSTATUS StatusBufferOverflow = static_cast<NTSTATUS>(0x80000005);
constexpr USHORT ExpandBufferBytes = 8192;

const char* const g_EntryNames[] = {
    "NtQueryInformationProcess",
    "NtQueryInformationThread",
    "NtQueryObject",
    "NtQuerySection",
    "RtlNtStatusToDosError",
    "NtQuerySystemInformation",
    "NtDuplicateObject",
    "NtQueryInformationFile",
    "RtlInitUnicodeString",
    "RtlFreeUnicodeString",
    "NtOpenSymbolicLinkObject",
    "NtQuerySymbolicLinkObject",
    "NtClose",
    "NtCreateFile",
    "RtlSetEnvironmentVariable",
    "RtlCreateEnvironment",
    "RtlDestroyEnvironment",
    "RtlExpandEnvironmentStrings_U",
};
constexpr size_t EntryCount = sizeof(g_EntryNames) / sizeof(g_EntryNames[0]);

enum Entry : size_t {
    EntryNtQueryInformationProcess,
    EntryNtQueryInformationThread,
    EntryNtQueryObject,
    EntryNtQuerySection,
    EntryRtlNtStatusToDosError,
    EntryNtQuerySystemInformation,
    EntryNtDuplicateObject,
    EntryNtQueryInformationFile,
    EntryRtlInitUnicodeString,
    EntryRtlFreeUnicodeString,
    EntryNtOpenSymbolicLinkObject,
    EntryNtQuerySymbolicLinkObject,
    EntryNtClose,
    EntryNtCreateFile,
    EntryRtlSetEnvironmentVariable,
    EntryRtlCreateEnvironment,
    EntryRtlDestroyEnvironment,
    EntryRtlExpandEnvironmentStrings,
};

struct EntryTable {
    HMODULE module;
    FARPROC procs[EntryCount];
};

// ntdll is never unloaded: the library neither loads nor frees it. An entry it does not export stays null.
EntryTable Resolve()
{
    EntryTable table = {};
    table.module = GetModuleHandleW(L"ntdll.dll");
    for (size_t i = 0; table.module != nullptr && i < EntryCount; ++i)
        table.procs[i] = GetProcAddress(table.module, g_EntryNames[i]);
    return table;
}

// Resolved once, at the first use in the process, and never changed after: a thread that reads the
// table reads it whole, however many threads construct at once.
const EntryTable& Table()
{
    static const EntryTable table = Resolve();
    return table;
}

template <typename Fn>
Fn Proc(Entry entry)
{
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(Table().procs[entry]));
}

// An entry an operation may call: null unless the status converter was resolved too, so that a native
// failure can always be told in Windows terms.
template <typename Fn>
Fn Native(Entry entry)
{
    return Proc<RtlNtStatusToDosErrorFn>(EntryRtlNtStatusToDosError) != nullptr ? Proc<Fn>(entry) : nullptr;
}

// A counted string of the text; false, and nothing called, when its entry was not resolved.
bool MakeCounted(UNICODE_STRING* target, const wchar_t* text)
{
    auto init = Proc<RtlInitUnicodeStringFn>(EntryRtlInitUnicodeString);
    if (init != nullptr)
        init(target, text);
    return init != nullptr;
}

// The answer of an operation whose entry was not resolved: it calls nothing.
QLibStatus Unresolved()
{
    return QLibWin32Failure(ERROR_PROC_NOT_FOUND);
}

QLibStatus FromNtStatus(NTSTATUS ntStatus)
{
    if (ntStatus == 0)
        return QLibOk();
    auto convert = Proc<RtlNtStatusToDosErrorFn>(EntryRtlNtStatusToDosError);
    return convert ? QLibWin32Failure(convert(ntStatus)) : Unresolved();
}

} // namespace

void* QLibHeapAlloc(size_t bytes, QLibStatus& status)
{
    void* buffer = HeapAlloc(GetProcessHeap(), 0, bytes);
    if (buffer == nullptr) {
        DWORD error = GetLastError();
        status = QLibWin32Failure(error != 0 ? error : ERROR_NOT_ENOUGH_MEMORY);
    }
    return buffer;
}

QLibNtDll::QLibNtDll()
{
    (void)Table();
}

bool QLibNtDll::IsValid() const
{
    return Table().module != nullptr;
}

template <size_t N, typename Fn, typename NativeCall>
QLibStatus QLibNtDll::Query(const char* function, const wchar_t* allocFormat, const wchar_t* failFormat,
                            const ClassSize (&sizes)[N], uint32_t infoClass, Growth growth, void** buffer, Fn native,
                            NativeCall call)
{
    *buffer = nullptr;
    ULONG bytes = 0;
    for (const ClassSize& entry : sizes) {
        if (entry.infoClass == infoClass)
            bytes = entry.firstBytes;
    }
    QLIB_ASSERT(bytes != 0);
    if (native == nullptr)
        return Unresolved();

    QLibStatus status;
    NTSTATUS ntStatus;
    for (;;) {
        QLibHeapOwner<void> block(QLibHeapAlloc(bytes, status));
        if (!block) {
            if (allocFormat != nullptr)
                QLIB_TRACE(function, allocFormat, status.GetCode(), bytes);
            return status;
        }
        ntStatus = call(native, block.get(), bytes);
        bool wantsMore = ntStatus == StatusInfoLengthMismatch || ntStatus == StatusBufferOverflow;
        ULONG next = growth == Growth::Double ? bytes * 2 : bytes + 1024;
        if (ntStatus == 0) {
            *buffer = block.release();
            return QLibOk();
        }
        if (!wantsMore || growth == Growth::None || next > MaxQueryBytes)
            break;
        bytes = next;
    }
    status = FromNtStatus(ntStatus);
    if (failFormat != nullptr)
        QLIB_TRACE(function, failFormat, status.GetCode());
    return status;
}

QLibStatus QLibNtDll::GetProcessInformation(HANDLE process, uint32_t infoClass, void** buffer)
{
    static const ClassSize sizes[] = {{0, 48}};
    return Query("QLibNtDll::GetProcessInformation", L"(%d) HeapAlloc failed. Size=%d",
                 L"(%d) QueryInfoProcess failed.", sizes, infoClass, Growth::None, buffer,
                 Native<NtQueryHandleFn>(EntryNtQueryInformationProcess),
                 [&](NtQueryHandleFn native, void* block, ULONG bytes) {
                     return native(process, infoClass, block, bytes, nullptr);
                 });
}

QLibStatus QLibNtDll::GetThreadInformation(HANDLE thread, uint32_t infoClass, void** buffer)
{
    static const ClassSize sizes[] = {{0, 48}};
    return Query("QLibNtDll::GetThreadInformation", L"(%d) HeapAlloc failed. Size=%d", L"(%d) QueryInfoThread failed.",
                 sizes, infoClass, Growth::None, buffer, Native<NtQueryHandleFn>(EntryNtQueryInformationThread),
                 [&](NtQueryHandleFn native, void* block, ULONG bytes) {
                     return native(thread, infoClass, block, bytes, nullptr);
                 });
}

QLibStatus QLibNtDll::GetObjectInformation(HANDLE handle, uint32_t infoClass, void** buffer)
{
    static const ClassSize sizes[] = {{0, 56}, {1, 4096}, {2, 104}, {3, 112}, {4, 8}};
    return Query("QLibNtDll::GetObjectInformation", L"(%d) HeapAlloc failed. Size=%d.", L"(%d) QueryInfoObject failed.",
                 sizes, infoClass, Growth::Add1024, buffer, Native<NtQueryHandleFn>(EntryNtQueryObject),
                 [&](NtQueryHandleFn native, void* block, ULONG bytes) {
                     return native(handle, infoClass, block, bytes, nullptr);
                 });
}

QLibStatus QLibNtDll::GetSectionInformation(HANDLE section, uint32_t infoClass, void** buffer)
{
    static const ClassSize sizes[] = {{0, 56}};
    return Query("QLibNtDll::GetSectionInformation", L"(%d) HeapAlloc failed. Size=%d",
                 L"(%d) QueryInfoSection failed.", sizes, infoClass, Growth::None, buffer,
                 Native<NtQueryHandleFn>(EntryNtQuerySection), [&](NtQueryHandleFn native, void* block, ULONG bytes) {
                     return native(section, infoClass, block, bytes, nullptr);
                 });
}

QLibStatus QLibNtDll::GetSystemInformation(uint32_t infoClass, void** buffer)
{
    static const ClassSize sizes[] = {{5, 1024}, {16, 1024}};
    return Query("QLibNtDll::GetSystemInformation", L"(%d) HeapAlloc failed. Size=%d", L"(%d) QuerySystemInfo failed.",
                 sizes, infoClass, Growth::Add1024, buffer, Native<NtQuerySystemFn>(EntryNtQuerySystemInformation),
                 [&](NtQuerySystemFn native, void* block, ULONG bytes) {
                     return native(infoClass, block, bytes, nullptr);
                 });
}

QLibStatus QLibNtDll::GetFileInformation(HANDLE file, IO_STATUS_BLOCK* ioStatus, void** buffer, uint32_t infoClass)
{
    static const ClassSize sizes[] = {{9, 1024}};
    return Query("QLibNtDll::GetFileInformation", nullptr, nullptr, sizes, infoClass, Growth::Double, buffer,
                 Native<NtQueryFileFn>(EntryNtQueryInformationFile),
                 [&](NtQueryFileFn native, void* block, ULONG bytes) {
                     return native(file, ioStatus, block, bytes, infoClass);
                 });
}

QLibStatus QLibNtDll::DuplicateObject(HANDLE sourceProcess, HANDLE source, HANDLE targetProcess, HANDLE* target,
                                      ULONG options)
{
    auto native = Native<NtDuplicateObjectFn>(EntryNtDuplicateObject);
    return native ? FromNtStatus(native(sourceProcess, source, targetProcess, target, 0, 0, options)) : Unresolved();
}

QLibStatus QLibNtDll::CreateFile(HANDLE* file, ACCESS_MASK access, const wchar_t* name, ULONG attributes, ULONG share,
                                 ULONG disposition, void* eaBuffer, ULONG eaLength)
{
    auto native = Native<NtCreateFileFn>(EntryNtCreateFile);
    UNICODE_STRING objectName;
    if (native == nullptr || !MakeCounted(&objectName, name))
        return Unresolved();
    OBJECT_ATTRIBUTES objectAttributes = {};
    objectAttributes.Length = sizeof(OBJECT_ATTRIBUTES);
    objectAttributes.ObjectName = &objectName;
    objectAttributes.Attributes = OBJ_CASE_INSENSITIVE;
    IO_STATUS_BLOCK ioStatus = {};
    return FromNtStatus(native(file, access, &objectAttributes, &ioStatus, nullptr, attributes, share, disposition, 0,
                               eaBuffer, eaLength));
}

QLibStatus QLibNtDll::CloseObject(HANDLE handle)
{
    auto native = Native<NtCloseFn>(EntryNtClose);
    return native ? FromNtStatus(native(handle)) : Unresolved();
}

QLibStatus QLibNtDll::InitUnicodeString(UNICODE_STRING* target, const wchar_t* text)
{
    return MakeCounted(target, text) ? QLibOk() : Unresolved();
}

QLibStatus QLibNtDll::FreeUnicodeString(UNICODE_STRING* text)
{
    auto native = Proc<RtlFreeUnicodeStringFn>(EntryRtlFreeUnicodeString);
    if (native == nullptr)
        return Unresolved();
    native(text);
    return QLibOk();
}

QLibStatus QLibNtDll::OpenSymbolicLinkObject(HANDLE* link, ACCESS_MASK access, OBJECT_ATTRIBUTES* attributes)
{
    auto native = Native<NtOpenSymbolicLinkObjectFn>(EntryNtOpenSymbolicLinkObject);
    return native ? FromNtStatus(native(link, access, attributes)) : Unresolved();
}

QLibStatus QLibNtDll::QuerySymbolicLinkObject(HANDLE link, UNICODE_STRING* target, ULONG* returned)
{
    auto native = Native<NtQuerySymbolicLinkObjectFn>(EntryNtQuerySymbolicLinkObject);
    return native ? FromNtStatus(native(link, target, returned)) : Unresolved();
}

QLibStatus QLibNtDll::StatusToError(NTSTATUS ntStatus)
{
    return FromNtStatus(ntStatus);
}

QLibStatus QLibNtDll::CreateEnvironment(BOOL cloneCurrent, void** environment)
{
    *environment = nullptr;
    auto native = Native<RtlCreateEnvironmentFn>(EntryRtlCreateEnvironment);
    return native ? FromNtStatus(native(cloneCurrent ? TRUE : FALSE, environment)) : Unresolved();
}

// An unchanged environment (a value set again, an absent variable removed) is success; a variable the
// block refuses (a name with '=', no memory to grow it) is the native failure, never success.
QLibStatus QLibNtDll::SetEnvironmentVariable(void** environment, const wchar_t* name, const wchar_t* value)
{
    auto native = Native<RtlSetEnvironmentVariableFn>(EntryRtlSetEnvironmentVariable);
    UNICODE_STRING nameText;
    UNICODE_STRING valueText;
    if (native == nullptr || !MakeCounted(&nameText, name) || !MakeCounted(&valueText, value))
        return Unresolved();
    return FromNtStatus(native(environment, &nameText, &valueText));
}

QLibStatus QLibNtDll::DestroyEnvironment(void* environment)
{
    auto native = Proc<RtlDestroyEnvironmentFn>(EntryRtlDestroyEnvironment);
    if (native == nullptr)
        return Unresolved();
    native(environment);
    return QLibOk();
}

QLibStatus QLibNtDll::ExpandEnvStrings(void* environment, const wchar_t* text, wchar_t** expanded)
{
    *expanded = nullptr;
    auto native = Native<RtlExpandEnvironmentStringsFn>(EntryRtlExpandEnvironmentStrings);
    UNICODE_STRING source;
    if (native == nullptr || !MakeCounted(&source, text))
        return Unresolved();
    wchar_t local[ExpandBufferBytes / sizeof(wchar_t)];
    UNICODE_STRING destination = {0, ExpandBufferBytes, local};
    QLibStatus status = FromNtStatus(native(environment, &source, &destination, nullptr));
    if (status.IsFailed())
        return status;

    // The native length may leave no room for a terminator in the local buffer: count it from the length only.
    size_t chars = destination.Length / sizeof(wchar_t);
    auto bytes = static_cast<DWORD>((destination.Length + 1u) * sizeof(wchar_t));
    auto* copy = static_cast<wchar_t*>(QLibHeapAlloc(bytes, status));
    if (copy == nullptr) {
        QLIB_TRACE("QLibNtDll::ExpandEnvStrings", L"(%d) HeapAlloc failed. Size=%d", status.GetCode(), bytes);
        return status;
    }
    wmemset(copy, 0, bytes / sizeof(wchar_t));
    wmemcpy(copy, local, chars);
    *expanded = copy;
    return QLibOk();
}
