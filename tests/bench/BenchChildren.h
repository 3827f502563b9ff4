#pragma once
// Test children for benchmarks that need a machine with many processes: each waits for one event, and
// setting it (when the object goes) ends them all.

#include <windows.h>

#include <string>
#include <vector>

inline std::wstring ChildPath()
{
    wchar_t self[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path(self, length);
    return path.substr(0, path.rfind(L'\\') + 1) + L"testchild.exe";
}

// Children that wait for one event; setting it ends them all.
class BenchChildren {
public:
    explicit BenchChildren(const std::wstring& path)
        : m_Path(path), m_Name(L"QLibBenchStop_" + std::to_wstring(GetCurrentProcessId()))
    {
        m_Stop = CreateEventW(nullptr, TRUE, FALSE, m_Name.c_str());
    }
    ~BenchChildren()
    {
        SetEvent(m_Stop);
        for (HANDLE process : m_Processes) {
            if (WaitForSingleObject(process, 10000) != WAIT_OBJECT_0)
                TerminateProcess(process, 1);
            CloseHandle(process);
        }
        CloseHandle(m_Stop);
    }
    bool GrowTo(size_t count)
    {
        while (m_Processes.size() < count) {
            std::wstring commandLine = L"\"" + m_Path + L"\" --wait " + m_Name;
            STARTUPINFOW startup = {};
            startup.cb = sizeof(startup);
            PROCESS_INFORMATION info = {};
            if (!CreateProcessW(m_Path.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                &info))
                return false;
            CloseHandle(info.hThread);
            m_Processes.push_back(info.hProcess);
        }
        return true;
    }

private:
    std::wstring m_Path;
    std::wstring m_Name;
    HANDLE m_Stop;
    std::vector<HANDLE> m_Processes;
};
