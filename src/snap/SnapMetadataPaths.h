#pragma once
// Folders and file names of a snap backup's metadata:
//   <job results>/Metadata/<snapshot job id>             the snapshot job's folder
//   <snapshot job folder>/<instance id>                  an instance's folder, unless
//                                                        the context names its own
//   backup_<snapshot job id>.xml                         the job-level snap metadata file
//   backup_<snapshot job id>_<instance id>.xml           the instance-level one
//   <instance id>_InstanceConfig.xml                     the instance configuration file
// Ids are written as full 64-bit decimals everywhere, so every reader finds
// what a writer named. An instance id that is empty, holds "/" or a control
// character, or is "." or "..", is refused: it would name a folder outside
// the job's. Thread-safe: no state.
#include <string>

#include "records/JobContexts.h"

namespace SnapMetadataPaths {
bool IsSafeId(const std::string& id);
std::string SnapJobFolder(const MountCtx& ctx);
// False (folder empty) for an unsafe instance id.
bool VMFolder(const MountCtx& ctx, const std::string& instanceId, std::string& folder);
std::string JobLevelFileName(const MountCtx& ctx);
// False for an unsafe requested instance id.
bool VMLevelFileName(const MountCtx& ctx, std::string& name);
// The job's snap metadata file, in the snapshot job's folder.
std::string JobSnapMetadataFile(const MountCtx& ctx);
// The catalogue of a VM-centric job, in the job results folder.
std::string CatalogFile(const MountCtx& ctx);
}  // namespace SnapMetadataPaths
