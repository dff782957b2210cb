#include "framework/VMConfigFile.h"

#include <nlohmann/json.hpp>

#include "framework/EvDebug.h"
#include "framework/FileUtils.h"

using nlohmann::json;
using namespace VMInfoStructs;

namespace {

constexpr char kFormat[] = "InstanceConfig";
constexpr int kVersion = 1;

// One field list per record serves both directions: the writer visits a
// const record, the reader a mutable one.
struct Writer {
    json& out;
    template <class T>
    void operator()(const char* key, const T& value) { out[key] = value; }
};

struct Reader {
    const json& in;
    // A field the document lacks keeps the record's default, so documents
    // written before a field existed still load.
    template <class T>
    void operator()(const char* key, T& value) {
        auto it = in.find(key);
        if (it != in.end() && !it->is_null()) it->get_to(value);
    }
};

template <class V, class D>
void VisitDisk(V&& v, D& d) {
    v("name", d.name); v("displayName", d.displayName); v("volumeId", d.volumeId);
    v("deviceName", d.deviceName); v("zone", d.zone); v("state", d.state);
    v("size", d.size); v("usedSize", d.usedSize); v("sectorSize", d.sectorSize);
    v("sourceVolumeId", d.sourceVolumeId); v("snapshotId", d.snapshotId);
    v("volumeType", d.volumeType); v("iops", d.iops); v("encrypted", d.encrypted);
    v("kmsKeyId", d.kmsKeyId); v("deleteOnTermination", d.deleteOnTermination);
    v("isOSDisk", d.isOSDisk); v("filtered", d.filtered); v("diskType", d.diskType);
}

template <class V, class N>
void VisitCard(V&& v, N& n) {
    v("name", n.name); v("id", n.id); v("subnetId", n.subnetId); v("macAddress", n.macAddress);
    v("privateIp", n.privateIp); v("publicIp", n.publicIp); v("networkName", n.networkName);
}

template <class V, class G>
void VisitGroup(V&& v, G& g) { v("name", g.name); v("id", g.id); }

template <class V, class K>
void VisitKey(V&& v, K& k) { v("name", k.name); v("fingerprint", k.fingerprint); }

template <class V, class O>
void VisitOS(V&& v, O& o) {
    v("name", o.name); v("version", o.version); v("architecture", o.architecture); v("isWindows", o.isWindows);
}

template <class V, class M>
void VisitVM(V&& v, M& m) {
    v("name", m.name); v("guid", m.guid); v("biosUuid", m.biosUuid); v("region", m.region);
    v("zone", m.zone); v("sourceId", m.sourceId); v("instanceType", m.instanceType);
    v("guestOS", m.guestOS); v("firmware", m.firmware); v("virtualizationType", m.virtualizationType);
    v("amiId", m.amiId); v("isTemplate", m.isTemplate); v("powerState", m.powerState);
    v("ebsOptimized", m.ebsOptimized); v("totalDiskSize", m.totalDiskSize); v("guestOSId", m.guestOSId);
}

template <class R, class Visit>
json ListToJson(const std::vector<R>& items, Visit visit) {
    json list = json::array();
    for (const auto& item : items) {
        json entry = json::object();
        visit(Writer{entry}, item);
        list.push_back(std::move(entry));
    }
    return list;
}

template <class R, class Visit>
void ListFromJson(const json& doc, const char* key, std::vector<R>& items, Visit visit) {
    auto it = doc.find(key);
    if (it == doc.end() || !it->is_array()) return;
    for (const auto& entry : *it) {
        R item;
        visit(Reader{entry}, item);
        items.push_back(std::move(item));
    }
}

json InstanceToJson(const SVMInfo& vm) {
    json out = json::object();
    VisitVM(Writer{out}, vm);
    json os = json::object();
    VisitOS(Writer{os}, vm.guestOSInfo);
    out["guestOSInfo"] = os;
    out["disks"] = ListToJson(vm.disks, [](Writer w, const SDisk& d) { VisitDisk(w, d); });
    out["networkCards"] = ListToJson(vm.networkCards, [](Writer w, const SVMNetworkCard& n) { VisitCard(w, n); });
    out["securityGroups"] =
        ListToJson(vm.securityGroups, [](Writer w, const SSecurityGroupInfo& g) { VisitGroup(w, g); });
    out["keyPairs"] = ListToJson(vm.keyPairs, [](Writer w, const SKeyPairInfo& k) { VisitKey(w, k); });
    return out;
}

SVMInfo InstanceFromJson(const json& in) {
    SVMInfo vm;
    VisitVM(Reader{in}, vm);
    auto os = in.find("guestOSInfo");
    if (os != in.end() && os->is_object()) VisitOS(Reader{*os}, vm.guestOSInfo);
    ListFromJson(in, "disks", vm.disks, [](Reader r, SDisk& d) { VisitDisk(r, d); });
    ListFromJson(in, "networkCards", vm.networkCards, [](Reader r, SVMNetworkCard& n) { VisitCard(r, n); });
    ListFromJson(in, "securityGroups", vm.securityGroups, [](Reader r, SSecurityGroupInfo& g) { VisitGroup(r, g); });
    ListFromJson(in, "keyPairs", vm.keyPairs, [](Reader r, SKeyPairInfo& k) { VisitKey(r, k); });
    return vm;
}

}  // namespace

bool VMConfigFile::Save(const std::string& path, const SVMInfo& vm) {
    try {
        json doc = {{"format", kFormat}, {"version", kVersion}};
        doc["instance"] = InstanceToJson(vm);
        doc["tags"] = m_tags;
        return FwFile::WriteAllAtomic(path, doc.dump(2) + "\n");
    } catch (const std::exception& e) {
        EvDebug::Error("VMConfigFile", "Cannot write [%s]: %s", path.c_str(), e.what());
        return false;
    }
}

bool VMConfigFile::Load(const std::string& path, SVMInfo& vm) {
    std::string text;
    if (!FwFile::ReadAll(path, text)) return false;
    try {
        const json doc = json::parse(text);
        if (!doc.is_object() || doc.value("format", "") != kFormat || doc.value("version", 0) != kVersion ||
            !doc.contains("instance") || !doc["instance"].is_object()) {
            EvDebug::Error("VMConfigFile", "[%s] is not an instance configuration document", path.c_str());
            return false;
        }
        SVMInfo loaded = InstanceFromJson(doc["instance"]);
        Tags tags;
        if (doc.contains("tags")) doc["tags"].get_to(tags);
        vm = std::move(loaded);
        m_tags = std::move(tags);
        return true;
    } catch (const std::exception& e) {
        EvDebug::Error("VMConfigFile", "Cannot read [%s]: %s", path.c_str(), e.what());
        return false;
    }
}
