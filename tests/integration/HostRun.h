#pragma once
// Running the built host program and the simulated endpoints' process from
// the integration tests.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <string>
#include "support/TestPaths.h"

// Runs a command line, returning its output (stdout and stderr).
inline std::string RunCommand(const std::string& command, int& exitCode) {
    std::string output;
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (!pipe) return output;
    std::array<char, 4096> buf{};
    size_t n;
    while ((n = fread(buf.data(), 1, buf.size(), pipe)) > 0) output.append(buf.data(), n);
    const int status = pclose(pipe);
    exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return output;
}

inline std::string RunHost(const std::string& args, int& exitCode) {
    return RunCommand(std::string(AMAZON_HOST_PATH) + " " + args, exitCode);
}

inline std::string RunTool(const std::string& args, int& exitCode) {
    return RunCommand(std::string(CLOUDSIM_TOOL_PATH) + " " + args, exitCode);
}

// The demo's jobs: the source account's keys with the admin account beside
// them, and the admin account's (the proxy's) alone.
inline const std::string kDemoJob = std::string(TEST_SOURCE_DIR) + "/demo/job.json";
inline const std::string kDemoBackupJob = std::string(TEST_SOURCE_DIR) + "/demo/backup-job.json";

// A backup of instance into the chain folder out; extra is appended as is.
inline std::string RunBackup(const std::string& base, const std::string& instance, const std::string& mode,
                             const std::string& out, int& exitCode, const std::string& extra = "",
                             const std::string& job = kDemoBackupJob) {
    return RunHost("--base " + base + " backup --job " + job + " --instance " + instance + " --mode " + mode +
                       " --out " + out + extra,
                   exitCode);
}

// The clean-up after the jobs of a test finds no entry of kind ("backup" or
// "restore") orphaned and leaves nothing registered: empty, or what it printed.
inline std::string CleanStoreProblem(const std::string& base, const std::string& kind,
                                     const std::string& job = kDemoBackupJob) {
    int code = -1;
    const std::string out = RunHost("--base " + base + " cleanup --job " + job, code);
    const bool clean = code == 0 && out.find("orphaned " + kind + " entries: 0") != std::string::npos &&
                       out.find("  left") == std::string::npos;
    return clean ? std::string() : out;
}

// The simulated HTTPS endpoints in a process of their own, as a direct-read
// job meets them: started on a base folder whose cloud exists, ready once it
// says so on its output, stopped (and its routing removed) on destruction.
class EndpointProcess {
public:
    explicit EndpointProcess(const std::string& base) {
        int fds[2];
        if (::pipe(fds) != 0) return;
        m_pid = ::fork();
        if (m_pid == 0) {
            ::dup2(fds[1], STDOUT_FILENO);
            ::close(fds[0]);
            ::execl(CLOUDSIM_TOOL_PATH, CLOUDSIM_TOOL_PATH, "serve", "--base", base.c_str(), nullptr);
            ::_exit(127);
        }
        ::close(fds[1]);
        m_out = ::fdopen(fds[0], "r");
        char line[512];
        if (m_out && std::fgets(line, sizeof line, m_out)) m_banner = line;
    }
    ~EndpointProcess() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
            ::waitpid(m_pid, nullptr, 0);
        }
        if (m_out) std::fclose(m_out);
    }
    bool Ready() const { return m_banner.rfind("serving", 0) == 0; }
    // What the server printed when it stopped.
    std::string Stop() {
        std::string rest;
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
            char line[512];
            while (m_out && std::fgets(line, sizeof line, m_out)) rest += line;
            ::waitpid(m_pid, nullptr, 0);
            m_pid = -1;
        }
        return rest;
    }

private:
    pid_t m_pid = -1;
    FILE* m_out = nullptr;
    std::string m_banner;
};

