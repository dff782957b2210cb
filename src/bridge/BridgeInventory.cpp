// Inventory: the region, zone and instance caches, single look-ups of
// instances, AMIs, zones and regions, the tag and instance-type views, and
// the account's instance types, roles, images and encryption keys.
#include <algorithm>
#include <set>

#include "bridge/BridgeImpl.h"
#include "bridge/BridgeText.h"

using namespace bridgeimpl;
using cloudsim::Image;
using cloudsim::Instance;
using cloudsim::State;
using VMInfoStructs::SDataCenterInfo;
using VMInfoStructs::SHostInfo;
using VMInfoStructs::SInventoryInfo;
using VMInfoStructs::SVMInfo;

namespace {


// The region a listing addresses: the argument or the current region.
template <class Impl>  // SimBackend::Impl, private to the backend
bool ListingRegion(const Impl& d, const State& s, const std::string& given, std::string& out, std::string& error) {
    out = given.empty() || given == "default" ? d.region : given;
    if (s.FindRegion(out)) return true;
    return Err(error, UnknownRegion(out));
}

bool HasTag(const Instance& inst, const std::string& key, const std::string& value) {
    auto it = inst.tags.find(key);
    if (it == inst.tags.end()) return false;
    if (value.empty() || it->second == value) return true;
    std::vector<std::string> values = SplitValues(it->second);
    return std::find(values.begin(), values.end(), value) != values.end();
}

SInventoryInfo Node(const std::string& name, const std::string& guid, int type) {
    SInventoryInfo node;
    node.name = name;
    node.guid = guid;
    node.type = type;
    return node;
}

}  // namespace

int SimBackend::RefreshDCInfoList(ULONGLONG, int) {
    Impl& d = *m_impl;
    std::vector<SDataCenterInfo> list;
    bool ok = d.Run("RefreshDCInfoList", true, [&](std::string& error) {
        bool regionOk = false;
        d.cloud->Read([&](const cloudsim::State& s) {
            if (!(regionOk = d.CheckRegion(s, error))) return;
            for (const auto& r : s.regions) list.push_back(ToDataCenter(s, d.accountId, r));
        });
        return regionOk;
    });
    if (!ok) return -1;
    d.dcList = std::move(list);
    return static_cast<int>(d.dcList.size());
}

void SimBackend::GetDCInfoList(std::vector<SDataCenterInfo>& regions) { regions = m_impl->dcList; }

int SimBackend::RefreshHostInfoList(ULONGLONG, int) {
    Impl& d = *m_impl;
    std::vector<SHostInfo> list;
    bool ok = d.Run("RefreshHostInfoList", true, [&](std::string& error) {
        bool regionOk = false;
        d.cloud->Read([&](const cloudsim::State& s) {
            if (!(regionOk = d.CheckRegion(s, error))) return;
            for (const auto& r : s.regions)
                for (const auto& zone : r.zones) list.push_back(ToHost(s, d.accountId, r, zone));
        });
        return regionOk;
    });
    if (!ok) return -1;
    d.hostList = std::move(list);
    return static_cast<int>(d.hostList.size());
}

void SimBackend::GetHostInfoList(std::vector<SHostInfo>& zones) { zones = m_impl->hostList; }

int SimBackend::RefreshVMInfoList(ULONGLONG, int) {
    Impl& d = *m_impl;
    std::vector<SVMInfo> list;
    bool ok = d.Run("RefreshVMInfoList", true, [&](std::string& error) {
        return d.Look([&](const State& s) {
            if (!d.CheckRegion(s, error)) return false;
            for (const auto& [id, inst] : s.instances)
                if (Listed(inst, d.accountId)) list.push_back(ToVMInfo(s, inst));
            return true;
        });
    });
    if (!ok) return -1;
    d.vmList = std::move(list);
    return static_cast<int>(d.vmList.size());
}

void SimBackend::GetVMInfoList(std::vector<SVMInfo>& vms) { vms = m_impl->vmList; }

int SimBackend::GetVMInfoForVM(const std::string& name, const std::string& guid, const std::string& host,
                                     const std::string& region, ULONGLONG, int, SVMInfo& vm) {
    Impl& d = *m_impl;
    return d.Run("GetVMInfoForVM", true, [&](std::string& error) {
        return d.Look([&](const State& s) {
            std::string inRegion = region == "default" ? "" : region;
            std::string inZone = host == "default" ? "" : host;
            if (!inZone.empty()) {
                const cloudsim::Region* r = s.RegionOfZone(inZone);
                if (!r) return Err(error, InvalidZone(inZone));
                inRegion = r->name;
            }
            if (guid.rfind("ami-", 0) == 0) {
                const Image* image = FindVisible(s.images, guid, d.accountId, inRegion);
                if (!image || image->state == "deregistered") return Err(error, ImageNotFound(guid));
                vm = ImageToVMInfo(s, *image);
                vm.zone = inZone;
                return true;
            }
            if (guid.empty() && name.empty())
                return Err(error, cloudsim::MissingParameter("an instance id or name"));
            for (const auto& [id, inst] : s.instances) {
                if (!Listed(inst, d.accountId)) continue;
                if (guid.empty() ? TagOr(inst.tags, "Name", "") != name : id != guid) continue;
                if ((!inZone.empty() && inst.zone != inZone) || (!inRegion.empty() && inst.region != inRegion)) continue;
                vm = ToVMInfo(s, inst);
                return true;
            }
            return Err(error, guid.empty() ? cloudsim::InstanceNamedNotFound(name) : InstanceNotFound(guid));
        });
    }) ? 1 : 0;
}

int SimBackend::GetHostInfoForHost(const std::string& zone, ULONGLONG, int, SHostInfo& host) {
    Impl& d = *m_impl;
    return d.Run("GetHostInfoForHost", true, [&](std::string& error) {
        return d.Look([&](const State& s) {
            const cloudsim::Region* r = s.RegionOfZone(zone);
            if (!r) return Err(error, InvalidZone(zone));
            host = ToHost(s, d.accountId, *r, zone);
            return true;
        });
    }) ? 1 : 0;
}

int SimBackend::GetDCInfoForDC(const std::string& region, ULONGLONG, int, SDataCenterInfo& dc) {
    Impl& d = *m_impl;
    return d.Run("GetDCInfoForDC", true, [&](std::string& error) {
        return d.Look([&](const State& s) {
            std::string where;
            if (!ListingRegion(d, s, region, where, error)) return false;
            dc = ToDataCenter(s, d.accountId, *s.FindRegion(where));
            return true;
        });
    }) ? 1 : 0;
}

int SimBackend::GetInventoryInfoListForTag(const std::string& region, const std::string& key,
                                                 const std::string& value, ULONGLONG, int,
                                                 std::vector<SInventoryInfo>& nodes) {
    Impl& d = *m_impl;
    return d.Run("GetInventoryInfoListForTag", true, [&](std::string& error) {
        return d.Look([&](const State& s) {
            std::string where;
            if (!ListingRegion(d, s, region, where, error)) return false;
            std::set<std::string> names;
            for (const auto& [id, inst] : s.instances) {
                if (!Listed(inst, d.accountId) || inst.region != where || inst.isTemplate) continue;
                if (key.empty()) {
                    for (const auto& tag : inst.tags) names.insert(tag.first);
                } else if (value.empty() && inst.tags.count(key)) {
                    for (const auto& v : SplitValues(inst.tags.at(key)))
                        if (!v.empty()) names.insert(v);
                }
            }
            nodes.clear();
            for (const auto& n : names) {
                if (key.empty()) {
                    nodes.push_back(Node(n, where + kNodeSeparator + n, kTagKeyNode));
                } else {
                    nodes.push_back(Node(n, where + kNodeSeparator + key + kNodeSeparator + n, kTagValueNode));
                }
            }
            return true;
        });
    }) ? 1 : 0;
}

int SimBackend::GetVMInfoListForTag(const std::string& region, const std::string& key, const std::string& value,
                                          ULONGLONG, int, std::vector<SVMInfo>& vms) {
    Impl& d = *m_impl;
    return d.Run("GetVMInfoListForTag", true, [&](std::string& error) {
        return d.Look([&](const State& s) {
            std::string where;
            if (!ListingRegion(d, s, region, where, error)) return false;
            if (key.empty()) return Err(error, cloudsim::MissingParameter("a tag key"));
            vms.clear();
            for (const auto& [id, inst] : s.instances)
                if (Listed(inst, d.accountId) && inst.region == where && HasTag(inst, key, value))
                    vms.push_back(ToVMInfo(s, inst));
            return true;
        });
    }) ? 1 : 0;
}

int SimBackend::GetVMInfoListForInstanceType(const std::string& region, const std::string& type, ULONGLONG,
                                                   int, std::vector<SVMInfo>& vms) {
    Impl& d = *m_impl;
    return d.Run("GetVMInfoListForInstanceType", true, [&](std::string& error) {
        return d.Look([&](const State& s) {
            std::string where;
            if (!ListingRegion(d, s, region, where, error)) return false;
            vms.clear();
            for (const auto& [id, inst] : s.instances)
                if (Listed(inst, d.accountId) && inst.region == where && inst.instanceType == type)
                    vms.push_back(ToVMInfo(s, inst));
            return true;
        });
    }) ? 1 : 0;
}

int SimBackend::GetInstanceTypeInfoListForRegion(const std::string& region, ULONGLONG, int,
                                                       std::vector<SInventoryInfo>& nodes, bool listAll) {
    Impl& d = *m_impl;
    return d.Run("GetInstanceTypeInfoListForRegion", true, [&](std::string& error) {
        return d.Look([&](const State& s) {
            std::string where;
            if (!ListingRegion(d, s, region, where, error)) return false;
            std::set<std::string> types;
            if (listAll) {
                for (const auto& t : s.OfferedTypes(where)) types.insert(t);
            } else {
                for (const auto& [id, inst] : s.instances)
                    if (Listed(inst, d.accountId) && inst.region == where && !inst.isTemplate)
                        types.insert(inst.instanceType);
            }
            nodes.clear();
            for (const auto& t : types) nodes.push_back(Node(t, where + kNodeSeparator + t, kInstanceTypeNode));
            return true;
        });
    }) ? 1 : 0;
}

int SimBackend::GetAllInstanceTypeList(const std::string& region, std::vector<VMInfoStructs::SVMSizeInfo>& sizes) {
    Impl& d = *m_impl;
    return d.Run("GetAllInstanceTypeList", true, [&](std::string& error) {
        return d.Look([&](const State& s) {
            std::string where;
            if (!ListingRegion(d, s, region, where, error)) return false;
            sizes.clear();
            for (const auto& name : s.OfferedTypes(where)) {
                VMInfoStructs::SVMSizeInfo size;
                size.name = name;
                if (const cloudsim::InstanceTypeInfo* typeInfo = s.FindInstanceType(name)) {
                    size.cpus = typeInfo->cpus;
                    size.memoryMB = typeInfo->memoryMB;
                }
                sizes.push_back(size);
            }
            return true;
        });
    }) ? 1 : 0;
}

int SimBackend::GetRoleInfoList(std::vector<VMInfoStructs::SRoleInfo>& roles) {
    Impl& d = *m_impl;
    return d.Run("GetRoleInfoList", true, [&](std::string&) {
        return d.Look([&](const State& s) {
            roles.clear();
            for (const auto& r : s.roles) {
                if (r.account != d.accountId) continue;
                VMInfoStructs::SRoleInfo role;
                role.name = r.name;
                role.arn = r.arn;
                roles.push_back(role);
            }
            return true;
        });
    }) ? 1 : 0;
}

bool SimBackend::GetFilteredAmis(const std::string& a, const std::string& b, const std::string& c,
                                       std::vector<VMInfoStructs::SImageInfo>& images) {
    Impl& d = *m_impl;
    return d.Run("GetFilteredAmis", true, [&](std::string& error) {
        return d.Look([&](const State& s) {
            if (!d.CheckRegion(s, error)) return false;
            images.clear();
            for (const auto& [id, image] : s.images) {
                if (image.region != d.region || image.state == "deregistered") continue;
                if (image.account != d.accountId && !image.isPublic) continue;
                if (!a.empty() && image.name.find(a) == std::string::npos) continue;
                if (!b.empty() && Lower(b) != Lower(image.platform)) continue;
                if (!c.empty() && Lower(c) != Lower(image.state)) continue;
                VMInfoStructs::SImageInfo info;
                info.id = image.id;
                info.name = image.name;
                info.description = image.description;
                info.platform = image.platform;
                info.state = image.state;
                images.push_back(info);
            }
            return true;
        });
    });
}

bool SimBackend::GetVolumeEncryptionKeyList(const std::string& region,
                                                  std::vector<VMInfoStructs::SVolumeEncryptionKeyInfo>& keys) {
    Impl& d = *m_impl;
    return d.Run("GetVolumeEncryptionKeyList", true, [&](std::string& error) {
        return d.Look([&](const State& s) {
            std::string where;
            if (!ListingRegion(d, s, region, where, error)) return false;
            keys.clear();
            bool haveDefault = false;
            for (const auto& k : s.kmsKeys) {
                if (k.account != d.accountId || k.region != where) continue;
                VMInfoStructs::SVolumeEncryptionKeyInfo key;
                key.name = k.alias;
                key.id = k.id;
                key.arn = k.arn;
                key.isDefault = k.isDefault;
                haveDefault |= k.isDefault;
                keys.push_back(key);
            }
            // AWS keeps a managed EBS key in every region of every account.
            if (!haveDefault) {
                VMInfoStructs::SVolumeEncryptionKeyInfo key;
                key.name = key.id = "alias/aws/ebs";
                key.arn = DefaultKmsKey(s, d.accountId, where);
                key.isDefault = true;
                keys.insert(keys.begin(), key);
            }
            return true;
        });
    });
}

int SimBackend::DoesVMExist(const std::string& guid, const std::string& name, const std::string& zone,
                                  bool& exists, std::vector<SVMInfo>& vms) {
    Impl& d = *m_impl;
    exists = false;
    return d.Run("DoesVMExist", true, [&](std::string&) {
        return d.Look([&](const State& s) {
            vms.clear();
            auto collect = [&](bool byId) {
                for (const auto& [id, inst] : s.instances) {
                    if (!Listed(inst, d.accountId) || (!zone.empty() && inst.zone != zone)) continue;
                    if (byId ? id == guid : TagOr(inst.tags, "Name", "") == name) vms.push_back(ToVMInfo(s, inst));
                }
            };
            if (!guid.empty()) collect(true);
            if (vms.empty() && !name.empty()) collect(false);
            exists = !vms.empty();
            return true;
        });
    }) ? 1 : 0;
}
