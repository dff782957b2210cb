#pragma once
// AMIs: the record, its JSON, how a pending one becomes available and the
// AWS text for one the caller cannot see.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "cloudsim/Async.h"
#include "cloudsim/Faults.h"

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

// ---- requests on AMIs, as EC2 answers them ----
// CreateImage of the account's instance (running, stopping or stopped), one
// snapshot per attached volume but those in excluded (never the root), the
// root first; the AMI and its snapshots complete together after the
// cloud's amiMs, hit giving the effect on the AMI's id and the instance's.
// The AMI is named amiName, unique in the account and region; empty: name
// (or "image") and its id. name is its Name tag (empty: none). Null with
// AWS's text when refused.
struct ImageRequest {
    std::string account;
    std::string region;
    std::string instanceId;
    std::string name;
    std::string amiName;
    std::string description;
    std::vector<std::string> excluded;   // volume ids
};
Image* CreateImage(State& s, const ImageRequest& request, int64_t nowMs, const FaultHit& hit, std::string& error);
// DescribeImages as a wait sees it: false while pending; true once over,
// succeeded when available, else failure holds the text.
bool ImageTaskOver(const Image& image, bool& succeeded, std::string& failure);
// Cancels an AMI still being made (only a pending one): cancelled, and its
// pending snapshots end in error.
bool CancelImage(State& s, Image& image, std::string& error);
// DeregisterImage: deregistered, and the snapshots it has in its own
// account deleted with it.
void DeregisterImage(State& s, Image& image);

// ---- AWS error texts ----
std::string ImageNotFound(const std::string& id);

}  // namespace cloudsim
