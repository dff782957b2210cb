#include "cloudsim/CloudState.h"

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
        if (!instances.count(id) && !volumes.count(id)) return id;
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
    Require(a.id, where + ".id");
    return a;
}

Region ParseRegion(const json& j, const std::string& where) {
    Fields f(j, where);
    Region r;
    f.Get("name", r.name);
    f.Get("zones", r.zones);
    Require(r.name, where + ".name");
    return r;
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
    Require(v.id, where + ".id");
    if (v.sizeBytes < 0) Fail(where + ".sizeBytes", "negative size");
    return v;
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
    Require(i.id, where + ".id");
    return i;
}

FaultRule ParseFault(const json& j, const std::string& where) {
    Fields f(j, where);
    FaultRule r;
    f.Get("operation", r.operation);
    f.Get("nth", r.nth);
    f.Get("error", r.error);
    f.Get("seen", r.seen);
    Require(r.operation, where + ".operation");
    if (r.nth < 0) Fail(where + ".nth", "must not be negative");
    return r;
}

void CheckPlacement(const State& s, const std::string& what, const std::string& account, const std::string& region,
                    const std::string& zone) {
    if (!s.FindAccount(account)) Fail(what, "unknown account '" + account + "'");
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
    }
    if (!s.proxyInstanceId.empty() && !s.instances.count(s.proxyInstanceId))
        Fail("proxyInstanceId", "unknown instance '" + s.proxyInstanceId + "'");
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

    std::set<std::string> seen;
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
    f.Each("faults", [&](const json& j, const std::string& where) { s.faults.push_back(ParseFault(j, where)); });
    CheckReferences(s);
    return s;
}

std::string SerializeState(const State& s) {
    json root = json::object();
    root["generation"] = s.generation;
    root["nextId"] = s.nextId;
    root["proxyInstanceId"] = s.proxyInstanceId;
    json& accounts = root["accounts"] = json::array();
    for (const auto& a : s.accounts)
        accounts.push_back({{"id", a.id},
                            {"accessKey", a.accessKey},
                            {"secretKey", a.secretKey},
                            {"canonicalId", a.canonicalId},
                            {"partition", a.partition},
                            {"defaultRegion", a.defaultRegion}});
    json& regions = root["regions"] = json::array();
    for (const auto& r : s.regions) regions.push_back({{"name", r.name}, {"zones", r.zones}});
    json& instances = root["instances"] = json::array();
    for (const auto& [id, i] : s.instances)
        instances.push_back({{"id", i.id},
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
                             {"tags", i.tags}});
    json& volumes = root["volumes"] = json::array();
    for (const auto& [id, v] : s.volumes) {
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
                   {"tags", v.tags}};
        if (v.usedBytes >= 0) jv["usedBytes"] = v.usedBytes;
        volumes.push_back(std::move(jv));
    }
    json& faults = root["faults"] = json::array();
    for (const auto& r : s.faults)
        faults.push_back({{"operation", r.operation}, {"nth", r.nth}, {"error", r.error}, {"seen", r.seen}});
    return root.dump(1);
}

}  // namespace cloudsim
