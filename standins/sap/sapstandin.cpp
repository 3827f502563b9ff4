// sapstandin: SAP's tools and instance processes for the agent's tests, one program whose role is its file name.
//
// The fixture copies it as <SID>\SYS\exe\run\{startsap,stopsap,sapsrvkill,sapinfo,ensmon,jcmon}.exe, as the
// instance processes <SID>\<INST>\exe\<image>.exe and as a monitor program (sapmonitor.exe). What each role does
// comes from the plan file (sapstandin.plan, found from the program's folder upward), lines of the form
//     ROLE key=value key="value with \"escapes\"\n" ...
// ROLE is the file name without ".exe"; a later line's key wins. Every run appends to sapstandin.journal beside
// the plan, under a named mutex:
//     start<TAB>ROLE<TAB>pid=N<TAB>parent=N<TAB>run=K<TAB>user=DOMAIN\USER<TAB>cwd=DIR<TAB>time=T<TAB>cmd=LINE
//     end<TAB>ROLE<TAB>pid=N<TAB>stdin=HEX<TAB>exit=E<TAB>time=T
// (a killed process leaves no end line). K counts the role's runs from 1.
//
// Tools (the six above and sapmonitor):
//   exit=E1,E2,...    run K exits with the K-th, the last repeats; "live" (the default, sapmonitor: 0) = as the
//                     instance or the tool's own work decides: startsap 0 when it started everything, stopsap 0
//                     when the processes ended in time, sapsrvkill 0, and the answers below
//   out=TEXT err=TEXT what to write to standard output / error; pad=N writes N bytes of filler before out
//   stdin=read        read standard input to its end first (jcmon always does)
//   delay=MS|hang     wait before exiting (after the output)
//   startsap:  start=IMG*N,... starts the instance's processes; need-service=1 fails (exit 1) unless the
//              SAP service runs
//   stopsap:   signals the instance to stop and waits up to wait=MS (default 10000) for its processes
//   sapsrvkill: kill=all|none|IMG,... (default all)
// Neither stopsap nor sapsrvkill touches the SAP service's own program when it lies in the instance's folder.
// Live answers: sapinfo 0 while a disp+work.exe of the instance runs, else 2; ensmon 0 while enserver.exe (an
// instance with enrepserver.exe: that) runs, else 8; jcmon prints the dispatcher line Running with at least one
// jlaunch.exe, the server line Running with at least two, else Stopped.
// The instance is the folder of <SID> whose name ends in the number from nr=, sysnr= or the host_SID_NR
// argument, or is named by the profile of pf= (<SID>_<INST>_<host>).
//
// Every other role is an instance process: it runs until the instance's stop event is set, then exits 0.
//   ignore-stop=1  stop-delay=MS  die-after=MS (exits 1 by itself)  spawn=IMG*N spawn-delay=MS (late
//                  processes; without a delay they start before the process counts as started)

#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "SapStandin.h"

namespace {

using Plan = std::map<std::string, std::string>;

std::wstring g_Role;
std::wstring g_Folder; // the program's own folder
std::wstring g_PlanFolder; // where the plan and the journal are; empty when there is no plan
Plan g_Plan;
unsigned g_Run = 1;
std::string g_Stdin;

std::string Narrow(const std::wstring& text)
{
    int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                   nullptr);
    std::string out(size > 0 ? size : 0, '\0');
    if (size > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &out[0], size, nullptr, nullptr);
    return out;
}

std::wstring Widen(const std::string& text)
{
    return std::wstring(text.begin(), text.end());
}

std::wstring Parent(const std::wstring& path)
{
    size_t slash = path.find_last_of(L'\\');
    return slash == std::wstring::npos || slash < 3 ? std::wstring() : path.substr(0, slash);
}

std::wstring FileName(const std::wstring& path)
{
    return path.substr(path.find_last_of(L'\\') + 1);
}

bool Exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string ReadAll(const std::wstring& path)
{
    std::string text;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return text;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof(buffer), &got, nullptr) && got > 0)
        text.append(buffer, got);
    CloseHandle(file);
    return text;
}

// One value: up to the next blank, or a double-quoted text with \n, \t, \" and \\ escapes.
std::string TakeValue(const std::string& line, size_t& at)
{
    std::string value;
    if (at >= line.size() || line[at] != '"') {
        size_t end = line.find_first_of(" \t", at);
        value = line.substr(at, end == std::string::npos ? std::string::npos : end - at);
        at = end == std::string::npos ? line.size() : end;
        return value;
    }
    for (++at; at < line.size() && line[at] != '"'; ++at) {
        char c = line[at];
        if (c == '\\' && at + 1 < line.size()) {
            c = line[++at];
            c = c == 'n' ? '\n' : c == 't' ? '\t' : c;
        }
        value += c;
    }
    ++at;
    return value;
}

void ReadPlan()
{
    for (std::wstring dir = g_Folder; !dir.empty(); dir = Parent(dir))
        if (Exists(dir + L"\\" + SapPlanFileName)) {
            g_PlanFolder = dir;
            break;
        }
    if (g_PlanFolder.empty())
        return;
    std::string text = ReadAll(g_PlanFolder + L"\\" + SapPlanFileName);
    std::string role = Narrow(g_Role);
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        std::string line = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        start = end == std::string::npos ? text.size() : end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        size_t at = line.find_first_of(" \t");
        if (line.empty() || line[0] == '#' || lstrcmpiA(line.substr(0, at).c_str(), role.c_str()) != 0)
            continue;
        while (at != std::string::npos && at < line.size()) {
            at = line.find_first_not_of(" \t", at);
            size_t equals = at == std::string::npos ? at : line.find('=', at);
            if (equals == std::string::npos)
                break;
            std::string key = line.substr(at, equals - at);
            at = equals + 1;
            g_Plan[key] = TakeValue(line, at);
        }
    }
}

std::string PlanValue(const char* key, const char* fallback = "")
{
    auto found = g_Plan.find(key);
    return found == g_Plan.end() ? fallback : found->second;
}

DWORD PlanNumber(const char* key, DWORD fallback)
{
    std::string value = PlanValue(key);
    return value.empty() ? fallback : value == "hang" ? INFINITE : strtoul(value.c_str(), nullptr, 10);
}

std::vector<std::string> Split(const std::string& text, char separator)
{
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= text.size() && !text.empty()) {
        size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return parts;
}

// ---- the journal ----

std::string Now()
{
    SYSTEMTIME t;
    GetSystemTime(&t);
    char text[32];
    snprintf(text, sizeof(text), "%04u-%02u-%02u %02u:%02u:%02u.%03u", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute,
             t.wSecond, t.wMilliseconds);
    return text;
}

std::string Account()
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return "?";
    BYTE buffer[512];
    DWORD size = 0;
    std::string account = "?";
    if (GetTokenInformation(token, TokenUser, buffer, sizeof(buffer), &size)) {
        wchar_t user[256], domain[256];
        DWORD userSize = 256, domainSize = 256;
        SID_NAME_USE use;
        if (LookupAccountSidW(nullptr, reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, user, &userSize, domain,
                              &domainSize, &use))
            account = Narrow(std::wstring(domain) + L"\\" + user);
    }
    CloseHandle(token);
    return account;
}

DWORD ParentPid()
{
    DWORD parent = 0;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
        if (entry.th32ProcessID == GetCurrentProcessId())
            parent = entry.th32ParentProcessID;
    CloseHandle(snapshot);
    return parent;
}

// Held while the journal is read and appended to, so that runs of several processes never interleave.
class JournalLock {
public:
    explicit JournalLock(const std::wstring& path)
        : m_Mutex(CreateMutexW(nullptr, FALSE, SapJournalMutexName(path).c_str()))
    {
        WaitForSingleObject(m_Mutex, 10000);
    }
    ~JournalLock()
    {
        ReleaseMutex(m_Mutex);
        CloseHandle(m_Mutex);
    }
    JournalLock(const JournalLock&) = delete;
    JournalLock& operator=(const JournalLock&) = delete;

private:
    HANDLE m_Mutex;
};

std::wstring JournalPath()
{
    return g_PlanFolder + L"\\" + SapJournalFileName;
}

void Append(const std::string& line)
{
    HANDLE file = CreateFileW(JournalPath().c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, 0, nullptr);
    std::string record = line + "\r\n";
    DWORD written = 0;
    WriteFile(file, record.data(), static_cast<DWORD>(record.size()), &written, nullptr);
    CloseHandle(file);
}

// Also numbers this run: one more than the role's start lines already there.
void JournalStart()
{
    if (g_PlanFolder.empty())
        return;
    wchar_t cwd[MAX_PATH * 2] = {};
    GetCurrentDirectoryW(MAX_PATH * 2, cwd);
    std::string role = Narrow(g_Role);
    JournalLock lock(JournalPath());
    std::string text = "\n" + ReadAll(JournalPath()), prefix = "\nstart\t" + role + "\t";
    g_Run = 1;
    for (size_t at = text.find(prefix); at != std::string::npos; at = text.find(prefix, at + 1))
        ++g_Run;
    Append("start\t" + role + "\tpid=" + std::to_string(GetCurrentProcessId())
           + "\tparent=" + std::to_string(ParentPid()) + "\trun=" + std::to_string(g_Run) + "\tuser=" + Account()
           + "\tcwd=" + Narrow(cwd) + "\ttime=" + Now() + "\tcmd=" + Narrow(GetCommandLineW()));
}

int Finish(int exitCode)
{
    static const char hex[] = "0123456789abcdef";
    std::string bytes;
    for (unsigned char c : g_Stdin)
        bytes += std::string(1, hex[c >> 4]) + hex[c & 15];
    if (!g_PlanFolder.empty()) {
        JournalLock lock(JournalPath());
        Append("end\t" + Narrow(g_Role) + "\tpid=" + std::to_string(GetCurrentProcessId()) + "\tstdin=" + bytes
               + "\texit=" + std::to_string(exitCode) + "\ttime=" + Now());
    }
    return exitCode;
}

// ---- the instance ----

// <SID>: the first folder upward that holds SYS.
std::wstring SidFolder()
{
    for (std::wstring dir = g_Folder; !dir.empty(); dir = Parent(dir))
        if (Exists(dir + L"\\SYS"))
            return dir;
    return std::wstring();
}

std::vector<std::wstring> Arguments()
{
    std::vector<std::wstring> args;
    int count = 0;
    wchar_t** list = CommandLineToArgvW(GetCommandLineW(), &count);
    for (int i = 1; list != nullptr && i < count; ++i)
        args.push_back(list[i]);
    LocalFree(list);
    return args;
}

std::wstring ArgumentValue(const wchar_t* key)
{
    std::wstring prefix = std::wstring(key) + L"=";
    for (const std::wstring& arg : Arguments())
        if (arg.compare(0, prefix.size(), prefix) == 0)
            return arg.substr(prefix.size());
    return std::wstring();
}

// The instance the command line names (see the head of this file); empty when there is none.
std::wstring InstanceFolder()
{
    std::wstring sid = SidFolder(), name, number = ArgumentValue(L"nr");
    if (number.empty())
        number = ArgumentValue(L"sysnr");
    std::vector<std::wstring> args = Arguments();
    if (number.empty() && g_Role == L"sapsrvkill" && !args.empty() && args[0].size() > 2)
        number = args[0].substr(args[0].size() - 2);
    std::vector<std::wstring> profile = {};
    std::wstring pf = FileName(ArgumentValue(L"pf"));
    size_t first = pf.find(L'_'), second = pf.find(L'_', first + 1);
    if (first != std::wstring::npos && second != std::wstring::npos)
        name = pf.substr(first + 1, second - first - 1);
    if (sid.empty() || (name.empty() && number.size() != 2))
        return std::wstring();
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW((sid + L"\\*").c_str(), &found);
    std::wstring instance;
    for (BOOL more = find != INVALID_HANDLE_VALUE; more && instance.empty(); more = FindNextFileW(find, &found)) {
        std::wstring entry = SapUpper(found.cFileName);
        bool folder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        bool named = name.empty() ? entry.size() > 2 && entry.compare(entry.size() - 2, 2, number) == 0
                                  : entry == SapUpper(name);
        if (folder && named && entry != L"SYS")
            instance = sid + L"\\" + found.cFileName;
    }
    if (find != INVALID_HANDLE_VALUE)
        FindClose(find);
    return instance;
}

size_t Running(const std::wstring& instance, const wchar_t* image)
{
    size_t count = 0;
    for (const SapProcess& p : SapProcessesBelow(instance + L"\\exe"))
        count += lstrcmpiW(p.image.c_str(), image) == 0;
    return count;
}

// An instance process counts as started once it has started the processes it starts at once: a monitor that
// runs right after startsap sees the whole instance, however loaded the machine. The starter names an event
// after the new process before letting it run; the process sets it when it is ready.
std::wstring ReadyEventName(DWORD pid)
{
    return L"sapstandin-ready:" + std::to_wstring(pid);
}

// Runs the suspended process and waits (at most 10 s) until it is ready or has ended.
void ResumeUntilReady(const PROCESS_INFORMATION& process)
{
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, ReadyEventName(process.dwProcessId).c_str());
    ResumeThread(process.hThread);
    if (ready == nullptr)
        return;
    HANDLE either[] = {ready, process.hProcess};
    WaitForMultipleObjects(2, either, FALSE, 10000);
    CloseHandle(ready);
}

// Without a starter waiting (a process started by a test itself), there is nobody to tell.
void SayReady()
{
    HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, ReadyEventName(GetCurrentProcessId()).c_str());
    if (ready == nullptr)
        return;
    SetEvent(ready);
    CloseHandle(ready);
}

// Started with nothing of ours: the instance outlives the tool, and no caller's pipe may stay open in it.
bool StartDetached(const std::wstring& path)
{
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    HANDLE nul = CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                             OPEN_EXISTING, 0, nullptr);
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    std::vector<BYTE> attributes(size);
    auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributes.data());
    InitializeProcThreadAttributeList(list, 1, 0, &size);
    UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, &nul, sizeof(nul), nullptr, nullptr);
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof(startup);
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = startup.StartupInfo.hStdOutput = startup.StartupInfo.hStdError = nul;
    startup.lpAttributeList = list;
    std::wstring line = L"\"" + path + L"\"";
    PROCESS_INFORMATION process{};
    BOOL started = CreateProcessW(path.c_str(), &line[0], nullptr, nullptr, TRUE,
                                  EXTENDED_STARTUPINFO_PRESENT | CREATE_SUSPENDED, nullptr, Parent(path).c_str(),
                                  &startup.StartupInfo, &process);
    DWORD error = started ? ERROR_SUCCESS : GetLastError();
    DeleteProcThreadAttributeList(list);
    CloseHandle(nul);
    if (!started) {
        // Said on stderr so that a test that sees the tool fail can tell why.
        fprintf(stderr, "%ls: cannot start %ls: %lu\n", g_Role.c_str(), path.c_str(), error);
        return false;
    }
    ResumeUntilReady(process);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

// IMG*N,... from the instance's exe folder.
bool StartImages(const std::wstring& instance, const std::string& list)
{
    bool all = true;
    for (const std::string& item : Split(list, ',')) {
        size_t star = item.find('*');
        unsigned count = star == std::string::npos ? 1 : strtoul(item.c_str() + star + 1, nullptr, 10);
        for (unsigned i = 0; i < count; ++i)
            all = StartDetached(instance + L"\\exe\\" + Widen(item.substr(0, star))) && all;
    }
    return all;
}

HANDLE StopEvent(const std::wstring& instance)
{
    return CreateEventW(nullptr, TRUE, FALSE, SapStopEventName(instance).c_str());
}

// The state and process of the instance's SAP service (zeros when it cannot be read).
SERVICE_STATUS_PROCESS ServiceStatus(const std::wstring& instance)
{
    std::wstring name = L"SAP" + FileName(SidFolder()) + L"_" + instance.substr(instance.size() - 2);
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = manager ? OpenServiceW(manager, name.c_str(), SERVICE_QUERY_STATUS) : nullptr;
    SERVICE_STATUS_PROCESS status{};
    DWORD size = 0;
    if (!service
        || !QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof(status),
                                 &size))
        status = SERVICE_STATUS_PROCESS{};
    if (service)
        CloseServiceHandle(service);
    if (manager)
        CloseServiceHandle(manager);
    return status;
}

bool ServiceRunning(const std::wstring& instance)
{
    return ServiceStatus(instance).dwCurrentState == SERVICE_RUNNING;
}

// The processes below folder that SAP's tools stop: all but the SAP service's own program, which may lie in
// the instance's folder.
std::vector<SapProcess> InstanceProcesses(const std::wstring& instance, const std::wstring& folder)
{
    DWORD service = ServiceStatus(instance).dwProcessId;
    std::vector<SapProcess> found;
    for (const SapProcess& p : SapProcessesBelow(folder))
        if (p.pid != service)
            found.push_back(p);
    return found;
}

// ---- the roles ----

// The tools' own work; gives the live answer (an exit code), or -1 when the role has none.
int ToolAction(const std::wstring& instance, std::string& liveOutput)
{
    if (g_Role == L"startsap") {
        if (PlanValue("need-service") == "1" && (instance.empty() || !ServiceRunning(instance))) {
            fprintf(stderr, "startsap: the SAP service of the instance is not running\n");
            return 1;
        }
        if (instance.empty())
            return 1;
        HANDLE stop = StopEvent(instance);
        ResetEvent(stop);
        bool started = StartImages(instance, PlanValue("start"));
        CloseHandle(stop);
        return started ? 0 : 1;
    }
    if (g_Role == L"stopsap") {
        if (instance.empty())
            return 1;
        HANDLE stop = StopEvent(instance);
        SetEvent(stop);
        DWORD wait = PlanNumber("wait", 10000);
        std::wstring exe = instance + L"\\exe";
        for (DWORD waited = 0; !InstanceProcesses(instance, exe).empty() && waited < wait; waited += 100)
            Sleep(100);
        CloseHandle(stop);
        return InstanceProcesses(instance, exe).empty() ? 0 : 1;
    }
    if (g_Role == L"sapsrvkill") {
        std::string kill = PlanValue("kill", "all");
        for (const SapProcess& p :
             instance.empty() ? std::vector<SapProcess>() : InstanceProcesses(instance, instance)) {
            bool listed = kill == "all";
            for (const std::string& image : Split(kill, ','))
                listed = listed || lstrcmpiW(Widen(image).c_str(), p.image.c_str()) == 0;
            if (listed)
                SapEndProcess(p);
        }
        return 0;
    }
    if (g_Role == L"sapinfo")
        return !instance.empty() && Running(instance, L"disp+work.exe") > 0 ? 0 : 2;
    if (g_Role == L"ensmon") {
        bool replication = !instance.empty() && Exists(instance + L"\\exe\\enrepserver.exe");
        const wchar_t* server = replication ? L"enrepserver.exe" : L"enserver.exe";
        return !instance.empty() && Running(instance, server) > 0 ? 0 : 8;
    }
    if (g_Role == L"jcmon") {
        size_t launched = instance.empty() ? 0 : Running(instance, L"jlaunch.exe");
        liveOutput = "Java instance monitor\r\n 0  dispatcher  " + std::string(launched >= 1 ? "Running" : "Stopped")
            + "\r\n 1  server0  " + (launched >= 2 ? "Running" : "Stopped") + "\r\n";
        return 0;
    }
    return -1;
}

void Write(DWORD which, const std::string& text)
{
    DWORD written = 0;
    if (!text.empty())
        WriteFile(GetStdHandle(which), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

void ReadStdin()
{
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    char buffer[4096];
    DWORD got = 0;
    while (in != nullptr && in != INVALID_HANDLE_VALUE && g_Stdin.size() < (1u << 20)
           && ReadFile(in, buffer, sizeof(buffer), &got, nullptr) && got > 0)
        g_Stdin.append(buffer, got);
}

int RunTool()
{
    if (PlanValue("stdin") == "read" || g_Role == L"jcmon")
        ReadStdin();
    std::string liveOutput;
    int live = ToolAction(InstanceFolder(), liveOutput);
    std::vector<std::string> exits = Split(PlanValue("exit", live >= 0 ? "live" : "0"), ',');
    std::string planned = exits.empty() ? "0" : exits[g_Run <= exits.size() ? g_Run - 1 : exits.size() - 1];
    bool useLive = planned == "live";
    std::string filler;
    for (DWORD i = 0, pad = PlanNumber("pad", 0); i < pad; ++i)
        filler += (i % 64 == 63) ? '\n' : '.';
    Write(STD_OUTPUT_HANDLE, filler + PlanValue("out") + (useLive ? liveOutput : std::string()));
    Write(STD_ERROR_HANDLE, PlanValue("err"));
    Sleep(PlanNumber("delay", 0));
    return Finish(useLive ? (live < 0 ? 0 : live) : static_cast<int>(strtol(planned.c_str(), nullptr, 10)));
}

DWORD WINAPI SpawnLater(void*)
{
    Sleep(PlanNumber("spawn-delay", 0));
    StartImages(Parent(g_Folder), PlanValue("spawn"));
    return 0;
}

int RunInstanceProcess()
{
    HANDLE stop = StopEvent(Parent(g_Folder));
    std::string spawn = PlanValue("spawn");
    bool later = PlanNumber("spawn-delay", 0) > 0;
    if (!spawn.empty() && !later)
        StartImages(Parent(g_Folder), spawn);
    SayReady();
    if (!spawn.empty() && later)
        CloseHandle(CreateThread(nullptr, 0, SpawnLater, nullptr, 0, nullptr));
    DWORD dieAfter = PlanNumber("die-after", INFINITE);
    bool ignoreStop = PlanValue("ignore-stop") == "1";
    DWORD woke = WaitForSingleObject(ignoreStop ? GetCurrentProcess() : stop, dieAfter);
    if (woke == WAIT_TIMEOUT)
        return Finish(1);
    Sleep(PlanNumber("stop-delay", 0));
    return Finish(0);
}

bool IsTool(const std::wstring& role)
{
    for (const wchar_t* tool : {L"startsap", L"stopsap", L"sapsrvkill", L"sapinfo", L"ensmon", L"jcmon", L"sapmonitor"})
        if (role == tool)
            return true;
    return false;
}

} // namespace

int main()
{
    wchar_t self[MAX_PATH * 2];
    DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH * 2);
    std::wstring path(self, length);
    g_Folder = Parent(path);
    std::wstring name = FileName(path);
    CharLowerBuffW(&name[0], static_cast<DWORD>(name.size()));
    g_Role = name.size() > 4 && name.compare(name.size() - 4, 4, L".exe") == 0 ? name.substr(0, name.size() - 4) : name;
    ReadPlan();
    JournalStart();
    return IsTool(g_Role) ? RunTool() : RunInstanceProcess();
}
