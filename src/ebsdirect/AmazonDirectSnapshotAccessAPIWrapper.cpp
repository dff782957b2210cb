#include "ebsdirect/AmazonDirectSnapshotAccessAPIWrapper.h"

#include "framework/EvDebug.h"

namespace AmazonDirectSnapshotAccessAPI {

bool CAmazonDirectSnapshotAccessAPIWrapper::Initialize(const std::string& accessKey, const std::string& secretKey,
                                                       CAmazonSDKBridge* bridge) {
    m_accessKey = accessKey;
    m_secretKey = secretKey;
    m_bridge = bridge;
    if (accessKey.empty() || secretKey.empty() || !bridge) {
        EvDebug::Error(__PRETTY_FUNCTION__, "Role credentials for direct snapshot access are not supported yet");
        m_initialized = false;
        return false;
    }
    m_initialized = true;
    return true;
}

}  // namespace AmazonDirectSnapshotAccessAPI
