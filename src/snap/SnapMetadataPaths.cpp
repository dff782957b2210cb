// Where a snap backup's metadata files live and what they are called.
#include "snap/SnapMetadataPaths.h"

#include "framework/FileUtils.h"
#include "framework/VMSnapUtil.h"

bool SnapMetadataPaths::IsSafeId(const std::string& id) {
    if (id.empty() || id.size() > 255 || id == "." || id == "..") return false;
    for (unsigned char c : id)
        if (c == '/' || c == '\\' || c < 0x20 || c == 0x7f) return false;
    return true;
}

std::string SnapMetadataPaths::SnapJobFolder(const MountCtx& ctx) {
    return FwFile::JoinPath(FwFile::JoinPath(ctx.jobResultsFolder, "Metadata"), std::to_string(ctx.snapJobId));
}

bool SnapMetadataPaths::VMFolder(const MountCtx& ctx, const std::string& instanceId, std::string& folder) {
    folder.clear();
    if (!ctx.snapMetadataFolder.empty()) {
        folder = ctx.snapMetadataFolder;
        return true;
    }
    if (!IsSafeId(instanceId)) return false;
    folder = FwFile::JoinPath(SnapJobFolder(ctx), instanceId);
    return true;
}

std::string SnapMetadataPaths::JobLevelFileName(const MountCtx& ctx) {
    return CVMSnapUtil::GetSnapMetadataFileName(ctx.snapJobId);
}

bool SnapMetadataPaths::VMLevelFileName(const MountCtx& ctx, std::string& name) {
    name.clear();
    if (!IsSafeId(ctx.requestedVMGuid)) return false;
    name = CVMSnapUtil::GetVMSnapMetadataFileName(ctx.snapJobId, ctx.requestedVMGuid);
    return true;
}

std::string SnapMetadataPaths::JobSnapMetadataFile(const MountCtx& ctx) {
    return FwFile::JoinPath(SnapJobFolder(ctx), CVMSnapUtil::GetSnapMetadataFileName(ctx.snapJobId));
}

std::string SnapMetadataPaths::CatalogFile(const MountCtx& ctx) {
    return FwFile::JoinPath(ctx.jobResultsFolder, CVMSnapUtil::GetSnapMetadataFileName(ctx.jobId));
}
