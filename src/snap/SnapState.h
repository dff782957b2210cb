#pragma once
// What a plug-in object keeps of the snap backup job it serves. Not
// thread-safe: the framework calls an object from one thread at a time.
#include <map>
#include <string>
#include <vector>

#include "records/SnapManagerRecords.h"
#include "records/VMInfoStructs.h"

namespace AmazonSnap {
struct SnapState {
    // The job's record for the snapshot manager, as PreSnap fills it and
    // CreateHWSnapshot completes it.
    SMVolSnapInfo record;
    // The volumes to snapshot: volume id -> its datastore record.
    std::map<std::string, VMInfoStructs::SDatastoreInfo> volumes;
    // Metadata files the job produced, for GetMetadataFiles.
    std::vector<std::string> metadataFiles;
    // Copies of the records whose snapshots the manager mounted for this
    // object (a backup copy, a revert), as they were right after the mount.
    std::vector<SMVolSnapInfo> mounted;
};
}  // namespace AmazonSnap
