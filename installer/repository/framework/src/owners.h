#pragma once
// One owner type per Windows release function for the installer's code: each resource taken has exactly
// one owner, which releases it on every path. Unique, movable, never copied.

#include <windows.h>
#include <rpc.h>

#include <cstdio>
#include <cstdlib>
#include <utility>

// Closer supplies isValid(T) and close(T), which tells whether the release call succeeded; an owner
// holding an invalid value releases nothing.
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

    // Releases what is held now, for a caller that reports a release that failed: true when it
    // succeeded or nothing was held. The owner is empty afterwards either way.
    bool close()
    {
        T old = release();
        return !Closer::isValid(old) || Closer::close(old);
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
    static bool close(HANDLE handle) { return CloseHandle(handle) != FALSE; }
};
struct CloseFindHandle : KernelHandleValid {
    static bool close(HANDLE handle) { return FindClose(handle) != FALSE; }
};
struct CloseRegistryKey : NonNull {
    static bool close(HKEY key) { return RegCloseKey(key) == ERROR_SUCCESS; }
};
struct CloseScHandle : NonNull {
    static bool close(SC_HANDLE handle) { return CloseServiceHandle(handle) != FALSE; }
};
struct FreeLocal : NonNull {
    static bool close(const void* memory) { return LocalFree(const_cast<void*>(memory)) == nullptr; }
};
struct FreeMalloc : NonNull {
    static bool close(const void* memory)
    {
        std::free(const_cast<void*>(memory));
        return true;
    }
};
// A stream's close also writes what is still buffered, so it can fail.
struct CloseStream : NonNull {
    static bool close(FILE* stream) { return std::fclose(stream) == 0; }
};
struct FreeRpcString : NonNull {
    static bool close(RPC_WSTR text) { return RpcStringFreeW(&text) == RPC_S_OK; }
};

using HandleOwner = UniqueResource<HANDLE, CloseKernelHandle>;
using FindOwner = UniqueResource<HANDLE, CloseFindHandle>;
using KeyOwner = UniqueResource<HKEY, CloseRegistryKey>;
using ServiceOwner = UniqueResource<SC_HANDLE, CloseScHandle>;
using StreamOwner = UniqueResource<FILE*, CloseStream>;
using RpcStringOwner = UniqueResource<RPC_WSTR, FreeRpcString>;
template <typename T>
using LocalOwner = UniqueResource<T*, FreeLocal>;
template <typename T>
using MallocOwner = UniqueResource<T*, FreeMalloc>;
