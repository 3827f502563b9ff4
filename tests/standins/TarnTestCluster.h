#pragma once
// A cluster description and a journal file private to one test, named in the environment where
// the cluster stand-ins (and child processes) look for them.

#include <windows.h>

#include <fstream>
#include <string>
#include <vector>

class TarnTestCluster {
public:
    explicit TarnTestCluster(const std::string& description)
    {
        static int count = 0;
        char folder[MAX_PATH];
        GetTempPathA(sizeof(folder), folder);
        std::string base = std::string(folder) + "tarn-" + std::to_string(GetCurrentProcessId()) + "-"
            + std::to_string(++count);
        descPath = base + ".desc";
        journalPath = base + ".journal";
        std::ofstream(descPath, std::ios::binary) << description;
        DeleteFileA(journalPath.c_str());
        SetEnvironmentVariableA("TARN_CLUSTER_DESC", descPath.c_str());
        SetEnvironmentVariableA("TARN_JOURNAL", journalPath.c_str());
    }
    ~TarnTestCluster()
    {
        SetEnvironmentVariableA("TARN_CLUSTER_DESC", nullptr);
        SetEnvironmentVariableA("TARN_JOURNAL", nullptr);
        DeleteFileA(descPath.c_str());
        DeleteFileA(journalPath.c_str());
    }
    TarnTestCluster(const TarnTestCluster&) = delete;
    TarnTestCluster& operator=(const TarnTestCluster&) = delete;

    std::vector<std::string> Journal() const
    {
        std::vector<std::string> lines;
        std::ifstream in(journalPath, std::ios::binary);
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }
    bool JournalHas(const std::string& line) const
    {
        for (const std::string& l : Journal())
            if (l == line)
                return true;
        return false;
    }

    std::string descPath;
    std::string journalPath;
};
