#pragma once
// Points a bridge at the region of the instance an operation acts on, and
// back when the operation ends. Calls that address resources by id alone
// (snapshots, AMIs, tags) look in the bridge's current region, so an
// instance outside the connected region would otherwise be out of reach and
// its temporary AMI would be left behind.
#include <string>

#include "bridge/AmazonSDKBridge.h"

namespace AmazonCommon {

class BridgeRegionScope {
public:
    // An empty region keeps the bridge where it is.
    BridgeRegionScope(CAmazonSDKBridge& bridge, const std::string& region)
        : m_bridge(bridge), m_previous(bridge.GetCurrentRegion()), m_active(!region.empty() && region != m_previous) {
        if (m_active) m_bridge.overrideRegion(region);
    }
    ~BridgeRegionScope() {
        if (m_active) m_bridge.overrideRegion(m_previous);
    }
    BridgeRegionScope(const BridgeRegionScope&) = delete;
    BridgeRegionScope& operator=(const BridgeRegionScope&) = delete;

private:
    CAmazonSDKBridge& m_bridge;
    std::string m_previous;
    bool m_active;
};

// Both bridges of an object, the admin one being the source one unless the
// job is cross-account.
class BridgePairRegionScope {
public:
    BridgePairRegionScope(CAmazonSDKBridge& source, CAmazonSDKBridge& admin, const std::string& region)
        : m_source(source, region), m_admin(admin, &admin == &source ? std::string() : region) {}

private:
    BridgeRegionScope m_source;
    BridgeRegionScope m_admin;
};

}  // namespace AmazonCommon
