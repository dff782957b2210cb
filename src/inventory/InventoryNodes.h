#pragma once
// Conversions from the bridge's region, zone and instance records to the
// framework's inventory nodes, and the small rules every listing shares.
#include <string>
#include <vector>

#include "records/VMInfoStructs.h"

namespace AmazonInventory {

// Node types of the AWS inventory tree.
constexpr EInventoryType kRootNode = 0;
constexpr EInventoryType kVMListRoot = 1;
constexpr EInventoryType kRegionNode = 2;
constexpr EInventoryType kZoneNode = 5;
constexpr EInventoryType kInstanceNode = 8;
constexpr EInventoryType kTagValueNode = 24;
constexpr EInventoryType kTagKeyNode = 25;
constexpr EInventoryType kInstanceTypeNode = 28;

// Discovery flags handed to the bridge.
constexpr ULONGLONG kInstanceDiscovery = 0x20000000ULL;
constexpr ULONGLONG kRegionDiscovery = 0x20000000000000ULL;
constexpr ULONGLONG kTemplateRequest = 1ULL << 62;

// Joins the parts of tag and instance-type node GUIDs.
extern const char kGuidSeparator[];

VMInfoStructs::SInventoryInfo RegionNode(const VMInfoStructs::SDataCenterInfo& region);
VMInfoStructs::SInventoryInfo ZoneNode(const VMInfoStructs::SHostInfo& zone);
// Flags: 1 when powered on, 4 when the connection state is 1.
VMInfoStructs::SInventoryInfo InstanceNode(const VMInfoStructs::SVMInfo& vm);

// Appends one node per instance; templates are never listed.
void AppendInstanceNodes(const std::vector<VMInfoStructs::SVMInfo>& vms, std::vector<VMInfoStructs::SInventoryInfo>& out);

// By name, ignoring letter case, ascending; equal names keep their order.
void SortByName(std::vector<VMInfoStructs::SInventoryInfo>& nodes);

// What the instance's disks hold: the sum of their used sizes.
uint64_t UsedDiskSize(const VMInfoStructs::SVMInfo& vm);

// Splits on kGuidSeparator when present, otherwise on the character 0x12.
std::vector<std::string> SplitGuid(const std::string& guid);

}  // namespace AmazonInventory
