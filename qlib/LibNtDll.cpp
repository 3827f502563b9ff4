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

// Shared by every instance; resolved once, in this order, by the first constructor.
HMODULE g_hNtDll;
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
FARPROC g_Procs[EntryCount];

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

template <typename Fn>
Fn Proc(Entry entry)
{
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(g_Procs[entry]));
}

template <typename Fn>
Fn Required(Entry entry)
{
    return Proc<Fn>(entry);
}

QLibStatus FromNtStatus(NTSTATUS ntStatus)
{
    if (ntStatus == 0)
        return QLibOk();
    auto convert = Proc<RtlNtStatusToDosErrorFn>(EntryRtlNtStatusToDosError);
    return QLibWin32Failure(convert ? convert(ntStatus) : static_cast<uint32_t>(ntStatus));
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

// Two threads constructing at once may both resolve an entry; both store the same address.
QLibNtDll::QLibNtDll()
{
    if (g_hNtDll == nullptr)
        g_hNtDll = GetModuleHandleW(L"ntdll.dll");
    if (g_hNtDll == nullptr)
        return;
    for (size_t i = 0; i < EntryCount; ++i) {
        if (g_Procs[i] == nullptr)
            g_Procs[i] = GetProcAddress(g_hNtDll, g_EntryNames[i]);
    }
}

bool QLibNtDll::IsValid() const
{
    return g_hNtDll != nullptr;
}

template <size_t N, typename NativeCall>
QLibStatus QLibNtDll::Query(const char* function, const wchar_t* allocFormat, const wchar_t* failFormat,
                            const ClassSize (&sizes)[N], uint32_t infoClass, Growth growth, void** buffer,
                            NativeCall call)
{
    *buffer = nullptr;
    ULONG bytes = 0;
    for (const ClassSize& entry : sizes) {
        if (entry.infoClass == infoClass)
            bytes = entry.firstBytes;
    }
    QLIB_ASSERT(bytes != 0);

    QLibStatus status;
    NTSTATUS ntStatus;
    for (;;) {
        QLibHeapOwner<void> block(QLibHeapAlloc(bytes, status));
        if (!block) {
            if (allocFormat != nullptr)
                QLIB_TRACE(function, allocFormat, status.GetCode(), bytes);
            return status;
        }
        ntStatus = call(block.get(), bytes);
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
    auto native = Required<NtQueryHandleFn>(EntryNtQueryInformationProcess);
    return Query("QLibNtDll::GetProcessInformation", L"(%d) HeapAlloc failed. Size=%d",
                 L"(%d) QueryInfoProcess failed.", sizes, infoClass, Growth::None, buffer,
                 [&](void* block, ULONG bytes) { return native(process, infoClass, block, bytes, nullptr); });
}

QLibStatus QLibNtDll::GetThreadInformation(HANDLE thread, uint32_t infoClass, void** buffer)
{
    static const ClassSize sizes[] = {{0, 48}};
    auto native = Required<NtQueryHandleFn>(EntryNtQueryInformationThread);
    return Query("QLibNtDll::GetThreadInformation", L"(%d) HeapAlloc failed. Size=%d", L"(%d) QueryInfoThread failed.",
                 sizes, infoClass, Growth::None, buffer,
                 [&](void* block, ULONG bytes) { return native(thread, infoClass, block, bytes, nullptr); });
}

QLibStatus QLibNtDll::GetObjectInformation(HANDLE handle, uint32_t infoClass, void** buffer)
{
    static const ClassSize sizes[] = {{0, 56}, {1, 4096}, {2, 104}, {3, 112}, {4, 8}};
    auto native = Required<NtQueryHandleFn>(EntryNtQueryObject);
    return Query("QLibNtDll::GetObjectInformation", L"(%d) HeapAlloc failed. Size=%d.", L"(%d) QueryInfoObject failed.",
                 sizes, infoClass, Growth::Add1024, buffer,
                 [&](void* block, ULONG bytes) { return native(handle, infoClass, block, bytes, nullptr); });
}

QLibStatus QLibNtDll::GetSectionInformation(HANDLE section, uint32_t infoClass, void** buffer)
{
    static const ClassSize sizes[] = {{0, 56}};
    auto native = Required<NtQueryHandleFn>(EntryNtQuerySection);
    return Query("QLibNtDll::GetSectionInformation", L"(%d) HeapAlloc failed. Size=%d",
                 L"(%d) QueryInfoSection failed.", sizes, infoClass, Growth::None, buffer,
                 [&](void* block, ULONG bytes) { return native(section, infoClass, block, bytes, nullptr); });
}

QLibStatus QLibNtDll::GetSystemInformation(uint32_t infoClass, void** buffer)
{
    static const ClassSize sizes[] = {{5, 1024}, {16, 1024}};
    auto native = Required<NtQuerySystemFn>(EntryNtQuerySystemInformation);
    return Query("QLibNtDll::GetSystemInformation", L"(%d) HeapAlloc failed. Size=%d", L"(%d) QuerySystemInfo failed.",
                 sizes, infoClass, Growth::Add1024, buffer,
                 [&](void* block, ULONG bytes) { return native(infoClass, block, bytes, nullptr); });
}

QLibStatus QLibNtDll::GetFileInformation(HANDLE file, IO_STATUS_BLOCK* ioStatus, void** buffer, uint32_t infoClass)
{
    static const ClassSize sizes[] = {{9, 1024}};
    auto native = Required<NtQueryFileFn>(EntryNtQueryInformationFile);
    return Query("QLibNtDll::GetFileInformation", nullptr, nullptr, sizes, infoClass, Growth::Double, buffer,
                 [&](void* block, ULONG bytes) { return native(file, ioStatus, block, bytes, infoClass); });
}

QLibStatus QLibNtDll::DuplicateObject(HANDLE sourceProcess, HANDLE source, HANDLE targetProcess, HANDLE* target,
                                      ULONG options)
{
    auto native = Required<NtDuplicateObjectFn>(EntryNtDuplicateObject);
    return FromNtStatus(native(sourceProcess, source, targetProcess, target, 0, 0, options));
}

QLibStatus QLibNtDll::CreateFile(HANDLE* file, ACCESS_MASK access, const wchar_t* name, ULONG attributes, ULONG share,
                                 ULONG disposition, void* eaBuffer, ULONG eaLength)
{
    auto native = Required<NtCreateFileFn>(EntryNtCreateFile);
    UNICODE_STRING objectName;
    Required<RtlInitUnicodeStringFn>(EntryRtlInitUnicodeString)(&objectName, name);
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
    return FromNtStatus(Required<NtCloseFn>(EntryNtClose)(handle));
}

QLibStatus QLibNtDll::InitUnicodeString(UNICODE_STRING* target, const wchar_t* text)
{
    Required<RtlInitUnicodeStringFn>(EntryRtlInitUnicodeString)(target, text);
    return QLibOk();
}

QLibStatus QLibNtDll::FreeUnicodeString(UNICODE_STRING* text)
{
    if (auto native = Proc<RtlFreeUnicodeStringFn>(EntryRtlFreeUnicodeString))
        native(text);
    return QLibOk();
}

QLibStatus QLibNtDll::OpenSymbolicLinkObject(HANDLE* link, ACCESS_MASK access, OBJECT_ATTRIBUTES* attributes)
{
    return FromNtStatus(Required<NtOpenSymbolicLinkObjectFn>(EntryNtOpenSymbolicLinkObject)(link, access, attributes));
}

QLibStatus QLibNtDll::QuerySymbolicLinkObject(HANDLE link, UNICODE_STRING* target, ULONG* returned)
{
    return FromNtStatus(Required<NtQuerySymbolicLinkObjectFn>(EntryNtQuerySymbolicLinkObject)(link, target, returned));
}

QLibStatus QLibNtDll::StatusToError(NTSTATUS ntStatus)
{
    return FromNtStatus(ntStatus);
}

QLibStatus QLibNtDll::CreateEnvironment(BOOL cloneCurrent, void** environment)
{
    *environment = nullptr;
    return FromNtStatus(
        Required<RtlCreateEnvironmentFn>(EntryRtlCreateEnvironment)(cloneCurrent ? TRUE : FALSE, environment));
}

// An unchanged environment (a value set again, an absent variable removed) is success; a variable the
// block refuses (a name with '=', no memory to grow it) is the native failure, never success.
QLibStatus QLibNtDll::SetEnvironmentVariable(void** environment, const wchar_t* name, const wchar_t* value)
{
    UNICODE_STRING nameText;
    UNICODE_STRING valueText;
    // Both always succeed: the status is there for the family's shape only.
    (void)InitUnicodeString(&nameText, name);
    (void)InitUnicodeString(&valueText, value);
    return FromNtStatus(
        Required<RtlSetEnvironmentVariableFn>(EntryRtlSetEnvironmentVariable)(environment, &nameText, &valueText));
}

QLibStatus QLibNtDll::DestroyEnvironment(void* environment)
{
    Required<RtlDestroyEnvironmentFn>(EntryRtlDestroyEnvironment)(environment);
    return QLibOk();
}

QLibStatus QLibNtDll::ExpandEnvStrings(void* environment, const wchar_t* text, wchar_t** expanded)
{
    *expanded = nullptr;
    QLibNtDll ntDll;
    UNICODE_STRING source;
    (void)ntDll.InitUnicodeString(&source, text);
    wchar_t local[ExpandBufferBytes / sizeof(wchar_t)];
    UNICODE_STRING destination = {0, ExpandBufferBytes, local};
    QLibStatus status = FromNtStatus(Required<RtlExpandEnvironmentStringsFn>(
        EntryRtlExpandEnvironmentStrings)(environment, &source, &destination, nullptr));
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
