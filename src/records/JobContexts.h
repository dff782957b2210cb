#pragma once
// Job context records the framework hands to the plug-in's job operations.
// Each job family adds the fields it reads as it is built; all start empty.
#include <cstdint>
#include <string>
#include <vector>

#include "records/AmazonRecords.h"
#include "records/VMInfoStructs.h"

struct MountCtx : VMInfoStructs::SRecord<MountCtx> {
    VMInfoStructs::SVMInfo vm;
    std::string requestedVMName;
    std::string requestedVMGuid;        // the instance id the job asked for
    int64_t jobId = 0;
    int64_t subclientId = 0;
    std::string transportMode;          // "HOTADD" or "EBS-DIRECT-API"
    bool snapBackup = false;
    bool backupToTape = false;
    bool liveBrowse = false;
    std::string changeId;
    std::string cleanupString;
    std::vector<SFailure> failures;
};

struct RestoreCtx : VMInfoStructs::SRecord<RestoreCtx> {
    VMInfoStructs::SVMInfo vm;
    int64_t jobId = 0;
    std::string sourceGuid;             // the instance the backup was taken from
    std::string registrationGuid;       // the key the job's resources are registered under
    std::vector<SFailure> failures;
};

struct GuestCtx : VMInfoStructs::SRecord<GuestCtx> {
    VMInfoStructs::SVMInfo vm;
    std::string bucket;
};

struct OperationCtx : VMInfoStructs::SRecord<OperationCtx> {
    EVMOperation operation = 0;
    VMInfoStructs::SVMInfo vm;
    std::string region;
    bool creationFlag = false;
    std::string sourceInstance;
    std::string outText;
};

struct StorageOperationCtx : VMInfoStructs::SRecord<StorageOperationCtx> {
    int operationType = 0;
    std::string region;
    int64_t age = 0;
    std::string errorText;
};

// Opaque disk handle: the plug-in's VM and disk handles travel inside it.
struct VmdkHandle {
    void* vmHandle = nullptr;
    void* diskHandle = nullptr;
};
