#pragma once
// Holds a chain folder for one backup job while it writes: an exclusive
// flock on <folder>/chain.lock (or, for a replication cycle, which writes
// only its replica file there, on <folder>/replica.lock). The kernel releases it when the process
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
    // file is the lock file in the folder, job what the holder is called in
    // the refusal ("backup"; a replication cycle holds "replica.lock").
    bool TryLock(const std::string& folder, std::string& why, const std::string& file = "chain.lock",
                 const std::string& job = "backup");

private:
    int m_fd = -1;
};
