#pragma once
// The snapshot manager's store: its job records and the metadata files
// jobs handed over, kept between jobs and processes in SQLite under
// <base>/SnapManager/snapmanager.db (WAL, synchronous writes). A record or
// file saved again replaces the one before; each save is one transaction,
// so a process killed mid-way leaves the previous one.
//
// Every call opens the database for itself, so any thread may call;
// several processes share the database.
#include <cstdint>
#include <string>
#include <vector>

#include "framework/FrameworkApi.h"
#include "records/SnapManagerRecords.h"

// A volume the manager made for a mount and has not yet handed over in the
// mount's record. The account's secret is kept sealed (ProtectedString.h),
// so that a later process can remove the volume of a run that died.
struct SnapMountVolume {
    std::string volumeId;
    std::string region;
    std::string url;            // the account's endpoint or region
    std::string accessKey;
    std::string sealedSecret;
    std::string run;            // FwProcess::SelfRun() of the mounting process
};

class FW_API CSnapStore {
public:
    static std::string DatabasePath();
    static bool SaveJobRecord(const SMVolSnapInfo& record);
    // False when the job has no record (or it cannot be read).
    static bool LoadJobRecord(int64_t jobId, SMVolSnapInfo& record);
    // The record and the job's metadata files.
    static bool DeleteJobRecord(int64_t jobId);
    // Every job the manager holds a record or a file of, in id order.
    static bool ListJobs(std::vector<int64_t>& jobIds);
    // A job the framework completed: its snapshots belong to a backup. A
    // job never committed is one that failed or died, whose snapshots no
    // backup names (CVMSnapUtil::DeleteUncommittedJobs).
    static bool MarkJobCommitted(int64_t jobId);
    static bool IsJobCommitted(int64_t jobId);
    // name: a plain file name (no folder); a name with "/" or ".." is refused.
    static bool SaveMetadataFile(int64_t jobId, const std::string& name, const std::string& bytes);
    static bool LoadMetadataFile(int64_t jobId, const std::string& name, std::string& bytes);
    static bool ListMetadataFiles(int64_t jobId, std::vector<std::string>& names);
    static bool IsPlainFileName(const std::string& name);
    // Mounts in progress (CVMSnapUtil::mountVolumes), one row per volume.
    static bool RecordMountVolume(const SnapMountVolume& volume);
    static bool ForgetMountVolume(const std::string& volumeId);
    static bool ListMountVolumes(std::vector<SnapMountVolume>& volumes);
};
