#pragma once
// Native system services of ntdll, found by name at run time, with native status turned into Windows errors.

#include <windows.h>
#include <winternl.h>

#include <cstddef>

#include "LibWin32Object.h"

// Allocates from the process heap; a failure leaves the Windows error in the status.
void* QLibHeapAlloc(size_t bytes, QLibStatus& status);

// The entries are resolved once per process. An operation whose entry ntdll does not export fails with
// ERROR_PROC_NOT_FOUND and calls nothing.
class QLibNtDll : public QLibObject {
public:
    // A growing query gives up once its buffer would pass this size.
    static constexpr ULONG MaxQueryBytes = 16u * 1024 * 1024;

    QLibNtDll();
    ~QLibNtDll() override = default;

    bool IsValid() const override;

    QLibStatus GetProcessInformation(HANDLE process, uint32_t infoClass, void** buffer);
    QLibStatus GetThreadInformation(HANDLE thread, uint32_t infoClass, void** buffer);
    QLibStatus GetObjectInformation(HANDLE handle, uint32_t infoClass, void** buffer);
    QLibStatus GetSectionInformation(HANDLE section, uint32_t infoClass, void** buffer);
    QLibStatus GetSystemInformation(uint32_t infoClass, void** buffer);
    QLibStatus GetFileInformation(HANDLE file, IO_STATUS_BLOCK* ioStatus, void** buffer, uint32_t infoClass);

    QLibStatus DuplicateObject(HANDLE sourceProcess, HANDLE source, HANDLE targetProcess, HANDLE* target,
                               ULONG options);
    QLibStatus CreateFile(HANDLE* file, ACCESS_MASK access, const wchar_t* name, ULONG attributes, ULONG share,
                          ULONG disposition, void* eaBuffer, ULONG eaLength);
    QLibStatus CloseObject(HANDLE handle);
    QLibStatus InitUnicodeString(UNICODE_STRING* target, const wchar_t* text);
    QLibStatus FreeUnicodeString(UNICODE_STRING* text);
    QLibStatus OpenSymbolicLinkObject(HANDLE* link, ACCESS_MASK access, OBJECT_ATTRIBUTES* attributes);
    QLibStatus QuerySymbolicLinkObject(HANDLE link, UNICODE_STRING* target, ULONG* returned);
    QLibStatus StatusToError(NTSTATUS ntStatus);

    QLibStatus CreateEnvironment(BOOL cloneCurrent, void** environment);
    QLibStatus SetEnvironmentVariable(void** environment, const wchar_t* name, const wchar_t* value);
    QLibStatus DestroyEnvironment(void* environment);
    static QLibStatus ExpandEnvStrings(void* environment, const wchar_t* text, wchar_t** expanded);

private:
    enum class Growth { None, Add1024, Double };
    struct ClassSize {
        uint32_t infoClass;
        ULONG firstBytes;
    };
    // An entry that was not resolved (null) fails the query before anything is allocated or called.
    template <size_t N, typename Fn, typename NativeCall>
    QLibStatus Query(const char* function, const wchar_t* allocFormat, const wchar_t* failFormat,
                     const ClassSize (&sizes)[N], uint32_t infoClass, Growth growth, void** buffer, Fn native,
                     NativeCall call);
};
