#pragma once
// Holds a chain folder for one backup job while it writes: an exclusive
// flock on <folder>/chain.lock. The kernel releases it when the process
// ends, however it ends, so a killed job never keeps the folder held.
#include <string>

class ChainLock {
public:
    ChainLock() = default;
    ~ChainLock();
    ChainLock(const ChainLock&) = delete;
    ChainLock& operator=(const ChainLock&) = delete;

    // Takes the folder without waiting. False with the cause (naming the
    // holder's process when it can be read) when another job holds it or
    // the lock file cannot be opened.
    bool TryLock(const std::string& folder, std::string& why);

private:
    int m_fd = -1;
};
