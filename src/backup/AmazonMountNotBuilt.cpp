// Branches of the backup mount whose work has not landed (snap backup, backup
// copy, live browse). Each fails the job with a clear reason instead of
// reporting work it did not do.
#include <string>

#include "factory/AmazonInfo.h"
#include "framework/EvDebug.h"

int CAmazonInfo::NotBuiltYet(const char* branch) {
    const std::string text = std::string(branch) + " is not supported yet";
    EvDebug::Error("CAmazonInfo", "%s", text.c_str());
    SetLastVMError(kErrNotSupported, text);
    return 0;
}

int CAmazonInfo::_MountVMLiveBrowsePseudoMount(const MountCtx&) {
    return NotBuiltYet("Live browse without a proxy mount");
}

int CAmazonInfo::_MountVM_SNAP(MountCtx&) { return NotBuiltYet("Backup copy"); }

int CAmazonInfo::CleanupMountedVM_BackupToTape(MountCtx&) { return NotBuiltYet("Backup copy unmount"); }

int CAmazonInfo::_DownloadVMConfigFile(const std::string&, const MountCtx&) {
    return NotBuiltYet("Backup copy configuration file download");
}

bool CAmazonInfo::PopulateVMInfoFromSnapBackupXml(MountCtx&, SVMInfo&) {
    return NotBuiltYet("Backup copy from indexing V2 metadata") != 0;
}

int CAmazonInfo::AttachVolumesForLiveBrowse(MountCtx&) { return NotBuiltYet("Live browse volume attach"); }
