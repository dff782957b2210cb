#pragma once
// Volume lineage, which decides whether EBS can compare two snapshots block
// by block: a snapshot holds its volume's data, and a volume created from a
// snapshot holds that snapshot's, so data descends from the volume it first
// lived on (an empty volume is a lineage's root). Two snapshots are related
// when their data descends from one root: snapshots of one volume, and
// snapshots of volumes created, however indirectly, from its snapshots.
//
// A resource records its root when it is made (lineage field), so that
// relatedness survives the deletion of the volumes in between; a seeded
// resource without one has it derived from what it came from.
#include <string>

#include "cloudsim/CloudState.h"

namespace cloudsim {

std::string LineageOf(const State& state, const Volume& volume);
std::string LineageOf(const State& state, const Snapshot& snapshot);
bool Related(const State& state, const Snapshot& a, const Snapshot& b);

}  // namespace cloudsim
