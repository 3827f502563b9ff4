#include <gtest/gtest.h>

#include <thread>

#include "LibAssert.h"
#include "LibLogger.h"
#include "LibMutex.h"
#include "LibSingleLock.h"

namespace {

// True when another thread can take the mutex right now.
bool FreeForOthers(QLibMutex& mutex)
{
    bool taken = false;
    std::thread([&] {
        DWORD result = WaitForSingleObject(mutex.GetHandle(), 0);
        taken = result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
        if (taken)
            ReleaseMutex(mutex.GetHandle());
    }).join();
    return taken;
}

TEST(QLibWin32Object, CloseLeavesInvalidHandleValueAlone)
{
    QLibMutex holder;
    ASSERT_TRUE(holder.Attach(INVALID_HANDLE_VALUE).IsOK());
    EXPECT_FALSE(holder.IsValid());
    EXPECT_TRUE(holder.Close().IsOK());
    EXPECT_EQ(INVALID_HANDLE_VALUE, holder.GetHandle());
    holder.Detach();
}

TEST(QLibWin32Object, AttachClosesPreviousAndDetachHandsBack)
{
    QLibMutex mutex;
    HANDLE first = CreateMutexW(nullptr, FALSE, nullptr);
    HANDLE second = CreateMutexW(nullptr, FALSE, nullptr);
    ASSERT_TRUE(mutex.Attach(first).IsOK());
    ASSERT_TRUE(mutex.Attach(second).IsOK());
    DWORD flags;
    EXPECT_FALSE(GetHandleInformation(first, &flags)) << "the first handle must be closed";
    EXPECT_EQ(second, mutex.Detach());
    EXPECT_EQ(nullptr, mutex.GetHandle());
    EXPECT_TRUE(GetHandleInformation(second, &flags)) << "a detached handle stays open";
    CloseHandle(second);
}

TEST(QLibMutex, CreateReportsOnlyThatNameExisted)
{
    const wchar_t* name = L"QLibMutexTest_Existing";
    uint32_t existed = 7;
    QLibMutex first;
    ASSERT_TRUE(first.Create(FALSE, name, &existed, nullptr).IsOK());
    EXPECT_EQ(7u, existed) << "a new mutex leaves the flag as it was";
    EXPECT_EQ(name, first.GetName());

    existed = 0;
    QLibMutex second(FALSE, name, &existed, nullptr);
    EXPECT_TRUE(second.IsValid());
    EXPECT_EQ(1u, existed);

    QLibMutex third;
    EXPECT_TRUE(third.Create(FALSE, name, nullptr, nullptr).IsOK());
}

TEST(QLibMutex, CreateFailureCarriesWindowsError)
{
    // A name taken by an event cannot become a mutex.
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, L"QLibMutexTest_Event");
    QLibMutex mutex;
    QLibStatus status = mutex.Create(FALSE, L"QLibMutexTest_Event", nullptr, nullptr);
    EXPECT_TRUE(status.Is(QLIB_ERR_WIN32, ERROR_INVALID_HANDLE));
    EXPECT_FALSE(mutex.IsValid());
    CloseHandle(event);
}

TEST(QLibMutex, ReleaseByNonOwnerFails)
{
    QLibMutex mutex(FALSE, nullptr, nullptr, nullptr);
    QLibStatus status = mutex.Release();
    EXPECT_TRUE(status.Is(QLIB_ERR_WIN32, ERROR_NOT_OWNER));
}

TEST(QLibSyncObject, TimedOutWaitGives258)
{
    QLibMutex owned(TRUE, nullptr, nullptr, nullptr);
    QLibStatus status;
    std::thread([&] { status = owned.Wait(0); }).join();
    EXPECT_TRUE(status.Is(QLIB_ERR_WIN32, WAIT_TIMEOUT));
    EXPECT_TRUE(owned.Release().IsOK());
}

TEST(QLibSyncObject, AbandonedMutexIsTakenWithSuccess)
{
    QLibMutex mutex(FALSE, nullptr, nullptr, nullptr);
    std::thread([&] { WaitForSingleObject(mutex.GetHandle(), INFINITE); }).join();
    EXPECT_TRUE(mutex.Wait(1000).IsOK());
    EXPECT_TRUE(mutex.Release().IsOK());
}

TEST(QLibSyncObject, WaitOnClosedHandleFails)
{
    QLibMutex mutex(FALSE, nullptr, nullptr, nullptr);
    HANDLE handle = mutex.Detach();
    CloseHandle(handle);
    EXPECT_TRUE(mutex.Attach(handle).IsFailed()) << "a closed handle has no name to read";
    QLibStatus status = mutex.Wait(0);
    mutex.Detach();
    EXPECT_TRUE(status.Is(QLIB_ERR_WIN32, ERROR_INVALID_HANDLE));
}

TEST(QLibSingleLock, ReleasesOnScopeExit)
{
    QLibMutex mutex(FALSE, nullptr, nullptr, nullptr);
    {
        QLibSingleLock lock(&mutex, 1);
        EXPECT_TRUE(lock.IsLocked());
        EXPECT_FALSE(FreeForOthers(mutex));
    }
    EXPECT_TRUE(FreeForOthers(mutex));
}

TEST(QLibSingleLock, ReleaseOfUnlockedLockTouchesNothing)
{
    QLibMutex mutex(FALSE, nullptr, nullptr, nullptr);
    QLibSingleLock lock(&mutex, 0);
    EXPECT_FALSE(lock.IsLocked());
    // ReleaseMutex would fail here, as the thread does not own it.
    EXPECT_TRUE(lock.Release().IsOK());
    EXPECT_TRUE(lock.Release(1, nullptr).IsOK());
}

TEST(QLibSingleLock, TimedOutWaitLeavesItUnlocked)
{
    QLibMutex mutex(FALSE, nullptr, nullptr, nullptr);
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::thread holder([&] {
        WaitForSingleObject(mutex.GetHandle(), INFINITE);
        SetEvent(ready);
        WaitForSingleObject(done, INFINITE);
        ReleaseMutex(mutex.GetHandle());
    });
    WaitForSingleObject(ready, INFINITE);
    QLibSingleLock lock(&mutex, 0);
    EXPECT_TRUE(lock.Wait(50).Is(QLIB_ERR_WIN32, WAIT_TIMEOUT));
    EXPECT_FALSE(lock.IsLocked());
    SetEvent(done);
    holder.join();
    EXPECT_TRUE(lock.Wait(1000).IsOK());
    CloseHandle(ready);
    CloseHandle(done);
}

TEST(QLibAssertDeathTest, PrintsPlaceAndStops)
{
    ::testing::FLAGS_gtest_death_test_style = "threadsafe";
    EXPECT_EXIT(QLIB_ASSERT(1 + 1 == 3), ::testing::ExitedWithCode(3),
                "ASSERTION FAILED: file: LibSyncTest.cpp line \\d+");
}

TEST(QLibAssertDeathTest, LockOnInvalidObjectIsProgrammingError)
{
    ::testing::FLAGS_gtest_death_test_style = "threadsafe";
    QLibMutex unopened;
    EXPECT_EXIT(QLibSingleLock(&unopened, 0), ::testing::ExitedWithCode(3),
                "ASSERTION FAILED: file: LibSingleLock.cpp");
}

} // namespace
