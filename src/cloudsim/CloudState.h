#pragma once
// The simulated AWS cloud's state: plain data, serialisable to JSON. Each
// resource family keeps its records, their JSON, their transitions, rules
// and AWS error texts in its own file; this holds them together.
//
// Asynchronous work: a resource whose change is under way carries a
// Transition (Async.h). Settle() applies every transition that is due at a
// given time; the cloud runs it at the start of each transaction with the
// framework clock's time, so no thread is needed and virtual time works.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "cloudsim/Accounts.h"
#include "cloudsim/Async.h"
#include "cloudsim/BlockData.h"
#include "cloudsim/Faults.h"
#include "cloudsim/Guest.h"
#include "cloudsim/Images.h"
#include "cloudsim/Instances.h"
#include "cloudsim/Kms.h"
#include "cloudsim/RunCommand.h"
#include "cloudsim/S3.h"
#include "cloudsim/Snapshots.h"
#include "cloudsim/Volumes.h"

namespace cloudsim {

struct State {
    int64_t generation = 0;              // bumped by every committed change
    Timing timing;
    std::vector<Account> accounts;
    std::vector<Region> regions;
    std::map<std::string, Instance> instances;   // by id
    std::map<std::string, Volume> volumes;       // by id
    std::map<std::string, Snapshot> snapshots;   // by id
    std::map<std::string, Image> images;         // by id
    std::map<std::string, Vpc> vpcs;             // by id
    std::map<std::string, Subnet> subnets;       // by id
    std::map<std::string, SecurityGroup> securityGroups;  // by id
    std::vector<KeyPair> keyPairs;
    std::vector<KmsKey> kmsKeys;
    std::vector<Role> roles;
    std::vector<Session> sessions;
    std::vector<InstanceTypeInfo> instanceTypes; // sizes of the types; empty: the built-in table
    std::map<std::string, Bucket> buckets;       // by name
    std::vector<S3Object> objects;
    std::map<std::string, Guest> guests;         // by instance id
    std::map<std::string, Command> commands;     // run-command invocations by command id
    std::string proxyInstanceId;         // the machine the agent runs on, if an instance
    std::vector<FaultRule> faults;
    int64_t nextId = 1;                  // seeds generated resource ids
    // Device files of volumes no longer published, to be removed; kept in
    // the state so that a process killed after the commit that unpublished
    // them still has them removed by the next one.
    std::vector<std::string> staleDevices;

    const Account* FindAccountByKey(const std::string& accessKey) const;
    const Session* FindSession(const std::string& accessKey) const;
    const Account* FindAccount(const std::string& id) const;
    const Region* FindRegion(const std::string& name) const;
    // The region holding zone; null when no region does.
    const Region* RegionOfZone(const std::string& zone) const;
    // prefix + "-" + 17 hex digits ("vol-0a1b..."), unique within this state
    // and the same for the same nextId, so seeded runs repeat their ids.
    std::string NewId(const std::string& prefix);
    bool IdInUse(const std::string& id) const;
    // The instance types offered in region (the region's list or the default
    // offering) and the description of one type (the seeded table or the built-in one).
    std::vector<std::string> OfferedTypes(const std::string& region) const;
    const InstanceTypeInfo* FindInstanceType(const std::string& name) const;
};

// Applies every transition due at nowMs: volumes finish creating, attaching,
// detaching and deleting; snapshots and images complete (or fail), a
// completing snapshot taking its volume's block map;
// modifications advance; instances start, stop and terminate and pass their
// status checks. Idempotent for a given time.
void Settle(State& state, int64_t nowMs);

}  // namespace cloudsim
