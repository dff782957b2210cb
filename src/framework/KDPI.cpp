#include "framework/KDPI.h"

#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstdlib>
#include <mutex>

#include "framework/FileUtils.h"

namespace {

// Identity is read from many threads while the host may still be setting it
// up, so every field sits behind one mutex. Never destroyed: plug-in threads
// may log (and so ask for the base folder) while the process exits.
struct Identity {
    std::mutex mutex;
    std::string baseDir;
    bool baseDirSet = false;
    std::string focus = "Instance001";
    std::string appName = "VirtualServer";
    std::string clientName;
    bool clientNameSet = false;
};

Identity& Id() {
    static Identity* id = new Identity();
    return *id;
}

std::atomic<int64_t> g_processJobId{EvEvent::kNoJob};

std::string HostName() {
    char buf[HOST_NAME_MAX + 1] = {};
    if (gethostname(buf, sizeof(buf) - 1) != 0 || buf[0] == '\0') return "localhost";
    return buf;
}

}  // namespace

std::string KDPI_Base::getBaseDir() {
    Identity& id = Id();
    std::lock_guard<std::mutex> lock(id.mutex);
    if (id.baseDirSet) return id.baseDir;
    const char* env = std::getenv("AGENT_BASE_DIR");
    if (env && *env) return env;
    return "/opt/agent";
}

std::string KDPI_Base::getTempDir() {
    std::string dir = FwFile::JoinPath(getBaseDir(), "Temp");
    FwFile::MakeDirs(dir);
    return dir;
}

void KDPI_Base::setBaseDir(const std::string& dir) {
    Identity& id = Id();
    std::lock_guard<std::mutex> lock(id.mutex);
    // An empty folder would put the agent's files in the working directory;
    // treat it as "not set" instead.
    id.baseDir = dir;
    id.baseDirSet = !dir.empty();
}

std::string KDPI_Focus::getFocus() {
    Identity& id = Id();
    std::lock_guard<std::mutex> lock(id.mutex);
    return id.focus;
}

void KDPI_Focus::setFocus(const std::string& focus) {
    Identity& id = Id();
    std::lock_guard<std::mutex> lock(id.mutex);
    id.focus = focus;
}

std::string KDPI_Focus::getAppName() {
    Identity& id = Id();
    std::lock_guard<std::mutex> lock(id.mutex);
    return id.appName;
}

void KDPI_Focus::setAppName(const std::string& name) {
    Identity& id = Id();
    std::lock_guard<std::mutex> lock(id.mutex);
    id.appName = name;
}

std::string KDPI_Focus::getClientName() {
    Identity& id = Id();
    std::lock_guard<std::mutex> lock(id.mutex);
    if (!id.clientNameSet) {
        id.clientName = HostName();
        id.clientNameSet = true;
    }
    return id.clientName;
}

void KDPI_Focus::setClientName(const std::string& name) {
    Identity& id = Id();
    std::lock_guard<std::mutex> lock(id.mutex);
    id.clientName = name;
    id.clientNameSet = true;
}

EvEvent::EvEvent() : m_jobId(g_processJobId.load()) {}

void EvEvent::setProcessJobId(int64_t id) { g_processJobId.store(id); }

int64_t EvEvent::getProcessJobId() { return g_processJobId.load(); }
