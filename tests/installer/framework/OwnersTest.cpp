#include <gtest/gtest.h>

#include <utility>

#include "owners.h"

namespace {

bool isOpen(HANDLE handle)
{
    DWORD flags = 0;
    return GetHandleInformation(handle, &flags) != FALSE;
}

} // namespace

TEST(UniqueResource, HandleOwnerClosesOnceWhateverWayItLetsGo)
{
    HANDLE events[4];
    for (HANDLE& event : events)
        ASSERT_NE(nullptr, event = CreateEventW(nullptr, FALSE, FALSE, nullptr));
    HANDLE kept = nullptr;
    {
        HandleOwner reset(events[0]);
        reset.reset(events[1]);
        EXPECT_FALSE(isOpen(events[0]));
        HandleOwner moved(std::move(reset));
        *moved.put() = events[2];
        EXPECT_FALSE(isOpen(events[1]));
        HandleOwner released(events[3]);
        kept = released.release();
        HandleOwner failed(INVALID_HANDLE_VALUE);
        EXPECT_FALSE(failed);
    }
    EXPECT_FALSE(isOpen(events[2]));
    EXPECT_TRUE(isOpen(kept));
    EXPECT_TRUE(isOpen(GetCurrentProcess())) << "INVALID_HANDLE_VALUE is the process itself: never closed";
    // Released by hand: ownership went to the caller.
    CloseHandle(kept);
}
