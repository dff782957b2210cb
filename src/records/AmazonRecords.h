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

// Volume/snapshot pairing of a snapshot-manager job.
struct SVolSnap : VMInfoStructs::SRecord<SVolSnap> {
    std::string volumeId;
    std::string snapshotId;
    std::string deviceName;
    int32_t value = 0;
    std::vector<std::string> list1;
    std::vector<std::string> list2;
    VMInfoStructs::SDatastoreInfo datastore;
};

// Compact instance description carried inside job contexts.
struct SVMBasicInfo : VMInfoStructs::SRecord<SVMBasicInfo> {
    std::string name;
    std::string guid;
    std::string region;
    std::string zone;
    std::vector<VMInfoStructs::SDisk> disks;
    std::vector<std::string> strings;
    bool flag1 = false;
    bool flag2 = false;
};
