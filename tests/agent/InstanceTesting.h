#pragma once
// What the tests of the process-level operations add: processes of an instance started from its system
// folder, and the images left running.

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "OperationTesting.h"
#include "Tollan.h"

// The framework messages of the call, as their ids joined by blanks.
inline std::string MessageIdText()
{
    std::string text;
    for (uint32_t id : MessageIds())
        text += (text.empty() ? "" : " ") + std::to_string(id);
    return text;
}

// One attribute's change, from "NAME=VALUE"; none from null.
inline std::map<std::string, std::string> Change(const char* nameValue)
{
    if (nameValue == nullptr)
        return {};
    std::string text = nameValue;
    size_t equals = text.find('=');
    return {{text.substr(0, equals), text.substr(equals + 1)}};
}

// A long-running stand-in process at path (its folders made); the fixture ends it when it lies below its root.
inline bool StartAt(const std::string& path)
{
    char self[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string folder = std::string(self, length).substr(0, std::string(self, length).find_last_of('\\'));
    for (size_t at = path.find('\\', 3); at != std::string::npos; at = path.find('\\', at + 1))
        CreateDirectoryA(path.substr(0, at).c_str(), nullptr);
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

// A long-running stand-in process named image, started from the instance's SYS folder (as a central or
// enqueue instance's programs may run).
inline bool StartInSys(const SapFixture& sap, const std::string& image)
{
    return StartAt(sap.sapHome + "\\" + image);
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
