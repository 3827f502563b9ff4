#include "TestDnsServer.h"

#include <fstream>

#include "DnsZone.h"
#include "TestBed.h"

namespace {

std::wstring Wide(const std::string& text)
{
    return std::wstring(text.begin(), text.end());
}

std::wstring ProgramFolder()
{
    wchar_t path[MAX_PATH] = {};
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, length < MAX_PATH ? length : 0);
    return folder.substr(0, folder.rfind(L'\\') + 1);
}

// Waits for the event or the process, whichever comes first; true for the event.
bool Signalled(HANDLE event, HANDLE process)
{
    HANDLE both[] = {event, process};
    return WaitForMultipleObjects(2, both, FALSE, 10000) == WAIT_OBJECT_0;
}

// Longer than any test holds a server; a server that outlives it is stopped, never terminated: Wine keeps a
// terminated server's ports bound until the wineserver ends, and every later test of the run would fail.
constexpr DWORD PortsWaitMs = 60000;

} // namespace

TestDnsServer::TestDnsServer(const std::string& firstZone, const std::string& secondZone)
{
    if (!InTestBed())
        m_error = "outside the test bed";
    else if (!TakePorts())
        m_error = "another test's DNS server kept the bed's ports";
    else if (!MakeFolder())
        m_error = "cannot create " + std::string(m_folder.begin(), m_folder.end());
    else if (!WriteDnsZoneText(ZoneFile(First), firstZone) || !WriteDnsZoneText(ZoneFile(Second), secondZone))
        m_error = "cannot write the zone files";
    else
        Start();
}

TestDnsServer::~TestDnsServer()
{
    if (m_process != nullptr)
        Stop(m_process);
    if (m_stop != nullptr)
        CloseHandle(m_stop);
    if (m_ports != nullptr) {
        ReleaseMutex(m_ports);
        CloseHandle(m_ports);
    }
    if (m_folder.empty())
        return;
    for (const wchar_t* name : {L"127.0.0.1.zone", L"127.0.0.2.zone", L"journal.txt"})
        DeleteFileW((m_folder + name).c_str());
    RemoveDirectoryW(m_folder.c_str());
}

bool TestDnsServer::MakeFolder()
{
    static int counter = 0;
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH - 1, temp);
    // Ids come back: a name that a test which crashed left behind is passed over.
    bool made = false;
    do {
        m_name = L"testdns_" + std::to_wstring(GetCurrentProcessId()) + L"_" + std::to_wstring(++counter);
        m_folder = temp + m_name + L"\\";
        made = CreateDirectoryW(m_folder.c_str(), nullptr);
    } while (!made && GetLastError() == ERROR_ALREADY_EXISTS);
    return made;
}

bool TestDnsServer::TakePorts()
{
    m_ports = CreateMutexW(nullptr, FALSE, L"testdns_ports");
    // Abandoned: the test before crashed, and its server ends at its next poll (its binds wait for that).
    DWORD taken = m_ports != nullptr ? WaitForSingleObject(m_ports, PortsWaitMs) : WAIT_FAILED;
    if (taken == WAIT_OBJECT_0 || taken == WAIT_ABANDONED)
        return true;
    if (m_ports != nullptr)
        CloseHandle(m_ports);
    m_ports = nullptr;
    return false;
}

void TestDnsServer::Stop(HANDLE process)
{
    SetEvent(m_stop);
    if (WaitForSingleObject(process, PortsWaitMs) != WAIT_OBJECT_0)
        TerminateProcess(process, 0);
    CloseHandle(process);
}

void TestDnsServer::Start()
{
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, (m_name + L"_ready").c_str());
    m_stop = CreateEventW(nullptr, TRUE, FALSE, (m_name + L"_stop").c_str());
    std::wstring program = ProgramFolder() + L"dnsserver.exe";
    std::wstring commandLine = L"\"" + program + L"\" --journal \"" + m_folder + L"journal.txt\"";
    // The bed routes 127.0.0.2:53 to 127.0.0.1:5302 (see dnsserver.cpp for why).
    for (const auto& [server, port] : {std::make_pair(First, L"53"), std::make_pair(Second, L"5302")})
        commandLine += L" --serve " + Wide(server) + L" " + port + L" \"" + ZoneFile(server) + L"\"";
    commandLine += L" --ready " + m_name + L"_ready --stop " + m_name + L"_stop --parent "
        + std::to_wstring(GetCurrentProcessId());
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION started = {};
    if (!CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &started)) {
        m_error = "cannot start dnsserver.exe: " + std::to_string(GetLastError());
    } else if (!Signalled(ready, started.hProcess)) {
        DWORD code = 0;
        GetExitCodeProcess(started.hProcess, &code);
        m_error = "dnsserver.exe did not start listening (exit code " + std::to_string(code) + ")";
        Stop(started.hProcess);
    } else {
        m_process = started.hProcess;
    }
    if (started.hThread != nullptr)
        CloseHandle(started.hThread);
    CloseHandle(ready);
}

std::wstring TestDnsServer::ZoneFile(const std::string& server) const
{
    return m_folder + Wide(server) + L".zone";
}

std::vector<std::string> TestDnsServer::Journal() const
{
    std::vector<std::string> lines;
    std::ifstream file((m_folder + L"journal.txt").c_str());
    for (std::string line; std::getline(file, line);)
        lines.push_back(line);
    return lines;
}
