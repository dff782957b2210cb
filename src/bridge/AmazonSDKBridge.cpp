#include "bridge/AmazonSDKBridge.h"

#include <exception>
#include <map>

#include "cloudsim/Cloud.h"
#include "framework/EvDebug.h"

using VMInfoStructs::SDataCenterInfo;
using VMInfoStructs::SDisk;
using VMInfoStructs::SHostInfo;
using VMInfoStructs::SVMInfo;

namespace {

const char kTag[] = "AwsBridge";
const char kNotConnected[] = "InvalidClientState: not connected";

std::string UnknownRegion(const std::string& region) { return "InvalidParameterValue: Unknown region " + region; }

std::string TagOr(const std::map<std::string, std::string>& tags, const std::string& key,
                  const std::string& fallback) {
    auto it = tags.find(key);
    return it == tags.end() ? fallback : it->second;
}

// The region an endpoint URL names: "https://ec2.us-west-2.amazonaws.com"
// names us-west-2; the global "ec2.amazonaws.com" is us-east-1's. A plain
// region name is returned as it is.
std::string RegionOfUrl(const std::string& url) {
    std::string host = url;
    size_t scheme = host.find("://");
    if (scheme != std::string::npos) host = host.substr(scheme + 3);
    host = host.substr(0, host.find_first_of("/:"));
    const std::string prefix = "ec2.";
    const std::string suffix = ".amazonaws.com";
    if (host.size() < suffix.size() || host.compare(host.size() - suffix.size(), suffix.size(), suffix) != 0)
        return host;
    std::string middle = host.substr(0, host.size() - suffix.size());
    if (middle == "ec2") return "us-east-1";
    if (middle.compare(0, prefix.size(), prefix) == 0) return middle.substr(prefix.size());
    return middle;
}

SDisk ToDisk(const cloudsim::Volume& v, bool first) {
    SDisk d;
    d.name = TagOr(v.tags, "Name", v.id);
    d.displayName = d.name;
    d.volumeId = v.id;
    d.deviceName = v.attachedDevice;
    d.zone = v.zone;
    d.state = v.state;
    d.size = v.sizeBytes;
    d.usedSize = v.UsedBytes();
    d.volumeType = v.type;
    d.iops = v.iops;
    d.encrypted = v.encrypted;
    d.kmsKeyId = v.kmsKeyId;
    d.deleteOnTermination = v.deleteOnTermination;
    d.isOSDisk = first;
    return d;
}

// What DescribeInstances and DescribeVolumes together tell of one instance,
// in the framework's record.
SVMInfo ToVMInfo(const cloudsim::State& s, const cloudsim::Instance& inst) {
    SVMInfo vm;
    vm.name = TagOr(inst.tags, "Name", "");
    vm.guid = inst.id;
    vm.region = inst.region;
    vm.zone = inst.zone;
    vm.instanceType = inst.instanceType;
    bool windows = inst.platform == "windows";
    vm.guestOS = windows ? "Windows" : "Linux";
    vm.guestOSInfo.name = vm.guestOS;
    vm.guestOSInfo.isWindows = windows;
    vm.virtualizationType = inst.virtualizationType;
    vm.amiId = inst.amiId;
    vm.biosUuid = inst.biosUuid;
    vm.isTemplate = inst.isTemplate;
    vm.powerState = inst.state == "running" ? 1 : 0;
    for (const auto& volId : inst.volumeIds) {
        auto it = s.volumes.find(volId);
        if (it == s.volumes.end()) continue;
        vm.disks.push_back(ToDisk(it->second, vm.disks.empty()));
        vm.totalDiskSize += static_cast<uint64_t>(vm.disks.back().usedSize);
    }
    vm.allDisks = vm.disks;
    return vm;
}

// Terminated instances linger in DescribeInstances for a while, but nothing
// can be done with them, so the inventory never shows them.
bool Listed(const cloudsim::Instance& inst, const std::string& account) {
    return inst.account == account && inst.state != "terminated";
}

SHostInfo ToHost(const cloudsim::State& s, const std::string& account, const cloudsim::Region& region,
                 const std::string& zone) {
    SHostInfo host;
    host.name = zone;
    host.guid = zone;
    host.region = region.name;
    host.state = "available";
    for (const auto& [id, inst] : s.instances)
        if (Listed(inst, account) && inst.zone == zone) host.vms.push_back(ToVMInfo(s, inst));
    return host;
}

SDataCenterInfo ToDataCenter(const cloudsim::State& s, const std::string& account, const cloudsim::Region& region) {
    SDataCenterInfo dc;
    dc.name = region.name;
    dc.guid = region.name;
    dc.endpoint = "ec2." + region.name + ".amazonaws.com";
    for (const auto& zone : region.zones) dc.hosts.push_back(ToHost(s, account, region, zone));
    for (const auto& [id, inst] : s.instances)
        if (Listed(inst, account) && inst.region == region.name) dc.vms.push_back(ToVMInfo(s, inst));
    return dc;
}

}  // namespace

struct CAmazonSDKBridge::Impl {
    std::shared_ptr<cloudsim::Cloud> cloud;
    std::string focus;
    std::string appName;
    long long jobId = 0;
    std::string proxyHost;
    std::string accountId;     // empty: not connected
    std::string region;
    std::string lastError;
    std::vector<SDataCenterInfo> dcList;
    std::vector<SHostInfo> hostList;

    bool Fail(const char* op, const std::string& error) {
        lastError = error;
        EvDebug::DebugLvl(kTag, 1, "%s failed: %s", op, error.c_str());
        return false;
    }

    // Runs an operation that reports through a bool: counts it against the
    // fault rules, checks the connection when it needs one, and turns every
    // exception into an error text, since none may reach the plug-in.
    template <class F>
    bool Run(const char* op, bool needsConnection, F body) {
        try {
            if (!cloud) return Fail(op, needsConnection ? kNotConnected : "InvalidClientState: bridge not initialized");
            std::string fault;
            if (cloud->CheckFault(op, fault)) return Fail(op, fault);
            if (needsConnection && accountId.empty()) return Fail(op, kNotConnected);
            std::string error;
            if (body(error)) return true;
            return Fail(op, error);
        } catch (const std::exception& e) {
            return Fail(op, std::string("InternalError: ") + e.what());
        } catch (...) {
            return Fail(op, "InternalError: unexpected failure");
        }
    }

    // Region-scoped calls go to the current region's endpoint, which must
    // exist.
    bool CheckRegion(const cloudsim::State& s, std::string& error) const {
        if (s.FindRegion(region)) return true;
        error = UnknownRegion(region);
        return false;
    }
};

CAmazonSDKBridge::CAmazonSDKBridge() : m_impl(std::make_unique<Impl>()) {}

CAmazonSDKBridge::~CAmazonSDKBridge() = default;

bool CAmazonSDKBridge::initialize(const std::string& focus, const std::string& appName, long long jobId) {
    Impl& d = *m_impl;
    try {
        std::string why;
        auto cloud = cloudsim::Cloud::ProcessCloud(&why);
        if (!cloud) {
            d.cloud.reset();
            return d.Fail("initialize", "InternalError: simulated cloud unavailable: " + why);
        }
        d.cloud = cloud;
    } catch (const std::exception& e) {
        d.cloud.reset();
        return d.Fail("initialize", std::string("InternalError: simulated cloud unavailable: ") + e.what());
    }
    bool ok = d.Run("initialize", false, [&](std::string&) {
        d.focus = focus;
        d.appName = appName;
        d.jobId = jobId;
        return true;
    });
    if (!ok) {
        d.cloud.reset();
        d.accountId.clear();
    }
    return ok;
}

void CAmazonSDKBridge::SetWebProxy(const std::string& host, const std::string&, const std::string&, int) {
    m_impl->proxyHost = host;
}

bool CAmazonSDKBridge::Connect(const std::string& url, const std::string& accessKey, const std::string& secretKey) {
    Impl& d = *m_impl;
    // A failed attempt leaves no connection behind, not even an older one.
    d.accountId.clear();
    return d.Run("Connect", false, [&](std::string& error) {
        bool ok = false;
        d.cloud->Read([&](const cloudsim::State& s) {
            const cloudsim::Account* account = s.FindAccountByKey(accessKey);
            if (!account) {
                error = "AuthFailure: AWS was not able to validate the provided access credentials";
                return;
            }
            if (account->secretKey != secretKey) {
                error = "SignatureDoesNotMatch: The request signature we calculated does not match the signature "
                        "you provided. Check your AWS Secret Access Key and signing method.";
                return;
            }
            std::string region = url.empty() ? account->defaultRegion : RegionOfUrl(url);
            if (!s.FindRegion(region)) {
                error = UnknownRegion(region);
                return;
            }
            d.accountId = account->id;
            d.region = region;
            ok = true;
        });
        if (ok) EvDebug::DebugLvl(kTag, 2, "connected to account %s in %s", d.accountId.c_str(), d.region.c_str());
        return ok;
    });
}

void CAmazonSDKBridge::Disconnect() {
    m_impl->accountId.clear();
    m_impl->dcList.clear();
    m_impl->hostList.clear();
}

void CAmazonSDKBridge::overrideRegion(const std::string& region) { m_impl->region = region; }

std::string CAmazonSDKBridge::GetLastErrorString() const { return m_impl->lastError; }

std::string CAmazonSDKBridge::GetCurrentRegion() const { return m_impl->region; }

bool CAmazonSDKBridge::GetAccountId(std::string& accountId) {
    Impl& d = *m_impl;
    return d.Run("GetAccountId", true, [&](std::string&) {
        accountId = d.accountId;
        return true;
    });
}

bool CAmazonSDKBridge::GetCanonicalId(std::string& canonicalId) {
    Impl& d = *m_impl;
    return d.Run("GetCanonicalId", true, [&](std::string& error) {
        bool ok = false;
        d.cloud->Read([&](const cloudsim::State& s) {
            const cloudsim::Account* a = s.FindAccount(d.accountId);
            if (!a) {
                error = "AuthFailure: account " + d.accountId + " no longer exists";
                return;
            }
            canonicalId = a->canonicalId;
            ok = true;
        });
        return ok;
    });
}

bool CAmazonSDKBridge::GetAwsArnPartition(std::string& partition) {
    Impl& d = *m_impl;
    return d.Run("GetAwsArnPartition", true, [&](std::string& error) {
        bool ok = false;
        d.cloud->Read([&](const cloudsim::State& s) {
            const cloudsim::Account* a = s.FindAccount(d.accountId);
            if (!a) {
                error = "AuthFailure: account " + d.accountId + " no longer exists";
                return;
            }
            partition = a->partition;
            ok = true;
        });
        return ok;
    });
}

bool CAmazonSDKBridge::GetLocalInstanceId(std::string& instanceId) {
    Impl& d = *m_impl;
    return d.Run("GetLocalInstanceId", true, [&](std::string&) {
        d.cloud->Read([&](const cloudsim::State& s) { instanceId = s.proxyInstanceId; });
        return true;
    });
}

bool CAmazonSDKBridge::GetLocalInstanceRegion(std::string& region) {
    Impl& d = *m_impl;
    return d.Run("GetLocalInstanceRegion", true, [&](std::string&) {
        d.cloud->Read([&](const cloudsim::State& s) {
            auto it = s.instances.find(s.proxyInstanceId);
            region = it == s.instances.end() ? std::string() : it->second.region;
        });
        return true;
    });
}

bool CAmazonSDKBridge::GetOutpostsAccountARN(const std::string& instanceId, const std::string& region,
                                             std::string& arn) {
    Impl& d = *m_impl;
    return d.Run("GetOutpostsAccountARN", true, [&](std::string& error) {
        bool ok = false;
        d.cloud->Read([&](const cloudsim::State& s) {
            if (!region.empty() && !s.FindRegion(region)) {
                error = UnknownRegion(region);
                return;
            }
            // Across all accounts: the proxy may live in the admin account.
            auto it = s.instances.find(instanceId);
            if (it == s.instances.end() || (!region.empty() && it->second.region != region)) {
                error = "InvalidInstanceID.NotFound: The instance ID '" + instanceId + "' does not exist";
                return;
            }
            arn = it->second.outpostArn;
            ok = true;
        });
        return ok;
    });
}

int CAmazonSDKBridge::RefreshDCInfoList(ULONGLONG, int) {
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

void CAmazonSDKBridge::GetDCInfoList(std::vector<SDataCenterInfo>& regions) { regions = m_impl->dcList; }

int CAmazonSDKBridge::RefreshHostInfoList(ULONGLONG, int) {
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

void CAmazonSDKBridge::GetHostInfoList(std::vector<SHostInfo>& zones) { zones = m_impl->hostList; }

std::string CAmazonSDKBridge::GetWebProxyHost() const { return m_impl->proxyHost; }

bool CAmazonSDKBridge::IsInitialized() const { return m_impl->cloud != nullptr; }

bool CAmazonSDKBridge::IsConnected() const { return !m_impl->accountId.empty(); }
