#pragma once
// One owner type per Windows release function: each resource the library takes has exactly one owner,
// which releases it on every path. Unique, movable, never copied.

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <unknwn.h>
#include <userenv.h>

#include <utility>

// Closer supplies IsValid(T) and Close(T); an owner holding an invalid value releases nothing.
template <typename T, typename Closer>
class QLibUnique {
public:
    QLibUnique() = default;
    explicit QLibUnique(T value) : m_Value(value) {}
    ~QLibUnique() { reset(); }

    QLibUnique(const QLibUnique&) = delete;
    QLibUnique& operator=(const QLibUnique&) = delete;
    QLibUnique(QLibUnique&& other) noexcept : m_Value(other.release()) {}
    QLibUnique& operator=(QLibUnique&& other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }

    T get() const { return m_Value; }
    bool IsValid() const { return Closer::IsValid(m_Value); }
    explicit operator bool() const { return IsValid(); }

    // Hands the resource to the caller, who releases it from now on.
    T release() { return std::exchange(m_Value, T{}); }

    void reset(T value = T{})
    {
        T old = std::exchange(m_Value, value);
        if (Closer::IsValid(old))
            Closer::Close(old);
    }

    // For a call that fills an out parameter: whatever was held is released first.
    T* put()
    {
        reset();
        return &m_Value;
    }

    // For a call that may replace what is held (in and out), such as one that grows a block.
    T* addressof() { return &m_Value; }

private:
    T m_Value{};
};

struct QLibNonNull {
    template <typename T>
    static bool IsValid(T value)
    {
        return value != T{};
    }
};

// Kernel calls answer a failure with null or with INVALID_HANDLE_VALUE, depending on the call.
struct QLibKernelHandleValid {
    static bool IsValid(HANDLE handle) { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }
};

struct QLibCloseHandle : QLibKernelHandleValid {
    static void Close(HANDLE handle) { CloseHandle(handle); }
};
struct QLibCloseFind : QLibKernelHandleValid {
    static void Close(HANDLE handle) { FindClose(handle); }
};
struct QLibHeapFree : QLibNonNull {
    static void Close(const void* memory) { HeapFree(GetProcessHeap(), 0, const_cast<void*>(memory)); }
};
struct QLibLocalFree : QLibNonNull {
    static void Close(const void* memory) { LocalFree(const_cast<void*>(memory)); }
};
struct QLibRegCloseKey : QLibNonNull {
    static void Close(HKEY key) { RegCloseKey(key); }
};
struct QLibCloseServiceHandle : QLibNonNull {
    static void Close(SC_HANDLE handle) { CloseServiceHandle(handle); }
};
struct QLibDestroyEnvironmentBlock : QLibNonNull {
    static void Close(void* block) { DestroyEnvironmentBlock(block); }
};
struct QLibSysFreeString : QLibNonNull {
    static void Close(BSTR text) { SysFreeString(text); }
};
struct QLibFreeLibrary : QLibNonNull {
    static void Close(HMODULE module) { FreeLibrary(module); }
};
struct QLibComRelease : QLibNonNull {
    static void Close(IUnknown* object) { object->Release(); }
};

struct QLibVariantClear {
    static bool IsValid(const VARIANT& value) { return value.vt != VT_EMPTY; }
    static void Close(VARIANT value) { VariantClear(&value); }
};

using QLibHandleOwner = QLibUnique<HANDLE, QLibCloseHandle>;
using QLibFindOwner = QLibUnique<HANDLE, QLibCloseFind>;
template <typename T>
using QLibHeapOwner = QLibUnique<T*, QLibHeapFree>;
template <typename T>
using QLibLocalOwner = QLibUnique<T*, QLibLocalFree>;
using QLibKeyOwner = QLibUnique<HKEY, QLibRegCloseKey>;
using QLibServiceOwner = QLibUnique<SC_HANDLE, QLibCloseServiceHandle>;
using QLibEnvironmentOwner = QLibUnique<void*, QLibDestroyEnvironmentBlock>;
using QLibBstrOwner = QLibUnique<BSTR, QLibSysFreeString>;
template <typename T>
using QLibComOwner = QLibUnique<T*, QLibComRelease>;
using QLibModuleOwner = QLibUnique<HMODULE, QLibFreeLibrary>;
using QLibVariantOwner = QLibUnique<VARIANT, QLibVariantClear>;

// The calling thread's COM apartment: entered on construction (a thread already in that apartment enters it
// once more) and left on destruction when it was entered, on every path.
class QLibComApartment {
public:
    explicit QLibComApartment(DWORD model) : m_Result(CoInitializeEx(nullptr, model)) {}
    ~QLibComApartment()
    {
        if (Entered())
            CoUninitialize();
    }
    QLibComApartment(const QLibComApartment&) = delete;
    QLibComApartment& operator=(const QLibComApartment&) = delete;

    bool Entered() const { return SUCCEEDED(m_Result); }
    HRESULT Result() const { return m_Result; }

private:
    HRESULT m_Result;
};
