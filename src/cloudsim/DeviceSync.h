#pragma once
// Keeps the proxy's device files and the volumes' block maps in step as the
// cloud's state changes. When a volume's attachment to the proxy completes,
// the volume is published as a device file named as a Nitro instance names
// the volume, in the folder the setting "CloudSim" / sDeviceFolder names
// (none set: nothing is published, and the log says why). While published,
// the file holds the volume's live data: the proxy reads and writes it. When
// the attachment ends (detached, deleted, failed), the file's data is taken
// back into the volume's block map and the file is removed. A snapshot that
// completes for a published volume takes the file's data too.
//
// Crash safety: a file is created before the state naming it is committed
// and removed only after a state no longer naming it is; removals a killed
// process did not get to wait in State::staleDevices for the next writer.
//
// One object per writing transaction, called in this order: RemoveStale,
// Settle, (the transaction's own change), Release, (commit), Committed.
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "cloudsim/CloudState.h"

namespace cloudsim {

class BlockStore;

class DeviceSync {
public:
    explicit DeviceSync(BlockStore& store) : m_store(store) {}

    // True when settling s at now touches device files: work a reader has
    // to leave to a writer.
    static bool WorkDue(const State& s, int64_t now);

    // Removes the files earlier commits left for removal.
    void RemoveStale(State& s);
    // Settles s at now (see Settle in CloudState.h), publishing volumes that
    // reach "in-use" on the proxy.
    void Settle(State& s, int64_t now);
    // Takes back every published volume no longer attached to the proxy (or
    // gone) and queues its file for removal.
    void Release(State& s);
    // The state is committed: removes the queued files.
    void Committed();

private:
    void Absorb(Volume& v);
    void Publish(Volume& v);

    BlockStore& m_store;
    std::set<std::string> m_known;      // device paths of this transaction's published volumes
    std::set<std::string> m_absorbed;   // volumes whose file was already taken back
    std::vector<std::string> m_remove;
};

}  // namespace cloudsim
