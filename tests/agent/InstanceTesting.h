#pragma once
// What the instance-operation tests share: a fixture instance's attributes parsed as an entry point would,
// processes of the instance started from the system folder, and the framework messages a call left.

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "AttribTesting.h"
#include "LedgerHook.h"
#include "SapFixture.h"
#include "Tollan.h"

inline std::wstring Wide(const std::string& text)
{
    return std::wstring(text.begin(), text.end());
}

inline HMODULE Self()
{
    return GetModuleHandleW(nullptr);
}

// The fixture's attributes, with changes by name, in the order the resource type declares them.
inline QLibStatus ParseInstance(CTollanAttrib& attrib, const SapFixture& sap, uint32_t kind,
                                const std::map<std::string, std::string>& changes = {})
{
    std::map<std::string, std::string> values = sap.Attributes();
    for (const auto& [name, value] : changes)
        values[name] = value;
    std::vector<std::string> list;
    for (const char* name : {"SAPSID", "SecondLevelMonitor", "EPProgramTimeout", "SAPHome", "SAPMonHome", "SAPHost"})
        list.push_back(values[name]);
    std::vector<std::string> procMon;
    std::string names = values["ProcMon"];
    for (size_t at = 0; !names.empty() && at != std::string::npos;) {
        size_t comma = names.find(',', at);
        procMon.push_back(names.substr(at, comma == std::string::npos ? std::string::npos : comma - at));
        at = comma == std::string::npos ? comma : comma + 1;
    }
    list.push_back(std::to_string(procMon.size()));
    list.insert(list.end(), procMon.begin(), procMon.end());
    for (const char* name : {"SAPServiceUser", "SAPAdminDomain", "SAPAdmin", "SAPAdminPassword", "ResLogLevel",
                             "InstType", "InstName", "InstProfile", "EnqSrvResName", "MonitorProgram"})
        list.push_back(values[name]);
    return ParseValues(attrib, kind, list);
}

// A long-running stand-in process named image, started from the instance's SYS folder (as a central or
// enqueue instance's programs may run); the fixture ends it.
inline bool StartInSys(const SapFixture& sap, const std::string& image)
{
    char self[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string folder = std::string(self, length).substr(0, std::string(self, length).find_last_of('\\'));
    std::string path = sap.sapHome + "\\" + image;
    if (!CopyFileA((folder + "\\testchild.exe").c_str(), path.c_str(), FALSE))
        return false;
    std::string command = "\"" + path + "\" --sleep 600000";
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
        return false;
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return true;
}

// The pid of the live process of the instance with that image (0 when none).
inline DWORD PidOf(const SapFixture& sap, const std::wstring& image)
{
    for (const SapProcess& process : sap.Processes())
        if (_wcsicmp(process.image.c_str(), image.c_str()) == 0)
            return process.pid;
    return 0;
}

// The images of the instance's live processes, sorted, as one text ("a.exe b.exe").
inline std::string LiveImages(const SapFixture& sap)
{
    std::vector<std::string> images;
    for (const SapProcess& process : sap.Processes())
        images.push_back(std::string(process.image.begin(), process.image.end()));
    std::sort(images.begin(), images.end());
    std::string text;
    for (const std::string& image : images)
        text += (text.empty() ? "" : " ") + image;
    return text;
}

class InstanceTest : public AttribTest {};
