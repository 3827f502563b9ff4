#pragma once

// The lines a hook records, one per call it answered; hooks may be called from any thread.

#include <mutex>
#include <string>
#include <vector>

class HookJournal {
public:
    void Add(std::wstring line)
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_lines.push_back(std::move(line));
    }
    std::vector<std::wstring> Lines() const
    {
        std::lock_guard<std::mutex> hold(m_lock);
        return m_lines;
    }

private:
    mutable std::mutex m_lock;
    std::vector<std::wstring> m_lines;
};
