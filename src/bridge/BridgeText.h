#pragma once
// Private to the bridge: texts both backends read and write the same way:
// "#"-joined tag values and their SetTag/DeleteTag semantics, and the region
// an endpoint URL names, a volume's metadata pairs. Defined in
// BridgeConvert.cpp and BridgeTags.cpp.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "records/VMInfoStructs.h"

#ifndef BRIDGE_INTERNAL
#define BRIDGE_INTERNAL __attribute__((visibility("hidden")))
#endif

namespace bridgeimpl BRIDGE_INTERNAL {

// How the inventory nodes both backends build are named and typed: a tag
// node's GUID joins its parts with kNodeSeparator, an instance-type node's
// joins region and type.
constexpr char kNodeSeparator[] = "#$vm-+=";
constexpr int kTagKeyNode = 25;
constexpr int kTagValueNode = 24;
constexpr int kInstanceTypeNode = 28;

// Lower-case text ("Completed" -> "completed").
std::string Lower(std::string text);
// Splits a "#"-joined tag value; an empty value has no parts.
std::vector<std::string> SplitValues(const std::string& value);
std::string JoinValues(const std::vector<std::string>& values);

std::string TagOr(const std::map<std::string, std::string>& tags, const std::string& key,
                  const std::string& fallback);
// The volume types that take provisioned IOPS (io1, io2, gp3): the bridge
// passes IOPS on with these only, on create and on modify.
bool TakesIops(const std::string& type);

// GetDiskMetadata's name/value pairs of a volume, named and valued as
// DescribeVolumes reports them (size in GiB).
struct VolumeFacts {
    std::string type, kmsKeyId, state, zone;
    long long sizeGiB = 0;
    int iops = 0;
    bool encrypted = false;
};
std::vector<VMInfoStructs::SDiskMetadataInfo> DiskMetadataOf(const VolumeFacts& volume);

// The creation time (epoch milliseconds) before which a job volume counts
// as expired: ageSeconds ago, or ageSeconds itself when it is that large a
// number (from 2001 on), which callers pass as a time.
int64_t ExpiryCutoffMs(long long ageSeconds, int64_t nowMs);

// Whether a restore's instance runs Windows, by the record's flag or its
// guest OS text: the base image a launch falls back to depends on it.
bool IsWindowsGuest(const VMInfoStructs::SVMInfo& vm);

// The first free /24 block of a VPC, for the isolated subnet a restore
// makes there, from the VPC's block and those of its subnets; false with
// the text both backends give when the VPC holds none.
bool FreeSubnetBlock(const std::string& vpcId, const std::string& vpcCidr,
                     const std::vector<std::string>& subnetCidrs, std::string& cidr, std::string& error);

// The region an endpoint URL names ("https://ec2.us-west-2.amazonaws.com");
// a plain region name is returned as it is.
std::string RegionOfUrl(const std::string& url);

// ---- tag semantics (BridgeTags.cpp) ----
// The value SetTag(key, value, replace) leaves: replace sets it; otherwise
// value joins the "#"-list once (an empty value only creates the key).
std::string CombinedTagValue(const std::map<std::string, std::string>& tags, const std::string& key,
                             const std::string& value, bool replace);
// DeleteTag's effect (see the header).
void RemoveTagValue(std::map<std::string, std::string>& tags, const std::string& key, const std::string& value,
                    bool dropEmpty);

// ---- run-command texts (BridgeRunCommand.cpp) ----
// Where a command's output goes under folder: folder + "/RunCommandDir"
// (nothing when folder is empty).
std::string RunCommandOutputPrefix(const std::string& folder);
// The PowerShell line DownloadS3FileOnGuest runs: the object at key written
// to destination, every text quoted as data.
std::string DownloadScript(const std::string& bucket, const std::string& key, const std::string& destination,
                           bool nonWindows);

}  // namespace bridgeimpl
