#pragma once
// The plug-in's record of one snapshot's parameters for the snapshot
// manager (its "transient metadata"): what a snap backup asks of the
// snapshot, or what a volume made from a snapshot should be. Written as
// "key:value;" pairs by snap/SnapTransMeta.h.
#include <cstdint>
#include <string>
#include <vector>

#include "records/RecordBase.h"

struct AmazonSnapTransMetaInfo : VMInfoStructs::SRecord<AmazonSnapTransMetaInfo> {
    // ---- serialised, in this order ----
    int32_t appType = 0;
    int32_t contentId = 0;
    int32_t regionId = 0;
    int32_t isMultiAZ = 0;
    int32_t doAttachVol = 0;
    std::string arrayName;
    std::string ec2Instance;
    std::string securityGroup;
    std::string snapUUID;
    std::string tagInfo;
    std::string targetInstance;
    std::string targetRegion;
    std::string targetAvailibilityZone;
    std::string description;
    int32_t opType = 0;
    std::string reservedStr2;
    std::string nameTag;
    std::string volumeType;
    int32_t iops = 0;
    int32_t encrypt = 0;
    std::string targetAccessKey;
    std::string targetSecretKey;   // clear in memory, sealed when serialised
    int32_t crossAccountOp = 0;
    std::string targetEncryptionKey;
    std::string outpostsARN;
    int32_t subclientId = 0;

    // ---- not serialised ----
    bool customKey = false;        // set with targetEncryptionKey
    int32_t size = 0;              // volume size in GiB, for volumes made from the snapshot
    int32_t reservedNumber = 1;
    std::string reservedStr1;
    std::vector<std::string> extra;
};
