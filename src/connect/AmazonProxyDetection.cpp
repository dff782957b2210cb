// Whether the machine the agent runs on is itself an EC2 instance, and where.
#include <strings.h>

#include "bridge/AmazonSDKBridge.h"
#include "common/BridgeCall.h"
#include "factory/AmazonInfo.h"
#include "framework/EvDebug.h"
#include "framework/KDPlatformInfo.h"

bool CAmazonInfo::IsAmazonBios(const std::string& manufacturer, const std::string& version) {
    const bool isOvm = strcasecmp(manufacturer.c_str(), "Ovm") == 0;
    const bool amazonVersion = version.find("Amazon") != std::string::npos;
    return (!isOvm && amazonVersion) || strcasecmp(manufacturer.c_str(), "Amazon EC2") == 0;
}

// A query that failed, or answered nothing, on an EC2 machine is not a
// detection: the identity it left would key the clean-up store under the
// wrong id and skip the Outposts query, so nothing is cached and the next
// query tries again.
bool CAmazonInfo::DetectLocalProxyInformation() {
    std::string instanceId;
    const bool idRead = m_pSourceBridge->GetLocalInstanceId(instanceId) && !instanceId.empty();
    m_strProxyInstanceId = instanceId;
    EvDebug::Debug(__PRETTY_FUNCTION__, "Instance Id : %s", m_strProxyInstanceId.c_str());

    std::string manufacturer, product, uuid, version;
    if (!getBiosInfo(manufacturer, product, uuid, version)) {
        EvDebug::Error(__PRETTY_FUNCTION__, "Failed to get BIOS Information.");
        return false;
    }
    if (IsAmazonBios(manufacturer, version)) {
        EvDebug::Debug(__PRETTY_FUNCTION__, "Proxy is Amazon Instance. BIOS Manufacturer : [%s] and Version : [%s] ",
                       manufacturer.c_str(), version.c_str());
        // The BIOS alone tells an EC2 machine, so that a caller can tell an
        // unreachable metadata service from a proxy outside AWS.
        m_bProxyIsAWS = true;
        if (!AmazonCommon::BridgeCall(
                *m_pSourceBridge, __PRETTY_FUNCTION__, [&] { return idRead; },
                "Failed to get the proxy's instance id. Error [%s]"))
            return false;
        std::string region;
        if (!AmazonCommon::BridgeCall(
                *m_pSourceBridge, __PRETTY_FUNCTION__,
                [&] { return m_pSourceBridge->GetLocalInstanceRegion(region) && !region.empty(); },
                "Failed to get the region of proxy instance [%s]. Error [%s]", m_strProxyInstanceId.c_str()))
            return false;
        m_strProxyRegion = region;
        m_strOutpostsAccountARN.clear();
        // Not fatal: the account asked may not see the proxy, and a proxy
        // off an Outpost is the common case.
        AmazonCommon::BridgeCall(
            *m_pAdminBridge, __PRETTY_FUNCTION__,
            [&] {
                return m_pAdminBridge->GetOutpostsAccountARN(m_strProxyInstanceId, m_strProxyRegion,
                                                             m_strOutpostsAccountARN);
            },
            "Failed to get the Outposts ARN of proxy instance [%s]. Error [%s]", m_strProxyInstanceId.c_str());
        if (!m_strOutpostsAccountARN.empty())
            EvDebug::Debug(__PRETTY_FUNCTION__, "Proxy is Amazon EC2 Instance on Outposts [%s] ",
                           m_strOutpostsAccountARN.c_str());
    } else {
        EvDebug::Debug(__PRETTY_FUNCTION__, "Proxy is not Amazon Instance. BIOS Manufacturer: [%s] and Version : [%s] ",
                       manufacturer.c_str(), version.c_str());
        m_bProxyIsAWS = false;
    }
    m_strProxyBiosUUID = uuid;
    m_bProxyDetected = true;
    EvDebug::Debug(__PRETTY_FUNCTION__, "BIOS UUID : %s", uuid.c_str());
    return true;
}

std::string CAmazonInfo::GetProxyUUID() {
    if (!m_bProxyDetected) DetectLocalProxyInformation();
    return m_strProxyInstanceId;
}

std::string CAmazonInfo::GetProxyBiosId() {
    if (!m_bProxyDetected) DetectLocalProxyInformation();
    return m_strProxyBiosUUID;
}

std::string CAmazonInfo::GetProxyRegion() {
    if (!m_bProxyDetected) DetectLocalProxyInformation();
    return m_strProxyRegion;
}

bool CAmazonInfo::IsProxyAmazonInstance() {
    if (!m_bProxyDetected) DetectLocalProxyInformation();
    return m_bProxyIsAWS;
}

int CAmazonInfo::GetLocalVMInfo(SVMInfo& vm, ULONGLONG, int) {
    vm.guid = GetProxyUUID();
    vm.biosUuid = GetProxyBiosId();
    vm.region = GetProxyRegion();
    return 1;
}

int CAmazonInfo::GetStreamLimit() {
    constexpr int kDefaultStreamLimit = 40;
    int limit = kDefaultStreamLimit;
    KDPlatformInfo settings;
    if (settings.getNumber("VirtualServer", "nAmazonProxyStreamLimit", limit)) {
        // Zero or fewer streams would stall every job on this proxy.
        if (limit < 1) {
            EvDebug::Error(__PRETTY_FUNCTION__, "Ignoring proxy stream limit [%d]: it must be at least 1.", limit);
            return kDefaultStreamLimit;
        }
        EvDebug::Debug(__PRETTY_FUNCTION__, "Setting proxy stream limit to [%d] as per additional setting.", limit);
    }
    return limit;
}
