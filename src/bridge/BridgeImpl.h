#pragma once
// Private to the bridge: the state of one simulated backend (SimBackend), the
// helpers every family of operations shares, and the conversions from the
// simulated cloud's records to the framework's. Not installed, not included
// outside src/bridge.
#include <exception>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "bridge/BridgeText.h"
#include "bridge/SimBackend.h"
#include "cloudsim/Cloud.h"
#include "cloudsim/Ownership.h"
#include "framework/EvDebug.h"

#ifndef BRIDGE_INTERNAL
#define BRIDGE_INTERNAL __attribute__((visibility("hidden")))
#endif

namespace bridgeimpl BRIDGE_INTERNAL {

extern const char kTag[];
extern const char kNotConnected[];

// ---- AWS's rules and error texts, kept by the simulated cloud ----
using cloudsim::BucketNotFound;
using cloudsim::DefaultKmsKey;
using cloudsim::DropAttachment;
using cloudsim::ImageNotFound;
using cloudsim::InstanceNotFound;
using cloudsim::InvalidZone;
using cloudsim::IsRootDevice;
using cloudsim::IsRootVolume;
using cloudsim::NextFreeDevice;
using cloudsim::RootDeviceOf;
using cloudsim::SnapshotNotFound;
using cloudsim::StartDelete;
using cloudsim::StartDetach;
using cloudsim::UnknownRegion;
using cloudsim::VolumeAtDevice;
using cloudsim::VolumeNotFound;

// The bridge's own text for an operation it does not offer.
std::string NotImplemented(const char* op);

// Sets error and returns false, so that a failing branch is one statement.
inline bool Err(std::string& error, const std::string& text) {
    error = text;
    return false;
}

// The operations that report an injected conflict through their flag.
inline bool IsAttachOp(const char* op) {
    return std::string(op) == "AttachVolume" || std::string(op) == "AttachAsOSVolume";
}

// Sets a tag as SetTag does, within AWS's limits (key 128, value 256
// characters, no "aws:" keys); false with the AWS text otherwise.
bool ApplyTag(std::map<std::string, std::string>& tags, const std::string& key, const std::string& value,
              bool replace, std::string& error);

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
// An AMI as the framework's VM record: one disk per snapshot (volume id =
// the snapshot's source volume, snapshot id set, disk kind 1), the root first.
VMInfoStructs::SVMInfo ImageToVMInfo(const cloudsim::State& s, const cloudsim::Image& image);
VMInfoStructs::SChildDisk ToChildDisk(const cloudsim::Snapshot& snap);

// ---- look-ups scoped as AWS scopes them (cloudsim/Ownership.h) ----
using cloudsim::FindIn;
using cloudsim::FindOwned;
using cloudsim::FindVisible;

}  // namespace bridgeimpl

// One bridge object's state, owned by it and used from one thread at a time
// (as the bridge object is). The cloud is shared and does its own locking.
struct bridgeimpl::SimBackend::Impl {
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
    cloudsim::FaultHit hit;    // the fault rules the running call hit
    std::set<std::string> preparedSnapshots;  // FillSnapshotAccessInfo'd, not yet cleared

    bool Fail(const char* op, const std::string& error) {
        lastError = error;
        EvDebug::DebugLvl(bridgeimpl::kTag, 1, "%s failed: %s", op, error.c_str());
        return false;
    }

    // Runs an operation that reports through a bool: counts it against the
    // fault rules, checks the connection when it needs one, and turns every
    // exception into an error text, since none may reach the plug-in. A
    // success clears the last error text.
    template <class F>
    bool Run(const char* op, bool needsConnection, F body) {
        try {
            if (!cloud)
                return Fail(op, needsConnection ? bridgeimpl::kNotConnected
                                                : "InvalidClientState: bridge not initialized");
            hit = cloud->CheckFaults(op);
            if (hit.fail) return Fail(op, hit.error);
            // Only an attachment knows a conflict; elsewhere the rule fails the call.
            if (hit.conflict && !bridgeimpl::IsAttachOp(op))
                return Fail(op, hit.conflictError.empty() ? "InternalError: injected conflict in " + std::string(op)
                                                          : hit.conflictError);
            if (needsConnection && accountId.empty()) return Fail(op, bridgeimpl::kNotConnected);
            std::string error;
            if (body(error)) {
                // A text left from an earlier call must not pass for the
                // reason of a later failure that sets none of its own.
                lastError.clear();
                return true;
            }
            return Fail(op, error);
        } catch (const std::exception& e) {
            return Fail(op, std::string("InternalError: ") + e.what());
        } catch (...) {
            return Fail(op, "InternalError: unexpected failure");
        }
    }

    // An operation this bridge does not offer yet: counted, then refused
    // with "NotImplemented: <op>" (kept for operations added to the header).
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
    // The region an operation addresses: its argument, or else the current
    // region. A zone names its region. Fails with the AWS text when unknown.
    bool ResolveRegion(const cloudsim::State& s, const std::string& given, std::string& out,
                       std::string& error) const {
        std::string name = given.empty() || given == "default" ? region : given;
        if (s.FindRegion(name)) {
            out = name;
            return true;
        }
        if (const cloudsim::Region* r = s.RegionOfZone(name)) {
            out = r->name;
            return true;
        }
        return bridgeimpl::Err(error, bridgeimpl::UnknownRegion(name));
    }

    // The effect of a "stuck" or "error" rule this call hit on a resource
    // it creates or changes, given every id involved.
    std::string Effect(const std::vector<std::string>& ids) const { return hit.EffectFor(ids); }

    // Runs f on the state for reading; its result is the operation's.
    template <class F>
    bool Look(F f) {
        bool ok = false;
        cloud->Read([&](const cloudsim::State& s) { ok = f(s); });
        return ok;
    }
    // Runs f on the state for writing; the change is committed only when f
    // returns true, so a refused request leaves no trace.
    template <class F>
    bool Change(F f) {
        struct Refused {};
        try {
            cloud->Write([&](cloudsim::State& s) {
                if (!f(s)) throw Refused();
            });
        } catch (const Refused&) {
            return false;
        }
        return true;
    }
    int64_t Now() const;
};
