#include <gtest/gtest.h>
#include <windows.h>
#include <winternl.h>

#include <string>

#include "LibMutex.h"
#include "LibNtDll.h"
#include "ProcessTesting.h"

namespace {

using QLibNtDllTest = TracedTest;

// The first part of each entry of the process information class.
struct ProcessEntry {
    ULONG nextOffset;
    ULONG threadCount;
    BYTE reserved[48];
    UNICODE_STRING imageName;
    LONG basePriority;
    HANDLE uniqueProcessId;
    HANDLE inheritedFromUniqueProcessId;
};

TEST_F(QLibNtDllTest, ProcessInformationOfInvalidHandleFailsConverted)
{
    QLibNtDll ntDll;
    ASSERT_TRUE(ntDll.IsValid());
    void* buffer = reinterpret_cast<void*>(1);
    QLibStatus status = ntDll.GetProcessInformation(reinterpret_cast<HANDLE>(0x1230), 0, &buffer);
    EXPECT_TRUE(status.Is(QLIB_ERR_WIN32, ERROR_INVALID_HANDLE)) << status.GetCode();
    EXPECT_EQ(nullptr, buffer);
    EXPECT_TRUE(Traced("QLibNtDll::GetProcessInformation", L"(6) QueryInfoProcess failed."));
}

TEST_F(QLibNtDllTest, ProcessAndThreadBasicInformationOfOwnProcess)
{
    QLibNtDll ntDll;
    void* buffer = nullptr;
    ASSERT_TRUE(ntDll.GetProcessInformation(GetCurrentProcess(), 0, &buffer).IsOK());
    EXPECT_EQ(GetCurrentProcessId(), static_cast<PROCESS_BASIC_INFORMATION*>(buffer)->UniqueProcessId);
    HeapFree(GetProcessHeap(), 0, buffer);

    ASSERT_TRUE(ntDll.GetThreadInformation(GetCurrentThread(), 0, &buffer).IsOK());
    HeapFree(GetProcessHeap(), 0, buffer);
}

// The list outgrows the first buffer many times over; every entry must lie inside what came back.
TEST_F(QLibNtDllTest, SystemProcessListGrowsUntilItFitsWhole)
{
    TestChild first(Running(L"SysInfoA"));
    TestChild second(Running(L"SysInfoB"));
    QLibNtDll ntDll;
    void* buffer = nullptr;
    ASSERT_TRUE(ntDll.GetSystemInformation(5, &buffer).IsOK());
    size_t size = HeapSize(GetProcessHeap(), 0, buffer);
    EXPECT_GT(size, 1024u);
    int found = 0;
    const BYTE* at = static_cast<const BYTE*>(buffer);
    for (;;) {
        ASSERT_LE(at + sizeof(ProcessEntry), static_cast<const BYTE*>(buffer) + size);
        auto* entry = reinterpret_cast<const ProcessEntry*>(at);
        DWORD pid = static_cast<DWORD>(reinterpret_cast<uintptr_t>(entry->uniqueProcessId));
        found += pid == first.Pid() || pid == second.Pid() || pid == GetCurrentProcessId();
        if (entry->nextOffset == 0)
            break;
        at += entry->nextOffset;
    }
    EXPECT_EQ(3, found);
    HeapFree(GetProcessHeap(), 0, buffer);
}

TEST_F(QLibNtDllTest, ObjectNameLongerThanFirstBufferGrows)
{
    std::wstring name = L"Global\\" + std::wstring(3000, L'n');
    QLibMutex mutex(FALSE, name.c_str(), nullptr, nullptr);
    ASSERT_TRUE(mutex.IsValid());
    QLibNtDll ntDll;
    void* buffer = nullptr;
    ASSERT_TRUE(ntDll.GetObjectInformation(mutex.GetHandle(), 1, &buffer).IsOK());
    const UNICODE_STRING& text = static_cast<OBJECT_NAME_INFORMATION*>(buffer)->Name;
    std::wstring got(text.Buffer, text.Length / sizeof(wchar_t));
    EXPECT_GT(HeapSize(GetProcessHeap(), 0, buffer), 4096u);
    EXPECT_EQ(std::wstring(3000, L'n'), got.substr(got.size() - 3000));
    HeapFree(GetProcessHeap(), 0, buffer);
}

TEST_F(QLibNtDllTest, FileNameGrowsByDoubling)
{
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    std::wstring folder = std::wstring(L"\\\\?\\") + temp + std::wstring(200, L'd');
    std::wstring deeper = folder + L"\\" + std::wstring(200, L'e');
    std::wstring file = deeper + L"\\" + std::wstring(200, L'f') + L".txt";
    CreateDirectoryW(folder.c_str(), nullptr);
    CreateDirectoryW(deeper.c_str(), nullptr);
    HANDLE handle = CreateFileW(file.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, handle);
    QLibNtDll ntDll;
    IO_STATUS_BLOCK io = {};
    void* buffer = nullptr;
    ASSERT_TRUE(ntDll.GetFileInformation(handle, &io, &buffer, 9).IsOK());
    auto* info = static_cast<const ULONG*>(buffer);
    std::wstring name(reinterpret_cast<const wchar_t*>(info + 1), info[0] / sizeof(wchar_t));
    EXPECT_EQ(2048u, HeapSize(GetProcessHeap(), 0, buffer)) << "1024 and then 2048 bytes";
    EXPECT_EQ(std::wstring(200, L'f') + L".txt", name.substr(name.rfind(L'\\') + 1));
    HeapFree(GetProcessHeap(), 0, buffer);
    CloseHandle(handle);
    RemoveDirectoryW(deeper.c_str());
    RemoveDirectoryW(folder.c_str());
}

TEST_F(QLibNtDllTest, CreateFileAndCloseObjectThroughNativeNames)
{
    wchar_t windows[MAX_PATH];
    GetWindowsDirectoryW(windows, MAX_PATH);
    std::wstring name = std::wstring(L"\\??\\") + windows + L"\\win.ini";
    QLibNtDll ntDll;
    HANDLE file = nullptr;
    ASSERT_TRUE(
        ntDll.CreateFile(&file, GENERIC_READ | SYNCHRONIZE, name.c_str(), 0, FILE_SHARE_READ, FILE_OPEN, nullptr, 0)
            .IsOK());
    HANDLE copy = nullptr;
    EXPECT_TRUE(
        ntDll.DuplicateObject(GetCurrentProcess(), file, GetCurrentProcess(), &copy, DUPLICATE_SAME_ACCESS).IsOK());
    EXPECT_TRUE(ntDll.CloseObject(copy).IsOK());
    EXPECT_TRUE(ntDll.CloseObject(file).IsOK());
    EXPECT_TRUE(ntDll.CloseObject(file).Is(QLIB_ERR_WIN32, ERROR_INVALID_HANDLE));

    HANDLE missing = nullptr;
    EXPECT_TRUE(ntDll.CreateFile(&missing, GENERIC_READ, (name + L".none").c_str(), 0, 0, FILE_OPEN, nullptr, 0)
                    .Is(QLIB_ERR_WIN32, ERROR_FILE_NOT_FOUND));
}

TEST_F(QLibNtDllTest, EnvironmentBlockSetAndExpand)
{
    QLibNtDll ntDll;
    void* environment = nullptr;
    ASSERT_TRUE(ntDll.CreateEnvironment(FALSE, &environment).IsOK());
    EXPECT_TRUE(ntDll.SetEnvironmentVariable(&environment, L"QLIB_HOST", L"node7").IsOK());
    EXPECT_TRUE(ntDll.SetEnvironmentVariable(&environment, L"QLIB_GONE", nullptr).IsOK())
        << "removing what is not there still reports success";
    EXPECT_TRUE(
        ntDll.SetEnvironmentVariable(&environment, L"QLIB=HOST", L"node7").Is(QLIB_ERR_WIN32, ERROR_INVALID_PARAMETER))
        << "a variable the block refuses is no success";

    wchar_t* expanded = nullptr;
    ASSERT_TRUE(QLibNtDll::ExpandEnvStrings(environment, L"\\\\%QLIB_HOST%\\share", &expanded).IsOK());
    EXPECT_STREQ(L"\\\\node7\\share", expanded);
    HeapFree(GetProcessHeap(), 0, expanded);

    ASSERT_TRUE(QLibNtDll::ExpandEnvStrings(environment, L"no variables here", &expanded).IsOK());
    EXPECT_STREQ(L"no variables here", expanded);
    HeapFree(GetProcessHeap(), 0, expanded);

    std::wstring tooLong(5000, L'x');
    expanded = reinterpret_cast<wchar_t*>(1);
    EXPECT_TRUE(QLibNtDll::ExpandEnvStrings(environment, tooLong.c_str(), &expanded).IsFailed())
        << "more than 8192 bytes do not fit";
    EXPECT_EQ(nullptr, expanded);
    EXPECT_TRUE(ntDll.DestroyEnvironment(environment).IsOK());
}

} // namespace
