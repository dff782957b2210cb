#pragma once
// File and path helpers of the framework.
#include <cstdint>
#include <string>
#include <vector>

#include "framework/FrameworkApi.h"

namespace FwFile {
FW_API extern const char kPathDelimiter;
FW_API std::string JoinPath(const std::string& a, const std::string& b);
FW_API bool Exists(const std::string& path);
FW_API bool IsDirectory(const std::string& path);
FW_API bool MakeDirs(const std::string& path);
FW_API bool ReadAll(const std::string& path, std::string& out);
// Writes through a temporary file and rename, so readers and crashes see
// either the old or the new content.
FW_API bool WriteAllAtomic(const std::string& path, const std::string& data);
// Syncs the folder itself, so that a rename or creation in it survives a
// crash, not only the data of its files.
FW_API bool SyncFolder(const std::string& folder);
FW_API bool ListDir(const std::string& path, std::vector<std::string>& names);
FW_API bool RemoveTree(const std::string& path);
FW_API bool RemoveFile(const std::string& path);
FW_API int64_t FileSize(const std::string& path);          // -1 when missing
FW_API int64_t ModifiedTimeSec(const std::string& path);   // -1 when missing
FW_API bool SetModifiedTimeSec(const std::string& path, int64_t seconds);
}  // namespace FwFile

namespace FwGuid {
// A random RFC 4122 version-4 GUID in lower-case text.
FW_API std::string New();
}  // namespace FwGuid

namespace FwThread {
FW_API uint64_t CurrentThreadId();
}  // namespace FwThread
