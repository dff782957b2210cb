#pragma once
// The simulated AWS cloud's state: plain data, serialisable to JSON. Later
// work adds volumes' block data, snapshots, AMIs and the rest here.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace cloudsim {

struct Account {
    std::string id;              // 12 digits
    std::string accessKey;
    std::string secretKey;
    std::string canonicalId;
    std::string partition = "aws";
    std::string defaultRegion;
};

struct Region {
    std::string name;                    // "us-east-1"
    std::vector<std::string> zones;      // "us-east-1a", ...
};

struct Volume {
    std::string id;                      // "vol-..."
    std::string account;
    std::string region;
    std::string zone;
    int64_t sizeBytes = 0;
    int64_t usedBytes = -1;              // bytes holding data; negative: the whole size
    std::string type = "gp2";
    int32_t iops = 0;
    bool encrypted = false;
    std::string kmsKeyId;
    std::string state = "available";     // creating, available, in-use, error, deleting
    std::string attachedInstance;
    std::string attachedDevice;
    bool deleteOnTermination = false;
    std::map<std::string, std::string> tags;

    int64_t UsedBytes() const { return usedBytes < 0 ? sizeBytes : usedBytes; }
};

struct Instance {
    std::string id;                      // "i-..."
    std::string account;
    std::string region;
    std::string zone;
    std::string instanceType = "t3.micro";
    std::string state = "running";       // pending, running, stopping, stopped, terminated
    std::string platform = "linux";      // or "windows"
    std::string amiId;
    std::string biosUuid;
    std::string virtualizationType = "hvm";
    std::string outpostArn;              // non-empty on an Outpost
    bool isTemplate = false;
    std::vector<std::string> volumeIds;  // attachment order; the first is the root
    std::map<std::string, std::string> tags;
};

struct FaultRule {
    std::string operation;               // bridge operation name, e.g. "Connect"
    int nth = 0;                         // fail the n-th call (1-based); 0 = every call
    std::string error;                   // AWS-like text handed back
    int seen = 0;                        // calls counted so far
};

struct State {
    int64_t generation = 0;              // bumped by every committed change
    std::vector<Account> accounts;
    std::vector<Region> regions;
    std::map<std::string, Instance> instances;   // by id
    std::map<std::string, Volume> volumes;       // by id
    std::string proxyInstanceId;         // the machine the agent runs on, if an instance
    std::vector<FaultRule> faults;
    int64_t nextId = 1;                  // seeds generated resource ids

    const Account* FindAccountByKey(const std::string& accessKey) const;
    const Account* FindAccount(const std::string& id) const;
    const Region* FindRegion(const std::string& name) const;
    // prefix + "-" + 17 hex digits ("vol-0a1b..."), unique within this state
    // and the same for the same nextId, so seeded runs repeat their ids.
    std::string NewId(const std::string& prefix);
};

}  // namespace cloudsim
