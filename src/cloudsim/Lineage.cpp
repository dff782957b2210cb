#include "cloudsim/Lineage.h"

namespace cloudsim {

namespace {

// Seeds may name each other in a circle; a walk longer than every resource
// there is has gone round one and stops where it is.
std::string Walk(const State& state, const Volume* volume, const Snapshot* snapshot) {
    std::string root;
    for (size_t steps = 0; steps <= state.volumes.size() + state.snapshots.size(); ++steps) {
        if (volume) {
            if (!volume->lineage.empty()) return volume->lineage;
            root = volume->id;
            auto from = state.snapshots.find(volume->snapshotId);
            if (from == state.snapshots.end()) return root;
            snapshot = &from->second;
            volume = nullptr;
        } else {
            if (!snapshot->lineage.empty()) return snapshot->lineage;
            root = snapshot->volumeId.empty() ? snapshot->id : snapshot->volumeId;
            auto from = state.volumes.find(snapshot->volumeId);
            if (from == state.volumes.end()) return root;
            volume = &from->second;
        }
    }
    return root;
}

}  // namespace

std::string LineageOf(const State& state, const Volume& volume) { return Walk(state, &volume, nullptr); }

std::string LineageOf(const State& state, const Snapshot& snapshot) { return Walk(state, nullptr, &snapshot); }

bool Related(const State& state, const Snapshot& a, const Snapshot& b) {
    return LineageOf(state, a) == LineageOf(state, b);
}

}  // namespace cloudsim
