// The catalogue of a VM-centric snap backup, as framework messages.
#include "snap/SnapBackupCatalog.h"

#include <cerrno>
#include <cstdlib>
#include <type_traits>

#include "framework/SnapMessages.h"
#include "framework/XMLFile.h"

using VMInfoStructs::SDisk;
using VMInfoStructs::SVMInfo;
namespace VS = VirtualServer;
namespace Idx = IdxMetadata::VirtualServerIdxMetaData;

namespace {
template <class T>
std::string Num(T v) {
    return std::to_string(v);
}

CNMessageBase DiskMessage(const SDisk& d) {
    CNMessageBase m(VS::vmDisk::kType);
    m.SetString(VS::vmDisk::kVolumeId, d.volumeId);
    m.SetString(VS::vmDisk::kFiltered, d.filtered ? "1" : "0");
    m.SetString(VS::vmDisk::kSize, Num(d.size));
    m.SetString(VS::vmDisk::kUsedSize, Num(d.usedSize));
    m.SetString(VS::vmDisk::kOSDisk, d.isOSDisk ? "1" : "0");
    m.SetString(VS::vmDisk::kDisplayName, d.displayName);
    return m;
}

CNMessageBase VMMessage(const SVMInfo& vm, std::vector<SnapBackupCatalog::IndexFailure>& warnings) {
    CNMessageBase m(VS::VMInfo::kType);
    m.SetString(VS::VMInfo::kName, vm.name);
    m.SetString(VS::VMInfo::kInstanceId, vm.guid);
    m.SetString(VS::VMInfo::kGuestOS, vm.guestOS);
    m.SetString(VS::VMInfo::kClientId, Num(vm.clientId));
    m.SetString(VS::VMInfo::kArchiveFileId, vm.archiveFileId);
    m.SetString(VS::VMInfo::kTotalDiskSize, Num(vm.totalDiskSize));
    m.SetString(VS::VMInfo::kVMJobId, Num(vm.vmJobId));
    m.SetString(VS::VMInfo::kVMAppId, Num(vm.vmAppId));
    m.SetString(VS::VMInfo::kBackupSetGuid, vm.backupSetGuid);
    m.SetString(VS::VMInfo::kSubclientGuid, vm.subclientGuid);
    for (const auto& d : vm.disks) m.AddMessage(VS::VMInfo::kDisks, DiskMessage(d));
    CNMessageBase idx(Idx::kType);
    idx.SetString(Idx::kZone, vm.zone);
    idx.SetString(Idx::kRegion, vm.region);
    idx.SetString(Idx::kGuestOSId, Num(vm.guestOSId));
    std::string text;
    const int rc = idx.Serialize(text);
    if (rc == CNMessageBase::kOk)
        m.SetString(VS::VMInfo::kIndexMetadata, text);
    else
        warnings.push_back({vm.guid, rc});
    return m;
}

template <class T>
bool ParseNum(const std::string& text, T& out) {
    if (text.empty()) {
        out = 0;
        return true;
    }
    char* end = nullptr;
    errno = 0;
    if constexpr (std::is_signed_v<T>) {
        const long long v = std::strtoll(text.c_str(), &end, 10);
        if (errno || *end) return false;
        out = static_cast<T>(v);
    } else {
        if (text[0] == '-') return false;
        const unsigned long long v = std::strtoull(text.c_str(), &end, 10);
        if (errno || *end) return false;
        out = static_cast<T>(v);
    }
    return true;
}

bool ReadVM(const CNMessageBase& m, SVMInfo& vm, std::string& error) {
    vm.name = m.GetString(VS::VMInfo::kName);
    vm.guid = m.GetString(VS::VMInfo::kInstanceId);
    vm.guestOS = m.GetString(VS::VMInfo::kGuestOS);
    vm.archiveFileId = m.GetString(VS::VMInfo::kArchiveFileId);
    vm.backupSetGuid = m.GetString(VS::VMInfo::kBackupSetGuid);
    vm.subclientGuid = m.GetString(VS::VMInfo::kSubclientGuid);
    if (vm.guid.empty() || !ParseNum(m.GetString(VS::VMInfo::kClientId), vm.clientId) ||
        !ParseNum(m.GetString(VS::VMInfo::kTotalDiskSize), vm.totalDiskSize) ||
        !ParseNum(m.GetString(VS::VMInfo::kVMJobId), vm.vmJobId) ||
        !ParseNum(m.GetString(VS::VMInfo::kVMAppId), vm.vmAppId)) {
        error = "instance [" + vm.guid + "] has no id or a number that does not parse";
        return false;
    }
    CNMessageBase idx(Idx::kType);
    const std::string idxText = m.GetString(VS::VMInfo::kIndexMetadata);
    if (!idxText.empty() && idx.Deserialize(idxText) == CNMessageBase::kOk) {
        vm.zone = idx.GetString(Idx::kZone);
        vm.region = idx.GetString(Idx::kRegion);
        ParseNum(idx.GetString(Idx::kGuestOSId), vm.guestOSId);
    }
    for (const auto& dm : m.GetMessages(VS::VMInfo::kDisks)) {
        SDisk d;
        d.volumeId = dm.GetString(VS::vmDisk::kVolumeId);
        d.displayName = dm.GetString(VS::vmDisk::kDisplayName);
        d.filtered = dm.GetString(VS::vmDisk::kFiltered) == "1";
        d.isOSDisk = dm.GetString(VS::vmDisk::kOSDisk) == "1";
        if (!ParseNum(dm.GetString(VS::vmDisk::kSize), d.size) ||
            !ParseNum(dm.GetString(VS::vmDisk::kUsedSize), d.usedSize)) {
            error = "a disk of instance [" + vm.guid + "] has a size that does not parse";
            return false;
        }
        vm.disks.push_back(d);
    }
    return true;
}
}  // namespace

CNMessageBase SnapBackupCatalog::Build(const Catalog& catalog, std::vector<IndexFailure>& warnings) {
    std::map<std::string, const SVMInfo*> byId;
    for (const auto& vm : catalog.vms) byId.emplace(vm.guid, &vm);
    CNMessageBase datastore(VS::VMDatastoreInfo::kType);
    for (const auto& entry : byId) datastore.AddMessage(VS::VMDatastoreInfo::kVMs, VMMessage(*entry.second, warnings));
    CNMessageBase backup(VS::Backup::kType);
    backup.SetString(VS::Backup::kJobId, Num(catalog.jobId));
    backup.SetString(VS::Backup::kVMLevelMetadata, catalog.vmLevelMetadata ? "1" : "0");
    backup.AddMessage(VS::Backup::kDatastoreInfo, datastore);
    CNMessageBase top(VS::VMSnapBackup::kType);
    top.AddMessage(VS::VMSnapBackup::kBackup, backup);
    return top;
}

bool SnapBackupCatalog::Save(const std::string& path, const Catalog& catalog, std::vector<IndexFailure>& warnings,
                             std::string& error) {
    return vsXMLFile::Save(path, Build(catalog, warnings), error);
}

bool SnapBackupCatalog::Load(const std::string& path, Catalog& catalog, std::string& error) {
    CNMessageBase top(VS::VMSnapBackup::kType);
    if (!vsXMLFile::Load(path, top, error)) return false;
    const auto backups = top.GetMessages(VS::VMSnapBackup::kBackup);
    if (backups.size() != 1 || backups[0].Type() != VS::Backup::kType) {
        error = "the catalogue holds no single backup";
        return false;
    }
    Catalog read;
    if (!ParseNum(backups[0].GetString(VS::Backup::kJobId), read.jobId)) {
        error = "the job id does not parse";
        return false;
    }
    read.vmLevelMetadata = backups[0].GetString(VS::Backup::kVMLevelMetadata) == "1";
    for (const auto& ds : backups[0].GetMessages(VS::Backup::kDatastoreInfo)) {
        for (const auto& m : ds.GetMessages(VS::VMDatastoreInfo::kVMs)) {
            SVMInfo vm;
            if (m.Type() != VS::VMInfo::kType || !ReadVM(m, vm, error)) {
                if (error.empty()) error = "the catalogue lists something other than an instance";
                return false;
            }
            read.vms.push_back(std::move(vm));
        }
    }
    catalog = std::move(read);
    return true;
}
