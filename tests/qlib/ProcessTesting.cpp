#include "ProcessTesting.h"

#include <tlhelp32.h>

#include <atomic>
#include <set>

void TracedTest::SetUp()
{
    g_QLibLogQueue.OpenThreadQueue();
    g_QLibLogQueue.EnableThreadQueue();
    g_QLibLogQueue.ClearThreadQueue();
}

void TracedTest::TearDown()
{
    g_QLibLogQueue.ClearThreadQueue();
}

bool TracedTest::Traced(const char* function, const std::wstring& message)
{
    QLibLogQueue* queue = g_QLibLogQueue.FindThreadQueue(GetCurrentThreadId());
    if (queue == nullptr)
        return false;
    for (const QLibLogRecord& record : queue->GetRecords()) {
        if (record.function == function && record.message == message)
            return true;
    }
    return false;
}

std::wstring TestChild::Path()
{
    wchar_t self[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path(self, length);
    return path.substr(0, path.rfind(L'\\') + 1) + L"testchild.exe";
}

std::wstring TestChild::UniqueName(const wchar_t* prefix)
{
    static std::atomic<unsigned> counter{0};
    return std::wstring(prefix) + L"_" + std::to_wstring(GetCurrentProcessId()) + L"_" + std::to_wstring(++counter);
}

TestChild::TestChild(const std::wstring& arguments, bool waitRunning)
{
    std::wstring ready = UniqueName(L"TestChildReady");
    HANDLE event = waitRunning ? CreateEventW(nullptr, TRUE, FALSE, ready.c_str()) : nullptr;
    m_CommandLine = L"\"" + Path() + L"\" " + (waitRunning ? L"--signal " + ready + L" " : L"") + arguments;
    std::wstring writable = m_CommandLine;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    BOOL started = CreateProcessW(nullptr, &writable[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                  &m_Info);
    EXPECT_TRUE(started) << "cannot start " << testing::PrintToString(m_CommandLine) << ": " << GetLastError();
    if (started && event != nullptr) {
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(event, 10000)) << "the child never said it runs";
    }
    if (event != nullptr)
        CloseHandle(event);
}

TestChild::~TestChild()
{
    if (m_Info.hProcess == nullptr)
        return;
    if (WaitForSingleObject(m_Info.hProcess, 0) == WAIT_TIMEOUT) {
        TerminateProcess(m_Info.hProcess, 1);
        WaitForSingleObject(m_Info.hProcess, 5000);
    }
    CloseHandle(m_Info.hThread);
    CloseHandle(m_Info.hProcess);
}

DWORD TestChild::WaitExit()
{
    DWORD exitCode = 0xDEAD;
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(m_Info.hProcess, 10000));
    GetExitCodeProcess(m_Info.hProcess, &exitCode);
    return exitCode;
}

std::wstring Running(const wchar_t* tag)
{
    return std::wstring(L"--tag ") + tag + L" --sleep 60000";
}

std::string TestPattern(size_t count)
{
    std::string bytes(count, '\0');
    for (size_t i = 0; i < count; ++i)
        bytes[i] = static_cast<char>('a' + i % 26);
    return bytes;
}

DWORD UnusedPid()
{
    std::set<DWORD> used;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS | TH32CS_SNAPTHREAD, 0);
    PROCESSENTRY32W process = {};
    process.dwSize = sizeof(process);
    for (BOOL more = Process32FirstW(snapshot, &process); more; more = Process32NextW(snapshot, &process))
        used.insert(process.th32ProcessID);
    THREADENTRY32 thread = {};
    thread.dwSize = sizeof(thread);
    for (BOOL more = Thread32First(snapshot, &thread); more; more = Thread32Next(snapshot, &thread))
        used.insert(thread.th32ThreadID);
    CloseHandle(snapshot);
    DWORD pid = 0x7FF0;
    while (used.count(pid) != 0)
        pid += 4;
    return pid;
}

ImportRedirect::ImportRedirect(const char* dll, const char* function, const void* replacement)
{
    auto* base = reinterpret_cast<BYTE*>(GetModuleHandleW(nullptr));
    auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    auto* import = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress);
    for (; import->Name != 0 && m_pSlot == nullptr; ++import) {
        if (_stricmp(reinterpret_cast<const char*>(base + import->Name), dll) != 0)
            continue;
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + import->OriginalFirstThunk);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + import->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal))
                continue;
            auto* byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (strcmp(reinterpret_cast<const char*>(byName->Name), function) == 0) {
                m_pSlot = reinterpret_cast<void**>(&slots->u1.Function);
                break;
            }
        }
    }
    if (m_pSlot == nullptr) {
        ADD_FAILURE() << "no import of " << function << " from " << dll;
        return;
    }
    m_pOriginal = *m_pSlot;
    Store(m_pSlot, const_cast<void*>(replacement));
}

ImportRedirect::~ImportRedirect()
{
    if (m_pSlot != nullptr)
        Store(m_pSlot, m_pOriginal);
}

void ImportRedirect::Store(void** slot, void* value)
{
    DWORD protection = 0;
    VirtualProtect(slot, sizeof(void*), PAGE_READWRITE, &protection);
    *slot = value;
    VirtualProtect(slot, sizeof(void*), protection, &protection);
}
