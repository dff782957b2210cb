#include "framework/ProcessIdentity.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <sstream>

#include "framework/FileUtils.h"
#include "framework/KDPlatformInfo.h"

long long FwProcess::StartTicks(long pid) {
    std::string proc = "/proc";
    KDPlatformInfo().getString("Base", "sProcFolder", proc);
    std::ifstream in(FwFile::JoinPath(proc, std::to_string(pid)) + "/stat");
    std::string stat;
    if (!std::getline(in, stat)) return -1;
    const size_t close = stat.rfind(')');
    if (close == std::string::npos) return -1;
    std::istringstream rest(stat.substr(close + 2));
    std::string field;
    // Fields after the command name start at field 3; the start time is 22.
    for (int i = 3; i <= 22; ++i)
        if (!(rest >> field)) return -1;
    try {
        return std::stoll(field);
    } catch (...) {
        return -1;
    }
}

bool FwProcess::Alive(long pid) { return pid > 0 && (kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM); }

std::string FwProcess::SelfRun() {
    const long pid = static_cast<long>(getpid());
    return std::to_string(pid) + ":" + std::to_string(StartTicks(pid));
}

bool FwProcess::IsRunning(const std::string& run) {
    long pid = 0;
    long long stored = 0;
    try {
        const size_t colon = run.find(':');
        if (colon == std::string::npos) return false;
        pid = std::stol(run.substr(0, colon));
        stored = std::stoll(run.substr(colon + 1));
    } catch (...) {
        return false;
    }
    if (pid == static_cast<long>(getpid())) return true;
    const long long start = stored < 0 ? -1 : StartTicks(pid);
    // Without a start time on either side only the pid can tell.
    if (start < 0) return Alive(pid);
    return start == stored;
}
