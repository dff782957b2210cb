#include "cloudsim/Cloud.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "cloudsim/DeviceSync.h"
#include "cloudsim/SeedData.h"
#include "framework/Clock.h"
#include "framework/EvDebug.h"
#include "framework/FileUtils.h"
#include "framework/KDPI.h"
#include "framework/KDPlatformInfo.h"

namespace cloudsim {

namespace {

const char kTag[] = "CloudSim";
const char kStateFile[] = "state.json";
const char kLockFile[] = "state.lock";
const char kBlocksFolder[] = "blocks";
const char kMapsFolder[] = "maps";
// The generation marker is written at a fixed width so that a longer number
// never leaves digits of a shorter one behind.
constexpr size_t kMarkerWidth = 20;

std::string SysError(const std::string& what, const std::string& path) {
    return what + " " + path + ": " + std::strerror(errno);
}

std::string StatePath(const std::string& folder) { return FwFile::JoinPath(folder, kStateFile); }

// A writer killed mid-commit leaves its temporary state file behind. Only
// called under the exclusive lock, when no writer can be using one.
void RemoveLeftoverTempFiles(const std::string& folder) {
    std::vector<std::string> names;
    if (!FwFile::ListDir(folder, names)) return;
    const std::string prefix = std::string(kStateFile) + ".tmp";
    for (const auto& name : names)
        if (name.compare(0, prefix.size(), prefix) == 0) FwFile::RemoveFile(FwFile::JoinPath(folder, name));
}

}  // namespace

// One transaction: the in-process mutex, then the folder's file lock (shared
// for readers, exclusive for writers), then a reload when another Cloud
// object or process committed since this one last looked. Members unwind in
// reverse order when the constructor body throws.
class Cloud::Transaction {
public:
    // The folder's file lock alone; also taken while a folder is seeded.
    struct FileLock {
        FileLock(Cloud& cloud, bool exclusive) {
            if (cloud.m_folder.empty()) return;
            // flock belongs to the open file description, which a forked
            // child shares with its parent: each process needs its own.
            if (cloud.m_lockFd >= 0 && cloud.m_lockPid != getpid()) {
                close(cloud.m_lockFd);
                cloud.m_lockFd = -1;
            }
            if (cloud.m_lockFd < 0) {
                std::string path = FwFile::JoinPath(cloud.m_folder, kLockFile);
                cloud.m_lockFd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
                if (cloud.m_lockFd < 0) throw std::runtime_error(SysError("cannot open", path));
                cloud.m_lockPid = getpid();
            }
            while (flock(cloud.m_lockFd, exclusive ? LOCK_EX : LOCK_SH) != 0) {
                if (errno != EINTR) throw std::runtime_error(SysError("cannot lock", cloud.m_folder));
            }
            fd = cloud.m_lockFd;
        }
        ~FileLock() {
            if (fd >= 0) flock(fd, LOCK_UN);
        }
        FileLock(const FileLock&) = delete;
        FileLock& operator=(const FileLock&) = delete;
        int fd = -1;
    };

    Transaction(Cloud& cloud, bool exclusive) : m_guard(cloud.m_mutex), m_depth(cloud), m_file(cloud, exclusive) {
        if (!cloud.m_folder.empty() && cloud.ReadDiskGenerationLocked() != cloud.m_loadedGeneration)
            cloud.LoadLocked();
    }

private:
    // A nested transaction would work on a state the outer one is about to
    // replace; refusing it turns a lost update into a visible error.
    struct Depth {
        explicit Depth(Cloud& c) : cloud(c) {
            if (cloud.m_depth > 0) throw std::logic_error("cloud transactions do not nest");
            ++cloud.m_depth;
        }
        ~Depth() { --cloud.m_depth; }
        Depth(const Depth&) = delete;
        Depth& operator=(const Depth&) = delete;
        Cloud& cloud;
    };

    std::lock_guard<std::recursive_mutex> m_guard;
    Depth m_depth;
    FileLock m_file;
};

std::shared_ptr<Cloud> Cloud::InMemory(const std::string& seedJson) {
    std::shared_ptr<Cloud> cloud(new Cloud());
    cloud->m_store = std::make_unique<BlockStore>();
    cloud->m_state = ParseState(seedJson);
    MaterializeSeedData(cloud->m_state, *cloud->m_store);
    cloud->m_loadedGeneration = cloud->m_state.generation;
    return cloud;
}

std::shared_ptr<Cloud> Cloud::OpenFolder(const std::string& folder, const std::string& seedFile) {
    if (folder.empty()) throw std::runtime_error("no cloud state folder given");
    if (!FwFile::MakeDirs(folder)) throw std::runtime_error(SysError("cannot create", folder));
    std::shared_ptr<Cloud> cloud(new Cloud());
    cloud->m_folder = folder;
    cloud->m_store = std::make_unique<BlockStore>(FwFile::JoinPath(folder, kBlocksFolder));
    cloud->m_maps = std::make_unique<MapFiles>(FwFile::JoinPath(folder, kMapsFolder));
    {
        std::lock_guard<std::recursive_mutex> guard(cloud->m_mutex);
        Transaction::FileLock lock(*cloud, true);
        RemoveLeftoverTempFiles(folder);
        cloud->m_store->SweepTemporaries();
        if (FwFile::Exists(StatePath(folder))) {
            cloud->LoadLocked();
            // Map files a killed writer left, named by no committed state.
            cloud->m_maps->Collect();
        } else {
            std::string text;
            if (seedFile.empty()) throw std::runtime_error("no state in " + folder + " and no seed file configured");
            if (!FwFile::ReadAll(seedFile, text))
                throw std::runtime_error("no state in " + folder + " and cannot read seed file " + seedFile);
            cloud->m_state = ParseState(text);
            // Blocks first: the state must never name one that is not stored.
            MaterializeSeedData(cloud->m_state, *cloud->m_store);
            // A folder whose state file was removed still has its marker;
            // staying above it keeps other processes' change detection sound.
            int64_t marker = cloud->ReadDiskGenerationLocked();
            if (marker >= cloud->m_state.generation) cloud->m_state.generation = marker + 1;
            cloud->SaveLocked();
            EvDebug::Debug(kTag, "seeded %s from %s", folder.c_str(), seedFile.c_str());
        }
    }
    return cloud;
}

Cloud::~Cloud() {
    if (m_lockFd >= 0 && m_lockPid == getpid()) close(m_lockFd);
}

int64_t Cloud::ReadDiskGenerationLocked() const {
    char buf[kMarkerWidth + 1] = {};
    ssize_t n = pread(m_lockFd, buf, kMarkerWidth, 0);
    if (n <= 0) return -1;
    char* end = nullptr;
    long long value = std::strtoll(buf, &end, 10);
    if (end == buf) return -1;
    return value;
}

void Cloud::WriteDiskGenerationLocked(int64_t generation) {
    char buf[kMarkerWidth + 1];
    std::snprintf(buf, sizeof buf, "%0*lld", static_cast<int>(kMarkerWidth), static_cast<long long>(generation));
    if (pwrite(m_lockFd, buf, kMarkerWidth, 0) != static_cast<ssize_t>(kMarkerWidth))
        throw std::runtime_error(SysError("cannot write generation marker in", m_folder));
}

void Cloud::LoadLocked() {
    std::string text;
    std::string path = StatePath(m_folder);
    if (!FwFile::ReadAll(path, text)) throw std::runtime_error("cannot read cloud state " + path);
    {
        MapFiles::Scope maps(*m_maps, 0);
        m_state = ParseState(text);
    }
    m_maps->Forget();
    // A hand-written state may still use the seed shorthand.
    MaterializeSeedData(m_state, *m_store);
    // The state file's own generation, not the marker's: after a writer died
    // between the two, the marker is ahead and every later transaction
    // reloads until the next commit sets both again.
    m_loadedGeneration = m_state.generation;
}

// The marker goes first. Whenever state.json holds a generation this object
// has not loaded, the marker then differs from the loaded one too, since
// generations only grow; a writer killed between the two writes costs
// readers an extra reload, never a missed change.
void Cloud::SaveLocked() {
    WriteDiskGenerationLocked(m_state.generation);
    std::string path = StatePath(m_folder);
    std::string text;
    {
        // Map files first: the state must never name one that is not stored.
        MapFiles::Scope maps(*m_maps, m_state.generation);
        text = SerializeState(m_state);
    }
    if (!FwFile::WriteAllAtomic(path, text)) throw std::runtime_error("cannot write cloud state " + path);
    m_loadedGeneration = m_state.generation;
    m_maps->Collect();
}

// Settling in a reader only changes this object's copy: it is what any later
// transaction would compute for the same time, and the next writer commits it.
// Settling that moves device files is different: files and state must change
// together, so a reader leaves it to a writer and looks again.
void Cloud::Read(const std::function<void(const State&)>& f) {
    for (;;) {
        {
            Transaction t(*this, false);
            int64_t now = FwClock::NowMs();
            if (!DeviceSync::WorkDue(m_state, now)) {
                Settle(m_state, now);
                f(m_state);
                return;
            }
        }
        Write([](State&) {});
    }
}

// Settles a copy, so that a change f refuses leaves neither the settling nor
// its device files half-committed: the next transaction settles again.
void Cloud::Write(const std::function<void(State&)>& f) {
    Transaction t(*this, true);
    State work = m_state;
    DeviceSync devices(*m_store);
    devices.RemoveStale(work);
    devices.Settle(work, FwClock::NowMs());
    f(work);
    devices.Release(work);
    work.generation = m_state.generation + 1;
    std::swap(m_state, work);
    if (!m_folder.empty()) {
        try {
            SaveLocked();
        } catch (...) {
            std::swap(m_state, work);
            throw;
        }
    }
    devices.Committed();
}

FaultHit Cloud::CheckFaults(const std::string& operation) {
    // Nearly every call has no rule; only those that do pay for a commit.
    bool ruled = false;
    Read([&](const State& s) {
        for (const auto& r : s.faults) ruled |= (r.operation == operation || r.operation == "*");
    });
    FaultHit hit;
    if (!ruled) return hit;
    bool kill = false, term = false;
    Write([&](State& s) {
        hit = FaultHit();
        kill = term = false;
        for (auto& r : s.faults) {
            if (r.operation != operation && r.operation != "*") continue;
            ++r.seen;
            if (r.kind == "count" || (r.nth != 0 && r.seen != r.nth)) continue;
            if (r.kind == "kill") {
                kill = true;
            } else if (r.kind == "term") {
                term = true;
            } else if (r.kind == "conflict") {
                if (!hit.conflict) hit.conflictError = r.error;
                hit.conflict = true;
            } else if (r.kind == "stuck" || r.kind == "error") {
                hit.effects.push_back(r);
            } else if (!hit.fail) {
                hit.fail = true;
                hit.error = r.error.empty() ? "InternalError: injected failure of " + operation : r.error;
            }
        }
    });
    if (kill) {
        // The process dies before the call, as a proxy that loses power
        // would: the count that chose this call is committed, nothing else.
        EvDebug::Debug(kTag, "killing the process at %s", operation.c_str());
        ::kill(::getpid(), SIGKILL);
    }
    if (term) {
        // A stop request (the framework's kill of a job, a user's Ctrl-C)
        // arrives while the call is on its way: the call itself goes ahead.
        EvDebug::Debug(kTag, "sending SIGTERM to the process at %s", operation.c_str());
        ::kill(::getpid(), SIGTERM);
    }
    if (hit.fail) EvDebug::Debug(kTag, "injected fault in %s: %s", operation.c_str(), hit.error.c_str());
    if (hit.conflict) EvDebug::Debug(kTag, "injected attach conflict in %s", operation.c_str());
    for (const auto& r : hit.effects)
        EvDebug::Debug(kTag, "injected '%s' outcome in %s%s%s", r.kind.c_str(), operation.c_str(),
                       r.target.empty() ? "" : " for ", r.target.c_str());
    return hit;
}

bool Cloud::CheckFault(const std::string& operation, std::string& error) {
    FaultHit hit = CheckFaults(operation);
    if (hit.fail) error = hit.error;
    return hit.fail;
}

void Cloud::AddFault(const FaultRule& rule) {
    Write([&](State& s) { s.faults.push_back(rule); });
}

void Cloud::ClearFaults() {
    Write([](State& s) { s.faults.clear(); });
}

namespace {

std::mutex g_processMutex;
std::shared_ptr<Cloud> g_installed;
std::shared_ptr<Cloud> g_opened;
std::string g_openedKey;   // folder, seed file and pid g_opened was opened for

}  // namespace

std::shared_ptr<Cloud> Cloud::ProcessCloud(std::string* why) {
    std::lock_guard<std::mutex> guard(g_processMutex);
    if (g_installed) return g_installed;
    KDPlatformInfo settings;
    std::string folder = FwFile::JoinPath(KDPI_Base::getBaseDir(), "cloudsim");
    std::string seed;
    settings.getString("CloudSim", "sStateFolder", folder);
    settings.getString("CloudSim", "sSeedFile", seed);
    std::string key = folder + '\n' + seed + '\n' + std::to_string(getpid());
    if (g_opened && g_openedKey == key) return g_opened;
    try {
        g_opened = OpenFolder(folder, seed);
        g_openedKey = key;
        return g_opened;
    } catch (const std::exception& e) {
        EvDebug::Error(kTag, "cannot open the simulated cloud in %s: %s", folder.c_str(), e.what());
        if (why) *why = e.what();
        return nullptr;
    }
}

void Cloud::SetProcessCloud(std::shared_ptr<Cloud> cloud) {
    std::lock_guard<std::mutex> guard(g_processMutex);
    g_installed = std::move(cloud);
    g_opened.reset();
    g_openedKey.clear();
}

}  // namespace cloudsim
