#include "framework/Locks.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <set>

#include "framework/EvDebug.h"
#include "framework/FileUtils.h"
#include "framework/KDPI.h"

namespace {

// Which lock files this process holds. flock between two descriptors of one
// process does exclude, but relying on that hides the intent and breaks if a
// descriptor is ever shared; a condition variable (rather than a per-name
// std::mutex) also lets a lock be released by another thread than the one
// that took it.
struct HeldNames {
    std::mutex mutex;
    std::condition_variable released;
    std::set<std::string> held;
};

HeldNames& Held();

void BeforeFork() { Held().mutex.lock(); }
void AfterForkParent() { Held().mutex.unlock(); }
void AfterForkChild() {
    // The child has only the forking thread; whatever the parent's threads
    // held is not the child's to wait for. The lock files themselves still
    // exclude the child from the parent.
    HeldNames& h = Held();
    h.held.clear();
    h.mutex.unlock();
}

HeldNames& Held() {
    // Never destroyed: a detached thread may still unlock during exit.
    static HeldNames* names = [] {
        auto* n = new HeldNames();
        pthread_atfork(BeforeFork, AfterForkParent, AfterForkChild);
        return n;
    }();
    return *names;
}

std::string SanitisedName(const std::string& name) {
    // Only characters that cannot form a path step survive, so no name
    // reaches outside the Locks folder. Distinct names that map to the same
    // file merely share a lock, which is safe.
    std::string out;
    for (char c : name) {
        bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
        out += keep ? c : '_';
    }
    return out.empty() ? "_" : out;
}

int OpenLockFile(const std::string& path) {
    std::string folder = path.substr(0, path.rfind('/'));
    FwFile::MakeDirs(folder);
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) EvDebug::Error("NamedMutex", "Cannot open lock file [%s], errno %d", path.c_str(), errno);
    return fd;
}

}  // namespace

NamedMutex::NamedMutex(const std::string& name)
    : m_path(FwFile::JoinPath(FwFile::JoinPath(KDPI_Base::getBaseDir(), "Locks"), SanitisedName(name) + ".lock")) {}

NamedMutex::~NamedMutex() { Unlock(); }

bool NamedMutex::Lock() {
    if (m_threadLocked) return true;
    HeldNames& h = Held();
    {
        std::unique_lock<std::mutex> lock(h.mutex);
        h.released.wait(lock, [&] { return h.held.count(m_path) == 0; });
        h.held.insert(m_path);
    }
    m_threadLocked = true;
    m_fd = OpenLockFile(m_path);
    int rc = -1;
    while (m_fd >= 0 && (rc = ::flock(m_fd, LOCK_EX)) != 0 && errno == EINTR) {
    }
    if (rc != 0) {
        if (m_fd >= 0) EvDebug::Error("NamedMutex", "flock of [%s] failed, errno %d", m_path.c_str(), errno);
        Unlock();
        return false;
    }
    return true;
}

bool NamedMutex::TryLock() {
    if (m_threadLocked) return true;
    HeldNames& h = Held();
    {
        std::lock_guard<std::mutex> lock(h.mutex);
        if (h.held.count(m_path)) return false;
        h.held.insert(m_path);
    }
    m_threadLocked = true;
    m_fd = OpenLockFile(m_path);
    if (m_fd < 0 || ::flock(m_fd, LOCK_EX | LOCK_NB) != 0) {
        Unlock();
        return false;
    }
    return true;
}

void NamedMutex::Unlock() {
    if (!m_threadLocked) return;
    // Closing drops the flock. No LOCK_UN: after a fork the descriptor's open
    // file may be shared with the other process, whose lock it would release.
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
    HeldNames& h = Held();
    {
        std::lock_guard<std::mutex> lock(h.mutex);
        h.held.erase(m_path);
    }
    m_threadLocked = false;
    h.released.notify_all();
}
