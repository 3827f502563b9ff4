// Scripted demonstration: a sample operation traced per thread and dumped through the base sink.

#include <cstdio>

#include "LibLogger.h"
#include "LibMutex.h"
#include "LibSingleLock.h"

static QLibStatus SampleOperation()
{
    QLIB_TRACE("Demo::SampleOperation", L"Creating the named mutex %s.", L"TollanDemo");
    QLibMutex mutex;
    uint32_t existed = 0;
    QLibStatus status = mutex.Create(FALSE, L"TollanDemo", &existed, nullptr);
    if (status.IsFailed()) {
        QLIB_TRACE_FAILED("Demo::SampleOperation", L"QLibMutex::Create", status);
        return status;
    }
    QLibSingleLock lock(&mutex, 1);
    QLIB_TRACE("Demo::SampleOperation", L"Mutex %s taken (existed before: %u, locked: %d).", mutex.GetName().c_str(),
               existed, lock.IsLocked());

    // A wait on an event nobody sets: the library reports the time-out as (2, 258).
    QLibMutex busy(TRUE, nullptr, nullptr, nullptr);
    HANDLE thread = CreateThread(
        nullptr, 0, [](void* param) -> DWORD { return static_cast<QLibMutex*>(param)->Wait(10).GetCode(); }, &busy, 0,
        nullptr);
    WaitForSingleObject(thread, INFINITE);
    DWORD code = 0;
    GetExitCodeThread(thread, &code);
    CloseHandle(thread);
    QLIB_TRACE("Demo::SampleOperation", L"A wait on a mutex held elsewhere ended with code %u.", code);
    status.SetOK();
    return status;
}

int main()
{
    wprintf(L"Tollan demonstration: trace of one sample operation, dumped through the base sink.\n");
    g_QLibLogQueue.OpenThreadQueue();
    QLibStatus status = SampleOperation();
    g_QLibLogQueue.Dump();
    wprintf(L"\n\nSample operation: %s\n", status.IsOK() ? L"succeeded" : L"failed");
    return status.IsOK() ? 0 : 1;
}
