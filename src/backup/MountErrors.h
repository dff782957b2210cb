#pragma once
// Error codes a backup mount leaves as the object's last VM error.
#include "records/VMInfoStructs.h"

namespace AmazonMountErrors {

constexpr EVMInfoError kInstanceNotFound = 1;
constexpr EVMInfoError kTemplate = 67;
constexpr EVMInfoError kProxyIsSource = 151;
constexpr EVMInfoError kNoVolumes = 172;   // also a volume snapshot that names none
constexpr EVMInfoError kRegionMismatch = 176;
constexpr EVMInfoError kProxyNotAmazon = 179;
constexpr EVMInfoError kLvmetadEnabled = 202;
constexpr EVMInfoError kProxyRecord = 237;
constexpr EVMInfoError kMetadataServiceUnreachable = 262;
constexpr EVMInfoError kDirectReadPermissions = 287;
// A mount that failed without a more precise reason.
constexpr EVMInfoError kMountFailed = 23;

}  // namespace AmazonMountErrors
