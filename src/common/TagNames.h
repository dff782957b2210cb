#pragma once
// Tag keys the plug-in writes on AWS resources (backup staging, change
// tracking, VM operations), and the keys AWS keeps for itself (a request
// carrying one is refused).
#include <string>

namespace AmazonTags {

// Marks every AMI, snapshot and volume a job creates and still owns.
constexpr char kBackupTag[] = "_QX_BACKUP_";
// On the instance: the "#"-joined ids of its backup AMIs not yet removed.
constexpr char kAMITag[] = "_QX_AMI_";
constexpr char kSubclientTag[] = "KD_Subclient";
// On the instance: the "#"-joined ids of the AMIs kept past their backup,
// which expire as the backup AMIs do.
constexpr char kRetainSnapTag[] = "KD_Retain_Snap";
// The AMI kept as the integrity snapshot of a replicated instance.
constexpr char kIntegritySnapTag[] = "KD_Integrity_Snap";

inline bool IsAwsReservedKey(const std::string& key) { return key.compare(0, 4, "aws:") == 0; }

}  // namespace AmazonTags
