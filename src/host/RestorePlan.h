#pragma once
// What a restore job is asked for and what it restores: the command's
// request, the backup point it reads (its disks, its images, the instance
// configuration file the backup kept beside them), and the restore context
// the framework hands the plug-in's restore phases, filled from both.
// Everything here is checked before any phase runs, so that bad input
// creates nothing in the cloud.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "records/JobContexts.h"
#include "records/VMInfoStructs.h"

class BackupChain;

struct RestoreRequest {
    std::string chain;           // the chain folder
    int point = 0;               // 0: the last
    std::string name;            // empty: the backed-up instance's name
    std::string region;          // empty: the zone's region
    std::string zone;            // empty: the backed-up instance's zone
    std::string instanceType;    // empty: the backed-up type
    std::string account = "source";   // "source" or "admin": the account restored into
    bool powerOn = false;
    bool overwrite = false;
    std::string attachTo;        // an existing instance: attach-disk restore
    std::string amiTemplate;     // an AMI: attach-disk restore to a new instance launched from it
};

// The command's --options. False with a reason on a malformed value (a
// point that is not a number, an unknown account, a name AWS would not
// keep as it is given).
bool ParseRestoreRequest(const std::map<std::string, std::string>& values, RestoreRequest& request,
                         std::string& why);

// An instance name as the restore gives it to the new instance's Name tag:
// at most 255 characters, without quotes or control characters, which a
// shell, a tag filter or a log line would take apart. False with a reason.
bool CheckInstanceName(const std::string& name, std::string& why);

struct RestoreDisk {
    std::string volumeId;          // the backed-up volume
    uint64_t size = 0;             // bytes, as the point's manifest gives them
    std::string image;             // the rebuilt image, once rebuilt
    VMInfoStructs::SDisk config;   // the disk as the configuration file describes it
};

struct RestorePlan {
    int point = 0;                 // the point restored (1, 2, ...)
    std::string pointFolder;
    std::string configFile;        // the instance configuration file in pointFolder
    VMInfoStructs::SVMInfo vm;     // the backed-up instance, from that file
    std::map<std::string, std::string> tags;
    std::vector<RestoreDisk> disks;   // the point's disks, in its manifest's order
};

// Reads the chain's point (0: the last) without changing anything: the
// point must exist; every image of it and of the points it rests on must be
// there with the size its manifest gives; the point must hold its
// instance's configuration file, and that file must describe every disk of
// the point with the same size. False with a reason naming what is wrong.
bool PlanRestore(const BackupChain& chain, int point, RestorePlan& plan, std::string& why);

// The device name a disk restored onto an existing instance takes: its own
// when the instance does not use it, else the first free of /dev/sdf to
// /dev/sdp (an "xvd" name and its "sd" name are one device). Empty when all
// are taken.
std::string FreeDeviceName(const std::string& wanted, const std::vector<std::string>& used);

// The context the restore phases get: the plan's instance and disks with the
// request's choices over them. target is the existing instance of an
// attach-disk restore (null for a full instance restore).
void FillRestoreContext(const RestorePlan& plan, const RestoreRequest& request, int64_t jobId,
                        const VMInfoStructs::SVMInfo* target, RestoreCtx& ctx);
