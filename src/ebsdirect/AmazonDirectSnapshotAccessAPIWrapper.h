#pragma once
// The plug-in's own EBS direct API client. This first version keeps the
// credentials and the bridge it is initialised with; the signed HTTPS reads
// arrive with the EBS direct work.
#include <string>

class CAmazonSDKBridge;

namespace AmazonDirectSnapshotAccessAPI {

class CAmazonDirectSnapshotAccessAPIWrapper {
public:
    // An empty access key means "use the proxy's role credentials", which
    // needs the instance metadata service and is not available yet: false.
    bool Initialize(const std::string& accessKey, const std::string& secretKey, CAmazonSDKBridge* bridge);
    bool IsInitialized() const { return m_initialized; }

private:
    std::string m_accessKey;
    std::string m_secretKey;
    CAmazonSDKBridge* m_bridge = nullptr;
    bool m_initialized = false;
};

}  // namespace AmazonDirectSnapshotAccessAPI
