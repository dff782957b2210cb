#pragma once
// The simulated AWS cloud. Its state lives in memory (tests) or in a folder
// (host program, crash tests) so that a later process sees what an earlier
// one left. Every access runs as a transaction under a lock that also
// excludes other processes; a folder-backed cloud reloads the state when
// another process changed it and commits it by atomic replacement, so a
// process killed mid-write leaves the previous state readable.
//
// Block contents live outside the state, in a content-addressed store (in
// memory, or <folder>/blocks); the state holds block maps of ids, which a
// folder cloud keeps in files of their own (<folder>/maps, see MapFiles.h) so
// that a transaction's cost does not grow with the blocks volumes hold. Seed
// data shorthand is turned into blocks when a seed or state is loaded.
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "cloudsim/BlockStore.h"
#include "cloudsim/CloudState.h"
#include "cloudsim/MapFiles.h"

namespace cloudsim {

class Cloud {
public:
    // A cloud in memory, seeded from JSON text (see demo/seed.json).
    static std::shared_ptr<Cloud> InMemory(const std::string& seedJson);
    // A cloud kept in folder; seeded from seedFile when the folder has no
    // state yet. Throws std::runtime_error when neither can be read.
    static std::shared_ptr<Cloud> OpenFolder(const std::string& folder, const std::string& seedFile);

    // The cloud the bridges of this process use: the one installed with
    // SetProcessCloud, otherwise the folder cloud named by the agent's
    // settings ("CloudSim": sStateFolder, default <base>/cloudsim; sSeedFile).
    // Null (with why) when none can be opened.
    static std::shared_ptr<Cloud> ProcessCloud(std::string* why = nullptr);
    static void SetProcessCloud(std::shared_ptr<Cloud> cloud);

    ~Cloud();

    // Runs f on the current state. Read does not commit; Write commits the
    // state when f returns normally (and leaves it untouched if f throws).
    void Read(const std::function<void(const State&)>& f);
    void Write(const std::function<void(State&)>& f);

    // Both run Settle() with the framework clock's time first, so a reader
    // sees every change whose time has come. Settling that publishes or
    // releases a proxy device (see DeviceSync.h) is always committed: a
    // reader that meets it runs an empty Write first.

    // Counts a call of a named operation against the fault rules and tells
    // which rules this call hit (a rule hits the nth call, or every call when
    // nth is 0). Only calls that have rules pay for a commit.
    FaultHit CheckFaults(const std::string& operation);
    // The same, for callers that only care about "fail" rules: true (with the
    // rule's error text) when this call must fail.
    bool CheckFault(const std::string& operation, std::string& error);
    void AddFault(const FaultRule& rule);
    void ClearFaults();

    const std::string& Folder() const { return m_folder; }

    // ---- block data, for tests and the host program's checks ----
    // Each throws std::runtime_error for an unknown id or a range beyond the
    // volume's or snapshot's size. A volume published as a proxy device is
    // read and written through its device file.
    // The bytes [offset, offset + length); zeros where nothing is allocated.
    std::string ReadVolume(const std::string& volumeId, int64_t offset, int64_t length);
    std::string ReadSnapshot(const std::string& snapshotId, int64_t offset, int64_t length);
    // The guest changing its data: blocks written all zeros become unallocated.
    void WriteVolume(const std::string& volumeId, int64_t offset, const std::string& data);
    // Indexes of the allocated blocks, ascending.
    std::vector<int64_t> VolumeBlocks(const std::string& volumeId);
    std::vector<int64_t> SnapshotBlocks(const std::string& snapshotId);
    // The store the block maps' ids point into.
    BlockStore& Blocks() { return *m_store; }

private:
    class Transaction;             // holds both locks; reloads a changed folder state
    Cloud() = default;
    void LoadLocked();
    void SaveLocked();
    int64_t ReadDiskGenerationLocked() const;
    void WriteDiskGenerationLocked(int64_t generation);

    std::recursive_mutex m_mutex;
    std::string m_folder;          // empty: in memory
    int m_lockFd = -1;             // <folder>/state.lock: flock target and generation marker
    int m_lockPid = 0;             // process that opened m_lockFd (a forked child reopens it)
    int64_t m_loadedGeneration = -1;
    int m_depth = 0;               // open transactions of the owning thread (they must not nest)
    State m_state;
    std::unique_ptr<BlockStore> m_store;
    std::unique_ptr<MapFiles> m_maps;   // folder clouds only
};

// Seed and state JSON conversion.
State ParseState(const std::string& json);   // throws std::runtime_error
std::string SerializeState(const State& state);

}  // namespace cloudsim
