// Lines of snap-backup and snap-list.
#include "host/SnapListing.h"

#include "framework/MessageBase.h"
#include "framework/SnapMessages.h"
#include "framework/SnapMetadataXml.h"
#include "framework/SnapPairText.h"
#include "framework/XMLFile.h"

namespace {
bool EndsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

bool ReadCatalog(const std::string& bytes, std::string& summary) {
    namespace VS = VirtualServer;
    CNMessageBase top(VS::VMSnapBackup::kType);
    std::string error;
    if (!vsXMLFile::FromText(bytes, top, error) || top.Type() != VS::VMSnapBackup::kType) {
        summary = error.empty() ? "not a snap backup catalogue" : error;
        return false;
    }
    size_t disks = 0;
    std::string names;
    for (const auto& backup : top.GetMessages(VS::VMSnapBackup::kBackup))
        for (const auto& ds : backup.GetMessages(VS::Backup::kDatastoreInfo))
            for (const auto& vm : ds.GetMessages(VS::VMDatastoreInfo::kVMs)) {
                names += (names.empty() ? "" : ", ") + vm.GetString(VS::VMInfo::kInstanceId);
                disks += vm.GetMessages(VS::VMInfo::kDisks).size();
            }
    summary = "catalogue of instances [" + names + "], " + std::to_string(disks) + " disks";
    return true;
}
}  // namespace

std::vector<std::string> SnapListing::Snapshots(const SMVolSnapInfo& record) {
    std::vector<std::string> lines;
    for (const auto& m : record.metadata) {
        if (m.type != kSMMetaSnapshotPairs) continue;
        const bool failed = m.referenceId >= 1 && m.referenceId <= record.snaps.size() &&
                            record.snaps[m.referenceId - 1].errorCode != 0;
        lines.push_back(FwSnapPairs::Value(m.metadata, "snapUUID") + " of " +
                        FwSnapPairs::Value(m.metadata, "sourceInstance") + " in " +
                        FwSnapPairs::Value(m.metadata, "sourceRegion") + (failed ? " (failed)" : ""));
    }
    return lines;
}

bool SnapListing::ReadBack(const std::string& name, const std::string& bytes, std::string& summary) {
    if (EndsWith(name, "_InstanceConfig.xml")) {
        summary = "instance configuration, " + std::to_string(bytes.size()) + " bytes";
        return !bytes.empty();
    }
    int64_t jobId = 0;
    std::vector<SnapMetadataXml::Volume> volumes;
    std::string error;
    if (SnapMetadataXml::Read(bytes, jobId, volumes, error)) {
        summary = "snap metadata of job " + std::to_string(jobId) + ":";
        for (const auto& v : volumes) {
            summary += " " + v.datastore.guid;
            for (const auto& vm : v.datastore.vms)
                summary += " (" + vm.guid + ", error code " + std::to_string(vm.snapErrorCode) + ")";
        }
        return !volumes.empty();
    }
    return ReadCatalog(bytes, summary);
}
