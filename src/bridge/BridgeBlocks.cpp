// Block data of volumes and snapshots, and the bridge's direct reads.
#include "bridge/BridgeImpl.h"

bool CAmazonSDKBridge::ReadFromSnapshot(const std::string&, const std::string&, long long, long long, unsigned char*) {
    return m_impl->NotImplemented("ReadFromSnapshot");
}
bool CAmazonSDKBridge::GetDirectSnapshotAccessInfo(const std::string&, const std::string&, int&,
                                                   std::vector<SAwsEbsBlockInfo>&) {
    return m_impl->NotImplemented("GetDirectSnapshotAccessInfo");
}
bool CAmazonSDKBridge::FillSnapshotAccessInfo(const std::string&, const std::string&) {
    return m_impl->NotImplemented("FillSnapshotAccessInfo");
}
bool CAmazonSDKBridge::ClearSnapshotAccessInfo(const std::string&) {
    return m_impl->NotImplemented("ClearSnapshotAccessInfo");
}
bool CAmazonSDKBridge::CheckPermissions(const std::vector<std::string>&, bool&) {
    return m_impl->NotImplemented("CheckPermissions");
}
bool CAmazonSDKBridge::IsMarketPlaceVolume(const std::string&, const std::string&) {
    return m_impl->NotImplemented("IsMarketPlaceVolume");
}
bool CAmazonSDKBridge::GetDiskMetadata(const std::string&, const std::string&,
                                       std::vector<VMInfoStructs::SDiskMetadataInfo>&) {
    return m_impl->NotImplemented("GetDiskMetadata");
}
std::string CAmazonSDKBridge::GetRegionFromZone(const std::string&) {
    m_impl->NotImplemented("GetRegionFromZone");
    return std::string();
}
