// moto's server and the proxy's metadata service for the peer tests:
// spawned, waited for, drained and ended.
#include "support/MotoServer.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "framework/FileUtils.h"
#include "support/TestPaths.h"

extern char** environ;

namespace {
// Process start-up only: importing moto takes a second or two.
constexpr int kStartupBoundMs = 20000;
}  // namespace

bool OnPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "";
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos) end = dirs.size();
        std::string candidate = FwFile::JoinPath(dirs.substr(start, end - start), program);
        if (end > start && access(candidate.c_str(), X_OK) == 0) return true;
        start = end + 1;
    }
    return false;
}

std::string RunCommand(const std::string& command, int& status) {
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) {
        status = -1;
        return out;
    }
    char buf[4096];
    while (size_t n = fread(buf, 1, sizeof buf, pipe)) out.append(buf, n);
    status = pclose(pipe);
    return out;
}

MotoServer::MotoServer(const std::string& certFile, const std::string& keyFile, bool defaultImages)
    : PeerProcess({"python3", std::string(TEST_SOURCE_DIR) + "/tests/peer/moto_launcher.py", "-H", "127.0.0.1", "-p",
                   "0", "-c", certFile, "-k", keyFile},
                  "https", {defaultImages ? "MOTO_EC2_LOAD_DEFAULT_AMIS=true" : "MOTO_EC2_LOAD_DEFAULT_AMIS=false"}) {}

ProxyMetadata::ProxyMetadata(const std::string& instanceId, const std::string& zone)
    : PeerProcess({"python3", std::string(TEST_SOURCE_DIR) + "/tests/peer/proxy_metadata.py", instanceId, zone},
                  "http") {}

WebProxy::WebProxy(const std::string& user, const std::string& password, int targetPort)
    : PeerProcess({"python3", std::string(TEST_SOURCE_DIR) + "/tests/peer/connect_proxy.py", user, password,
                   std::to_string(targetPort)},
                  "http") {}

namespace {
std::vector<std::string> FaultProxyArgs(const std::string& certFile, const std::string& keyFile,
                                        const std::string& caFile, int motoPort,
                                        const std::vector<std::string>& options) {
    std::vector<std::string> args{"python3", std::string(TEST_SOURCE_DIR) + "/tests/peer/fault_proxy.py", certFile,
                                  keyFile, caFile, std::to_string(motoPort)};
    args.insert(args.end(), options.begin(), options.end());
    return args;
}
}  // namespace

FaultProxy::FaultProxy(const std::string& certFile, const std::string& keyFile, const std::string& caFile,
                       int motoPort, const std::vector<std::string>& options)
    : PeerProcess(FaultProxyArgs(certFile, keyFile, caFile, motoPort, options), "https") {}

PeerProcess::PeerProcess(std::vector<std::string> args, const std::string& scheme,
                         const std::vector<std::string>& environment) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        m_output = "pipe2 failed";
        return;
    }
    m_fd = fds[0];
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // A process group of its own, so that whatever the launcher execs is
    // ended with it.
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> added = environment;
    std::vector<char*> envp;
    for (auto& e : added) envp.push_back(e.data());
    for (char** e = environ; *e; ++e) envp.push_back(*e);
    envp.push_back(nullptr);
    if (posix_spawnp(&m_pid, argv[0], &actions, &attributes, argv.data(), envp.data()) != 0) {
        m_pid = -1;
        m_output = "cannot start " + args[1];
    }
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (m_pid > 0) WaitUntilListening("Running on " + scheme + "://127.0.0.1:");
    m_drain = std::thread([this] { Drain(); });
}

PeerProcess::~PeerProcess() {
    Kill();
    if (m_drain.joinable()) m_drain.join();
    if (m_fd >= 0) close(m_fd);
}

void PeerProcess::Kill() {
    if (m_pid <= 0) return;
    kill(-m_pid, SIGKILL);
    waitpid(m_pid, nullptr, 0);
    m_pid = -1;
}

std::string PeerProcess::Output() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_output;
}

// The server announces the bound port once the socket listens.
void PeerProcess::WaitUntilListening(const std::string& marker) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStartupBoundMs);
    for (;;) {
        size_t at = m_output.find(marker);
        size_t end = at == std::string::npos ? at : m_output.find('\n', at);
        if (end != std::string::npos) {
            m_port = std::atoi(m_output.c_str() + at + marker.size());
            return;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            m_output += "\n[the server did not listen within the start-up bound]";
            return;
        }
        pollfd p{m_fd, POLLIN, 0};
        int ready = poll(&p, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno != EINTR) return;
        if (ready > 0 && !ReadSome()) return;
    }
}

bool PeerProcess::ReadSome() {
    char buf[4096];
    ssize_t n = read(m_fd, buf, sizeof buf);
    if (n <= 0) return n < 0 && errno == EINTR;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_output.append(buf, static_cast<size_t>(n));
    }
    m_grown.notify_all();
    return true;
}

bool PeerProcess::WaitForOutput(const std::string& text, int boundMs) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_grown.wait_for(lock, std::chrono::milliseconds(boundMs),
                            [&] { return m_output.find(text) != std::string::npos; });
}

// Keeps the request log flowing so that the server never blocks on a full
// pipe; ends when the process group is gone.
void PeerProcess::Drain() {
    if (m_fd < 0) return;
    while (ReadSome()) {
    }
}
