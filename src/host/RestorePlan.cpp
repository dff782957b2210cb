// Reading a backup point for a restore and filling the restore context.
#include "host/RestorePlan.h"

#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <set>

#include "framework/FileUtils.h"
#include "framework/VMConfigFile.h"
#include "host/BackupChain.h"
#include "host/PointManifest.h"

namespace {
constexpr char kConfigSuffix[] = "_InstanceConfig.xml";
constexpr size_t kMaxNameLength = 255;   // EC2 keeps tag values up to 256 characters

bool ParseNumber(const std::string& text, int& out) {
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    out = std::stoi(text);
    return true;
}

int64_t FileSize(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<int64_t>(st.st_size) : -1;
}

// The configuration file of instance in folder, named as the backup names it
// (letter case aside, as the plug-in's own search compares it).
std::string FindConfigFile(const std::string& folder, const std::string& instance) {
    std::vector<std::string> names;
    FwFile::ListDir(folder, names);
    const std::string wanted = instance + kConfigSuffix;
    for (const auto& name : names)
        if (strcasecmp(name.c_str(), wanted.c_str()) == 0) return FwFile::JoinPath(folder, name);
    return {};
}

// "sdf" for "/dev/sdf" and "/dev/xvdf": the kernel names one device both ways.
std::string DeviceKey(std::string name) {
    if (name.rfind("/dev/", 0) == 0) name = name.substr(5);
    if (name.rfind("xvd", 0) == 0) name = "sd" + name.substr(3);
    return name;
}
}  // namespace

bool CheckInstanceName(const std::string& name, std::string& why) {
    if (name.size() > kMaxNameLength) {
        why = "the instance name is " + std::to_string(name.size()) + " characters long; at most " +
              std::to_string(kMaxNameLength) + " are kept";
        return false;
    }
    for (unsigned char c : name) {
        if (c < 0x20 || c == 0x7f || c == '"' || c == '\'' || c == '`') {
            why = "the instance name may not hold quotes or control characters";
            return false;
        }
    }
    return true;
}

bool ParseRestoreRequest(const std::map<std::string, std::string>& values, RestoreRequest& request,
                         std::string& why) {
    auto value = [&values](const char* key) {
        auto it = values.find(key);
        return it == values.end() ? std::string() : it->second;
    };
    static const std::set<std::string> known = {"chain", "point", "name", "region", "zone", "type", "account",
                                                "power-on", "overwrite", "attach-to", "template", "job", "url", "access-key",
                                                "secret-key", "admin-url", "admin-access-key", "admin-secret-key",
                                                "proxy-host", "proxy-user", "proxy-password", "job-id"};
    for (const auto& [key, v] : values) {
        if (!known.count(key)) {
            why = "restore does not take --" + key;
            return false;
        }
    }
    request.chain = value("chain");
    if (request.chain.empty()) {
        why = "restore needs --chain DIR";
        return false;
    }
    const std::string point = value("point");
    if (!point.empty() && (!ParseNumber(point, request.point) || request.point < 1)) {
        why = "--point must be a backup number (1, 2, ...)";
        return false;
    }
    request.name = value("name");
    if (values.count("name") && request.name.empty()) {
        why = "--name may not be empty";
        return false;
    }
    if (!CheckInstanceName(request.name, why)) return false;
    request.region = value("region");
    request.zone = value("zone");
    request.instanceType = value("type");
    request.account = values.count("account") ? value("account") : "source";
    if (request.account != "source" && request.account != "admin") {
        why = "--account takes source or admin";
        return false;
    }
    request.powerOn = values.count("power-on") != 0;
    request.overwrite = values.count("overwrite") != 0;
    request.attachTo = value("attach-to");
    request.amiTemplate = value("template");
    if (values.count("template") && (request.amiTemplate.rfind("ami-", 0) != 0 || request.amiTemplate.size() == 4 ||
                                     request.amiTemplate.find_first_not_of("0123456789abcdef", 4) != std::string::npos)) {
        why = "--template takes an AMI id (ami- and hex digits)";
        return false;
    }
    if (!request.amiTemplate.empty() && !request.attachTo.empty()) {
        why = "--template launches a new instance; it cannot go with --attach-to";
        return false;
    }
    if (!request.attachTo.empty()) {
        if (request.attachTo.rfind("i-", 0) != 0 ||
            request.attachTo.find_first_not_of("0123456789abcdef", 2) != std::string::npos) {
            why = "--attach-to takes an instance id (i- and hex digits)";
            return false;
        }
        // The disks go where the instance is, as data disks of it.
        if (!request.zone.empty() || !request.region.empty() || !request.instanceType.empty() ||
            !request.name.empty() || request.powerOn || request.overwrite) {
            why = "--attach-to restores disks onto that instance; it takes no --zone, --region, --type, --name, "
                  "--power-on or --overwrite";
            return false;
        }
    }
    return true;
}

bool PlanRestore(const BackupChain& chain, int point, RestorePlan& plan, std::string& why) {
    const auto& points = chain.Points();
    if (points.empty()) {
        why = "the chain in " + chain.Folder() + " has no backups";
        return false;
    }
    if (point > static_cast<int>(points.size())) {
        why = "the chain in " + chain.Folder() + " has no point " + std::to_string(point) + " (it holds points 1 to " +
              std::to_string(points.size()) + ")";
        return false;
    }
    const size_t last = point <= 0 ? points.size() - 1 : static_cast<size_t>(point - 1);
    size_t first = last;
    while (first > 0 && points[first].level != 1) --first;
    PointManifest manifest;
    for (size_t i = first; i <= last; ++i) {
        const std::string folder = FwFile::JoinPath(chain.Folder(), points[i].folder);
        PointManifest m;
        if (!LoadManifest(FwFile::JoinPath(folder, "manifest.json"), m, why)) return false;
        // A rebuild reads past a short image as holes; the size a backup
        // gave its image is what says it was cut.
        for (const auto& disk : m.disks) {
            const std::string image = FwFile::JoinPath(folder, disk.image);
            const int64_t size = FileSize(image);
            if (size != static_cast<int64_t>(disk.size)) {
                why = "point " + std::to_string(points[i].point) + ": the image " + image + " of disk " +
                      disk.volumeId + (size < 0 ? " is missing" : " holds " + std::to_string(size) + " bytes where its manifest gives " + std::to_string(disk.size)) +
                      "; the point is damaged and is not restored";
                return false;
            }
        }
        if (i == last) manifest = std::move(m);
    }
    RestorePlan out;
    out.point = static_cast<int>(last + 1);
    out.pointFolder = FwFile::JoinPath(chain.Folder(), points[last].folder);
    out.configFile = FindConfigFile(out.pointFolder, manifest.instance);
    VMConfigFile config;
    if (out.configFile.empty() || !config.Load(out.configFile, out.vm)) {
        why = "point " + std::to_string(out.point) + " holds no readable instance configuration file for " +
              manifest.instance + " (" + manifest.instance + kConfigSuffix + "); it cannot be restored";
        return false;
    }
    out.tags = config.GetTags();
    for (const auto& disk : manifest.disks) {
        auto described = std::find_if(out.vm.disks.begin(), out.vm.disks.end(),
                                      [&](const VMInfoStructs::SDisk& d) { return d.volumeId == disk.volumeId; });
        if (described == out.vm.disks.end() || described->size != static_cast<int64_t>(disk.size)) {
            why = "the instance configuration file of point " + std::to_string(out.point) +
                  (described == out.vm.disks.end() ? " does not describe disk " + disk.volumeId
                                                   : " gives disk " + disk.volumeId + " " +
                                                         std::to_string(described->size) + " bytes, its manifest " +
                                                         std::to_string(disk.size));
            return false;
        }
        out.disks.push_back({disk.volumeId, disk.size, std::string(), *described});
    }
    plan = std::move(out);
    return true;
}

std::string FreeDeviceName(const std::string& wanted, const std::vector<std::string>& used) {
    std::set<std::string> taken;
    for (const auto& u : used) taken.insert(DeviceKey(u));
    if (!wanted.empty() && !taken.count(DeviceKey(wanted))) return wanted;
    for (char letter = 'f'; letter <= 'p'; ++letter) {
        const std::string name = std::string("/dev/sd") + letter;
        if (!taken.count(DeviceKey(name))) return name;
    }
    return {};
}

void FillRestoreContext(const RestorePlan& plan, const RestoreRequest& request, int64_t jobId,
                        const VMInfoStructs::SVMInfo* target, RestoreCtx& ctx) {
    ctx = RestoreCtx();
    ctx.flavour = target || !request.amiTemplate.empty() ? RestoreCtx::AttachDisk : RestoreCtx::FullInstance;
    // The new instance takes the template's settings; the point's disks
    // (its OS disk as the root) go onto it.
    ctx.attachToNewInstance = !target && !request.amiTemplate.empty();
    ctx.amiTemplateId = request.amiTemplate;
    ctx.jobId = jobId;
    ctx.originalVMName = plan.vm.name;
    ctx.sourceGuid = plan.vm.guid;
    ctx.guestOSName = plan.vm.guestOS;
    ctx.sourceFirmware = plan.vm.firmware;
    // The plug-in appends the file's name to the folder as it is.
    ctx.restorePath = plan.pointFolder + "/";
    ctx.powerOn = request.powerOn;
    ctx.overwrite = request.overwrite;
    ctx.instanceType = request.instanceType;
    if (target) {
        ctx.restoreVMName = target->name;
        ctx.vmGuid = target->guid;
        ctx.destZone = target->zone;
        ctx.destRegion = target->region;
        ctx.newVMGuid = false;
    } else {
        ctx.restoreVMName = request.name.empty() ? plan.vm.name : request.name;
        ctx.destZone = request.zone.empty() ? plan.vm.zone : request.zone;
        ctx.destRegion = request.region;
    }
    std::vector<std::string> used;
    if (target)
        for (const auto& d : target->disks) used.push_back(d.deviceName);
    // Every disk the backup described goes to the plug-in; those the point
    // holds no image of (filtered at backup) are not selected.
    for (const auto& described : plan.vm.disks) {
        VMInfoStructs::SDisk disk = described;
        const auto held = std::find_if(plan.disks.begin(), plan.disks.end(),
                                       [&](const RestoreDisk& d) { return d.volumeId == described.volumeId; });
        disk.sourceVolumeId = described.volumeId;
        disk.selected = held != plan.disks.end();
        disk.filtered = false;
        // What the backup's own staging left in the record is not this job's.
        disk.newVolumeId.clear();
        disk.newVolumeId2.clear();
        disk.snapshotId.clear();
        disk.snapshotIdCbt.clear();
        disk.snapshots.clear();
        disk.state.clear();
        disk.zone.clear();
        if (target) {
            // A data disk of the existing instance, at a device it does not use.
            disk.isOSDisk = false;
            if (disk.selected) {
                disk.deviceName = FreeDeviceName(disk.deviceName, used);
                used.push_back(disk.deviceName);
            }
        }
        ctx.disks.push_back(std::move(disk));
    }
}
