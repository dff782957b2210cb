#pragma once
// Private to the wire backend: what EC2's XML answers say of instances and
// volumes, and their conversion to the framework's records (the same fields
// the simulated backend fills, so the plug-in sees one shape).
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include <pugixml.hpp>

#include "records/VMInfoStructs.h"

#ifndef BRIDGE_INTERNAL
#define BRIDGE_INTERNAL __attribute__((visibility("hidden")))
#endif

namespace bridgeimpl BRIDGE_INTERNAL {
namespace wire {

constexpr long long kGiB = 1024LL * 1024 * 1024;

struct Ec2Attachment {
    std::string device;
    std::string volumeId;
    bool deleteOnTermination = false;
};

struct Ec2Instance {
    std::string id, instanceType, zone, state, platform, virtualizationType, imageId, rootDeviceName, keyName;
    std::string outpostArn;  // empty off an Outpost
    std::map<std::string, std::string> tags;
    std::vector<Ec2Attachment> devices;  // blockDeviceMapping, as listed
    std::vector<VMInfoStructs::SVMNetworkCard> networkCards;
};

struct Ec2Volume {
    std::string id, zone, state, volumeType, kmsKeyId, instanceId, device, attachState;
    long long sizeBytes = 0;
    int iops = 0;
    bool encrypted = false;
    bool deleteOnTermination = false;
    std::map<std::string, std::string> tags;
};

// Seconds since the epoch of an ISO 8601 UTC time as EC2 writes them
// ("2026-12-09T01:02:03.000Z"); -1 for a text that is none.
int64_t ParseAwsTime(const std::string& text);

// A tagSet element's key/value pairs.
std::map<std::string, std::string> ParseTags(const pugi::xml_node& tagSet);
Ec2Instance ParseInstance(const pugi::xml_node& item);
Ec2Volume ParseVolume(const pugi::xml_node& item);

VMInfoStructs::SDisk ToDisk(const Ec2Volume& volume, bool first);
// The instance with its volumes (those of volumes it names), root first.
VMInfoStructs::SVMInfo ToVMInfo(const Ec2Instance& instance, const std::string& region,
                                const std::map<std::string, Ec2Volume>& volumes);

// Query-API list parameters: prefix.1, prefix.2, ...
void AddList(std::vector<std::pair<std::string, std::string>>& params, const std::string& prefix,
             const std::vector<std::string>& values);
// Filter.n.Name / Filter.n.Value.1, numbered after the filters already there.
void AddFilter(std::vector<std::pair<std::string, std::string>>& params, const std::string& name,
               const std::string& value);
// TagSpecification.1 of a created resource (nothing when tags is empty).
void AddTagSpecification(std::vector<std::pair<std::string, std::string>>& params, const std::string& resourceType,
                         const std::map<std::string, std::string>& tags);

}  // namespace wire
}  // namespace bridgeimpl
