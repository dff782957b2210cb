#pragma once
// Error codes the task utility leaves on its owner, and the advice shown when
// a wait runs out of time. The advice names the setting that lengthens the
// wait; the backslash before the key is part of the text the user sees.
#include "records/VMInfoStructs.h"

namespace AmazonTaskErrors {

constexpr EVMInfoError kAMIOrSnapshotTask = 17;
constexpr EVMInfoError kVolumeCreate = 24;
constexpr EVMInfoError kAttachOrModify = 54;
constexpr EVMInfoError kDetach = 117;
constexpr EVMInfoError kAttachConflict = 189;
constexpr EVMInfoError kInstanceValidation = 234;
constexpr EVMInfoError kIopsLimit = 243;
constexpr EVMInfoError kInterrupted = 4000;

// Details of an interrupted wait, in place of any an earlier failure left.
constexpr const char kInterruptedText[] = "Job interrupted";

// Leaves an interrupted job's error on owner: the code with its own text, so
// that no details of an earlier failure pass for the interruption's.
template <typename Owner>
void SetInterrupted(Owner& owner) {
    owner.SetLastVMError(kInterrupted, kInterruptedText);
}

constexpr const char kIopsLimitText[] = "You have exceeded your maximum io1 IOPS limit";

constexpr const char kVolumeAdvice[] =
    "Volume task has timed out. Please consider setting a higher timeout by adding the "
    "VirtualServer\\nAmazonVolumeTaskTimeOutInMin additional setting on the Ostrel proxy.";
constexpr const char kVolumeModifyAdvice[] =
    "Volume modify task has timed out. Please consider setting a higher timeout by adding the "
    "VirtualServer\\nAmazonVolumeModifyTaskTimeOutInMin additional setting on the Ostrel proxy.";
constexpr const char kAMIAdvice[] =
    "AMI task has timed out. Please consider setting a higher timeout by adding the "
    "VirtualServer\\AMITimeoutInHour additional setting on the Ostrel proxy.";
constexpr const char kSnapshotAdvice[] =
    "Snapshot task has timed out. Please consider setting a higher timeout by adding the "
    "VirtualServer\\AMITimeoutInHour additional setting on the Ostrel proxy.";
constexpr const char kValidationAdvice[] =
    "Instance validaiton task has timed out. Please consider setting a higher timeout by adding the "
    "VirtualServer\\nAmazonValidateInstanceStatusTaskTimeOutInMin additional setting on the Ostrel proxy.";

}  // namespace AmazonTaskErrors
