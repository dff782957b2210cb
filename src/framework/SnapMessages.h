#pragma once
// The framework's message types of snap backups (namespace VirtualServer)
// and their field numbers, as CNMessageBase carries them. Numbers are the
// framework's and never change.
namespace VirtualServer {

// ---- live-browse mount hand-over ----
namespace AmazonMountSnapInfo {
constexpr char kType[] = "VirtualServer.AmazonMountSnapInfo";
constexpr int kConnectParam = 1, kRegion = 2, kInstanceName = 3, kInstanceId = 4, kVolSnapMappings = 5;
}  // namespace AmazonMountSnapInfo
namespace AmazonConnectParam {
constexpr char kType[] = "VirtualServer.AmazonConnectParam";
// kPassword holds a sealed protected string (framework/ProtectedString.h).
constexpr int kEndpoint = 1, kUser = 2, kPassword = 3, kHostCredentials = 4;
}  // namespace AmazonConnectParam
namespace HostCredentials {
constexpr char kType[] = "VirtualServer.HostCredentials";
constexpr int kHost = 1, kUser = 2, kPassword = 3, kCredentialType = 4;
}  // namespace HostCredentials
namespace AmazonVolSnapMapping {
constexpr char kType[] = "VirtualServer.AmazonVolSnapMapping";
constexpr int kVolumeId = 1, kSnapshotId = 2, kZone = 3, kSectorSize = 4;
}  // namespace AmazonVolSnapMapping

// ---- catalogue of a VM-centric snap backup ----
namespace VMSnapBackup {
constexpr char kType[] = "VirtualServer.VMSnapBackup";
constexpr int kBackup = 1;
}  // namespace VMSnapBackup
namespace Backup {
constexpr char kType[] = "VirtualServer.Backup";
constexpr int kJobId = 1, kDatastoreInfo = 2, kVMLevelMetadata = 16;
}  // namespace Backup
namespace VMDatastoreInfo {
constexpr char kType[] = "VirtualServer.VMDatastoreInfo";
constexpr int kVMs = 1;
}  // namespace VMDatastoreInfo
namespace VMInfo {
constexpr char kType[] = "VirtualServer.VMInfo";
constexpr int kName = 1, kInstanceId = 2, kGuestOS = 5, kClientId = 8, kDisks = 14, kIndexMetadata = 16,
              kArchiveFileId = 17, kTotalDiskSize = 18, kVMJobId = 25, kVMAppId = 26, kBackupSetGuid = 29,
              kSubclientGuid = 30;
}  // namespace VMInfo
namespace vmDisk {
constexpr char kType[] = "VirtualServer.vmDisk";
constexpr int kVolumeId = 3, kFiltered = 5, kSize = 7, kUsedSize = 8, kOSDisk = 16, kDisplayName = 32;
}  // namespace vmDisk

}  // namespace VirtualServer

namespace IdxMetadata {
namespace VirtualServerIdxMetaData {
constexpr char kType[] = "IdxMetadata.VirtualServerIdxMetaData";
constexpr int kZone = 1, kGuestOSId = 29, kRegion = 34;
}  // namespace VirtualServerIdxMetaData
}  // namespace IdxMetadata
