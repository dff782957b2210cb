#pragma once
// Tag keys the backup staging writes on AWS resources, and the keys AWS keeps
// for itself (a request carrying one is refused).
#include <string>

namespace AmazonStaging {

// Marks every AMI, snapshot and volume a job creates and still owns.
constexpr char kBackupTag[] = "_QX_BACKUP_";
// On the instance: the "#"-joined ids of its backup AMIs not yet removed.
constexpr char kAMITag[] = "_QX_AMI_";
constexpr char kSubclientTag[] = "KD_Subclient";

inline bool IsAwsReservedKey(const std::string& key) { return key.compare(0, 4, "aws:") == 0; }

}  // namespace AmazonStaging
