#include "SapFixture.h"

#include <cstdio>
#include <fstream>
#include <sstream>

namespace {

struct TypeRow {
    SapInstanceType type;
    const char* instType;
    const char* instPrefix;
    std::vector<std::string> procMon;
    const char* start; // what startsap starts
    std::vector<std::string> images; // copied into the instance's exe folder; gwrd.exe is in no ProcMon list
};

const std::vector<TypeRow>& Types()
{
    static const std::vector<TypeRow> rows = {
        {SapInstanceType::Central,
         "CENTRAL",
         "DVEBMGS",
         {"disp+work.exe", "msg_server.exe"},
         "disp+work.exe*2,msg_server.exe,gwrd.exe",
         {"disp+work.exe", "msg_server.exe", "gwrd.exe"}},
        {SapInstanceType::CentralJava,
         "CENTRAL",
         "JC",
         {"jcontrol.exe", "msg_server.exe"},
         "jcontrol.exe,msg_server.exe",
         {"jcontrol.exe", "jlaunch.exe", "msg_server.exe"}},
        {SapInstanceType::CentralAddIn,
         "CENTRAL",
         "DVEBMGS",
         {"disp+work.exe", "jcontrol.exe", "msg_server.exe"},
         "disp+work.exe*2,jcontrol.exe,msg_server.exe,gwrd.exe",
         {"disp+work.exe", "jcontrol.exe", "jlaunch.exe", "msg_server.exe", "gwrd.exe"}},
        {SapInstanceType::Dialog,
         "DIALOG",
         "D",
         {"disp+work.exe"},
         "disp+work.exe*2,gwrd.exe",
         {"disp+work.exe", "gwrd.exe"}},
        {SapInstanceType::Enqueue,
         "ENQUEUE",
         "ASCS",
         {"msg_server.exe", "enserver.exe"},
         "msg_server.exe,enserver.exe",
         {"msg_server.exe", "enserver.exe"}},
        {SapInstanceType::AbapEnqueue,
         "AENQUEUE",
         "ASCS",
         {"msg_server.exe", "enserver.exe"},
         "msg_server.exe,enserver.exe",
         {"msg_server.exe", "enserver.exe"}},
        {SapInstanceType::JavaEnqueue,
         "JENQUEUE",
         "SCS",
         {"msg_server.exe", "enserver.exe"},
         "msg_server.exe,enserver.exe",
         {"msg_server.exe", "enserver.exe"}},
        {SapInstanceType::EnqRep, "ENQREP", "ERS", {"enrepserver.exe"}, "enrepserver.exe", {"enrepserver.exe"}},
        {SapInstanceType::AbapEnqRep, "AENQREP", "ERS", {"enrepserver.exe"}, "enrepserver.exe", {"enrepserver.exe"}},
        {SapInstanceType::JavaEnqRep, "JENQREP", "ERS", {"enrepserver.exe"}, "enrepserver.exe", {"enrepserver.exe"}},
    };
    return rows;
}

std::string Upper(std::string text)
{
    CharUpperBuffA(&text[0], static_cast<DWORD>(text.size()));
    return text;
}

std::string Narrow(const std::wstring& text)
{
    return std::string(text.begin(), text.end());
}

std::string ProgramFolder()
{
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string self(path, length < MAX_PATH ? length : 0);
    return self.substr(0, self.find_last_of('\\'));
}

bool MakeFolders(const std::string& path)
{
    size_t at = path.find('\\', 3);
    for (; at != std::string::npos; at = path.find('\\', at + 1))
        CreateDirectoryA(path.substr(0, at).c_str(), nullptr);
    return CreateDirectoryA(path.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}

// Wide: a name the code page cannot carry (instance names can hold such) would stay behind otherwise.
bool DeleteTree(const std::wstring& path)
{
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &found);
    for (BOOL more = find != INVALID_HANDLE_VALUE; more; more = FindNextFileW(find, &found)) {
        std::wstring name = found.cFileName, full = path + L"\\" + name;
        if (name == L"." || name == L"..")
            continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            DeleteTree(full);
        else
            DeleteFileW(full.c_str());
    }
    if (find != INVALID_HANDLE_VALUE)
        FindClose(find);
    return RemoveDirectoryW(path.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND;
}

// The account of this process's token, as the running system names it.
void OwnAccount(std::string& user, std::string& domain)
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return;
    BYTE buffer[512];
    DWORD size = 0;
    if (GetTokenInformation(token, TokenUser, buffer, sizeof(buffer), &size)) {
        char name[256], domainName[256];
        DWORD nameSize = sizeof(name), domainSize = sizeof(domainName);
        SID_NAME_USE use;
        if (LookupAccountSidA(nullptr, reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, name, &nameSize, domainName,
                              &domainSize, &use)) {
            user = name;
            domain = domainName;
        }
    }
    CloseHandle(token);
}

// Runs a command line with no input or output of ours and waits for it.
int RunQuiet(const std::string& commandLine, const std::string& folder)
{
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    std::string line = commandLine;
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &startup, &process))
        return -1;
    DWORD code = static_cast<DWORD>(-1);
    if (WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0)
        GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<int>(code);
}

// An owner for service manager handles.
struct ServiceHandle {
    SC_HANDLE handle;
    explicit ServiceHandle(SC_HANDLE h) : handle(h) {}
    ~ServiceHandle()
    {
        if (handle)
            CloseServiceHandle(handle);
    }
    ServiceHandle(const ServiceHandle&) = delete;
    ServiceHandle& operator=(const ServiceHandle&) = delete;
};

bool WaitForState(SC_HANDLE service, DWORD state)
{
    SERVICE_STATUS status{};
    for (int i = 0; i < 200; ++i, Sleep(50))
        if (QueryServiceStatus(service, &status) && status.dwCurrentState == state)
            return true;
    return false;
}

void StopAndDelete(const std::string& name, bool remove)
{
    ServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    ServiceHandle service(manager.handle ? OpenServiceA(manager.handle, name.c_str(), SERVICE_ALL_ACCESS) : nullptr);
    if (!service.handle)
        return;
    SERVICE_STATUS status{};
    if (ControlService(service.handle, SERVICE_CONTROL_STOP, &status))
        WaitForState(service.handle, SERVICE_STOPPED);
    if (remove)
        DeleteService(service.handle);
}

std::string Field(const std::vector<std::string>& fields, const char* key)
{
    std::string prefix = std::string(key) + "=";
    for (const std::string& field : fields)
        if (field.compare(0, prefix.size(), prefix) == 0)
            return field.substr(prefix.size());
    return std::string();
}

std::string FromHex(const std::string& hex)
{
    std::string bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes += static_cast<char>(strtoul(hex.substr(i, 2).c_str(), nullptr, 16));
    return bytes;
}

std::vector<std::string> Lines(const std::string& path)
{
    std::vector<std::string> lines;
    std::ifstream in(path, std::ios::binary);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

} // namespace

SapFixture::SapFixture(SapInstanceType type, const std::string& system, const std::string& instanceNumber)
    : sid(Upper(system)), number(instanceNumber), m_Binaries(ProgramFolder())
{
    OwnAccount(user, domain);
    if (Build(type))
        printf("SAP fixture %s %s (%s) in %s; the running system's account: %s\\%s\n", sid.c_str(), instName.c_str(),
               instType.c_str(), root.c_str(), domain.c_str(), user.c_str());
    fflush(stdout);
}

SapFixture::~SapFixture()
{
    Remove();
}

bool SapFixture::Build(SapInstanceType type)
{
    const TypeRow* row = nullptr;
    for (const TypeRow& r : Types())
        if (r.type == type)
            row = &r;
    instType = row->instType;
    instName = std::string(row->instPrefix) + number;
    procMon = row->procMon;
    host = "sap" + sid;
    CharLowerBuffA(&host[0], static_cast<DWORD>(host.size()));
    serviceName = "SAP" + sid + "_" + number;

    static int count = 0;
    char temp[MAX_PATH];
    GetTempPathA(sizeof(temp), temp);
    root = std::string(temp) + "sapfx-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++count);
    std::string upperRoot = Upper(root);
    if (sid.size() != 3 || number.size() != 2 || upperRoot.find(sid) != std::string::npos
        || upperRoot.find(instName) != std::string::npos || upperRoot.find("SYS") != std::string::npos) {
        m_Error = "the root " + root + " or the SID " + sid + " / number " + number + " does not fit";
        root.clear();
        return false;
    }
    SapForEachProcess([&](DWORD pid, const std::wstring&, const std::wstring& path) {
        if (Upper(Narrow(path)).find(sid) != std::string::npos && m_Error.empty())
            m_Error = "process " + std::to_string(pid) + " (" + Narrow(path) + ") outside the fixture matches " + sid;
    });
    if (!m_Error.empty()) {
        root.clear();
        return false;
    }

    std::string sidDir = root + "\\usr\\sap\\" + sid;
    sapHome = sidDir + "\\SYS\\exe\\run";
    instanceDir = sidDir + "\\" + instName;
    profile = sidDir + "\\SYS\\profile\\" + sid + "_" + instName + "_" + host;
    logFile = instanceDir + "\\log\\" + sid + "_" + instName + "_logfile.log";
    monitorProgram = root + "\\monitor\\sapmonitor.exe";
    std::vector<std::pair<std::string, std::string>> copies;
    for (const char* tool : {"startsap", "stopsap", "sapsrvkill", "sapinfo", "ensmon", "jcmon"})
        copies.push_back({"sapstandin.exe", sapHome + "\\" + tool + ".exe"});
    for (const std::string& image : row->images)
        copies.push_back({"sapstandin.exe", instanceDir + "\\exe\\" + image});
    copies.push_back({"sapstandin.exe", monitorProgram});
    m_ServiceProgram = root + "\\service\\testservice.exe";
    copies.push_back({"testservice.exe", m_ServiceProgram});
    for (const std::string& folder :
         {sapHome, instanceDir + "\\exe", instanceDir + "\\log", instanceDir + "\\j2ee\\os_libs",
          sidDir + "\\SYS\\profile", root + "\\monitor", root + "\\service"})
        if (!MakeFolders(folder)) {
            m_Error = "cannot make " + folder;
            return false;
        }
    for (const auto& [from, to] : copies)
        if (!CopyFileA((m_Binaries + "\\" + from).c_str(), to.c_str(), FALSE)) {
            m_Error = "cannot copy " + from + " to " + to + " (" + std::to_string(GetLastError()) + ")";
            return false;
        }
    std::ofstream(profile, std::ios::binary)
        << "SAPSYSTEMNAME = " << sid << "\r\nSAPSYSTEM = " << number << "\r\nINSTANCE_NAME = " << instName << "\r\n";
    Plan(std::string("startsap start=") + row->start + "\njcontrol spawn=jlaunch.exe*2\n");
    return InstallService();
}

bool SapFixture::InstallService()
{
    StopAndDelete(serviceName, true);
    ServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    std::string binary = ServiceBinary("");
    ServiceHandle service(manager.handle ? CreateServiceA(manager.handle, serviceName.c_str(), serviceName.c_str(),
                                                          SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                                          SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, binary.c_str(),
                                                          nullptr, nullptr, nullptr, nullptr, nullptr)
                                         : nullptr);
    if (!service.handle) {
        m_Error = "cannot install the service " + serviceName + " (" + std::to_string(GetLastError()) + ")";
        return false;
    }
    m_ServiceInstalled = true;
    return true;
}

std::string SapFixture::ServiceBinary(const std::string& options) const
{
    return "\"" + m_ServiceProgram + "\" \"--stop-instance=" + instanceDir + "\" " + options;
}

bool SapFixture::ServiceInInstance()
{
    std::string program = instanceDir + "\\exe\\testservice.exe";
    if (!CopyFileA((m_Binaries + "\\testservice.exe").c_str(), program.c_str(), FALSE))
        return false;
    m_ServiceProgram = program;
    return SetServiceOptions(m_ServiceOptions);
}

bool SapFixture::SetServiceOptions(const std::string& options)
{
    m_ServiceOptions = options;
    ServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    ServiceHandle service(manager.handle ? OpenServiceA(manager.handle, serviceName.c_str(), SERVICE_ALL_ACCESS)
                                         : nullptr);
    return service.handle
        && ChangeServiceConfigA(service.handle, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE,
                                ServiceBinary(options).c_str(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
}

void SapFixture::Plan(const std::string& lines)
{
    std::ofstream(root + "\\" + Narrow(SapPlanFileName), std::ios::binary | std::ios::app) << lines << "\n";
}

bool SapFixture::StartService()
{
    ServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    ServiceHandle service(manager.handle ? OpenServiceA(manager.handle, serviceName.c_str(), SERVICE_ALL_ACCESS)
                                         : nullptr);
    return service.handle && StartServiceA(service.handle, 0, nullptr) && WaitForState(service.handle, SERVICE_RUNNING);
}

bool SapFixture::StopService()
{
    ServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    ServiceHandle service(manager.handle ? OpenServiceA(manager.handle, serviceName.c_str(), SERVICE_ALL_ACCESS)
                                         : nullptr);
    SERVICE_STATUS status{};
    return service.handle && ControlService(service.handle, SERVICE_CONTROL_STOP, &status)
        && WaitForState(service.handle, SERVICE_STOPPED);
}

int SapFixture::StartInstance()
{
    return RunQuiet(sapHome + "\\startsap.exe name=" + sid + " nr=" + number + " sapdiahost=" + host, sapHome);
}

std::vector<SapProcess> SapFixture::Processes() const
{
    return root.empty() ? std::vector<SapProcess>() : SapProcessesBelow(std::wstring(root.begin(), root.end()));
}

std::vector<SapRun> SapFixture::Runs(const std::string& role) const
{
    std::vector<SapRun> runs;
    for (const std::string& line : Lines(root + "\\" + Narrow(SapJournalFileName))) {
        std::vector<std::string> fields;
        std::istringstream in(line);
        for (std::string field; std::getline(in, field, '\t');)
            fields.push_back(field);
        if (fields.size() < 3 || (!role.empty() && fields[1] != role))
            continue;
        DWORD pid = strtoul(Field(fields, "pid").c_str(), nullptr, 10);
        if (fields[0] == "start") {
            SapRun run;
            run.role = fields[1];
            run.pid = pid;
            run.parent = strtoul(Field(fields, "parent").c_str(), nullptr, 10);
            run.run = strtoul(Field(fields, "run").c_str(), nullptr, 10);
            run.user = Field(fields, "user");
            run.cwd = Field(fields, "cwd");
            run.time = Field(fields, "time");
            run.commandLine = Field(fields, "cmd");
            runs.push_back(run);
        }
        for (auto it = runs.rbegin(); fields[0] == "end" && it != runs.rend(); ++it)
            if (it->pid == pid && !it->ended) {
                it->ended = true;
                it->stdinBytes = FromHex(Field(fields, "stdin"));
                it->exitCode = atoi(Field(fields, "exit").c_str());
                break;
            }
    }
    return runs;
}

std::vector<std::string> SapFixture::SapLog() const
{
    return Lines(logFile);
}

void SapFixture::Remove()
{
    if (m_ServiceInstalled)
        StopAndDelete(serviceName, false);
    for (int round = 0; round < 50; ++round, Sleep(100)) {
        std::vector<SapProcess> left = Processes();
        if (left.empty())
            break;
        for (const SapProcess& p : left)
            SapEndProcess(p);
    }
    if (m_ServiceInstalled)
        StopAndDelete(serviceName, true);
    for (int round = 0; !root.empty() && round < 50 && !DeleteTree(std::wstring(root.begin(), root.end())); ++round)
        Sleep(100);
}

std::string SapEncipherPassword(const std::string& clear)
{
    // A base of '0' and pairs of '0'..'?': no letters, so the decipherer's case pass changes nothing.
    std::string text = "0";
    for (unsigned char c : clear)
        text += std::string(1, static_cast<char>('0' + (c >> 3))) + static_cast<char>('0' + (c & 7));
    return text;
}

std::map<std::string, std::string> SapFixture::Attributes() const
{
    std::string names;
    for (const std::string& image : procMon)
        names += (names.empty() ? "" : ",") + image;
    bool replication = instType.find("REP") != std::string::npos;
    return {{"SAPSID", sid},
            {"SecondLevelMonitor", "1"},
            {"EPProgramTimeout", "30"},
            {"SAPHome", sapHome},
            {"SAPMonHome", sapHome},
            {"SAPHost", host},
            {"ProcMon", names},
            {"SAPServiceUser", user},
            {"SAPAdminDomain", domain},
            {"SAPAdmin", user},
            {"SAPAdminPassword", SapEncipherPassword(password)},
            {"ResLogLevel", "TRACE"},
            {"InstType", instType},
            {"InstName", instName},
            {"InstProfile", profile},
            {"EnqSrvResName", replication ? sid + "_ENQ" : ""},
            {"MonitorProgram", ""}};
}

std::string SapFixture::Description(const std::string& resource,
                                    const std::map<std::string, std::string>& attributes) const
{
    std::string group = resource + "_GRP";
    std::string text = "include " + m_Binaries + "\\Tollan.desc\nsystem NODE1\ngroup " + group
        + "\n    state NODE1 1\nresource " + resource + "\n    Type = Tollan\n    Group = " + group + "\n";
    for (const auto& [name, value] : attributes) {
        if (name != "ProcMon") {
            text += "    " + name + " = " + value + "\n";
            continue;
        }
        std::istringstream names(value);
        for (std::string image; std::getline(names, image, ',');)
            text += "    ProcMon += " + image + "\n";
    }
    auto enqueue = attributes.find("EnqSrvResName");
    if (enqueue != attributes.end() && !enqueue->second.empty() && enqueue->second != resource)
        text += "resource " + enqueue->second + "\n    Type = Tollan\n    Group = " + group + "\n";
    return text;
}
