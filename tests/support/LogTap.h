#pragma once
// Collects the log while it lives, so that a test can look for a message.
// Reader threads log too: every member may be called from any thread. A
// test that installs a tap of its own replaces this one for the rest of it.
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "framework/EvDebug.h"

class LogTap {
public:
    LogTap() {
        EvDebug::SetTap([this](int, const std::string&, const std::string& message) {
            std::function<void(const std::string&)> hook;
            {
                std::lock_guard<std::mutex> guard(m_lock);
                m_lines.push_back(message);
                hook = m_hook;
            }
            // Outside the lock: what the hook does may log again.
            if (hook) hook(message);
        });
    }
    ~LogTap() { EvDebug::SetTap(nullptr); }
    LogTap(const LogTap&) = delete;
    LogTap& operator=(const LogTap&) = delete;

    // Whether a line is exactly text.
    bool Has(const std::string& text) const { return Count(text) > 0; }
    // How many lines are exactly text.
    int Count(const std::string& text) const {
        std::lock_guard<std::mutex> guard(m_lock);
        int n = 0;
        for (const auto& line : m_lines) n += line == text;
        return n;
    }
    // How many lines contain text.
    int Containing(const std::string& text) const {
        std::lock_guard<std::mutex> guard(m_lock);
        int n = 0;
        for (const auto& line : m_lines) n += line.find(text) != std::string::npos;
        return n;
    }
    // Runs hook on every line logged from now on (after it is kept), so that
    // a test can act at a given point of the code under test.
    void OnLine(std::function<void(const std::string&)> hook) {
        std::lock_guard<std::mutex> guard(m_lock);
        m_hook = std::move(hook);
    }
    void Clear() {
        std::lock_guard<std::mutex> guard(m_lock);
        m_lines.clear();
    }

private:
    mutable std::mutex m_lock;
    std::vector<std::string> m_lines;
    std::function<void(const std::string&)> m_hook;
};
