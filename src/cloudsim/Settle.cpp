// The simulated cloud's clock-driven side: every change under way reaches
// its end state once its time has come. Run at the start of each transaction.
#include <algorithm>

#include "cloudsim/CloudState.h"

namespace cloudsim {

namespace {

// Both sides of an attachment go at once.
void DropAttachment(State& s, Volume& v) {
    auto it = s.instances.find(v.attachedInstance);
    if (it != s.instances.end()) {
        auto& ids = it->second.volumeIds;
        ids.erase(std::remove(ids.begin(), ids.end(), v.id), ids.end());
    }
    v.attachedInstance.clear();
    v.attachedDevice.clear();
}

void SettleInstance(Instance& inst, int64_t now) {
    if (inst.pending.Due(now)) {
        inst.state = inst.pending.to;
        inst.pending = {};
        if (inst.state != "running") {
            inst.statusCheck.clear();
            inst.statusPending = {};
        }
    }
    if (inst.state == "running" && inst.statusPending.Due(now)) {
        inst.statusCheck = inst.statusPending.fault == "error" ? "impaired" : "ok";
        inst.statusPending = {};
    }
}

// True when the volume is gone.
bool SettleVolume(State& s, Volume& v, int64_t now) {
    if (v.pending.Due(now)) {
        Transition t = v.pending;
        v.pending = {};
        if (t.fault == "error") {
            if (!v.attachedInstance.empty()) DropAttachment(s, v);
            v.state = "error";
        } else if (t.to == "deleted") {
            return true;
        } else if (t.to == "available") {
            // The end of creating or of detaching.
            if (!v.attachedInstance.empty()) DropAttachment(s, v);
            v.state = "available";
        } else {
            v.state = t.to;
        }
    }
    VolumeModification& m = v.modification;
    if (m.state == "modifying" && m.fault != "stuck" && now >= m.optimizingAtMs) {
        if (m.fault == "error") {
            m.state = "failed";
        } else {
            m.state = "optimizing";
            if (!m.targetType.empty()) v.type = m.targetType;
            if (m.targetIops > 0) v.iops = m.targetIops;
        }
    }
    if (m.state == "optimizing" && now >= m.completedAtMs) m.state = "completed";
    return false;
}

}  // namespace

void Settle(State& s, int64_t now) {
    for (auto& [id, inst] : s.instances) SettleInstance(inst, now);
    for (auto it = s.volumes.begin(); it != s.volumes.end();) {
        if (SettleVolume(s, it->second, now)) {
            it = s.volumes.erase(it);
        } else {
            ++it;
        }
    }
    for (auto& [id, snap] : s.snapshots) {
        if (!snap.pending.Due(now)) continue;
        snap.state = snap.pending.fault == "error" ? "error" : snap.pending.to;
        snap.pending = {};
        // A volume deleted meanwhile leaves the snapshot the data it started with.
        auto volume = s.volumes.find(snap.volumeId);
        if (snap.state == "completed" && volume != s.volumes.end()) snap.blocks = volume->second.blocks;
    }
    for (auto& [id, image] : s.images) {
        if (!image.pending.Due(now)) continue;
        image.state = image.pending.fault == "error" ? "failed" : image.pending.to;
        image.pending = {};
    }
}

}  // namespace cloudsim
