#pragma once
// Texts the task utility leaves on its owner (the codes are in
// common/ErrorCodes.h): the advice shown when a wait runs out of time names
// the setting that lengthens the wait; the backslash before the key is part
// of the text the user sees.
#include "common/ErrorCodes.h"

namespace AmazonTaskErrors {

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
