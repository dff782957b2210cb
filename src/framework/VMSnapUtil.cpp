// The snapshot manager's metadata: snap metadata XML, tag maps and the
// metadata files jobs hand over.
#include "framework/VMSnapUtil.h"

#include <algorithm>

#include "framework/EvDebug.h"
#include "framework/FileUtils.h"
#include "framework/SnapMetadataXml.h"
#include "framework/SnapStore.h"

using VMInfoStructs::SDatastoreInfo;

namespace {
const char kTag[] = "CVMSnapUtil";

std::string BaseName(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool WriteFile(const std::string& folder, const std::string& name, const std::string& bytes) {
    if (!FwFile::MakeDirs(folder) || !FwFile::WriteAllAtomic(FwFile::JoinPath(folder, name), bytes)) {
        EvDebug::Error(kTag, "cannot write [%s] into [%s]", name.c_str(), folder.c_str());
        return false;
    }
    return true;
}
}  // namespace

CVMSnapUtil::~CVMSnapUtil() = default;

std::string CVMSnapUtil::GetSnapMetadataFileName(int64_t jobId) { return "backup_" + std::to_string(jobId) + ".xml"; }

std::string CVMSnapUtil::GetVMSnapMetadataFileName(int64_t jobId, const std::string& instanceId) {
    return "backup_" + std::to_string(jobId) + "_" + instanceId + ".xml";
}

void CVMSnapUtil::SetTagMap(const std::string& volumeId, const std::map<std::string, std::string>& tags) {
    m_tags[volumeId] = tags;
}

bool CVMSnapUtil::GetTagMap(const std::string& volumeId, std::map<std::string, std::string>& tags) const {
    auto it = m_tags.find(volumeId);
    if (it == m_tags.end()) return false;
    tags = it->second;
    return true;
}

void CVMSnapUtil::SetAdditionalDiskMetadata(const std::string& volumeId,
                                            const std::vector<VMInfoStructs::SDiskMetadataInfo>& entries) {
    m_diskMetadata[volumeId] = entries;
}

int CVMSnapUtil::GenerateMetadataXML(const MountCtx& ctx, const SDatastoreInfo& datastore,
                                     const std::vector<SVolSnap>& list) {
    std::vector<SDatastoreInfo> stores;
    for (const auto& v : list) stores.push_back(v.datastore);
    auto sameVolume = [&](const SDatastoreInfo& d) { return d.guid == datastore.guid; };
    if (std::none_of(stores.begin(), stores.end(), sameVolume)) stores.push_back(datastore);
    std::vector<SnapMetadataXml::Volume> volumes;
    for (auto& ds : stores) {
        SnapMetadataXml::Volume v;
        for (auto& vm : ds.vms) {
            auto known = ctx.snapVMs.find(vm.guid);
            if (known != ctx.snapVMs.end()) vm.snapErrorCode = known->second.snapErrorCode;
        }
        v.datastore = ds;
        GetTagMap(ds.guid, v.tags);
        auto meta = m_diskMetadata.find(ds.guid);
        if (meta != m_diskMetadata.end()) v.diskMetadata = meta->second;
        volumes.push_back(std::move(v));
    }
    if (ctx.snapMetadataFolder.empty()) {
        EvDebug::Error(kTag, "no snap metadata folder for job [%lld]", static_cast<long long>(ctx.snapJobId));
        return 0;
    }
    const std::string name = ctx.indexingV2 ? GetVMSnapMetadataFileName(ctx.snapJobId, ctx.requestedVMGuid)
                                            : GetSnapMetadataFileName(ctx.snapJobId);
    return WriteFile(ctx.snapMetadataFolder, name, SnapMetadataXml::Write(ctx.snapJobId, volumes)) ? 1 : 0;
}

bool CVMSnapUtil::ReadSnapMetadataXML(const std::string& path, std::vector<SDatastoreInfo>& datastores) {
    std::string text, error;
    const int64_t size = FwFile::FileSize(path);
    if (size < 0 || static_cast<uint64_t>(size) > (64u << 20) || !FwFile::ReadAll(path, text)) {
        EvDebug::Error(kTag, "cannot read snap metadata [%s]", path.c_str());
        return false;
    }
    int64_t jobId = 0;
    std::vector<SnapMetadataXml::Volume> volumes;
    if (!SnapMetadataXml::Read(text, jobId, volumes, error)) {
        EvDebug::Error(kTag, "snap metadata [%s] refused: %s", path.c_str(), error.c_str());
        return false;
    }
    datastores.clear();
    for (auto& v : volumes) {
        m_tags[v.datastore.guid] = v.tags;
        m_diskMetadata[v.datastore.guid] = v.diskMetadata;
        datastores.push_back(v.datastore);
    }
    m_datastores = datastores;
    return true;
}

bool CVMSnapUtil::PatchBackupXMLWithVMErrorCode(const MountCtx& ctx, const std::string& path) {
    std::string text, error;
    int64_t jobId = 0;
    std::vector<SnapMetadataXml::Volume> volumes;
    if (!FwFile::ReadAll(path, text) || !SnapMetadataXml::Read(text, jobId, volumes, error)) {
        EvDebug::Error(kTag, "cannot patch snap metadata [%s]: %s", path.c_str(), error.c_str());
        return false;
    }
    for (auto& v : volumes) {
        for (auto& vm : v.datastore.vms) {
            auto known = ctx.snapVMs.find(vm.guid);
            if (known != ctx.snapVMs.end()) vm.snapErrorCode = known->second.snapErrorCode;
        }
    }
    return FwFile::WriteAllAtomic(path, SnapMetadataXml::Write(jobId, volumes));
}

bool CVMSnapUtil::UpdateVMList(std::vector<SVolSnap>& list) const {
    std::vector<SVolSnap> out;
    for (const auto& ds : m_datastores) {
        SVolSnap v;
        v.volumeId = ds.guid;
        v.volumeName = ds.name;
        v.zone = ds.zone;
        v.deviceName = ds.deviceName;
        v.archiveFileId = ds.archiveFileId;
        v.datastore = ds;
        out.push_back(std::move(v));
    }
    if (out.empty()) return false;
    list = std::move(out);
    return true;
}

bool CVMSnapUtil::UploadMetadataFiles(int64_t snapJobId, const std::vector<std::string>& paths) {
    for (const auto& path : paths) {
        std::string bytes;
        if (!FwFile::ReadAll(path, bytes) || !CSnapStore::SaveMetadataFile(snapJobId, BaseName(path), bytes)) {
            EvDebug::Error(kTag, "cannot keep metadata file [%s] with job [%lld]", path.c_str(),
                           static_cast<long long>(snapJobId));
            return false;
        }
    }
    return true;
}

int CVMSnapUtil::DownloadMetadataFiles(const MountCtx& ctx, const std::string& fileName, const std::string& folder) {
    std::string bytes;
    if (!CSnapStore::LoadMetadataFile(ctx.snapJobId, fileName, bytes)) {
        EvDebug::Error(kTag, "job [%lld] has no metadata file [%s]", static_cast<long long>(ctx.snapJobId),
                       fileName.c_str());
        return 0;
    }
    return WriteFile(folder, fileName, bytes) ? 1 : 0;
}

int CVMSnapUtil::DownloadVMMetadataFiles(const MountCtx& ctx, const std::string& instanceId,
                                         const std::string& folder) {
    std::vector<std::string> names;
    if (instanceId.empty() || !CSnapStore::ListMetadataFiles(ctx.snapJobId, names)) return 0;
    const std::string config = instanceId + "_InstanceConfig.xml";
    const std::string snapFile = GetVMSnapMetadataFileName(ctx.snapJobId, instanceId);
    int found = 0;
    for (const auto& name : names) {
        if (name != config && name != snapFile) continue;
        if (!DownloadMetadataFiles(ctx, name, folder)) return 0;
        ++found;
    }
    return found > 0 ? 1 : 0;
}

std::string CVMSnapUtil::MaskSecrets(const std::string& metadata) {
    static const std::string key = "targetSecretKey:";
    std::string out = metadata;
    for (size_t at = out.find(key); at != std::string::npos; at = out.find(key, at + key.size())) {
        const size_t begin = at + key.size();
        const size_t end = std::min(out.find(';', begin), out.size());
        if (end > begin) out.replace(begin, end - begin, "****");
    }
    return out;
}
