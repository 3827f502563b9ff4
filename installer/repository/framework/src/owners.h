#pragma once
// One owner type per Windows release function for the installer's code: each resource taken has exactly
// one owner, which releases it on every path. Unique, movable, never copied.

#include <windows.h>

#include <cstdlib>
#include <utility>

// Closer supplies isValid(T) and close(T); an owner holding an invalid value releases nothing.
template <typename T, typename Closer>
class UniqueResource {
public:
    UniqueResource() = default;
    explicit UniqueResource(T value) : value(value) {}
    ~UniqueResource() { reset(); }

    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;
    UniqueResource(UniqueResource&& other) noexcept : value(other.release()) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }

    T get() const { return value; }
    bool isValid() const { return Closer::isValid(value); }
    explicit operator bool() const { return isValid(); }

    // Hands the resource to the caller, who releases it from now on.
    T release() { return std::exchange(value, T{}); }

    void reset(T next = T{})
    {
        T old = std::exchange(value, next);
        if (Closer::isValid(old))
            Closer::close(old);
    }

    // For a call that fills an out parameter: whatever was held is released first.
    T* put()
    {
        reset();
        return &value;
    }

    // For a call that may replace what is held (in and out).
    T* addressof() { return &value; }

private:
    T value{};
};

struct NonNull {
    template <typename T>
    static bool isValid(T value)
    {
        return value != T{};
    }
};

// Kernel calls answer a failure with null or with INVALID_HANDLE_VALUE, depending on the call.
struct KernelHandleValid {
    static bool isValid(HANDLE handle) { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }
};

struct CloseKernelHandle : KernelHandleValid {
    static void close(HANDLE handle) { CloseHandle(handle); }
};
struct CloseFindHandle : KernelHandleValid {
    static void close(HANDLE handle) { FindClose(handle); }
};
struct CloseRegistryKey : NonNull {
    static void close(HKEY key) { RegCloseKey(key); }
};
struct CloseScHandle : NonNull {
    static void close(SC_HANDLE handle) { CloseServiceHandle(handle); }
};
struct FreeLocal : NonNull {
    static void close(const void* memory) { LocalFree(const_cast<void*>(memory)); }
};
struct FreeMalloc : NonNull {
    static void close(const void* memory) { std::free(const_cast<void*>(memory)); }
};

using HandleOwner = UniqueResource<HANDLE, CloseKernelHandle>;
using FindOwner = UniqueResource<HANDLE, CloseFindHandle>;
using KeyOwner = UniqueResource<HKEY, CloseRegistryKey>;
using ServiceOwner = UniqueResource<SC_HANDLE, CloseScHandle>;
template <typename T>
using LocalOwner = UniqueResource<T*, FreeLocal>;
template <typename T>
using MallocOwner = UniqueResource<T*, FreeMalloc>;
