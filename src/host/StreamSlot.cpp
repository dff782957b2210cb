#include "host/StreamSlot.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "framework/FileUtils.h"
#include "framework/KDPI.h"

namespace {
int OpenSlot(const std::string& folder, int index, std::string& why) {
    const std::string path = FwFile::JoinPath(folder, "slot-" + std::to_string(index));
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) why = "cannot open the stream slot " + path + ": " + std::strerror(errno);
    return fd;
}
}  // namespace

bool StreamSlot::TryAcquire(const std::string& folder, int limit, std::string& why) {
    Release();
    why.clear();
    if (!FwFile::MakeDirs(folder)) {
        why = "cannot make the stream folder " + folder;
        return false;
    }
    for (int i = 0; i < std::max(1, limit); ++i) {
        const int fd = OpenSlot(folder, i, why);
        if (fd < 0) return false;
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            m_fd = fd;
            m_index = i;
            return true;
        }
        const int error = errno;
        ::close(fd);
        if (error != EWOULDBLOCK) {
            why = "cannot lock stream slot " + std::to_string(i) + " in " + folder + ": " + std::strerror(error);
            return false;
        }
    }
    return false;
}

bool StreamSlot::Acquire(const std::string& folder, int limit, const std::function<void()>& waiting,
                         const std::function<bool()>& stopped, std::string& why) {
    if (TryAcquire(folder, limit, why)) return true;
    if (!why.empty()) return false;
    if (waiting) waiting();
    // Waiters spread over the slots; each waits for the one it picked.
    const int index = static_cast<int>(::getpid() % std::max(1, limit));
    const int fd = OpenSlot(folder, index, why);
    if (fd < 0) return false;
    int result;
    while ((result = ::flock(fd, LOCK_EX)) != 0 && errno == EINTR) {
        if (stopped && stopped()) {
            why = "stopped while waiting for a free stream";
            ::close(fd);
            return false;
        }
    }
    if (result != 0) {
        why = "cannot lock stream slot " + std::to_string(index) + " in " + folder + ": " + std::strerror(errno);
        ::close(fd);
        return false;
    }
    m_fd = fd;
    m_index = index;
    return true;
}

void StreamSlot::Release() {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
    m_index = -1;
}

bool TakeStream(StreamSlot& slot, int limit, const std::string& what, const std::function<bool()>& stopped,
                std::string& why) {
    const std::string folder = FwFile::JoinPath(KDPI_Base::getBaseDir(), "Locks/streams");
    return slot.Acquire(
        folder, limit,
        [&] {
            std::fprintf(stderr, "%s: waiting for a free stream (the proxy serves %d at once)\n", what.c_str(),
                         std::max(1, limit));
        },
        stopped, why);
}
