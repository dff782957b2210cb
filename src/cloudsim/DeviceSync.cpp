#include "cloudsim/DeviceSync.h"

#include <algorithm>
#include <exception>
#include <filesystem>
#include <system_error>

#include "cloudsim/BlockStore.h"
#include "cloudsim/DeviceFile.h"
#include "framework/DiskMapper.h"
#include "framework/EvDebug.h"
#include "framework/FileUtils.h"
#include "framework/KDPlatformInfo.h"

namespace cloudsim {

namespace {

const char kTag[] = "CloudSim";

bool OnProxy(const State& s, const Volume& v) {
    return !s.proxyInstanceId.empty() && v.attachedInstance == s.proxyInstanceId;
}

// Published once attached (and while detaching), not while still attaching.
bool Published(const State& s, const Volume& v) {
    return OnProxy(s, v) && v.state == "in-use" && v.AttachmentState() != "attaching";
}

bool SnapshotDueFor(const State& s, const std::string& volumeId, int64_t now) {
    for (const auto& [id, snap] : s.snapshots)
        if (snap.volumeId == volumeId && snap.pending.Due(now)) return true;
    return false;
}

bool UnderDev(const std::string& folder) {
    std::error_code ec;
    std::filesystem::path p = std::filesystem::weakly_canonical(folder, ec);
    if (ec) p = std::filesystem::path(folder).lexically_normal();
    std::string text = p.string();
    return text == "/dev" || text.compare(0, 5, "/dev/") == 0;
}

// The folder devices are published in; empty, with why, when there is none.
// The cloud is a simulation: it must never write over a real device.
std::string DeviceFolder(std::string& why) {
    std::string folder;
    KDPlatformInfo().getString("CloudSim", "sDeviceFolder", folder);
    if (folder.empty()) {
        why = "no device folder is set (CloudSim / sDeviceFolder)";
    } else if (UnderDev(folder)) {
        why = "the device folder " + folder + " lies under /dev";
        folder.clear();
    }
    return folder;
}

}  // namespace

bool DeviceSync::WorkDue(const State& s, int64_t now) {
    for (const auto& [id, v] : s.volumes) {
        bool published = !v.devicePath.empty();
        if (v.pending.Due(now) && (published || OnProxy(s, v))) return true;
        if (published && SnapshotDueFor(s, id, now)) return true;
    }
    return false;
}

void DeviceSync::RemoveStale(State& s) {
    for (const auto& path : s.staleDevices) {
        bool reused = std::any_of(s.volumes.begin(), s.volumes.end(),
                                  [&](const auto& entry) { return entry.second.devicePath == path; });
        if (!reused) FwFile::RemoveFile(path);
    }
    s.staleDevices.clear();
}

void DeviceSync::Settle(State& s, int64_t now) {
    std::vector<std::string> attaching;
    for (auto& [id, v] : s.volumes) {
        if (!v.devicePath.empty()) {
            m_known.insert(v.devicePath);
            if (v.pending.Due(now) || SnapshotDueFor(s, id, now)) Absorb(v);
        } else if (OnProxy(s, v) && v.pending.Due(now) && v.pending.to == "in-use") {
            attaching.push_back(id);
        }
    }
    cloudsim::Settle(s, now);
    for (const auto& id : attaching) {
        auto it = s.volumes.find(id);
        if (it != s.volumes.end() && Published(s, it->second)) Publish(it->second);
    }
}

void DeviceSync::Release(State& s) {
    std::set<std::string> live;
    for (auto& [id, v] : s.volumes) {
        if (v.devicePath.empty()) continue;
        m_known.insert(v.devicePath);
        if (Published(s, v)) {
            live.insert(v.devicePath);
            continue;
        }
        if (!m_absorbed.count(id)) Absorb(v);
        EvDebug::Debug(kTag, "volume %s left the proxy; its device %s goes", id.c_str(), v.devicePath.c_str());
        v.devicePath.clear();
    }
    for (const auto& path : m_known) {
        if (live.count(path)) continue;
        s.staleDevices.push_back(path);
        m_remove.push_back(path);
    }
}

void DeviceSync::Committed() {
    for (const auto& path : m_remove) FwFile::RemoveFile(path);
    m_remove.clear();
}

void DeviceSync::Absorb(Volume& v) {
    m_absorbed.insert(v.id);
    if (!FwFile::Exists(v.devicePath)) {
        EvDebug::Error(kTag, "device file %s of volume %s is gone; the volume keeps its earlier data",
                       v.devicePath.c_str(), v.id.c_str());
        return;
    }
    v.blocks = devicefile::Absorb(v.devicePath, v.sizeBytes, m_store);
}

void DeviceSync::Publish(Volume& v) {
    std::string why;
    std::string folder = DeviceFolder(why);
    if (folder.empty()) {
        EvDebug::Debug(kTag, "volume %s is attached to the proxy but not published as a device: %s", v.id.c_str(),
                       why.c_str());
        return;
    }
    std::string path = FwFile::JoinPath(folder, CDiskMapperLinux::DeviceNameForVolume(v.id));
    try {
        if (!FwFile::MakeDirs(folder)) throw std::runtime_error("cannot create " + folder);
        devicefile::Create(path, v.sizeBytes, m_store, v.blocks);
    } catch (const std::exception& e) {
        EvDebug::Error(kTag, "cannot publish volume %s as a device: %s", v.id.c_str(), e.what());
        return;
    }
    v.devicePath = path;
    m_known.insert(path);
    EvDebug::Debug(kTag, "volume %s published as device %s", v.id.c_str(), path.c_str());
}

}  // namespace cloudsim
