// The state as a whole: look-ups across families, new ids, settling, and
// the seed and state JSON, which reads each family's records with its table
// and then checks the references between them.
#include <cstdio>
#include <functional>
#include <set>
#include <stdexcept>

#include "cloudsim/Cloud.h"
#include "cloudsim/CloudState.h"

namespace cloudsim {

using namespace schema;

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
        subnets.count(id) || securityGroups.count(id))
        return true;
    for (const auto& [iid, inst] : instances)
        for (const auto& nic : inst.networkInterfaces)
            if (nic.id == id) return true;
    return false;
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

void Settle(State& s, int64_t now) {
    SettleInstances(s, now);
    SettleVolumes(s, now);
    SettleSnapshots(s, now);
    SettleImages(s, now);
    SettleCommands(s, now);
}

namespace {

// Resources kept by id (or name): a second record with the same one fails
// with "duplicate <what> <id>".
template <class R>
Field<State> MapOf(const char* name, std::map<std::string, R> State::*m, const Table<R>& table,
                   std::string R::*key, const char* what) {
    return Custom<State>(
        name,
        [=, &table](const Fields& in, State& s) {
            in.Each(name, [&](const json& j, const std::string& where) {
                R r = table.Read(j, where);
                std::string id = r.*key;
                if (!(s.*m).emplace(id, std::move(r)).second) Fail(where, std::string("duplicate ") + what + " " + id);
            });
        },
        [=, &table](const State& s, json& out) {
            json& list = out[name] = json::array();
            for (const auto& [id, r] : s.*m) list.push_back(table.Write(r));
        });
}

// Resources kept in a list; with identity set, two records of the same
// identity fail with duplicate (or "duplicate <identity>").
template <class R>
Field<State> UniqueListOf(const char* name, std::vector<R> State::*m, const Table<R>& table,
                          std::function<std::string(const R&)> identity, std::string duplicate = "") {
    Field<State> f = ListOf(name, m, table);
    f.read = [=, &table](const Fields& in, State& s) {
        std::set<std::string> seen;
        in.Each(name, [&](const json& j, const std::string& where) {
            (s.*m).push_back(table.Read(j, where));
            std::string id = identity((s.*m).back());
            if (!seen.insert(id).second) Fail(where, duplicate.empty() ? "duplicate " + id : duplicate);
        });
    };
    return f;
}

void CheckReferences(State& s) {
    CheckVolumes(s);
    CheckInstances(s);
    CheckSnapshots(s);
    CheckImages(s);
    CheckNetwork(s);
    CheckKmsKeys(s);
    CheckRoles(s);
    CheckS3(s);
    CheckGuests(s);
    CheckCommands(s);
    if (!s.proxyInstanceId.empty() && !s.instances.count(s.proxyInstanceId))
        Fail("proxyInstanceId", "unknown instance '" + s.proxyInstanceId + "'");
}

const Table<State>& StateTable() {
    using S = State;
    static const Table<S> table{
        {Member("generation", &S::generation), Member("nextId", &S::nextId),
         Member("proxyInstanceId", &S::proxyInstanceId), IfSet("staleDevices", &S::staleDevices),
         Nested("timing", &S::timing, TimingTable()),
         UniqueListOf<Account>("accounts", &S::accounts, AccountTable(),
                               [](const Account& a) { return a.id; }, "duplicate account id"),
         UniqueListOf<Region>("regions", &S::regions, RegionTable(), [](const Region& r) { return r.name; },
                              "duplicate region"),
         MapOf("volumes", &S::volumes, VolumeTable(), &Volume::id, "volume id"),
         MapOf("instances", &S::instances, InstanceTable(), &Instance::id, "instance id"),
         MapOf("snapshots", &S::snapshots, SnapshotTable(), &Snapshot::id, "snapshot id"),
         MapOf("images", &S::images, ImageTable(), &Image::id, "image id"),
         MapOf("vpcs", &S::vpcs, VpcTable(), &Vpc::id, "vpc id"),
         MapOf("subnets", &S::subnets, SubnetTable(), &Subnet::id, "subnet id"),
         MapOf("securityGroups", &S::securityGroups, SecurityGroupTable(), &SecurityGroup::id,
               "security group id"),
         UniqueListOf<KeyPair>("keyPairs", &S::keyPairs, KeyPairTable(),
                               [](const KeyPair& k) { return "key pair " + k.account + "/" + k.region + "/" + k.name; }),
         UniqueListOf<KmsKey>("kmsKeys", &S::kmsKeys, KmsKeyTable(),
                              [](const KmsKey& k) { return "kms key " + k.id; }),
         UniqueListOf<Role>("roles", &S::roles, RoleTable(),
                            [](const Role& r) { return "role " + r.account + "/" + r.name; }),
         ListOf("sessions", &S::sessions, SessionTable()),
         UniqueListOf<InstanceTypeInfo>("instanceTypes", &S::instanceTypes, InstanceTypeTable(),
                                        [](const InstanceTypeInfo& t) { return "instance type " + t.name; }),
         MapOf("buckets", &S::buckets, BucketTable(), &Bucket::name, "bucket"),
         UniqueListOf<S3Object>("objects", &S::objects, S3ObjectTable(),
                                [](const S3Object& o) { return "object " + o.bucket + "/" + o.key; }),
         MapOf("guests", &S::guests, GuestTable(), &Guest::instanceId, "guest"),
         MapOf("commands", &S::commands, CommandTable(), &Command::id, "command id"),
         ListOf("faults", &S::faults, FaultRuleTable())},
        [](S& s, const Fields&) { CheckReferences(s); }};
    return table;
}

}  // namespace

State ParseState(const std::string& text) {
    json root;
    try {
        root = json::parse(text);
    } catch (const json::parse_error& e) {
        throw std::runtime_error(std::string("cloud state: malformed JSON: ") + e.what());
    }
    return StateTable().Read(root, "state");
}

std::string SerializeState(const State& s) { return StateTable().Write(s).dump(1); }

}  // namespace cloudsim
