#include <gtest/gtest.h>

#include <type_traits>
#include <vector>

#include "LibOwners.h"

namespace {

std::vector<int> g_Closed;

struct RecordClose : QLibNonNull {
    static void Close(int value) { g_Closed.push_back(value); }
};
using Owner = QLibUnique<int, RecordClose>;

bool IsOpen(HANDLE handle)
{
    DWORD flags = 0;
    return GetHandleInformation(handle, &flags) != FALSE;
}

} // namespace

TEST(QLibUnique, EveryWayOfLettingGoClosesExactlyOnce)
{
    static_assert(!std::is_copy_constructible_v<Owner> && !std::is_copy_assignable_v<Owner>);
    g_Closed.clear();
    {
        Owner scoped(1);
        Owner reset(2);
        reset.reset(3);
        Owner put(4);
        *put.put() = 5;
        Owner moved(std::move(put));
        Owner assigned(6);
        assigned = std::move(moved);
        Owner released(7);
        EXPECT_EQ(7, released.release());
        EXPECT_FALSE(released);
        Owner empty;
        EXPECT_FALSE(empty.IsValid());
    }
    // Destruction runs in reverse order of declaration.
    EXPECT_EQ((std::vector<int>{2, 4, 6, 5, 3, 1}), g_Closed);
}

TEST(QLibUnique, KernelHandleOwnerClosesOnlyRealHandles)
{
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    ASSERT_NE(nullptr, event);
    {
        QLibHandleOwner owner(event);
        EXPECT_TRUE(owner.IsValid());
        QLibHandleOwner failed(INVALID_HANDLE_VALUE);
        EXPECT_FALSE(failed.IsValid());
    }
    EXPECT_FALSE(IsOpen(event));
    EXPECT_TRUE(IsOpen(GetCurrentProcess())) << "INVALID_HANDLE_VALUE is the process itself: never closed";
}
