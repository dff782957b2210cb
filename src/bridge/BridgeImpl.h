#pragma once
// Private to the bridge: the state of one CAmazonSDKBridge object, the
// helpers every family of operations shares, and the conversions from the
// simulated cloud's records to the framework's. Not installed, not included
// outside src/bridge.
#include <exception>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bridge/AmazonSDKBridge.h"
#include "cloudsim/Cloud.h"
#include "framework/EvDebug.h"

#define BRIDGE_INTERNAL __attribute__((visibility("hidden")))

namespace bridgeimpl BRIDGE_INTERNAL {

extern const char kTag[];
extern const char kNotConnected[];

// ---- AWS error texts ----
std::string UnknownRegion(const std::string& region);
std::string InstanceNotFound(const std::string& id);
std::string VolumeNotFound(const std::string& id);
std::string SnapshotNotFound(const std::string& id);
std::string ImageNotFound(const std::string& id);
std::string NotImplemented(const char* op);

// ---- small helpers ----
std::string TagOr(const std::map<std::string, std::string>& tags, const std::string& key,
                  const std::string& fallback);
// The region an endpoint URL names ("https://ec2.us-west-2.amazonaws.com");
// a plain region name is returned as it is.
std::string RegionOfUrl(const std::string& url);

// ---- conversions (BridgeConvert.cpp) ----
VMInfoStructs::SDisk ToDisk(const cloudsim::Volume& v, bool first);
// What DescribeInstances and DescribeVolumes together tell of one instance.
VMInfoStructs::SVMInfo ToVMInfo(const cloudsim::State& s, const cloudsim::Instance& inst);
// Terminated instances linger in DescribeInstances for a while, but nothing
// can be done with them, so the inventory never shows them.
bool Listed(const cloudsim::Instance& inst, const std::string& account);
VMInfoStructs::SHostInfo ToHost(const cloudsim::State& s, const std::string& account, const cloudsim::Region& region,
                                const std::string& zone);
VMInfoStructs::SDataCenterInfo ToDataCenter(const cloudsim::State& s, const std::string& account,
                                            const cloudsim::Region& region);

}  // namespace bridgeimpl

struct CAmazonSDKBridge::Impl {
    std::shared_ptr<cloudsim::Cloud> cloud;
    std::string focus;
    std::string appName;
    long long jobId = 0;
    std::string proxyHost;
    std::string accountId;     // empty: not connected
    std::string region;
    std::string lastError;
    std::vector<VMInfoStructs::SDataCenterInfo> dcList;
    std::vector<VMInfoStructs::SHostInfo> hostList;
    std::vector<VMInfoStructs::SVMInfo> vmList;

    bool Fail(const char* op, const std::string& error) {
        lastError = error;
        EvDebug::DebugLvl(bridgeimpl::kTag, 1, "%s failed: %s", op, error.c_str());
        return false;
    }

    // Runs an operation that reports through a bool: counts it against the
    // fault rules, checks the connection when it needs one, and turns every
    // exception into an error text, since none may reach the plug-in.
    template <class F>
    bool Run(const char* op, bool needsConnection, F body) {
        try {
            if (!cloud)
                return Fail(op, needsConnection ? bridgeimpl::kNotConnected
                                                : "InvalidClientState: bridge not initialized");
            std::string fault;
            if (cloud->CheckFault(op, fault)) return Fail(op, fault);
            if (needsConnection && accountId.empty()) return Fail(op, bridgeimpl::kNotConnected);
            std::string error;
            if (body(error)) return true;
            return Fail(op, error);
        } catch (const std::exception& e) {
            return Fail(op, std::string("InternalError: ") + e.what());
        } catch (...) {
            return Fail(op, "InternalError: unexpected failure");
        }
    }

    // An operation this bridge does not offer yet: counted, then refused.
    bool NotImplemented(const char* op) {
        return Run(op, false, [&](std::string& error) {
            error = bridgeimpl::NotImplemented(op);
            return false;
        });
    }

    // Region-scoped calls go to the current region's endpoint, which must
    // exist.
    bool CheckRegion(const cloudsim::State& s, std::string& error) const {
        if (s.FindRegion(region)) return true;
        error = bridgeimpl::UnknownRegion(region);
        return false;
    }
};
