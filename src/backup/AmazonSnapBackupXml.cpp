// The snap backup metadata a backup copy fetched, removed once the copy no
// longer needs it.
#include "factory/AmazonInfo.h"
#include "framework/EvDebug.h"
#include "framework/FileUtils.h"
#include "framework/VMSnapUtil.h"

void CAmazonInfo::DeleteSnapBackupXml(const MountCtx& ctx) {
    if (ctx.snapMetadataFolder.empty()) return;
    const std::string path =
        FwFile::JoinPath(ctx.snapMetadataFolder, CVMSnapUtil::GetSnapMetadataFileName(ctx.snapJobId));
    if (!FwFile::Exists(path)) return;
    EvDebug::Debug(__PRETTY_FUNCTION__, "Deleting snap backup xml: [%s]", path.c_str());
    if (!FwFile::RemoveFile(path)) EvDebug::Error(__PRETTY_FUNCTION__, "Failed to delete [%s]", path.c_str());
}
