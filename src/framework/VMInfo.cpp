#include "framework/VMInfo.h"

#include <cctype>
#include <cstdio>

#include "framework/Clock.h"
#include "framework/FileUtils.h"
#include "framework/KDPI.h"

#include "framework/BiosInfo.h"
#include "framework/EvDebug.h"

namespace {
std::atomic<bool> g_processCancelled{false};
}  // namespace

CVMInfo::CVMInfo(VirtualServerInstanceType type) : m_instanceType(type) {}

CVMInfo::~CVMInfo() = default;

int CVMInfo::NotSupported(const char* slot, int failureValue) {
    std::string text = std::string("[") + (slot ? slot : "") + "] is not supported by this hypervisor";
    EvDebug::Error("CVMInfo", "%s", text.c_str());
    SetLastVMError(kErrNotSupported, text);
    return failureValue;
}

// ---- connection ----
int CVMInfo::Connect(const std::string&, const std::string&, const std::string&) { return NotSupported("Connect"); }
int CVMInfo::Connect(const std::string&, const std::string&, const std::string&,
                     const std::vector<SHostCredentials>&) {
    return NotSupported("Connect");
}
int CVMInfo::Disconnect() { return NotSupported("Disconnect"); }

// ---- inventory ----
int CVMInfo::BrowseInventory(const std::string&, const SInventoryInfo&, std::vector<SInventoryInfo>&, ULONGLONG, int) {
    return NotSupported("BrowseInventory");
}
int CVMInfo::GetVMInfoForVM(const std::string&, const std::string&, const std::string&, ULONGLONG, int, SVMInfo&) {
    return NotSupported("GetVMInfoForVM");
}
int CVMInfo::GetHostInfoForHost(const std::string&, ULONGLONG, int, SHostInfo&) {
    return NotSupported("GetHostInfoForHost");
}
int CVMInfo::GetVMInfoListForTag(const std::string&, const std::string&, EInventoryType, ULONGLONG, int,
                                 std::vector<SVMInfo>&) {
    return NotSupported("GetVMInfoListForTag");
}
int CVMInfo::GetVMInfoListForInstanceSize(const std::string&, ULONGLONG, int, std::vector<SVMInfo>&) {
    return NotSupported("GetVMInfoListForInstanceSize");
}
bool CVMInfo::GetVMInfoListForInventoryObject(const std::string&, EInventoryType, ULONGLONG, int,
                                              std::vector<SVMInfo>&) {
    return NotSupported("GetVMInfoListForInventoryObject") != 0;
}
int CVMInfo::GetLocalHostInfo(SHostInfo&, ULONGLONG, int) { return NotSupported("GetLocalHostInfo"); }
int CVMInfo::GetLocalVMInfo(SVMInfo&, ULONGLONG, int) { return NotSupported("GetLocalVMInfo"); }
int CVMInfo::GetInventoryInfoList(std::vector<SInventoryInfo>&, ULONGLONG, int) {
    return NotSupported("GetInventoryInfoList");
}
bool CVMInfo::GetVMInventoryInfoListForHost(const std::string&, std::vector<SInventoryInfo>&, ULONGLONG, int) {
    return NotSupported("GetVMInventoryInfoListForHost") != 0;
}
int CVMInfo::GetAvailableVMSizesForHost(const std::string&, std::vector<VMInfoStructs::SVMSizeInfo>&, ULONGLONG,
                                        int) {
    return NotSupported("GetAvailableVMSizesForHost");
}
int CVMInfo::GetRolesForHost(const std::string&, std::vector<VMInfoStructs::SRoleInfo>&, ULONGLONG, int) {
    return NotSupported("GetRolesForHost");
}
int CVMInfo::GetImageList(const std::string&, const std::string&, const std::string&,
                          std::vector<VMInfoStructs::SImageInfo>&) {
    return NotSupported("GetImageList");
}
int CVMInfo::GetVolumeTypeListForHost(const std::string&, std::vector<VMInfoStructs::SVolumeTypeInfo>&) {
    return NotSupported("GetVolumeTypeListForHost");
}
int CVMInfo::GetVolumeEncryptionKeyListForHost(const std::string&,
                                               std::vector<VMInfoStructs::SVolumeEncryptionKeyInfo>&) {
    return NotSupported("GetVolumeEncryptionKeyListForHost");
}

// ---- backup ----
int CVMInfo::MountVM(MountCtx&) { return NotSupported("MountVM"); }
int CVMInfo::UnmountVM(MountCtx&) { return NotSupported("UnmountVM"); }
int CVMInfo::CleanupVM(MountCtx&) { return NotSupported("CleanupVM"); }
int CVMInfo::GetFileMountInfo(const MountCtx&, std::vector<VMInfoStructs::SMountInfoFile>&) {
    return NotSupported("GetFileMountInfo");
}
int CVMInfo::GetFullMountInfo(const MountCtx&, std::vector<VMInfoStructs::SMountInfoFull>&) {
    return NotSupported("GetFullMountInfo");
}
int CVMInfo::CollectMetadata(MountCtx&) { return NotSupported("CollectMetadata"); }
bool CVMInfo::ValidateChangeId(const std::string&, const std::string&, const std::string&, const std::string&) {
    return NotSupported("ValidateChangeId") != 0;
}
int CVMInfo::PostBackupVM(MountCtx&) { return NotSupported("PostBackupVM"); }

// ---- restore and replication ----
int CVMInfo::InitRestoreVM(const RestoreCtx&) { return NotSupported("InitRestoreVM"); }
int CVMInfo::PreRestoreVM(const RestoreCtx&) { return NotSupported("PreRestoreVM"); }
int CVMInfo::RestoreVM(const RestoreCtx&) { return NotSupported("RestoreVM"); }
int CVMInfo::PostRestoreVM(const RestoreCtx&) { return NotSupported("PostRestoreVM"); }
int CVMInfo::CloseRestoreVM(const RestoreCtx&) { return NotSupported("CloseRestoreVM"); }
int CVMInfo::CleanupRestoreVM(const RestoreCtx&) { return NotSupported("CleanupRestoreVM"); }
int CVMInfo::InitRecast(const RestoreCtx&) { return NotSupported("InitRecast"); }
int CVMInfo::FinalizeRecast(const RestoreCtx&) { return NotSupported("FinalizeRecast"); }
int CVMInfo::CleanupRecast(const RestoreCtx&) { return NotSupported("CleanupRecast"); }

// ---- guest files ----
int CVMInfo::BrowseGuest(const GuestCtx&, const std::string&, std::vector<VMInfoStructs::SGuestFile>&) {
    return NotSupported("BrowseGuest");
}
int CVMInfo::CreateGuestFolder(const GuestCtx&, const std::string&) { return NotSupported("CreateGuestFolder"); }
int CVMInfo::CopyFileToGuest(const GuestCtx&, const std::string&, const std::string&, bool) {
    return NotSupported("CopyFileToGuest");
}
int CVMInfo::PrepareGuestForFileCopy(const GuestCtx&) { return NotSupported("PrepareGuestForFileCopy"); }
int CVMInfo::ExecuteScriptInGuest(const GuestCtx&, const std::string&, const std::string&, const std::string&, int,
                                  const std::string&, int&) {
    return NotSupported("ExecuteScriptInGuest");
}
int CVMInfo::ExecuteScriptInGuest(const GuestCtx&, const std::string&, int) {
    return NotSupported("ExecuteScriptInGuest");
}

// ---- operations ----
int CVMInfo::PerformVMOperation(OperationCtx&) { return NotSupported("PerformVMOperation"); }
// These two report success as 0, so their failure is 1.
int CVMInfo::PerformVMOperation(SVMInfo&, EVMOperation, std::string&) { return NotSupported("PerformVMOperation", 1); }
int CVMInfo::PerformStorageOperation(StorageOperationCtx&) { return NotSupported("PerformStorageOperation", 1); }
// One stream is always safe, so this is a default rather than a failure.
int CVMInfo::GetStreamLimit() { return 1; }

// ---- snapshot manager ----
int CVMInfo::GetMetadataFiles(const MountCtx&, std::vector<std::string>&, int) {
    return NotSupported("GetMetadataFiles");
}
int CVMInfo::GetAFileID(const MountCtx&, const std::string&, DiskType_t, unsigned int&) {
    return NotSupported("GetAFileID");
}
std::string CVMInfo::GetSnapMountInfo() {
    NotSupported("GetSnapMountInfo");
    return std::string();
}
bool CVMInfo::SetSnapMountInfo(const std::string&) { return NotSupported("SetSnapMountInfo") != 0; }
int CVMInfo::PreSnap(MountCtx&) { return NotSupported("PreSnap"); }
int CVMInfo::PostSnap(MountCtx&) { return NotSupported("PostSnap"); }
int CVMInfo::MountSnap(const MountCtx&) { return NotSupported("MountSnap"); }
int CVMInfo::UnmountSnap(MountCtx&) { return NotSupported("UnmountSnap"); }
int CVMInfo::RevertSnap(MountCtx&, const RestoreCtx&) { return NotSupported("RevertSnap"); }

// ---- disks ----
int CVMInfo::OpenVmdk(const std::string&, const std::string&, const std::string&, VmdkHandle&) {
    return NotSupported("OpenVmdk");
}
int CVMInfo::CreateVmdk(const std::string&, const std::string&, const std::string&, ULONGLONG, VmdkHandle&) {
    return NotSupported("CreateVmdk");
}
int CVMInfo::CloseVmdk(VmdkHandle&) { return NotSupported("CloseVmdk"); }
int CVMInfo::GetVmdkInfo(const VmdkHandle&, SDisk&) { return NotSupported("GetVmdkInfo"); }
int CVMInfo::GetVmdkMetadata(const VmdkHandle&, std::vector<VMInfoStructs::SDiskMetadataInfo>&) {
    return NotSupported("GetVmdkMetadata");
}
int CVMInfo::GetVmdkExtents(const VmdkHandle&, const std::string&, ULONGLONG, VMInfoStructs::SDiskChangeInfo&) {
    return NotSupported("GetVmdkExtents");
}
int CVMInfo::ReadVmdk(const VmdkHandle&, ULONGLONG, unsigned int, void*) { return NotSupported("ReadVmdk", 1); }
int CVMInfo::GetVmdkTagList(const VmdkHandle&, std::vector<VMInfoStructs::SDiskMetadataInfo>&) {
    return NotSupported("GetVmdkTagList");
}
int CVMInfo::SetVmdkTagList(const VmdkHandle&, const std::vector<VMInfoStructs::SDiskMetadataInfo>&) {
    return NotSupported("SetVmdkTagList");
}

// ---- networks ----
bool CVMInfo::CreateNetwork(VMInfoStructs::SNetworkInfo&, std::string, VMInfoStructs::SHostNetworkAdapterInfo) {
    return NotSupported("CreateNetwork") != 0;
}
bool CVMInfo::DeleteNetwork(VMInfoStructs::SNetworkInfo&, std::string, VMInfoStructs::SHostNetworkAdapterInfo) {
    return NotSupported("DeleteNetwork") != 0;
}

// ---- disk filters ----
bool CVMInfo::IsDiskFilteredByPattern(const SDisk&, const std::string&) {
    return NotSupported("IsDiskFilteredByPattern") != 0;
}
bool CVMInfo::IsDiskFilteredByVirtualDeviceNode(const SDisk&, const std::string&) {
    return NotSupported("IsDiskFilteredByVirtualDeviceNode") != 0;
}
bool CVMInfo::IsDiskFilteredByType(const SDisk&, int) { return NotSupported("IsDiskFilteredByType") != 0; }
bool CVMInfo::IsDiskFilteredByTag(const SDisk&, const std::string&, const std::string&) {
    return NotSupported("IsDiskFilteredByTag") != 0;
}

// ---- framework services ----
EVMInfoError CVMInfo::GetLastVMError() const {
    std::lock_guard<std::mutex> lock(m_errorLock);
    return m_lastError;
}

std::string CVMInfo::GetLastVMErrorDetails() const {
    std::lock_guard<std::mutex> lock(m_errorLock);
    return m_lastErrorDetails;
}

void CVMInfo::SetLastVMError(EVMInfoError code) {
    std::lock_guard<std::mutex> lock(m_errorLock);
    m_lastError = code;
    if (code == 0) m_lastErrorDetails.clear();
}

void CVMInfo::SetLastVMError(EVMInfoError code, const std::string& message) {
    std::lock_guard<std::mutex> lock(m_errorLock);
    m_lastError = code;
    m_lastErrorDetails = message;
}

void CVMInfo::SetLastVMErrorDetails(const std::string& text) {
    std::lock_guard<std::mutex> lock(m_errorLock);
    m_lastErrorDetails = text;
}

bool CVMInfo::IsJobCancelled() const { return m_cancelled.load() || g_processCancelled.load(); }

void CVMInfo::SetProcessJobCancelled(bool cancelled) { g_processCancelled.store(cancelled); }

void CVMInfo::AddFailure(const std::string& name, const std::string& reason, bool flag) {
    m_failures.emplace_back(name, reason, "", "", flag);
}

void CVMInfo::AddMountFailure(const std::string& name, const std::string& reason, bool flag) {
    m_failures.emplace_back(name, reason, "Mount", "", flag);
}

void CVMInfo::AddRestoreFailure(const std::string& name, const std::string& reason, bool flag) {
    m_failures.emplace_back(name, reason, "Restore", "", flag);
}

int CVMInfo::_RefreshHostInfoCache(ULONGLONG, int) {
    m_hostCacheValid = true;
    return 1;
}

int CVMInfo::_RefreshDCInfoCache(ULONGLONG, int) { return NotSupported("_RefreshDCInfoCache"); }

void CVMInfo::ResetCaches() {
    m_dcCache.clear();
    m_hostCache.clear();
    m_hostCacheValid = false;
}

bool CVMInfo::IsNewHostDiscoveryReq() const { return !m_hostCacheValid || m_hostCache.empty(); }

bool CVMInfo::getBiosInfo(std::string& manufacturer, std::string& product, std::string& uuid, std::string& version) {
    FwBiosValues v;
    if (!FwBios::Read(v)) return false;
    manufacturer = v.manufacturer;
    product = v.product;
    uuid = v.uuid;
    version = v.version;
    return true;
}

// ---- services for job operations ----

bool CVMInfo::IsDiskFiltered(const MountCtx& ctx, const SDisk& disk) {
    for (const auto& rule : ctx.diskFilters) {
        switch (rule.kind) {
            case SDiskFilterRule::Pattern:
                if (IsDiskFilteredByPattern(disk, rule.value)) return true;
                break;
            case SDiskFilterRule::DeviceNode:
                if (IsDiskFilteredByVirtualDeviceNode(disk, rule.value)) return true;
                break;
            case SDiskFilterRule::Type:
                if (IsDiskFilteredByType(disk, rule.type)) return true;
                break;
            case SDiskFilterRule::Tag:
                if (IsDiskFilteredByTag(disk, rule.value, rule.value2)) return true;
                break;
            default:
                break;
        }
    }
    return false;
}

namespace {
// A file name for any GUID: safe characters as they are, others as %XX.
std::string CleanupStringFile(const std::string& vmGuid) {
    std::string name;
    for (unsigned char c : vmGuid) {
        if (std::isalnum(c) || c == '-' || c == '_') {
            name += static_cast<char>(c);
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            name += hex;
        }
    }
    return FwFile::JoinPath(FwFile::JoinPath(FwFile::JoinPath(KDPI_Base::getBaseDir(), "Cleaner"), "strings"),
                            name.empty() ? "%" : name);
}
}  // namespace

void CVMInfo::SaveCleanupString(MountCtx& ctx, const std::string& text) {
    ctx.cleanupString = text;
    const std::string file = CleanupStringFile(ctx.JobVMGuid());
    if (text.empty()) {
        FwFile::RemoveFile(file);
        return;
    }
    const std::string folder = file.substr(0, file.find_last_of('/'));
    if (!FwFile::MakeDirs(folder) || !FwFile::WriteAllAtomic(file, text))
        EvDebug::Error("CVMInfo", "Cannot persist the cleanup string of [%s]", ctx.JobVMGuid().c_str());
}

std::string CVMInfo::LoadCleanupString(const std::string& vmGuid) {
    std::string text;
    FwFile::ReadAll(CleanupStringFile(vmGuid), text);
    return text;
}

void CVMInfo::NotifySnapshotCreate(const std::string& vmName, const std::string& vmGuid, int percent, int status) {
    EvDebug::DebugLvl("CVMInfo", 2, "Snapshot of [%s][%s]: %d%% status %d", vmName.c_str(), vmGuid.c_str(), percent,
                      status);
    std::lock_guard<std::mutex> guard(m_errorLock);
    m_snapshotProgress.push_back({vmGuid, percent, status});
}

std::vector<CVMInfo::SnapshotProgress> CVMInfo::GetSnapshotProgress() const {
    std::lock_guard<std::mutex> guard(m_errorLock);
    return m_snapshotProgress;
}

// lvmetad caches LVM metadata and would claim the volume groups of attached
// backup volumes; a proxy must run without it.
bool CVMInfo::CheckLVMetaDDisabled() {
    return !FwFile::Exists("/run/lvm/lvmetad.socket") && !FwFile::Exists("/run/lvmetad.pid");
}

// A job's mount path must be a folder of its own: never empty, never the
// root, never climbing out with "..".
bool CVMInfo::_PrepareMountPathDirectory(const std::string& path, int) {
    if (path.empty() || path.find_first_not_of('/') == std::string::npos || path.find("..") != std::string::npos) {
        EvDebug::Error("CVMInfo", "Refusing mount path [%s]", path.c_str());
        return false;
    }
    return FwFile::MakeDirs(path);
}

int CVMInfo::ParseRawGuestOSName(const std::string& raw, VMInfoStructs::SGuestOSInfo& info) {
    std::string lower;
    for (char c : raw) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    info.name = raw;
    info.isWindows = lower.find("windows") != std::string::npos;
    // The framework's guest OS codes: 1 Windows, 2 Linux, 0 unknown.
    if (info.isWindows) return 1;
    return lower.empty() ? 0 : 2;
}

void CVMInfo::UpdateMountCtxReferenceTimeWIthCurrentTime(MountCtx& ctx) { ctx.referenceTime = FwClock::NowSec(); }
