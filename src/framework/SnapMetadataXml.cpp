// Snap metadata XML: the snapshot manager's per-volume records of a job.
#include "framework/SnapMetadataXml.h"

#include <pugixml.hpp>

#include <cerrno>
#include <cstdlib>
#include <limits>
#include <sstream>
#include <type_traits>

using VMInfoStructs::SDatastoreInfo;
using VMInfoStructs::SDisk;
using VMInfoStructs::SVMInfo;

namespace {
const char kFormat[] = "SnapMetadata";

// ---- writing ----
template <class T>
void Put(pugi::xml_node node, const char* name, const T& value) {
    if constexpr (std::is_same_v<T, std::string>) {
        node.append_attribute(name) = value.c_str();
    } else if constexpr (std::is_same_v<T, bool>) {
        node.append_attribute(name) = value ? "1" : "0";
    } else {
        node.append_attribute(name) = std::to_string(value).c_str();
    }
}

void PutDisk(pugi::xml_node node, const SDisk& d) {
    Put(node, "name", d.name);
    Put(node, "displayName", d.displayName);
    Put(node, "volumeId", d.volumeId);
    Put(node, "deviceName", d.deviceName);
    Put(node, "zone", d.zone);
    Put(node, "size", d.size);
    Put(node, "usedSize", d.usedSize);
    Put(node, "sectorSize", d.sectorSize);
    Put(node, "volumeType", d.volumeType);
    Put(node, "iops", d.iops);
    Put(node, "encrypted", d.encrypted);
    Put(node, "kmsKeyId", d.kmsKeyId);
    Put(node, "filtered", d.filtered);
    Put(node, "isOSDisk", d.isOSDisk);
}

void PutInstance(pugi::xml_node node, const SVMInfo& vm) {
    Put(node, "name", vm.name);
    Put(node, "guid", vm.guid);
    Put(node, "region", vm.region);
    Put(node, "zone", vm.zone);
    Put(node, "instanceType", vm.instanceType);
    Put(node, "guestOS", vm.guestOS);
    Put(node, "guestOSId", vm.guestOSId);
    Put(node, "amiId", vm.amiId);
    Put(node, "snapErrorCode", vm.snapErrorCode);
    Put(node, "clientId", vm.clientId);
    Put(node, "vmJobId", vm.vmJobId);
    Put(node, "vmAppId", vm.vmAppId);
    Put(node, "backupSetGuid", vm.backupSetGuid);
    Put(node, "subclientGuid", vm.subclientGuid);
    Put(node, "archiveFileId", vm.archiveFileId);
    Put(node, "totalDiskSize", vm.totalDiskSize);
    for (const auto& d : vm.disks) PutDisk(node.append_child("Disk"), d);
    for (const auto& d : vm.allDisks) PutDisk(node.append_child("AllDisk"), d);
}

// ---- reading: every Get fails with the attribute's place ----
class Reader {
public:
    explicit Reader(std::string& error) : m_error(error) {}

    bool Get(const pugi::xml_node& node, const char* name, std::string& out) {
        const pugi::xml_attribute a = node.attribute(name);
        const std::string value = a.value();
        if (value.size() > SnapMetadataXml::kMaxValue) return Fail(node, name, "is longer than 4096 characters");
        out = value;
        return true;
    }
    bool Get(const pugi::xml_node& node, const char* name, bool& out) {
        const std::string value = node.attribute(name).value();
        if (value != "0" && value != "1" && !value.empty()) return Fail(node, name, "is not 0 or 1");
        out = value == "1";
        return true;
    }
    template <class T>
    bool Get(const pugi::xml_node& node, const char* name, T& out) {
        const pugi::xml_attribute a = node.attribute(name);
        if (!a) {
            out = 0;
            return true;
        }
        const std::string text = a.value();
        char* end = nullptr;
        errno = 0;
        bool ok = !text.empty();
        if constexpr (std::is_signed_v<T>) {
            const long long v = std::strtoll(text.c_str(), &end, 10);
            ok = ok && !errno && !*end && v >= std::numeric_limits<T>::min() && v <= std::numeric_limits<T>::max();
            if (ok) out = static_cast<T>(v);
        } else {
            const unsigned long long v = std::strtoull(text.c_str(), &end, 10);
            ok = ok && text[0] != '-' && !errno && !*end && v <= std::numeric_limits<T>::max();
            if (ok) out = static_cast<T>(v);
        }
        return ok || Fail(node, name, "is not a number in range");
    }
    bool Fail(const pugi::xml_node& node, const char* name, const char* what) {
        m_error = std::string(node.name()) + "." + name + " " + what;
        return false;
    }

private:
    std::string& m_error;
};

bool GetDisk(Reader& r, const pugi::xml_node& n, SDisk& d) {
    if (!(r.Get(n, "name", d.name) && r.Get(n, "displayName", d.displayName) && r.Get(n, "volumeId", d.volumeId) &&
          r.Get(n, "deviceName", d.deviceName) && r.Get(n, "zone", d.zone) && r.Get(n, "size", d.size) &&
          r.Get(n, "usedSize", d.usedSize) && r.Get(n, "sectorSize", d.sectorSize) &&
          r.Get(n, "volumeType", d.volumeType) && r.Get(n, "iops", d.iops) && r.Get(n, "encrypted", d.encrypted) &&
          r.Get(n, "kmsKeyId", d.kmsKeyId) && r.Get(n, "filtered", d.filtered) && r.Get(n, "isOSDisk", d.isOSDisk)))
        return false;
    if (d.sectorSize != 512 && d.sectorSize != 4096) return r.Fail(n, "sectorSize", "is neither 512 nor 4096");
    if (d.size < 0 || d.usedSize < 0) return r.Fail(n, "size", "is negative");
    return true;
}

bool GetInstance(Reader& r, const pugi::xml_node& n, SVMInfo& vm) {
    if (!(r.Get(n, "name", vm.name) && r.Get(n, "guid", vm.guid) && r.Get(n, "region", vm.region) &&
          r.Get(n, "zone", vm.zone) && r.Get(n, "instanceType", vm.instanceType) && r.Get(n, "guestOS", vm.guestOS) &&
          r.Get(n, "guestOSId", vm.guestOSId) && r.Get(n, "amiId", vm.amiId) &&
          r.Get(n, "snapErrorCode", vm.snapErrorCode) && r.Get(n, "clientId", vm.clientId) &&
          r.Get(n, "vmJobId", vm.vmJobId) && r.Get(n, "vmAppId", vm.vmAppId) &&
          r.Get(n, "backupSetGuid", vm.backupSetGuid) && r.Get(n, "subclientGuid", vm.subclientGuid) &&
          r.Get(n, "archiveFileId", vm.archiveFileId) && r.Get(n, "totalDiskSize", vm.totalDiskSize)))
        return false;
    for (pugi::xml_node d : n.children("Disk")) {
        vm.disks.emplace_back();
        if (!GetDisk(r, d, vm.disks.back())) return false;
    }
    for (pugi::xml_node d : n.children("AllDisk")) {
        vm.allDisks.emplace_back();
        if (!GetDisk(r, d, vm.allDisks.back())) return false;
    }
    return true;
}

bool GetVolume(Reader& r, const pugi::xml_node& n, SnapMetadataXml::Volume& v) {
    SDatastoreInfo& ds = v.datastore;
    if (!(r.Get(n, "name", ds.name) && r.Get(n, "guid", ds.guid) && r.Get(n, "deviceName", ds.deviceName) &&
          r.Get(n, "zone", ds.zone) && r.Get(n, "region", ds.region) && r.Get(n, "size", ds.size) &&
          r.Get(n, "freeSize", ds.freeSize) && r.Get(n, "archiveFileId", ds.archiveFileId)))
        return false;
    if (ds.guid.empty()) return r.Fail(n, "guid", "is empty");
    for (pugi::xml_node t : n.children("Tag")) {
        std::string key, value;
        if (!r.Get(t, "key", key) || !r.Get(t, "value", value)) return false;
        v.tags[key] = value;
    }
    for (pugi::xml_node m : n.children("DiskMetadata")) {
        VMInfoStructs::SDiskMetadataInfo entry;
        if (!r.Get(m, "name", entry.name) || !r.Get(m, "value", entry.value)) return false;
        v.diskMetadata.push_back(entry);
    }
    for (pugi::xml_node i : n.children("Instance")) {
        ds.vms.emplace_back();
        if (!GetInstance(r, i, ds.vms.back())) return false;
    }
    return true;
}
}  // namespace

std::string SnapMetadataXml::Write(int64_t jobId, const std::vector<Volume>& volumes) {
    pugi::xml_document doc;
    pugi::xml_node root = doc.append_child("SnapMetadata");
    Put(root, "format", std::string(kFormat));
    Put(root, "version", 1);
    Put(root, "jobId", jobId);
    for (const auto& v : volumes) {
        pugi::xml_node node = root.append_child("Volume");
        const SDatastoreInfo& ds = v.datastore;
        Put(node, "name", ds.name);
        Put(node, "guid", ds.guid);
        Put(node, "deviceName", ds.deviceName);
        Put(node, "zone", ds.zone);
        Put(node, "region", ds.region);
        Put(node, "size", ds.size);
        Put(node, "freeSize", ds.freeSize);
        Put(node, "archiveFileId", ds.archiveFileId);
        for (const auto& [key, value] : v.tags) {
            pugi::xml_node t = node.append_child("Tag");
            Put(t, "key", key);
            Put(t, "value", value);
        }
        for (const auto& m : v.diskMetadata) {
            pugi::xml_node e = node.append_child("DiskMetadata");
            Put(e, "name", m.name);
            Put(e, "value", m.value);
        }
        for (const auto& vm : ds.vms) PutInstance(node.append_child("Instance"), vm);
    }
    std::ostringstream out;
    doc.save(out, "  ");
    return out.str();
}

bool SnapMetadataXml::Read(const std::string& text, int64_t& jobId, std::vector<Volume>& volumes, std::string& error) {
    pugi::xml_document doc;
    const pugi::xml_parse_result parsed = doc.load_buffer(text.data(), text.size());
    if (!parsed) {
        error = std::string("malformed XML at offset ") + std::to_string(parsed.offset) + ": " + parsed.description();
        return false;
    }
    const pugi::xml_node root = doc.child("SnapMetadata");
    if (!root || std::string(root.attribute("format").value()) != kFormat ||
        std::string(root.attribute("version").value()) != "1") {
        error = "not snap metadata of version 1";
        return false;
    }
    Reader r(error);
    int64_t id = 0;
    if (!r.Get(root, "jobId", id)) return false;
    std::vector<Volume> read;
    for (pugi::xml_node n : root.children("Volume")) {
        read.emplace_back();
        if (!GetVolume(r, n, read.back())) return false;
    }
    jobId = id;
    volumes = std::move(read);
    return true;
}
