#pragma once
// AMIs: the record, its JSON, how a pending one becomes available and the
// AWS text for one the caller cannot see.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "cloudsim/Async.h"

namespace cloudsim {

struct State;

struct Image {
    std::string id;                      // "ami-..."
    std::string account;                 // owner
    std::string region;
    std::string name;
    std::string description;
    std::string platform = "linux";      // or "windows"
    std::string architecture = "x86_64";
    std::string virtualizationType = "hvm";
    std::string rootDeviceName = "/dev/xvda";
    std::string instanceType;            // of the source instance; empty for public images
    std::string sourceInstanceId;
    std::vector<std::string> snapshotIds;  // one per volume, the root first
    std::string state = "available";     // pending, available, failed, cancelled, deregistered
    std::map<std::string, std::string> tags;
    int64_t createdMs = 0;
    bool isPublic = false;
    Transition pending;                  // to: available (its snapshots complete at the same time)
};

const schema::Table<Image>& ImageTable();
// Every image lies in a known region, belongs to a known account unless
// public, and, unless deregistered, lists only known snapshots.
void CheckImages(const State& s);
// Pending images become available (or failed).
void SettleImages(State& s, int64_t nowMs);

// ---- AWS error texts ----
std::string ImageNotFound(const std::string& id);

}  // namespace cloudsim
