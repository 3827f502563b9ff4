#pragma once
// The one way the library reads a Windows answer of variable size: a first call without room tells the size,
// a zero-filled process-heap block of that size is filled by a second call. What the call reports can grow
// between the two (a service created, a group joined meanwhile): while the fill answers "more data", the size
// is asked again, a few times at most.

#include <windows.h>

#include <functional>
#include <initializer_list>

#include "LibOwners.h"
#include "LibStatus.h"

// One block a call fills, sized in the call's own unit (bytes, or characters for a text): the room the call is
// given, and after a size query the room it asks for.
struct QLibSizedBlock {
    explicit QLibSizedBlock(DWORD unitBytes = 1) : unit(unitBytes) {}

    template <typename T>
    T* Get() const
    {
        return static_cast<T*>(data.get());
    }
    // Hands the filled block to the caller, who frees it with HeapFree.
    template <typename T>
    T* Release()
    {
        return static_cast<T*>(data.release());
    }

    DWORD unit;
    DWORD size = 0;
    QLibHeapOwner<void> data;
};

// What a size query that succeeds means: nothing to report (an empty enumeration), a broken answer, or a call
// that cannot succeed without room.
enum class QLibSizeQuerySuccess { Empty, InvalidData, Impossible };

struct QLibSizedCall {
    // Makes the Windows call into the blocks as they stand (no data and no room on a size query) and answers
    // ERROR_SUCCESS or its Windows error; on "more data" it leaves the room needed in each block's size.
    std::function<DWORD()> call;
    // The call's "more data" answer besides ERROR_INSUFFICIENT_BUFFER.
    DWORD moreData = ERROR_INSUFFICIENT_BUFFER;
    QLibSizeQuerySuccess sizeQuerySuccess = QLibSizeQuerySuccess::Impossible;
    // Optional: traces a failed call (second = the call into the blocks) ...
    std::function<void(DWORD code, bool second)> traceFailure;
    // ... and, under function, a failed allocation with the code and the byte count.
    const char* function = nullptr;
    const wchar_t* allocFailedFormat = nullptr;
};

// For the calls that answer with a BOOL and leave the error with the thread.
inline DWORD QLibCallResult(BOOL done)
{
    return done ? ERROR_SUCCESS : GetLastError();
}

// On failure every block is left empty.
QLibStatus QLibFetchSized(const QLibSizedCall& sized, std::initializer_list<QLibSizedBlock*> blocks);
