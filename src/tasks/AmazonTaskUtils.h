#pragma once
// Request-and-wait for asynchronous AWS work. Only the wiring exists so far:
// the two bridges and the owning plug-in object it reports errors to.
class CAmazonSDKBridge;
class CAmazonInfo;

class CAmazonTaskUtils {
public:
    CAmazonTaskUtils(CAmazonSDKBridge* sourceBridge, CAmazonSDKBridge* adminBridge, CAmazonInfo* owner)
        : m_sourceBridge(sourceBridge), m_adminBridge(adminBridge), m_owner(owner) {}

    CAmazonSDKBridge* SourceBridge() const { return m_sourceBridge; }
    CAmazonSDKBridge* AdminBridge() const { return m_adminBridge; }
    CAmazonInfo* Owner() const { return m_owner; }

private:
    CAmazonSDKBridge* m_sourceBridge;
    CAmazonSDKBridge* m_adminBridge;
    CAmazonInfo* m_owner;
};
