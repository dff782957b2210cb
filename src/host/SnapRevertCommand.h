#pragma once
// Snap backups used after the fact, the way the agent's framework runs
// them: mounted on the proxy, reverted in place, restored as a new instance.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "host/HostOptions.h"
#include "host/PluginLoader.h"

struct SnapJobRequest {
    int64_t snapJob = 0;
    std::string instance;
    std::vector<std::string> disks;   // revert: the volumes to put back; empty: all
    std::string zone;                 // restore: where the new instance goes
    std::string name;                 // restore: its name
};

// From --snap-job N --instance ID, and for revert --disks vol-a,vol-b, for
// restore --zone Z and --name NAME; false with why.
bool ParseSnapJobRequest(const std::string& command, const std::map<std::string, std::string>& values,
                         SnapJobRequest& request, std::string& why);

// revert (inPlace) puts the instance's volumes back to the snapshots: the
// instance is stopped, the volumes it had at those devices are detached
// and kept, volumes made from the snapshots take their place. restore makes
// a new instance from the snapshots. Both print the volumes made; 0 when
// the job succeeded. The volumes are compared block for block with the
// snapshots by "cloudsim-tool verify-revert".
int RunSnapRevert(PluginLoader& loader, const ConnectJob& job, const SnapJobRequest& request, bool inPlace);

// snap-mount: the snapshot manager makes volumes of the instance's
// snapshots and attaches them to the proxy; prints each volume's device.
// snap-unmount: the mount of that instance taken away again, also one whose
// process died; prints each resource it removed, or that nothing was
// mounted. 0 when nothing of the instance's mounts is left (also when there
// was none); 1 with what is left otherwise.
int RunSnapMount(PluginLoader& loader, const ConnectJob& job, const SnapJobRequest& request);
int RunSnapUnmount(PluginLoader& loader, const ConnectJob& job, const SnapJobRequest& request);
