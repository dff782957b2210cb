#include "framework/FileUtils.h"

#include <fcntl.h>
#include <openssl/rand.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

namespace fs = std::filesystem;

namespace FwFile {

const char kPathDelimiter = '/';

std::string JoinPath(const std::string& a, const std::string& b) {
    if (a.empty()) return b;
    if (b.empty()) return a;
    std::string out = a;
    if (out.back() != kPathDelimiter) out += kPathDelimiter;
    size_t skip = 0;
    while (skip < b.size() && b[skip] == kPathDelimiter) ++skip;
    out.append(b, skip, std::string::npos);
    return out;
}

bool Exists(const std::string& path) {
    std::error_code ec;
    return !path.empty() && fs::exists(path, ec);
}

bool IsDirectory(const std::string& path) {
    std::error_code ec;
    return !path.empty() && fs::is_directory(path, ec);
}

bool MakeDirs(const std::string& path) {
    if (path.empty()) return false;
    std::error_code ec;
    fs::create_directories(path, ec);
    // Another process may have created it between our check and ours.
    return fs::is_directory(path, ec);
}

bool ReadAll(const std::string& path, std::string& out) {
    try {
        std::ifstream in(path, std::ios::binary);
        if (!in) return false;
        std::ostringstream ss;
        ss << in.rdbuf();
        if (in.bad()) return false;
        out = ss.str();
        return true;
    } catch (...) {
        return false;
    }
}

namespace {

bool WriteFully(int fd, const char* data, size_t size) {
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

std::string ParentOf(const std::string& path) {
    std::string parent = fs::path(path).parent_path().string();
    return parent.empty() ? "." : parent;
}

}  // namespace

bool WriteAllAtomic(const std::string& path, const std::string& data) {
    if (path.empty()) return false;
    // pid and thread id keep concurrent writers of the same file (threads or
    // processes) off each other's temporary file; the last rename wins whole.
    std::string tmp = path + ".tmp." + std::to_string(getpid()) + "." + std::to_string(FwThread::CurrentThreadId());
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    bool ok = WriteFully(fd, data.data(), data.size()) && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (!ok || ::rename(tmp.c_str(), path.c_str()) != 0) {
        ::unlink(tmp.c_str());
        return false;
    }
    SyncFolder(ParentOf(path));
    return true;
}

bool SyncFolder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

bool ListDir(const std::string& path, std::vector<std::string>& names) {
    try {
        std::error_code ec;
        fs::directory_iterator it(path, ec);
        if (ec) return false;
        std::vector<std::string> found;
        for (; it != fs::directory_iterator(); it.increment(ec)) {
            if (ec) return false;
            found.push_back(it->path().filename().string());
        }
        if (ec) return false;
        std::sort(found.begin(), found.end());
        names = std::move(found);
        return true;
    } catch (...) {
        return false;
    }
}

bool RemoveTree(const std::string& path) {
    if (path.empty()) return false;
    try {
        std::error_code ec;
        fs::remove_all(path, ec);
        return !ec;
    } catch (...) {
        return false;
    }
}

// True when the file is gone afterwards, so cleanups can run twice.
bool RemoveFile(const std::string& path) {
    if (path.empty()) return false;
    std::error_code ec;
    fs::remove(path, ec);
    return !ec;
}

int64_t FileSize(const std::string& path) {
    std::error_code ec;
    auto size = fs::file_size(path, ec);
    return ec ? -1 : static_cast<int64_t>(size);
}

// stat() rather than fs::last_write_time: the latter's clock has no portable
// conversion to Unix seconds in C++17.
int64_t ModifiedTimeSec(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return -1;
    return static_cast<int64_t>(st.st_mtim.tv_sec);
}

bool SetModifiedTimeSec(const std::string& path, int64_t seconds) {
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = static_cast<time_t>(seconds);
    times[1].tv_nsec = 0;
    return ::utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

}  // namespace FwFile

namespace FwGuid {

std::string New() {
    unsigned char b[16];
    if (RAND_bytes(b, sizeof(b)) != 1) {
        // The OpenSSL generator failing is next to impossible; a GUID from
        // the OS source is still unique enough for naming resources.
        std::random_device rd;
        for (auto& c : b) c = static_cast<unsigned char>(rd());
    }
    b[6] = static_cast<unsigned char>((b[6] & 0x0f) | 0x40);  // version 4
    b[8] = static_cast<unsigned char>((b[8] & 0x3f) | 0x80);  // RFC 4122 variant
    char text[37];
    std::snprintf(text, sizeof(text),
                  "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x",
                  b[0], b[1], b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13], b[14],
                  b[15]);
    return text;
}

}  // namespace FwGuid

namespace FwThread {

uint64_t CurrentThreadId() {
    // Not cached per thread: a forked child's thread has a new id.
    return static_cast<uint64_t>(::syscall(SYS_gettid));
}

}  // namespace FwThread
