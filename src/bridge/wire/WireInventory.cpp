// The wire backend's inventory: regions, zones and instances (every page),
// look-ups of one instance, the tag and instance-type views, instance types
// and images.
#include <algorithm>
#include <set>

#include "bridge/BridgeText.h"
#include "bridge/wire/WireBackend.h"
#include "bridge/wire/WireEc2Records.h"

using namespace bridgeimpl;
using namespace bridgeimpl::wire;
using VMInfoStructs::SDataCenterInfo;
using VMInfoStructs::SHostInfo;
using VMInfoStructs::SInventoryInfo;
using VMInfoStructs::SVMInfo;

namespace {

// AWS's largest pages where they are not 1000.
const int kVolumesPage = 500;
const int kInstanceTypesPage = 100;

SInventoryInfo Node(const std::string& name, const std::string& guid, int type) {
    SInventoryInfo node;
    node.name = name;
    node.guid = guid;
    node.type = type;
    return node;
}

bool HasTagValue(const std::string& joined, const std::string& value) {
    if (value.empty() || joined == value) return true;
    const std::vector<std::string> values = SplitValues(joined);
    return std::find(values.begin(), values.end(), value) != values.end();
}

}  // namespace

bool WireBackend::ListInstances(const std::string& region, const QueryParams& filters, std::vector<SVMInfo>& vms,
                                std::string& error) {
    std::vector<Ec2Instance> instances;
    if (!Ec2Items("DescribeInstances", filters, "reservationSet/item",
                  [&](const pugi::xml_node& reservation) {
                      for (pugi::xml_node item : reservation.child("instancesSet").children("item")) {
                          Ec2Instance inst = ParseInstance(item);
                          // Terminated instances linger in the listing, but
                          // nothing can be done with them.
                          if (inst.state != "terminated") instances.push_back(std::move(inst));
                      }
                  },
                  error, region))
        return false;
    std::map<std::string, Ec2Volume> volumes;
    std::vector<std::string> volumeIds;
    for (const auto& inst : instances)
        for (const auto& d : inst.devices)
            if (!d.volumeId.empty()) volumeIds.push_back(d.volumeId);
    // The volumes' sizes and types, a page of ids at a time.
    for (size_t at = 0; at < volumeIds.size(); at += 200) {
        QueryParams params{{"Filter.1.Name", "volume-id"}};
        const size_t end = std::min(volumeIds.size(), at + 200);
        for (size_t i = at; i < end; ++i)
            params.emplace_back("Filter.1.Value." + std::to_string(i - at + 1), volumeIds[i]);
        if (!Ec2Items("DescribeVolumes", params, "volumeSet/item",
                      [&](const pugi::xml_node& item) {
                          Ec2Volume v = ParseVolume(item);
                          volumes[v.id] = v;
                      },
                      error, region, kVolumesPage))
            return false;
    }
    for (const auto& inst : instances) vms.push_back(ToVMInfo(inst, RegionFor(region), volumes));
    return true;
}

bool WireBackend::SweepRegions(std::string& error) {
    std::vector<std::string> regions;
    if (!Ec2Items("DescribeRegions", {}, "regionInfo/item",
                  [&](const pugi::xml_node& item) { regions.push_back(item.child_value("regionName")); }, error,
                  m_region, 0))
        return false;
    std::vector<SDataCenterInfo> dcs;
    std::vector<SHostInfo> hosts;
    std::vector<SVMInfo> all;
    for (const auto& region : regions) {
        SDataCenterInfo dc;
        dc.name = dc.guid = region;
        dc.endpoint = EndpointHost("ec2", region);
        if (!ListInstances(region, {}, dc.vms, error)) return false;
        if (!Ec2Items("DescribeAvailabilityZones", {}, "availabilityZoneInfo/item",
                      [&](const pugi::xml_node& item) {
                          SHostInfo host;
                          host.name = host.guid = item.child_value("zoneName");
                          host.region = region;
                          host.state = item.child_value("zoneState");
                          for (const auto& vm : dc.vms)
                              if (vm.zone == host.name) host.vms.push_back(vm);
                          dc.hosts.push_back(host);
                      },
                      error, region, 0))
            return false;
        hosts.insert(hosts.end(), dc.hosts.begin(), dc.hosts.end());
        all.insert(all.end(), dc.vms.begin(), dc.vms.end());
        dcs.push_back(std::move(dc));
    }
    m_dcList = std::move(dcs);
    m_hostList = std::move(hosts);
    m_vmList = std::move(all);
    return true;
}

int WireBackend::RefreshDCInfoList(ULONGLONG, int) {
    if (!Run("RefreshDCInfoList", true, [&](std::string& error) { return SweepRegions(error); })) return -1;
    return static_cast<int>(m_dcList.size());
}

void WireBackend::GetDCInfoList(std::vector<SDataCenterInfo>& regions) { regions = m_dcList; }

int WireBackend::RefreshHostInfoList(ULONGLONG, int) {
    if (!Run("RefreshHostInfoList", true, [&](std::string& error) { return SweepRegions(error); })) return -1;
    return static_cast<int>(m_hostList.size());
}

void WireBackend::GetHostInfoList(std::vector<SHostInfo>& zones) { zones = m_hostList; }

int WireBackend::RefreshVMInfoList(ULONGLONG, int) {
    if (!Run("RefreshVMInfoList", true, [&](std::string& error) { return SweepRegions(error); })) return -1;
    return static_cast<int>(m_vmList.size());
}

void WireBackend::GetVMInfoList(std::vector<SVMInfo>& vms) { vms = m_vmList; }

int WireBackend::GetVMInfoForVM(const std::string& name, const std::string& guid, const std::string& host,
                                const std::string& region, ULONGLONG, int, SVMInfo& vm) {
    return Run("GetVMInfoForVM", true, [&](std::string& error) {
        if (guid.rfind("ami-", 0) == 0) {
            if (!ImageRecord(guid, region.empty() ? host : region, vm, error)) return false;
            vm.zone = host == "default" ? "" : host;
            return true;
        }
        QueryParams filters;
        if (!guid.empty()) AddFilter(filters, "instance-id", guid);
        else AddFilter(filters, "tag:Name", name);
        if (!host.empty()) AddFilter(filters, "availability-zone", host);
        std::vector<SVMInfo> found;
        if (!ListInstances(region.empty() ? host : region, filters, found, error)) return false;
        if (found.empty()) {
            error = "InvalidInstanceID.NotFound: The instance ID '" + (guid.empty() ? name : guid) +
                    "' does not exist";
            return false;
        }
        vm = found.front();
        return true;
    }) ? 1 : 0;
}

int WireBackend::GetHostInfoForHost(const std::string& zone, ULONGLONG, int, SHostInfo& host) {
    return Run("GetHostInfoForHost", true, [&](std::string& error) {
        bool found = false;
        if (!Ec2Items("DescribeAvailabilityZones", {{"ZoneName.1", zone}}, "availabilityZoneInfo/item",
                      [&](const pugi::xml_node& item) {
                          // Only the zone asked for, whatever else comes back.
                          if (zone != item.child_value("zoneName")) return;
                          host.name = host.guid = item.child_value("zoneName");
                          host.region = item.child_value("regionName");
                          host.state = item.child_value("zoneState");
                          found = true;
                      },
                      error, zone, 0))
            return false;
        if (!found) {
            error = "InvalidParameterValue: Invalid availability zone: [" + zone + "]";
            return false;
        }
        std::vector<SVMInfo> all;
        if (!ListInstances(host.region, {}, all, error)) return false;
        host.vms.clear();
        for (auto& vm : all)
            if (vm.zone == zone) host.vms.push_back(std::move(vm));
        return true;
    }) ? 1 : 0;
}

int WireBackend::GetDCInfoForDC(const std::string& region, ULONGLONG, int, SDataCenterInfo& dc) {
    return Run("GetDCInfoForDC", true, [&](std::string& error) {
        const std::string name = RegionFor(region);
        dc = SDataCenterInfo();
        dc.name = dc.guid = name;
        dc.endpoint = EndpointHost("ec2", name);
        if (!ListInstances(name, {}, dc.vms, error)) return false;
        return Ec2Items("DescribeAvailabilityZones", {}, "availabilityZoneInfo/item",
                        [&](const pugi::xml_node& item) {
                            SHostInfo host;
                            host.name = host.guid = item.child_value("zoneName");
                            host.region = name;
                            host.state = item.child_value("zoneState");
                            for (const auto& vm : dc.vms)
                                if (vm.zone == host.name) host.vms.push_back(vm);
                            dc.hosts.push_back(host);
                        },
                        error, name, 0);
    }) ? 1 : 0;
}

int WireBackend::GetInventoryInfoListForTag(const std::string& region, const std::string& key,
                                            const std::string& value, ULONGLONG, int,
                                            std::vector<SInventoryInfo>& nodes) {
    return Run("GetInventoryInfoListForTag", true, [&](std::string& error) {
        const std::string name = RegionFor(region);
        QueryParams filters;
        AddFilter(filters, "resource-type", "instance");
        if (!key.empty()) AddFilter(filters, "key", key);
        std::set<std::string> seen;
        nodes.clear();
        return Ec2Items("DescribeTags", filters, "tagSet/item",
                        [&](const pugi::xml_node& item) {
                            const std::string k = item.child_value("key");
                            if (key.empty()) {
                                if (seen.insert(k).second)
                                    nodes.push_back(Node(k, name + kNodeSeparator + k, kTagKeyNode));
                                return;
                            }
                            for (const auto& v : SplitValues(item.child_value("value")))
                                if ((value.empty() || v == value) && seen.insert(v).second)
                                    nodes.push_back(Node(v, name + kNodeSeparator + key + kNodeSeparator + v, kTagValueNode));
                        },
                        error, name);
    }) ? 1 : 0;
}

int WireBackend::GetVMInfoListForTag(const std::string& region, const std::string& key, const std::string& value,
                                     ULONGLONG, int, std::vector<SVMInfo>& vms) {
    return Run("GetVMInfoListForTag", true, [&](std::string& error) {
        // "#"-joined values match by part, which EC2's filters cannot say:
        // ask for the key, choose by value here.
        QueryParams filters;
        AddFilter(filters, "tag-key", key);
        std::vector<SVMInfo> found;
        if (!ListInstances(region, filters, found, error)) return false;
        vms.clear();
        for (auto& vm : found) {
            std::map<std::string, std::string> tags;
            if (!TagsOf(vm.guid, tags, error)) return false;
            auto it = tags.find(key);
            if (it != tags.end() && HasTagValue(it->second, value)) vms.push_back(std::move(vm));
        }
        return true;
    }) ? 1 : 0;
}

int WireBackend::GetVMInfoListForInstanceType(const std::string& region, const std::string& type, ULONGLONG, int,
                                              std::vector<SVMInfo>& vms) {
    return Run("GetVMInfoListForInstanceType", true, [&](std::string& error) {
        QueryParams filters;
        AddFilter(filters, "instance-type", type);
        vms.clear();
        return ListInstances(region, filters, vms, error);
    }) ? 1 : 0;
}

int WireBackend::GetInstanceTypeInfoListForRegion(const std::string& region, ULONGLONG, int,
                                                  std::vector<SInventoryInfo>& nodes, bool listAll) {
    return Run("GetInstanceTypeInfoListForRegion", true, [&](std::string& error) {
        const std::string name = RegionFor(region);
        std::set<std::string> types;
        if (listAll) {
            if (!Ec2Items("DescribeInstanceTypeOfferings", {}, "instanceTypeOfferingSet/item",
                          [&](const pugi::xml_node& item) { types.insert(item.child_value("instanceType")); },
                          error, name))
                return false;
        } else {
            std::vector<SVMInfo> vms;
            if (!ListInstances(name, {}, vms, error)) return false;
            for (const auto& vm : vms) types.insert(vm.instanceType);
        }
        nodes.clear();
        for (const auto& t : types) nodes.push_back(Node(t, name + kNodeSeparator + t, kInstanceTypeNode));
        return true;
    }) ? 1 : 0;
}

int WireBackend::GetAllInstanceTypeList(const std::string& region, std::vector<VMInfoStructs::SVMSizeInfo>& sizes) {
    return Run("GetAllInstanceTypeList", true, [&](std::string& error) {
        sizes.clear();
        return Ec2Items("DescribeInstanceTypes", {}, "instanceTypeSet/item",
                        [&](const pugi::xml_node& item) {
                            VMInfoStructs::SVMSizeInfo size;
                            size.name = item.child_value("instanceType");
                            size.cpus = std::atoi(item.child("vCpuInfo").child_value("defaultVCpus"));
                            size.memoryMB = std::atoll(item.child("memoryInfo").child_value("sizeInMiB"));
                            sizes.push_back(size);
                        },
                        error, region, kInstanceTypesPage);
    }) ? 1 : 0;
}

bool WireBackend::GetFilteredAmis(const std::string& a, const std::string& b, const std::string& c,
                                  std::vector<VMInfoStructs::SImageInfo>& images) {
    return Run("GetFilteredAmis", true, [&](std::string& error) {
        // The account's own images; public ones only where a name narrows
        // them, as AWS lists tens of thousands.
        std::vector<QueryParams> asks{{{"Owner.1", "self"}}};
        if (!a.empty()) {
            QueryParams pub{{"ExecutableBy.1", "all"}};
            AddFilter(pub, "name", "*" + a + "*");
            AddFilter(pub, "is-public", "true");
            asks.push_back(pub);
        }
        std::set<std::string> seen;
        images.clear();
        for (const auto& params : asks)
            if (!Ec2Items("DescribeImages", params, "imagesSet/item",
                          [&](const pugi::xml_node& item) {
                              VMInfoStructs::SImageInfo image;
                              image.id = item.child_value("imageId");
                              image.name = item.child_value("name");
                              image.description = item.child_value("description");
                              image.platform = item.child_value("platform");
                              if (image.platform.empty()) image.platform = "Linux/UNIX";
                              image.state = item.child_value("imageState");
                              if (!a.empty() && image.name.find(a) == std::string::npos) return;
                              if (!b.empty() && Lower(image.platform) != Lower(b)) return;
                              if (!c.empty() && Lower(image.state) != Lower(c)) return;
                              if (seen.insert(image.id).second) images.push_back(image);
                          },
                          error, "", 0))
                return false;
        return true;
    });
}

int WireBackend::DoesVMExist(const std::string& guid, const std::string& name, const std::string& zone, bool& exists,
                             std::vector<SVMInfo>& vms) {
    return Run("DoesVMExist", true, [&](std::string& error) {
        QueryParams filters;
        if (!guid.empty()) AddFilter(filters, "instance-id", guid);
        else AddFilter(filters, "tag:Name", name);
        if (!zone.empty()) AddFilter(filters, "availability-zone", zone);
        vms.clear();
        if (!ListInstances(zone, filters, vms, error)) return false;
        exists = !vms.empty();
        return true;
    }) ? 1 : 0;
}
