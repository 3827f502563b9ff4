#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <set>
#include <string>

#include "LibProcess.h"
#include "LibProcessList.h"
#include "ProcessTesting.h"

namespace {

using QLibProcessListTest = TracedTest;

std::wstring Lowered(std::wstring text)
{
    std::transform(text.begin(), text.end(), text.begin(), towlower);
    return text;
}

std::set<uint32_t> WalkAll(QLibProcessList& list, QLibStatus& end, uint32_t* last = nullptr)
{
    std::set<uint32_t> pids;
    uint32_t pid = 0;
    for (end = list.GetFirst(&pid); end.IsOK(); end = list.GetNext(&pid))
        pids.insert(pid);
    if (last != nullptr)
        *last = pid;
    return pids;
}

TEST_F(QLibProcessListTest, WalkSeesChildrenAndEndsWithNoMoreFiles)
{
    TestChild child(Running(L"ListWalk"));
    QLibProcessList list(TRUE);
    ASSERT_TRUE(list.IsValid());
    QLibStatus end;
    uint32_t last = 0;
    std::set<uint32_t> pids = WalkAll(list, end, &last);
    EXPECT_TRUE(end.Is(QLIB_ERR_WIN32, ERROR_NO_MORE_FILES));
    EXPECT_EQ(0xFFFFFFFFu, last) << "a failed step leaves no id";
    EXPECT_TRUE(Traced("QLibProcessList::GetNext", L"(18) Process32Next failed."));
    EXPECT_EQ(1u, pids.count(GetCurrentProcessId()));
    EXPECT_EQ(1u, pids.count(child.Pid()));

    TestChild later(Running(L"ListLater"));
    EXPECT_EQ(0u, WalkAll(list, end).count(later.Pid())) << "the snapshot is the state at Open";
    ASSERT_TRUE(list.Open().IsOK());
    EXPECT_EQ(1u, WalkAll(list, end).count(later.Pid()));
}

TEST_F(QLibProcessListTest, DestroyingOpenListClosesSnapshot)
{
    // The snapshot takes the lowest free slot of the handle table: the one just freed.
    HANDLE freed = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    CloseHandle(freed);
    DWORD flags = 0;
    {
        QLibProcessList list(TRUE);
        ASSERT_TRUE(list.IsValid());
        ASSERT_TRUE(GetHandleInformation(freed, &flags)) << "the snapshot went elsewhere; nothing to check";
    }
    EXPECT_FALSE(GetHandleInformation(freed, &flags));
}

TEST_F(QLibProcessListTest, FilterMatchesWholePathInAnyCase)
{
    TestChild first(Running(L"FilterA"));
    TestChild second(Running(L"FilterB"));
    wchar_t* raw = nullptr;
    ASSERT_TRUE(QLibProcess::GetExeName(first.Pid(), &raw).IsOK());
    HeapText exeName(raw);
    std::wstring otherCase = Lowered(exeName.get());
    ASSERT_NE(otherCase, exeName.get()) << "the path must have upper-case letters to test the filter";

    QLibMultInstProcessList list(otherCase.c_str(), TRUE);
    QLibStatus end;
    uint32_t last = 0;
    std::set<uint32_t> pids = WalkAll(list, end, &last);
    EXPECT_TRUE(end.Is(QLIB_ERR_WIN32, ERROR_NO_MORE_FILES));
    EXPECT_EQ(1u, pids.count(last)) << "the filtered end leaves the last match";
    // Children of tests that run at the same time match as well.
    EXPECT_EQ(1u, pids.count(first.Pid()));
    EXPECT_EQ(1u, pids.count(second.Pid()));
    EXPECT_EQ(0u, pids.count(GetCurrentProcessId()));
}

TEST_F(QLibProcessListTest, FilterWithUnknownPathOrBareNameFindsNothing)
{
    TestChild child(Running(L"FilterNone"));
    QLibMultInstProcessList list;
    list.SetExeName(L"testchild.exe");
    ASSERT_TRUE(list.Open().IsOK());
    uint32_t pid = 7;
    EXPECT_TRUE(list.GetFirst(&pid).Is(QLIB_ERR_WIN32, ERROR_NO_MORE_FILES));
    EXPECT_EQ(0u, pid);

    list.SetExeName(L"C:\\no\\such\\program.exe");
    ASSERT_TRUE(list.Open().IsOK());
    EXPECT_TRUE(list.GetFirst(&pid).Is(QLIB_ERR_WIN32, ERROR_NO_MORE_FILES));
}

} // namespace
