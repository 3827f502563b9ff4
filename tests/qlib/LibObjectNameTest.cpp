#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "LibMutex.h"
#include "ProcessTesting.h"

namespace {

using QLibObjectNameTest = TracedTest;

bool EndsWith(const std::wstring& text, const std::wstring& tail)
{
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// Wine names session objects \Sessions\1\BaseNamedObjects\... and global ones \BaseNamedObjects\...
TEST_F(QLibObjectNameTest, FullNameAsTheSystemGivesIt)
{
    QLibMutex local(FALSE, L"QLibNameTest_Local", nullptr, nullptr);
    std::wstring name;
    ASSERT_TRUE(local.GetName(name).IsOK());
    EXPECT_TRUE(EndsWith(name, L"\\BaseNamedObjects\\QLibNameTest_Local")) << name;

    QLibMutex unnamed(FALSE, nullptr, nullptr, nullptr);
    name = L"left over";
    ASSERT_TRUE(unnamed.GetName(name).IsOK());
    EXPECT_EQ(L"", name);
}

TEST_F(QLibObjectNameTest, RelativeNameOnlyDirectlyInsideBaseNamedObjects)
{
    QLibMutex global(FALSE, L"Global\\QLibNameTest_Global", nullptr, nullptr);
    std::wstring name;
    ASSERT_TRUE(global.GetNameRelativeToBaseNamedObjects(name).IsOK());
    EXPECT_EQ(L"QLibNameTest_Global", name);
    EXPECT_TRUE(Traced("QLibWin32Object::GetNameRelativeToBaseNamedObjects",
                       L"Object name is \\BaseNamedObjects\\QLibNameTest_Global"));

    QLibMutex local(FALSE, L"QLibNameTest_Session", nullptr, nullptr);
    std::wstring full;
    ASSERT_TRUE(local.GetName(full).IsOK());
    name = L"left over";
    QLibStatus status = local.GetNameRelativeToBaseNamedObjects(name);
    if (full.rfind(L"\\BaseNamedObjects\\", 0) != 0) {
        EXPECT_TRUE(status.Is(QLIB_ERR_WIN32, ERROR_INVALID_PARAMETER)) << full;
        EXPECT_EQ(L"", name);
    }

    QLibMutex unnamed(FALSE, nullptr, nullptr, nullptr);
    EXPECT_TRUE(unnamed.GetNameRelativeToBaseNamedObjects(name).IsOK());
    EXPECT_EQ(L"", name);
}

TEST_F(QLibObjectNameTest, MutexAttachTakesNameOrHandsHandleBack)
{
    HANDLE global = CreateMutexW(nullptr, FALSE, L"Global\\LibDNS_GlobalMembers");
    QLibMutex mutex;
    ASSERT_TRUE(mutex.Attach(global).IsOK());
    EXPECT_EQ(global, mutex.GetHandle());
    EXPECT_EQ(L"LibDNS_GlobalMembers", mutex.GetName());

    HANDLE session = CreateMutexW(nullptr, FALSE, L"QLibNameTest_Attach");
    QLibStatus status = mutex.Attach(session);
    EXPECT_TRUE(status.Is(QLIB_ERR_WIN32, ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(mutex.IsValid());
    EXPECT_TRUE(Traced("QLibMutex::Attach", L"(87) GetRelativeName failed."));
    DWORD flags = 0;
    EXPECT_FALSE(GetHandleInformation(global, &flags)) << "attaching closed the mutex held before";
    EXPECT_TRUE(GetHandleInformation(session, &flags)) << "a refused handle stays open and the caller's";
    CloseHandle(session);
}

} // namespace
