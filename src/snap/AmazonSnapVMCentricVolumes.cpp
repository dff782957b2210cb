// The VM-centric snap backup's volumes: one entry per disk of the instance
// with its transient metadata, and the instance-level snap metadata XML.
#include "factory/AmazonInfo.h"
#include "framework/EvDebug.h"
#include "framework/VMSnapUtil.h"
#include "snap/SnapInstanceMap.h"
#include "snap/SnapTransMeta.h"

using VMInfoStructs::SDatastoreInfo;

namespace {
const char kTransientMetadataName[] = "AmazonTransientMetadata";
}  // namespace

bool CAmazonInfo::PopulateVolSnapAndTransientMetadata(MountCtx& ctx) {
    ctx.volSnaps.clear();
    for (const auto& disk : ctx.vm.disks) {
        SVMBasicInfo entry;
        if (!_GetVMBasicInfoForVM(ctx, ctx.vm.guid, entry)) {
            EvDebug::Error(__PRETTY_FUNCTION__, "Could not find VM[%s] in snapMntCtx VM List", ctx.vm.guid.c_str());
            return false;
        }
        SVolSnap v;
        v.volumeId = disk.volumeId;
        v.volumeName = disk.displayName.empty() ? disk.volumeId : disk.displayName;
        v.zone = disk.zone;
        v.deviceName = disk.deviceName;
        v.archiveFileId = ctx.archiveFileId;
        SDatastoreInfo& ds = v.datastore;
        ds.name = v.volumeName;
        ds.guid = disk.volumeId;
        ds.deviceName = disk.deviceName;
        ds.zone = disk.zone;
        ds.region = ctx.vm.region;
        ds.size = disk.size;
        ds.freeSize = disk.size - disk.usedSize;
        ds.archiveFileId = ctx.archiveFileId;
        SnapInstanceMap::AppendInstanceOnce(ds, ctx.vm);
        AmazonSnapTransMetaInfo meta;
        std::string text, error;
        if (!GetTransientMetadataForSnapBackup(ctx, ds, meta)) return false;
        if (!SnapTransMeta::Serialize(meta, text, error)) {
            EvDebug::Error(__PRETTY_FUNCTION__, "Snap trans metadata of volume [%s] refused: %s", disk.volumeId.c_str(),
                           error.c_str());
            return false;
        }
        EvDebug::DebugLvl(__PRETTY_FUNCTION__, 2, "Amazon snap trans metadata: [%s]", SnapTransMeta::ForLog(text).c_str());
        VMInfoStructs::SDiskMetadataInfo entryMeta;
        entryMeta.name = kTransientMetadataName;
        entryMeta.value = text;
        m_pSnapUtil->SetAdditionalDiskMetadata(disk.volumeId, {entryMeta});
        ctx.volSnaps.push_back(std::move(v));
    }
    return !ctx.volSnaps.empty();
}

bool CAmazonInfo::_WriteVMSnapBackupMetadataXML(MountCtx& ctx) {
    ctx.snapVMs[ctx.vm.guid] = ctx.vm;
    for (const auto& v : ctx.volSnaps) {
        std::map<std::string, std::string> tags;
        if (!_GetTagListForVolume(v.volumeId, v.datastore.region, tags))
            EvDebug::Error(__PRETTY_FUNCTION__, "Could not get tag list for disk[%s]", v.volumeId.c_str());
        m_pSnapUtil->SetTagMap(v.volumeId, tags);
        if (!m_pSnapUtil->GenerateMetadataXML(ctx, v.datastore, ctx.volSnaps)) {
            EvDebug::Error(__PRETTY_FUNCTION__, "GenerateMetadataXML Failed");
            return false;
        }
    }
    return true;
}
