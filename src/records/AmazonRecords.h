#pragma once
// The plug-in's own small records.
#include <cstdint>
#include <string>
#include <vector>

#include "records/VMInfoStructs.h"

// One credential entry of a connect request. Type 5 carries the admin
// (mount) account, type 3 the web proxy; other types are ignored.
struct SHostCredentials : VMInfoStructs::SRecord<SHostCredentials> {
    std::string reserved;       // not used by the plug-in
    std::string host;           // endpoint or host
    std::string user;           // user or access key
    std::string password;       // password or secret key
    int32_t type = 1;

    SHostCredentials() = default;
    SHostCredentials(std::string r, std::string h, std::string u, std::string p, int32_t t = 1)
        : reserved(std::move(r)), host(std::move(h)), user(std::move(u)), password(std::move(p)), type(t) {}
};

// A per-item problem that does not fail the job; the first two strings are
// the item and the reason.
struct SFailure : VMInfoStructs::SRecord<SFailure> {
    std::string item;
    std::string reason;
    std::string extra1;
    std::string extra2;
    bool flag = false;

    SFailure() = default;
    SFailure(std::string i, std::string r, std::string e1 = {}, std::string e2 = {}, bool f = false)
        : item(std::move(i)), reason(std::move(r)), extra1(std::move(e1)), extra2(std::move(e2)), flag(f) {}
};

// One volume of a snap backup as the plug-in hands it to the snapshot
// manager: the volume, its archive file, and its datastore record (which
// names the owning instance).
struct SVolSnap : VMInfoStructs::SRecord<SVolSnap> {
    std::string volumeId;       // volume GUID
    std::string volumeName;
    std::string zone;
    std::string snapshotId;
    std::string deviceName;
    uint32_t archiveFileId = 0;
    VMInfoStructs::SDatastoreInfo datastore;
};

// Compact instance description carried inside job contexts: an instance of
// a snap backup job with the job identifiers the framework gave it.
struct SVMBasicInfo : VMInfoStructs::SRecord<SVMBasicInfo> {
    std::string name;
    std::string guid;           // instance id
    std::string region;
    std::string zone;
    int64_t clientId = 0;
    int64_t vmJobId = 0;
    int64_t vmAppId = 0;
    std::string backupSetGuid;
    std::string subclientGuid;
    std::vector<VMInfoStructs::SDisk> disks;
    std::vector<std::string> strings;
    bool flag1 = false;
    bool flag2 = false;
};
