#include "host/ChainLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "framework/FileUtils.h"

ChainLock::~ChainLock() {
    if (m_fd >= 0) ::close(m_fd);
}

bool ChainLock::TryLock(const std::string& folder, std::string& why, const std::string& file,
                        const std::string& job) {
    const std::string path = FwFile::JoinPath(folder, file);
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        why = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        char pid[32] = {};
        const ssize_t n = ::pread(fd, pid, sizeof pid - 1, 0);
        ::close(fd);
        if (error != EWOULDBLOCK) {
            why = "cannot lock " + path + ": " + std::strerror(error);
            return false;
        }
        std::string holder = n > 0 ? std::string(pid, static_cast<size_t>(n)) : std::string();
        while (!holder.empty() && (holder.back() == '\n' || holder.back() == ' ')) holder.pop_back();
        why = "the chain folder " + folder + " is in use by another " + job +
              (holder.empty() ? std::string() : " (process " + holder + ")") +
              "; run this one when that " + job + " has ended";
        return false;
    }
    // Who holds it, for the refusal text of the next one.
    const std::string self = std::to_string(::getpid()) + "\n";
    if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, self.data(), self.size(), 0) != static_cast<ssize_t>(self.size())) {
        // The lock holds all the same; only the holder's name is missing.
    }
    m_fd = fd;
    return true;
}
