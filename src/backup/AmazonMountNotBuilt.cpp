// Branches of the backup mount whose work has not landed (live browse). Each fails the job with a clear reason instead of
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

int CAmazonInfo::AttachVolumesForLiveBrowse(MountCtx&) { return NotBuiltYet("Live browse volume attach"); }
