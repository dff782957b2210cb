// Restore operations. Placeholder until the simulated cloud has them.
#include "bridge/BridgeImpl.h"

bool CAmazonSDKBridge::RestoreVirtualMachine(VMInfoStructs::SVMInfo&, bool, const std::map<std::string, std::string>&,
                                             bool) {
    return m_impl->NotImplemented("RestoreVirtualMachine");
}
bool CAmazonSDKBridge::ShareSnapshot(const std::string&, const std::string&) {
    return m_impl->NotImplemented("ShareSnapshot");
}
bool CAmazonSDKBridge::UnshareSnapshot(const std::string&, const std::string&) {
    return m_impl->NotImplemented("UnshareSnapshot");
}
bool CAmazonSDKBridge::DescribeEncryptionKey(const std::string&, const std::string&, std::string&, bool&, std::string&,
                                             std::string*) {
    return m_impl->NotImplemented("DescribeEncryptionKey");
}
bool CAmazonSDKBridge::GetOutpostAccountARNForSubnet(const std::string&, const std::string&, std::string&) {
    return m_impl->NotImplemented("GetOutpostAccountARNForSubnet");
}
