#pragma once
// The snap metadata XML the snapshot manager keeps of a snap backup: per
// volume its datastore record (with the owning instance's record and its
// disks), its tags and its additional disk metadata. Written and read with
// pugixml; private to the framework (CVMSnapUtil is its front).
//
//   <SnapMetadata format="SnapMetadata" version="1" jobId="...">
//     <Volume name= guid= deviceName= zone= region= size= freeSize= archiveFileId=>
//       <Tag key= value=/> <DiskMetadata name= value=/>
//       <Instance name= guid= ... snapErrorCode=> <Disk .../> <AllDisk .../> </Instance>
//     </Volume>
//   </SnapMetadata>
//
// An instance's password is never written. Read refuses, leaving the output
// untouched: malformed or cut XML, another format or version, a number that
// does not parse or is out of range, a sector size other than 512 or 4096,
// a volume without an id and any value longer than kMaxValue.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "records/VMInfoStructs.h"

namespace SnapMetadataXml {
constexpr size_t kMaxValue = 4096;

struct Volume {
    VMInfoStructs::SDatastoreInfo datastore;
    std::map<std::string, std::string> tags;
    std::vector<VMInfoStructs::SDiskMetadataInfo> diskMetadata;
};

std::string Write(int64_t jobId, const std::vector<Volume>& volumes);
bool Read(const std::string& text, int64_t& jobId, std::vector<Volume>& volumes, std::string& error);
}  // namespace SnapMetadataXml
