#pragma once
// Guest file operations' state on a plug-in object, and the PowerShell
// texts sent to guests. Constant once PrepareGuestForFileCopy succeeded;
// used from the framework's calling thread only.
#include <string>

namespace AmazonGuest {

struct GuestState {
    bool prepared = false;
    bool nonWindows = false;             // the OS name does not contain "Windows"
    std::string instanceId;
    std::string ssmRegion;               // the region of the instance's zone
    std::string bucket;
    std::string bucketRegion;
    std::string stagingFolder;           // "__QX_RESTORE__<job>_<pid>_<thread>"
};

// What a guest job has in the cleanup store (restore mode): its own root
// entry, the staging folder while anything may lie under it, and each
// command while the job waits on it. Kept apart from GuestState, which a
// failed preparation puts back as it was, while the store keeps what the
// attempt registered.
struct GuestCleanup {
    std::string key;                     // the root entry's id; empty: none yet
    std::string stagedFolder;            // "bucket/folder" registered; empty: none
};

// Texts sent to the guest as they are.
constexpr const char kPowershellVersion[] = "$PSVersionTable.PSVersion";
constexpr const char kImportModuleWindows[] = "Import-Module AWSPowerShell";
constexpr const char kImportModuleOther[] = "Import-Module AWSPowerShell.NetCore";
constexpr const char kEchoSuccess[] = ";echo 'Success'";
constexpr const char kDriveLetters[] = "get-volume | %{ if ($_.DriveLetter) {$_.DriveLetter+':'} }";
// The folder listing; %s takes the folder as a PowerShell literal. The path
// goes through -LiteralPath, so that "[" and "*" in a name are not wildcards.
constexpr const char kFolderListing[] =
    "foreach($_ in get-childitem -LiteralPath %s) { $isDir =  $_.GetType().name -eq 'DirectoryInfo'; $len = if "
    "($isDir) {0} else {$_.length};$LMT=([DateTimeOffset]($_.LastWriteTime)).ToUnixTimeSeconds();Write-Host "
    "$_.name,$len,$isDir,$LMT -separator ','}";

// text as a PowerShell single-quoted literal ("it's" -> "'it''s'"): a guest
// path is always data, never code.
std::string PsLiteral(const std::string& text);

constexpr const char kBucketSetting[] = "AWSbucketForGuestFileRestore";
constexpr const char kDefaultBucketPrefix[] = "qx-restore";
constexpr const char kStagingPrefix[] = "__QX_RESTORE__";
// A time-out of 0 means a day; commands are polled every 2 seconds.
constexpr long kDefaultCommandTimeoutSec = 86400;
constexpr long kCommandPollSec = 2;

}  // namespace AmazonGuest
