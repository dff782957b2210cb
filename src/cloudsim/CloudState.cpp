#include "cloudsim/CloudState.h"

#include <cctype>
#include <cstdio>
#include <set>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "cloudsim/Cloud.h"

namespace cloudsim {

using nlohmann::json;

const Account* State::FindAccountByKey(const std::string& accessKey) const {
    for (const auto& a : accounts)
        if (a.accessKey == accessKey) return &a;
    return nullptr;
}

const Session* State::FindSession(const std::string& accessKey) const {
    for (const auto& x : sessions)
        if (x.accessKey == accessKey) return &x;
    return nullptr;
}

const Account* State::FindAccount(const std::string& id) const {
    for (const auto& a : accounts)
        if (a.id == id) return &a;
    return nullptr;
}

const Region* State::FindRegion(const std::string& name) const {
    for (const auto& r : regions)
        if (r.name == name) return &r;
    return nullptr;
}

const Region* State::RegionOfZone(const std::string& zone) const {
    for (const auto& r : regions)
        for (const auto& z : r.zones)
            if (z == zone) return &r;
    return nullptr;
}

bool State::IdInUse(const std::string& id) const {
    if (instances.count(id) || volumes.count(id) || snapshots.count(id) || images.count(id) || vpcs.count(id) ||
        subnets.count(id))
        return true;
    for (const auto& [iid, inst] : instances)
        for (const auto& nic : inst.networkInterfaces)
            if (nic.id == id) return true;
    return false;
}

const std::vector<InstanceTypeInfo>& BuiltinInstanceTypes() {
    static const std::vector<InstanceTypeInfo> table = {
        {"t2.micro", 1, 1024},    {"t3.micro", 2, 1024},     {"t3.small", 2, 2048},    {"t3.medium", 2, 4096},
        {"t3.large", 2, 8192},    {"m5.large", 2, 8192},     {"m5.xlarge", 4, 16384},  {"m5.2xlarge", 8, 32768},
        {"c5.large", 2, 4096},    {"c5.xlarge", 4, 8192},    {"c5.2xlarge", 8, 16384}, {"r5.large", 2, 16384},
        {"r5.xlarge", 4, 32768},
    };
    return table;
}

const std::vector<std::string>& DefaultOfferedTypes() {
    static const std::vector<std::string> offered = {"t2.micro",  "t3.micro",  "t3.small",   "t3.medium",
                                                     "t3.large",  "m5.large",  "m5.xlarge",  "m5.2xlarge",
                                                     "c5.large",  "c5.xlarge", "c5.2xlarge", "r5.large"};
    return offered;
}

std::vector<std::string> State::OfferedTypes(const std::string& region) const {
    const Region* r = FindRegion(region);
    if (r && !r->instanceTypes.empty()) return r->instanceTypes;
    return DefaultOfferedTypes();
}

const InstanceTypeInfo* State::FindInstanceType(const std::string& name) const {
    for (const auto& t : instanceTypes.empty() ? BuiltinInstanceTypes() : instanceTypes)
        if (t.name == name) return &t;
    return nullptr;
}

std::string Volume::AttachmentState() const {
    if (attachedInstance.empty()) return "";
    if (pending.Active() && pending.to == "in-use") return "attaching";
    if (pending.Active() && pending.to == "available") return "detaching";
    return "attached";
}

std::string FaultHit::EffectFor(const std::vector<std::string>& ids) const {
    std::string effect;
    for (const auto& rule : effects) {
        bool applies = rule.target.empty();
        for (const auto& id : ids) applies |= (!id.empty() && id == rule.target);
        if (!applies) continue;
        if (rule.kind == "error") return "error";
        effect = rule.kind;
    }
    return effect;
}

namespace {

// splitmix64's finaliser: a bijection, so distinct counters give distinct ids
// while the ids still look as scattered as real ones.
uint64_t Scramble(uint64_t x) {
    x += 0x9e3779b97f4a7c15ULL;
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
    return x ^ (x >> 31);
}

}  // namespace

std::string State::NewId(const std::string& prefix) {
    for (;;) {
        char hex[24];
        // AWS ids carry 17 hex digits; a leading 0 keeps all 64 bits of the
        // scrambled counter, as the long-format ids of real resources do.
        std::snprintf(hex, sizeof hex, "0%016llx", static_cast<unsigned long long>(Scramble(nextId++)));
        std::string id = prefix + "-" + hex;
        // A seed may hold hand-written ids that happen to collide.
        if (!IdInUse(id)) return id;
    }
}

namespace {

[[noreturn]] void Fail(const std::string& where, const std::string& what) {
    throw std::runtime_error("cloud state: " + where + ": " + what);
}

// Reads the optional members of one JSON object into their C++ fields,
// leaving the coded default when a member is absent or null.
class Fields {
public:
    Fields(const json& obj, std::string where) : m_obj(obj), m_where(std::move(where)) {
        if (!m_obj.is_object()) Fail(m_where, "expected an object");
    }

    const json* Find(const char* key) const {
        auto it = m_obj.find(key);
        if (it == m_obj.end() || it->is_null()) return nullptr;
        return &*it;
    }
    std::string Where(const char* key) const { return m_where + "." + key; }

    void Get(const char* key, std::string& out) const {
        if (const json* v = Find(key)) {
            if (!v->is_string()) Fail(Where(key), "expected a string");
            out = v->get<std::string>();
        }
    }
    void Get(const char* key, bool& out) const {
        if (const json* v = Find(key)) {
            if (!v->is_boolean()) Fail(Where(key), "expected true or false");
            out = v->get<bool>();
        }
    }
    void Get(const char* key, int64_t& out) const {
        if (const json* v = Find(key)) {
            if (!v->is_number_integer()) Fail(Where(key), "expected an integer");
            out = v->get<int64_t>();
        }
    }
    void Get(const char* key, int32_t& out) const {
        int64_t wide = out;
        Get(key, wide);
        if (wide < INT32_MIN || wide > INT32_MAX) Fail(Where(key), "integer out of range");
        out = static_cast<int32_t>(wide);
    }
    void Get(const char* key, std::vector<std::string>& out) const {
        if (const json* v = Find(key)) {
            if (!v->is_array()) Fail(Where(key), "expected an array of strings");
            out.clear();
            for (const auto& item : *v) {
                if (!item.is_string()) Fail(Where(key), "expected an array of strings");
                out.push_back(item.get<std::string>());
            }
        }
    }
    void Get(const char* key, std::map<std::string, std::string>& out) const {
        if (const json* v = Find(key)) {
            if (!v->is_object()) Fail(Where(key), "expected an object of strings");
            out.clear();
            for (auto it = v->begin(); it != v->end(); ++it) {
                if (!it.value().is_string()) Fail(Where(key) + "." + it.key(), "expected a string");
                out[it.key()] = it.value().get<std::string>();
            }
        }
    }
    // Calls f(item, "where[i]") for every element of an optional array.
    template <class F>
    void Each(const char* key, F f) const {
        const json* v = Find(key);
        if (!v) return;
        if (!v->is_array()) Fail(Where(key), "expected an array");
        for (size_t i = 0; i < v->size(); ++i) f((*v)[i], Where(key) + "[" + std::to_string(i) + "]");
    }

private:
    const json& m_obj;
    std::string m_where;
};

void Require(const std::string& value, const std::string& where) {
    if (value.empty()) Fail(where, "missing");
}

Account ParseAccount(const json& j, const std::string& where) {
    Fields f(j, where);
    Account a;
    f.Get("id", a.id);
    f.Get("accessKey", a.accessKey);
    f.Get("secretKey", a.secretKey);
    f.Get("canonicalId", a.canonicalId);
    f.Get("partition", a.partition);
    f.Get("defaultRegion", a.defaultRegion);
    f.Get("deniedActions", a.deniedActions);
    Require(a.id, where + ".id");
    return a;
}

Region ParseRegion(const json& j, const std::string& where) {
    Fields f(j, where);
    Region r;
    f.Get("name", r.name);
    f.Get("zones", r.zones);
    f.Get("instanceTypes", r.instanceTypes);
    Require(r.name, where + ".name");
    return r;
}

Timing ParseTiming(const json& j, const std::string& where) {
    Fields f(j, where);
    Timing t;
    f.Get("volumeCreateMs", t.volumeCreateMs);
    f.Get("attachMs", t.attachMs);
    f.Get("detachMs", t.detachMs);
    f.Get("deleteMs", t.deleteMs);
    f.Get("snapshotMs", t.snapshotMs);
    f.Get("amiMs", t.amiMs);
    f.Get("modifyMs", t.modifyMs);
    f.Get("optimizeMs", t.optimizeMs);
    f.Get("instanceStartMs", t.instanceStartMs);
    f.Get("instanceStopMs", t.instanceStopMs);
    f.Get("statusCheckMs", t.statusCheckMs);
    for (int64_t v : {t.volumeCreateMs, t.attachMs, t.detachMs, t.deleteMs, t.snapshotMs, t.amiMs, t.modifyMs,
                      t.optimizeMs, t.instanceStartMs, t.instanceStopMs, t.statusCheckMs})
        if (v < 0) Fail(where, "durations must not be negative");
    return t;
}

void CheckFaultKind(const std::string& kind, const std::string& where, bool ruleKinds) {
    if (kind.empty() || kind == "stuck" || kind == "error") return;
    if (ruleKinds && (kind == "fail" || kind == "conflict" || kind == "count" || kind == "kill")) return;
    Fail(where, "unknown fault kind '" + kind + "'");
}

Transition ParseTransition(const Fields& parent, const char* key) {
    Transition t;
    const json* j = parent.Find(key);
    if (!j) return t;
    Fields f(*j, parent.Where(key));
    f.Get("to", t.to);
    f.Get("readyAtMs", t.readyAtMs);
    f.Get("fault", t.fault);
    CheckFaultKind(t.fault, parent.Where(key) + ".fault", false);
    return t;
}

// Blocks must lie within the data they belong to.
void CheckBlockIndex(int64_t index, int64_t sizeBytes, const std::string& where) {
    if (index < 0 || index >= (sizeBytes + kBlockSize - 1) / kBlockSize)
        Fail(where, "block " + std::to_string(index) + " lies outside " + std::to_string(sizeBytes) + " bytes");
}

bool IsContentId(const std::string& id) {
    if (id.size() != 64) return false;
    for (char c : id)
        if (!std::isxdigit(static_cast<unsigned char>(c)) || std::isupper(static_cast<unsigned char>(c))) return false;
    return true;
}

// A block map is an object of decimal block index -> content id.
BlockMap ParseBlockMap(const Fields& parent, const char* key, int64_t sizeBytes) {
    BlockMap map;
    const json* j = parent.Find(key);
    if (!j) return map;
    std::string where = parent.Where(key);
    if (!j->is_object()) Fail(where, "expected an object of block index to content id");
    for (auto it = j->begin(); it != j->end(); ++it) {
        const std::string& index = it.key();
        if (index.empty() || index.size() > 15 || index.find_first_not_of("0123456789") != std::string::npos)
            Fail(where, "block index '" + index + "' is not a number");
        if (!it.value().is_string() || !IsContentId(it.value().get<std::string>()))
            Fail(where + "." + index, "expected a content id (64 lower-case hex digits)");
        int64_t n = std::stoll(index);
        CheckBlockIndex(n, sizeBytes, where);
        map[n] = it.value().get<std::string>();
    }
    return map;
}

SeedData ParseSeedData(const Fields& parent, const char* key, int64_t sizeBytes) {
    SeedData seed;
    const json* j = parent.Find(key);
    if (!j) return seed;
    Fields f(*j, parent.Where(key));
    f.Get("text", seed.text);
    f.Each("blocks", [&](const json& item, const std::string& where) {
        if (!item.is_number_integer()) Fail(where, "expected a block index");
        CheckBlockIndex(item.get<int64_t>(), sizeBytes, where);
        seed.blocks.push_back(item.get<int64_t>());
    });
    if (!seed.Empty()) Require(seed.text, parent.Where(key) + ".text");
    return seed;
}

VolumeModification ParseModification(const Fields& parent, const char* key) {
    VolumeModification m;
    const json* j = parent.Find(key);
    if (!j) return m;
    Fields f(*j, parent.Where(key));
    f.Get("state", m.state);
    f.Get("targetType", m.targetType);
    f.Get("targetIops", m.targetIops);
    f.Get("startMs", m.startMs);
    f.Get("optimizingAtMs", m.optimizingAtMs);
    f.Get("completedAtMs", m.completedAtMs);
    f.Get("fault", m.fault);
    CheckFaultKind(m.fault, parent.Where(key) + ".fault", false);
    return m;
}

Volume ParseVolume(const json& j, const std::string& where) {
    Fields f(j, where);
    Volume v;
    f.Get("id", v.id);
    f.Get("account", v.account);
    f.Get("region", v.region);
    f.Get("zone", v.zone);
    f.Get("sizeBytes", v.sizeBytes);
    f.Get("usedBytes", v.usedBytes);
    f.Get("type", v.type);
    f.Get("iops", v.iops);
    f.Get("encrypted", v.encrypted);
    f.Get("kmsKeyId", v.kmsKeyId);
    f.Get("state", v.state);
    f.Get("attachedInstance", v.attachedInstance);
    f.Get("attachedDevice", v.attachedDevice);
    f.Get("deleteOnTermination", v.deleteOnTermination);
    f.Get("tags", v.tags);
    f.Get("createdMs", v.createdMs);
    f.Get("snapshotId", v.snapshotId);
    f.Get("lineage", v.lineage);
    f.Get("outpostArn", v.outpostArn);
    v.pending = ParseTransition(f, "pending");
    v.modification = ParseModification(f, "modification");
    f.Get("productCodes", v.productCodes);
    f.Get("devicePath", v.devicePath);
    Require(v.id, where + ".id");
    if (v.sizeBytes < 0) Fail(where + ".sizeBytes", "negative size");
    v.blocks = ParseBlockMap(f, "blocks", v.sizeBytes);
    v.seed = ParseSeedData(f, "data", v.sizeBytes);
    return v;
}

Snapshot ParseSnapshot(const json& j, const std::string& where) {
    Fields f(j, where);
    Snapshot s;
    f.Get("id", s.id);
    f.Get("account", s.account);
    f.Get("region", s.region);
    f.Get("volumeId", s.volumeId);
    f.Get("lineage", s.lineage);
    f.Get("sizeBytes", s.sizeBytes);
    f.Get("volumeType", s.volumeType);
    f.Get("iops", s.iops);
    f.Get("encrypted", s.encrypted);
    f.Get("kmsKeyId", s.kmsKeyId);
    f.Get("state", s.state);
    f.Get("description", s.description);
    f.Get("tags", s.tags);
    f.Get("createdMs", s.createdMs);
    f.Get("isPublic", s.isPublic);
    s.pending = ParseTransition(f, "pending");
    Require(s.id, where + ".id");
    if (s.sizeBytes < 0) Fail(where + ".sizeBytes", "negative size");
    s.blocks = ParseBlockMap(f, "blocks", s.sizeBytes);
    s.seed = ParseSeedData(f, "data", s.sizeBytes);
    return s;
}

Image ParseImage(const json& j, const std::string& where) {
    Fields f(j, where);
    Image i;
    f.Get("id", i.id);
    f.Get("account", i.account);
    f.Get("region", i.region);
    f.Get("name", i.name);
    f.Get("description", i.description);
    f.Get("platform", i.platform);
    f.Get("architecture", i.architecture);
    f.Get("virtualizationType", i.virtualizationType);
    f.Get("rootDeviceName", i.rootDeviceName);
    f.Get("instanceType", i.instanceType);
    f.Get("sourceInstanceId", i.sourceInstanceId);
    f.Get("snapshotIds", i.snapshotIds);
    f.Get("state", i.state);
    f.Get("tags", i.tags);
    f.Get("createdMs", i.createdMs);
    f.Get("isPublic", i.isPublic);
    i.pending = ParseTransition(f, "pending");
    Require(i.id, where + ".id");
    return i;
}

NetworkInterface ParseNic(const json& j, const std::string& where) {
    Fields f(j, where);
    NetworkInterface n;
    f.Get("id", n.id);
    f.Get("subnetId", n.subnetId);
    f.Get("privateIp", n.privateIp);
    f.Get("macAddress", n.macAddress);
    f.Get("deleteOnTermination", n.deleteOnTermination);
    Require(n.id, where + ".id");
    return n;
}

Instance ParseInstance(const json& j, const std::string& where) {
    Fields f(j, where);
    Instance i;
    f.Get("id", i.id);
    f.Get("account", i.account);
    f.Get("region", i.region);
    f.Get("zone", i.zone);
    f.Get("instanceType", i.instanceType);
    f.Get("state", i.state);
    f.Get("platform", i.platform);
    f.Get("amiId", i.amiId);
    f.Get("biosUuid", i.biosUuid);
    f.Get("virtualizationType", i.virtualizationType);
    f.Get("outpostArn", i.outpostArn);
    f.Get("isTemplate", i.isTemplate);
    f.Get("volumeIds", i.volumeIds);
    f.Get("tags", i.tags);
    f.Get("keyName", i.keyName);
    f.Get("password", i.password);
    f.Get("consoleOutput", i.consoleOutput);
    // A seeded machine that is not running has no status checks.
    if (i.state != "running") i.statusCheck.clear();
    f.Get("statusCheck", i.statusCheck);
    f.Each("networkInterfaces", [&](const json& n, const std::string& w) { i.networkInterfaces.push_back(ParseNic(n, w)); });
    f.Get("launchTimeMs", i.launchTimeMs);
    i.pending = ParseTransition(f, "pending");
    i.statusPending = ParseTransition(f, "statusPending");
    Require(i.id, where + ".id");
    return i;
}

KeyPair ParseKeyPair(const json& j, const std::string& where) {
    Fields f(j, where);
    KeyPair k;
    f.Get("name", k.name);
    f.Get("account", k.account);
    f.Get("region", k.region);
    f.Get("fingerprint", k.fingerprint);
    Require(k.name, where + ".name");
    return k;
}

Vpc ParseVpc(const json& j, const std::string& where) {
    Fields f(j, where);
    Vpc v;
    f.Get("id", v.id);
    f.Get("account", v.account);
    f.Get("region", v.region);
    f.Get("name", v.name);
    f.Get("cidr", v.cidr);
    Require(v.id, where + ".id");
    Require(v.cidr, where + ".cidr");
    return v;
}

Subnet ParseSubnet(const json& j, const std::string& where) {
    Fields f(j, where);
    Subnet s;
    f.Get("id", s.id);
    f.Get("account", s.account);
    f.Get("region", s.region);
    f.Get("vpcId", s.vpcId);
    f.Get("name", s.name);
    f.Get("cidr", s.cidr);
    f.Get("zone", s.zone);
    Require(s.id, where + ".id");
    return s;
}

KmsKey ParseKmsKey(const json& j, const std::string& where) {
    Fields f(j, where);
    KmsKey k;
    f.Get("id", k.id);
    f.Get("account", k.account);
    f.Get("region", k.region);
    f.Get("alias", k.alias);
    f.Get("arn", k.arn);
    f.Get("isDefault", k.isDefault);
    Require(k.id, where + ".id");
    if (k.arn.empty()) k.arn = "arn:aws:kms:" + k.region + ":" + k.account + ":key/" + k.id;
    return k;
}

Role ParseRole(const json& j, const std::string& where) {
    Fields f(j, where);
    Role r;
    f.Get("name", r.name);
    f.Get("account", r.account);
    f.Get("arn", r.arn);
    Require(r.name, where + ".name");
    if (r.arn.empty()) r.arn = "arn:aws:iam::" + r.account + ":role/" + r.name;
    return r;
}

InstanceTypeInfo ParseInstanceType(const json& j, const std::string& where) {
    Fields f(j, where);
    InstanceTypeInfo t;
    f.Get("name", t.name);
    f.Get("cpus", t.cpus);
    f.Get("memoryMB", t.memoryMB);
    Require(t.name, where + ".name");
    return t;
}

Bucket ParseBucket(const json& j, const std::string& where) {
    Fields f(j, where);
    Bucket b;
    f.Get("name", b.name);
    f.Get("account", b.account);
    f.Get("region", b.region);
    Require(b.name, where + ".name");
    return b;
}

S3Object ParseObject(const json& j, const std::string& where) {
    Fields f(j, where);
    S3Object o;
    f.Get("bucket", o.bucket);
    f.Get("key", o.key);
    f.Get("size", o.size);
    Require(o.bucket, where + ".bucket");
    Require(o.key, where + ".key");
    return o;
}

FaultRule ParseFault(const json& j, const std::string& where) {
    Fields f(j, where);
    FaultRule r;
    f.Get("operation", r.operation);
    f.Get("nth", r.nth);
    f.Get("error", r.error);
    f.Get("seen", r.seen);
    f.Get("kind", r.kind);
    f.Get("target", r.target);
    Require(r.operation, where + ".operation");
    if (r.nth < 0) Fail(where + ".nth", "must not be negative");
    if (r.kind.empty()) r.kind = "fail";
    CheckFaultKind(r.kind, where + ".kind", true);
    return r;
}

void CheckAccount(const State& s, const std::string& what, const std::string& account) {
    if (!s.FindAccount(account)) Fail(what, "unknown account '" + account + "'");
}

void CheckRegion(const State& s, const std::string& what, const std::string& region) {
    if (!s.FindRegion(region)) Fail(what, "unknown region '" + region + "'");
}

void CheckPlacement(const State& s, const std::string& what, const std::string& account, const std::string& region,
                    const std::string& zone) {
    CheckAccount(s, what, account);
    const Region* r = s.FindRegion(region);
    if (!r) Fail(what, "unknown region '" + region + "'");
    bool zoneKnown = false;
    for (const auto& z : r->zones) zoneKnown |= (z == zone);
    if (!zoneKnown) Fail(what, "zone '" + zone + "' is not in region " + region);
}

// A hand-written seed lists a volume only under its instance; the volume's
// side of the attachment is filled in here so that both sides always agree.
void CheckReferences(State& s) {
    for (const auto& [id, v] : s.volumes) CheckPlacement(s, "volume " + id, v.account, v.region, v.zone);
    for (const auto& [id, inst] : s.instances) {
        CheckPlacement(s, "instance " + id, inst.account, inst.region, inst.zone);
        for (const auto& volId : inst.volumeIds) {
            auto it = s.volumes.find(volId);
            if (it == s.volumes.end()) Fail("instance " + id, "lists unknown volume " + volId);
            Volume& v = it->second;
            if (v.attachedInstance.empty()) {
                v.attachedInstance = id;
                if (v.state == "available") v.state = "in-use";
            } else if (v.attachedInstance != id) {
                Fail("instance " + id, "lists volume " + volId + " attached to " + v.attachedInstance);
            }
        }
        // A terminated instance's interfaces may name subnets deleted since.
        for (const auto& nic : inst.networkInterfaces)
            if (inst.state != "terminated" && !nic.subnetId.empty() && !s.subnets.count(nic.subnetId))
                Fail("instance " + id, "interface " + nic.id + " names unknown subnet " + nic.subnetId);
    }
    // Public snapshots and images may belong to accounts the cloud does not
    // otherwise know (Amazon's own, a vendor's).
    for (const auto& [id, snap] : s.snapshots) {
        if (!snap.isPublic) CheckAccount(s, "snapshot " + id, snap.account);
        CheckRegion(s, "snapshot " + id, snap.region);
    }
    for (const auto& [id, image] : s.images) {
        if (!image.isPublic) CheckAccount(s, "image " + id, image.account);
        CheckRegion(s, "image " + id, image.region);
        for (const auto& snapId : image.snapshotIds)
            if (!s.snapshots.count(snapId) && image.state != "deregistered")
                Fail("image " + id, "lists unknown snapshot " + snapId);
    }
    for (const auto& [id, vpc] : s.vpcs) {
        CheckAccount(s, "vpc " + id, vpc.account);
        CheckRegion(s, "vpc " + id, vpc.region);
    }
    for (auto& [id, subnet] : s.subnets) {
        auto vpc = s.vpcs.find(subnet.vpcId);
        if (vpc == s.vpcs.end()) Fail("subnet " + id, "names unknown vpc '" + subnet.vpcId + "'");
        if (subnet.account.empty()) subnet.account = vpc->second.account;
        if (subnet.region.empty()) subnet.region = vpc->second.region;
    }
    for (const auto& k : s.keyPairs) {
        CheckAccount(s, "key pair " + k.name, k.account);
        CheckRegion(s, "key pair " + k.name, k.region);
    }
    for (const auto& k : s.kmsKeys) {
        CheckAccount(s, "kms key " + k.id, k.account);
        CheckRegion(s, "kms key " + k.id, k.region);
    }
    for (const auto& r : s.roles) CheckAccount(s, "role " + r.name, r.account);
    for (const auto& [name, b] : s.buckets) {
        CheckAccount(s, "bucket " + name, b.account);
        CheckRegion(s, "bucket " + name, b.region);
    }
    for (const auto& o : s.objects)
        if (!s.buckets.count(o.bucket)) Fail("object " + o.key, "in unknown bucket '" + o.bucket + "'");
    if (!s.proxyInstanceId.empty() && !s.instances.count(s.proxyInstanceId))
        Fail("proxyInstanceId", "unknown instance '" + s.proxyInstanceId + "'");
}

// ---- serialisation ----

void PutTransition(json& obj, const char* key, const Transition& t) {
    if (!t.Active()) return;
    json j = {{"to", t.to}, {"readyAtMs", t.readyAtMs}};
    if (!t.fault.empty()) j["fault"] = t.fault;
    obj[key] = std::move(j);
}

// Only what a resource has: an empty volume adds nothing to the state.
void PutBlockData(json& obj, const BlockMap& blocks, const SeedData& seed) {
    if (!blocks.empty()) {
        json jb = json::object();
        for (const auto& [index, id] : blocks) jb[std::to_string(index)] = id;
        obj["blocks"] = std::move(jb);
    }
    if (!seed.Empty()) obj["data"] = {{"text", seed.text}, {"blocks", seed.blocks}};
}

json TimingJson(const Timing& t) {
    return {{"volumeCreateMs", t.volumeCreateMs}, {"attachMs", t.attachMs},
            {"detachMs", t.detachMs},             {"deleteMs", t.deleteMs},
            {"snapshotMs", t.snapshotMs},         {"amiMs", t.amiMs},
            {"modifyMs", t.modifyMs},             {"optimizeMs", t.optimizeMs},
            {"instanceStartMs", t.instanceStartMs}, {"instanceStopMs", t.instanceStopMs},
            {"statusCheckMs", t.statusCheckMs}};
}

json VolumeJson(const Volume& v) {
    json jv = {{"id", v.id},
               {"account", v.account},
               {"region", v.region},
               {"zone", v.zone},
               {"sizeBytes", v.sizeBytes},
               {"type", v.type},
               {"iops", v.iops},
               {"encrypted", v.encrypted},
               {"kmsKeyId", v.kmsKeyId},
               {"state", v.state},
               {"attachedInstance", v.attachedInstance},
               {"attachedDevice", v.attachedDevice},
               {"deleteOnTermination", v.deleteOnTermination},
               {"tags", v.tags},
               {"createdMs", v.createdMs},
               {"snapshotId", v.snapshotId},
               {"outpostArn", v.outpostArn}};
    if (v.usedBytes >= 0) jv["usedBytes"] = v.usedBytes;
    if (!v.productCodes.empty()) jv["productCodes"] = v.productCodes;
    if (!v.devicePath.empty()) jv["devicePath"] = v.devicePath;
    if (!v.lineage.empty()) jv["lineage"] = v.lineage;
    PutBlockData(jv, v.blocks, v.seed);
    PutTransition(jv, "pending", v.pending);
    const VolumeModification& m = v.modification;
    if (!m.state.empty()) {
        json jm = {{"state", m.state},
                   {"targetType", m.targetType},
                   {"targetIops", m.targetIops},
                   {"startMs", m.startMs},
                   {"optimizingAtMs", m.optimizingAtMs},
                   {"completedAtMs", m.completedAtMs}};
        if (!m.fault.empty()) jm["fault"] = m.fault;
        jv["modification"] = std::move(jm);
    }
    return jv;
}

json InstanceJson(const Instance& i) {
    json nics = json::array();
    for (const auto& n : i.networkInterfaces)
        nics.push_back({{"id", n.id},
                        {"subnetId", n.subnetId},
                        {"privateIp", n.privateIp},
                        {"macAddress", n.macAddress},
                        {"deleteOnTermination", n.deleteOnTermination}});
    json ji = {{"id", i.id},
               {"account", i.account},
               {"region", i.region},
               {"zone", i.zone},
               {"instanceType", i.instanceType},
               {"state", i.state},
               {"platform", i.platform},
               {"amiId", i.amiId},
               {"biosUuid", i.biosUuid},
               {"virtualizationType", i.virtualizationType},
               {"outpostArn", i.outpostArn},
               {"isTemplate", i.isTemplate},
               {"volumeIds", i.volumeIds},
               {"tags", i.tags},
               {"keyName", i.keyName},
               {"password", i.password},
               {"consoleOutput", i.consoleOutput},
               {"statusCheck", i.statusCheck},
               {"networkInterfaces", std::move(nics)},
               {"launchTimeMs", i.launchTimeMs}};
    PutTransition(ji, "pending", i.pending);
    PutTransition(ji, "statusPending", i.statusPending);
    return ji;
}

json SnapshotJson(const Snapshot& s) {
    json js = {{"id", s.id},
               {"account", s.account},
               {"region", s.region},
               {"volumeId", s.volumeId},
               {"sizeBytes", s.sizeBytes},
               {"volumeType", s.volumeType},
               {"iops", s.iops},
               {"encrypted", s.encrypted},
               {"kmsKeyId", s.kmsKeyId},
               {"state", s.state},
               {"description", s.description},
               {"tags", s.tags},
               {"createdMs", s.createdMs},
               {"isPublic", s.isPublic}};
    if (!s.lineage.empty()) js["lineage"] = s.lineage;
    PutBlockData(js, s.blocks, s.seed);
    PutTransition(js, "pending", s.pending);
    return js;
}

json ImageJson(const Image& i) {
    json ji = {{"id", i.id},
               {"account", i.account},
               {"region", i.region},
               {"name", i.name},
               {"description", i.description},
               {"platform", i.platform},
               {"architecture", i.architecture},
               {"virtualizationType", i.virtualizationType},
               {"rootDeviceName", i.rootDeviceName},
               {"instanceType", i.instanceType},
               {"sourceInstanceId", i.sourceInstanceId},
               {"snapshotIds", i.snapshotIds},
               {"state", i.state},
               {"tags", i.tags},
               {"createdMs", i.createdMs},
               {"isPublic", i.isPublic}};
    PutTransition(ji, "pending", i.pending);
    return ji;
}

}  // namespace

State ParseState(const std::string& text) {
    json root;
    try {
        root = json::parse(text);
    } catch (const json::parse_error& e) {
        throw std::runtime_error(std::string("cloud state: malformed JSON: ") + e.what());
    }
    Fields f(root, "state");
    State s;
    f.Get("generation", s.generation);
    f.Get("nextId", s.nextId);
    f.Get("proxyInstanceId", s.proxyInstanceId);
    f.Get("staleDevices", s.staleDevices);
    if (const json* t = f.Find("timing")) s.timing = ParseTiming(*t, "state.timing");

    std::set<std::string> seen;
    auto unique = [&](const std::string& what, const std::string& where) {
        if (!seen.insert(what).second) Fail(where, "duplicate " + what);
    };
    f.Each("accounts", [&](const json& j, const std::string& where) {
        s.accounts.push_back(ParseAccount(j, where));
        if (!seen.insert("account " + s.accounts.back().id).second) Fail(where, "duplicate account id");
    });
    f.Each("regions", [&](const json& j, const std::string& where) {
        s.regions.push_back(ParseRegion(j, where));
        if (!seen.insert("region " + s.regions.back().name).second) Fail(where, "duplicate region");
    });
    f.Each("volumes", [&](const json& j, const std::string& where) {
        Volume v = ParseVolume(j, where);
        if (!s.volumes.emplace(v.id, v).second) Fail(where, "duplicate volume id " + v.id);
    });
    f.Each("instances", [&](const json& j, const std::string& where) {
        Instance i = ParseInstance(j, where);
        if (!s.instances.emplace(i.id, i).second) Fail(where, "duplicate instance id " + i.id);
    });
    f.Each("snapshots", [&](const json& j, const std::string& where) {
        Snapshot x = ParseSnapshot(j, where);
        if (!s.snapshots.emplace(x.id, x).second) Fail(where, "duplicate snapshot id " + x.id);
    });
    f.Each("images", [&](const json& j, const std::string& where) {
        Image x = ParseImage(j, where);
        if (!s.images.emplace(x.id, x).second) Fail(where, "duplicate image id " + x.id);
    });
    f.Each("vpcs", [&](const json& j, const std::string& where) {
        Vpc x = ParseVpc(j, where);
        if (!s.vpcs.emplace(x.id, x).second) Fail(where, "duplicate vpc id " + x.id);
    });
    f.Each("subnets", [&](const json& j, const std::string& where) {
        Subnet x = ParseSubnet(j, where);
        if (!s.subnets.emplace(x.id, x).second) Fail(where, "duplicate subnet id " + x.id);
    });
    f.Each("keyPairs", [&](const json& j, const std::string& where) {
        s.keyPairs.push_back(ParseKeyPair(j, where));
        const KeyPair& k = s.keyPairs.back();
        unique("key pair " + k.account + "/" + k.region + "/" + k.name, where);
    });
    f.Each("kmsKeys", [&](const json& j, const std::string& where) {
        s.kmsKeys.push_back(ParseKmsKey(j, where));
        unique("kms key " + s.kmsKeys.back().id, where);
    });
    f.Each("roles", [&](const json& j, const std::string& where) {
        s.roles.push_back(ParseRole(j, where));
        unique("role " + s.roles.back().account + "/" + s.roles.back().name, where);
    });
    f.Each("sessions", [&](const json& j, const std::string& where) {
        Fields g(j, where);
        Session x;
        g.Get("accessKey", x.accessKey);
        g.Get("secretKey", x.secretKey);
        g.Get("token", x.token);
        g.Get("account", x.account);
        g.Get("expiresMs", x.expiresMs);
        Require(x.accessKey, where + ".accessKey");
        s.sessions.push_back(std::move(x));
    });
    f.Each("instanceTypes", [&](const json& j, const std::string& where) {
        s.instanceTypes.push_back(ParseInstanceType(j, where));
        unique("instance type " + s.instanceTypes.back().name, where);
    });
    f.Each("buckets", [&](const json& j, const std::string& where) {
        Bucket b = ParseBucket(j, where);
        if (!s.buckets.emplace(b.name, b).second) Fail(where, "duplicate bucket " + b.name);
    });
    f.Each("objects", [&](const json& j, const std::string& where) {
        s.objects.push_back(ParseObject(j, where));
        unique("object " + s.objects.back().bucket + "/" + s.objects.back().key, where);
    });
    f.Each("faults", [&](const json& j, const std::string& where) { s.faults.push_back(ParseFault(j, where)); });
    CheckReferences(s);
    return s;
}

std::string SerializeState(const State& s) {
    json root = json::object();
    root["generation"] = s.generation;
    root["nextId"] = s.nextId;
    root["proxyInstanceId"] = s.proxyInstanceId;
    root["timing"] = TimingJson(s.timing);
    if (!s.staleDevices.empty()) root["staleDevices"] = s.staleDevices;
    json& accounts = root["accounts"] = json::array();
    for (const auto& a : s.accounts) {
        json ja = {{"id", a.id},
                   {"accessKey", a.accessKey},
                   {"secretKey", a.secretKey},
                   {"canonicalId", a.canonicalId},
                   {"partition", a.partition},
                   {"defaultRegion", a.defaultRegion}};
        if (!a.deniedActions.empty()) ja["deniedActions"] = a.deniedActions;
        accounts.push_back(std::move(ja));
    }
    json& regions = root["regions"] = json::array();
    for (const auto& r : s.regions) {
        json jr = {{"name", r.name}, {"zones", r.zones}};
        if (!r.instanceTypes.empty()) jr["instanceTypes"] = r.instanceTypes;
        regions.push_back(std::move(jr));
    }
    json& instances = root["instances"] = json::array();
    for (const auto& [id, i] : s.instances) instances.push_back(InstanceJson(i));
    json& volumes = root["volumes"] = json::array();
    for (const auto& [id, v] : s.volumes) volumes.push_back(VolumeJson(v));
    json& snapshots = root["snapshots"] = json::array();
    for (const auto& [id, x] : s.snapshots) snapshots.push_back(SnapshotJson(x));
    json& images = root["images"] = json::array();
    for (const auto& [id, x] : s.images) images.push_back(ImageJson(x));
    json& vpcs = root["vpcs"] = json::array();
    for (const auto& [id, v] : s.vpcs)
        vpcs.push_back({{"id", v.id}, {"account", v.account}, {"region", v.region}, {"name", v.name}, {"cidr", v.cidr}});
    json& subnets = root["subnets"] = json::array();
    for (const auto& [id, x] : s.subnets)
        subnets.push_back({{"id", x.id},
                           {"account", x.account},
                           {"region", x.region},
                           {"vpcId", x.vpcId},
                           {"name", x.name},
                           {"cidr", x.cidr},
                           {"zone", x.zone}});
    json& keyPairs = root["keyPairs"] = json::array();
    for (const auto& k : s.keyPairs)
        keyPairs.push_back({{"name", k.name}, {"account", k.account}, {"region", k.region}, {"fingerprint", k.fingerprint}});
    json& kms = root["kmsKeys"] = json::array();
    for (const auto& k : s.kmsKeys)
        kms.push_back({{"id", k.id},
                       {"account", k.account},
                       {"region", k.region},
                       {"alias", k.alias},
                       {"arn", k.arn},
                       {"isDefault", k.isDefault}});
    json& roles = root["roles"] = json::array();
    for (const auto& r : s.roles) roles.push_back({{"name", r.name}, {"account", r.account}, {"arn", r.arn}});
    json& sessions = root["sessions"] = json::array();
    for (const auto& x : s.sessions)
        sessions.push_back({{"accessKey", x.accessKey}, {"secretKey", x.secretKey}, {"token", x.token},
                            {"account", x.account}, {"expiresMs", x.expiresMs}});
    json& types = root["instanceTypes"] = json::array();
    for (const auto& t : s.instanceTypes) types.push_back({{"name", t.name}, {"cpus", t.cpus}, {"memoryMB", t.memoryMB}});
    json& buckets = root["buckets"] = json::array();
    for (const auto& [name, b] : s.buckets) buckets.push_back({{"name", b.name}, {"account", b.account}, {"region", b.region}});
    json& objects = root["objects"] = json::array();
    for (const auto& o : s.objects) objects.push_back({{"bucket", o.bucket}, {"key", o.key}, {"size", o.size}});
    json& faults = root["faults"] = json::array();
    for (const auto& r : s.faults) {
        json jr = {{"operation", r.operation}, {"nth", r.nth}, {"error", r.error}, {"seen", r.seen}, {"kind", r.kind}};
        if (!r.target.empty()) jr["target"] = r.target;
        faults.push_back(std::move(jr));
    }
    return root.dump(1);
}

}  // namespace cloudsim
