#pragma once
// VMConfigFile: the instance configuration document that goes into every
// backup beside the disks, and that a restore reads back to rebuild the
// instance (instance type, AMI, network cards, disks ...) and its tags.
//
// Format (this framework's own; the plug-in never reads or writes the file
// itself): one UTF-8 JSON object
//   { "format": "InstanceConfig", "version": 1,
//     "instance": { <VM record fields>, "disks": [ { <disk fields> } ... ],
//                   "networkCards": [...], "securityGroups": [...],
//                   "keyPairs": [...], "guestOSInfo": {...} },
//     "tags": { "<key>": "<value>", ... } }
// Field names are those of VMInfoStructs. Job-local state (staged volume
// ids, job ids, error codes, snapshot lists) and the instance's password are
// never written. The plug-in names the file "<instance id>_InstanceConfig.xml";
// the ".xml" ending is the name restores search for, not the content type.
//
// Not thread-safe; one document per caller.
#include <map>
#include <string>

#include "framework/FrameworkApi.h"
#include "records/VMInfoStructs.h"

class FW_API VMConfigFile {
public:
    using Tags = std::map<std::string, std::string>;

    // The tags the next Save writes.
    void SetTags(const Tags& tags) { m_tags = tags; }
    // The tags the last Load read (or the last SetTags).
    const Tags& GetTags() const { return m_tags; }

    // Writes the record and the tags, replacing the file atomically. False
    // when the file cannot be written.
    bool Save(const std::string& path, const VMInfoStructs::SVMInfo& vm);
    // Reads a document written by Save. False, with vm and the tags left as
    // they were, when the file is missing or not such a document.
    bool Load(const std::string& path, VMInfoStructs::SVMInfo& vm);

private:
    Tags m_tags;
};
