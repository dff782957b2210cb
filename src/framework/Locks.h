#pragma once
// Locks of the framework: an in-process critical section, a reader-writer
// lock, and a named mutex that also excludes other processes (an advisory
// file lock under the agent's base folder).
#include <mutex>
#include <shared_mutex>
#include <string>

#include "framework/FrameworkApi.h"

class FW_API CriticalSection {
public:
    void Enter() { m_mutex.lock(); }
    void Leave() { m_mutex.unlock(); }
    void lock() { Enter(); }
    void unlock() { Leave(); }

private:
    std::recursive_mutex m_mutex;
};

class FW_API ReadWriteLock {
public:
    void LockRead() { m_mutex.lock_shared(); }
    void UnlockRead() { m_mutex.unlock_shared(); }
    void LockWrite() { m_mutex.lock(); }
    void UnlockWrite() { m_mutex.unlock(); }
    void lock_shared() { LockRead(); }
    void unlock_shared() { UnlockRead(); }
    void lock() { LockWrite(); }
    void unlock() { UnlockWrite(); }

private:
    std::shared_mutex m_mutex;
};

// Holds the lock from Lock() until Unlock() or destruction. Threads of one
// process are excluded as well as other processes.
class FW_API NamedMutex {
public:
    explicit NamedMutex(const std::string& name);
    ~NamedMutex();
    NamedMutex(const NamedMutex&) = delete;
    NamedMutex& operator=(const NamedMutex&) = delete;

    bool Lock();
    bool TryLock();
    void Unlock();

private:
    std::string m_path;
    int m_fd = -1;
    bool m_threadLocked = false;
};
