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

namespace {

// A release call that answers as it is told and counts how often it ran.
struct ScriptedClose {
    static bool isValid(int value) { return value != 0; }
    static bool close(int)
    {
        ++calls;
        return answer;
    }
    static inline int calls = 0;
    static inline bool answer = true;
};

} // namespace

TEST(UniqueResource, CloseReportsTheReleaseCallAndLeavesNothingToReleaseAgain)
{
    const struct {
        int held;
        bool releaseSucceeds;
        bool reported;
        int releaseCalls;
    } rows[] = {
        {7, true, true, 1},
        {7, false, false, 1},
        {0, false, true, 0},
    };
    for (const auto& row : rows) {
        ScriptedClose::calls = 0;
        ScriptedClose::answer = row.releaseSucceeds;
        {
            UniqueResource<int, ScriptedClose> owner(row.held);
            EXPECT_EQ(row.reported, owner.close()) << row.held << " " << row.releaseSucceeds;
            EXPECT_FALSE(owner);
        }
        EXPECT_EQ(row.releaseCalls, ScriptedClose::calls) << row.held << " " << row.releaseSucceeds;
    }
}
