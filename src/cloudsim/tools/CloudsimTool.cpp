// cloudsim-tool: looks into a simulated cloud kept in a folder. Not part of
// the product; the demo uses it to check a backup against the cloud's data.
//
//   cloudsim-tool verify --base DIR --manifest FILE
//     compares every disk image of a backup manifest (images named relative
//     to the manifest's folder) with the volume it was taken from: each
//     allocated block must match, and the image must hold no data anywhere
//     else. Exit 0 when everything matches.
//
//   cloudsim-tool verify-restore --base DIR --manifest FILE --instance ID
//                  [--name N] [--type T] [--zone Z] [--devices VOL=DEV,...] [--attach yes]
//     checks a restored instance against the point whose images the manifest
//     (restore-image's) names: each disk's image must equal, block for
//     block, the instance's volume at the disk's device (the manifest's, or
//     as --devices maps it), and no restored volume may keep the restore's
//     "_QX_BACKUP_" tag. Unless --attach (disks restored onto an existing
//     instance), also its Name tag (N, default the backed-up name), type (T,
//     default the backed-up type), zone (Z, default the backed-up zone), the
//     backed-up tags (but Name and the backup's own) and its root volume,
//     which must be the OS disk's. Exit 0 when everything matches; 1 with
//     each difference listed.
//
//   cloudsim-tool guest-write --base DIR --volume ID --block N (--text TEXT | --zero yes)
//     the guest changing its data: writes TEXT at the start of block N (512
//     KiB blocks) of the volume, or the whole block with zeros.
//
//   cloudsim-tool serve --base DIR [--ebs-address ADDRESS]
//     serves the folder cloud's EBS direct APIs, instance metadata service
//     and IP ranges document on loopback over HTTPS with a CA of its own,
//     and points the agent at them: the CA becomes the agent's CA bundle,
//     the real host names are routed to the loopback ports (Base/
//     sCurlConnectTo) and resolve to ADDRESS (Base/sHostAddresses; default a
//     private address, as behind an EBS VPC endpoint). Writes
//     <base>/endpoints/ready when serving; stops on SIGTERM or SIGINT and
//     takes the routing out of the settings again. Its clock follows the
//     time the agent's processes skipped (<base>/clock-offset).
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <algorithm>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>

#include <nlohmann/json.hpp>

#include "cloudsim/Cloud.h"
#include "cloudsim/CloudState.h"
#include "cloudsim/endpoints/EndpointServer.h"
#include "cloudsim/endpoints/TestCertificates.h"
#include "cloudsim/tools/VerifyRevert.h"
#include "framework/Clock.h"
#include "framework/FileUtils.h"
#include "framework/KDPI.h"
#include "framework/KDPlatformInfo.h"
#include "framework/SnapPairText.h"
#include "framework/SnapStore.h"
#include "framework/ZeroBytes.h"

namespace {
// Block indexes that hold data in a sparse image.
std::set<int64_t> ImageDataBlocks(int fd, int64_t blockSize) {
    std::set<int64_t> blocks;
    const off_t size = ::lseek(fd, 0, SEEK_END);
    for (off_t at = 0; at < size;) {
        const off_t data = ::lseek(fd, at, SEEK_DATA);
        if (data < 0) break;
        const off_t hole = ::lseek(fd, data, SEEK_HOLE);
        for (off_t b = data / blockSize; b * blockSize < hole; ++b) blocks.insert(b);
        at = hole;
    }
    return blocks;
}

// Up to a few block indexes, for a readable difference.
std::string FirstBlocks(const std::vector<int64_t>& blocks) {
    std::string out;
    for (size_t i = 0; i < blocks.size() && i < 5; ++i) out += (i ? ", " : "") + std::to_string(blocks[i]);
    return blocks.size() > 5 ? out + ", ..." : out;
}

// snapshotId empty: the image against the volume as it is now; else against
// that snapshot of it.
int VerifyDisk(cloudsim::Cloud& cloud, const std::string& volumeId, const std::string& image,
               const std::string& snapshotId = std::string()) {
    const int64_t bs = cloudsim::kBlockSize;
    const int fd = ::open(image.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        std::printf("  %s: cannot open image %s\n", volumeId.c_str(), image.c_str());
        return 1;
    }
    const bool ofSnapshot = !snapshotId.empty();
    // The block ids of the volume or snapshot; a volume attached as a device
    // file has none and is read block by block.
    bool byId = false;
    cloudsim::BlockMap::Entries ids;
    cloud.Read([&](const cloudsim::State& s) {
        const cloudsim::BlockMap* map = nullptr;
        if (ofSnapshot) {
            auto it = s.snapshots.find(snapshotId);
            if (it != s.snapshots.end()) map = &it->second.blocks;
        } else {
            auto it = s.volumes.find(volumeId);
            if (it != s.volumes.end() && it->second.devicePath.empty()) map = &it->second.blocks;
        }
        if (map) ids.insert(map->begin(), map->end());
        byId = map != nullptr;
    });
    auto read = [&](int64_t offset) {
        return ofSnapshot ? cloud.ReadSnapshot(snapshotId, offset, bs) : cloud.ReadVolume(volumeId, offset, bs);
    };
    // Volumes repeat their contents: each distinct block is fetched (and
    // scanned for zeros) once.
    struct Content {
        std::string bytes;
        bool zero = false;
    };
    std::map<std::string, Content> contents;
    Content unnamed;
    auto cloudBlock = [&](int64_t b) -> const Content& {
        auto it = ids.find(b);
        Content* c = &unnamed;
        if (it != ids.end()) {
            auto known = contents.find(it->second);
            if (known != contents.end()) return known->second;
            c = &contents[it->second];
            c->bytes.assign(static_cast<size_t>(bs), '\0');
            cloud.Blocks().Get(it->second, &c->bytes[0]);
        } else {
            c->bytes = read(b * bs);
        }
        c->zero = FwBytes::IsAllZero(c->bytes.data(), c->bytes.size());
        return *c;
    };
    std::vector<int64_t> expected;
    if (byId) {
        for (const auto& entry : ids) expected.push_back(entry.first);
    } else {
        expected = ofSnapshot ? cloud.SnapshotBlocks(snapshotId) : cloud.VolumeBlocks(volumeId);
    }
    // A block the image holds no data in is a hole: the file system says it
    // reads as zeros, so it is compared without reading it (a first read of
    // a hole fills the page cache with zeros, slower than the disk itself).
    const std::set<int64_t> imageData = ImageDataBlocks(fd, bs);
    const off_t imageSize = ::lseek(fd, 0, SEEK_END);
    std::vector<int64_t> bad;
    std::string buffer(static_cast<size_t>(bs), '\0');
    for (int64_t b : expected) {
        const Content& want = cloudBlock(b);
        if (b * bs + bs > imageSize) {
            bad.push_back(b);
        } else if (imageData.count(b)) {
            const ssize_t got = ::pread(fd, &buffer[0], static_cast<size_t>(bs), static_cast<off_t>(b * bs));
            if (got != bs || buffer != want.bytes) bad.push_back(b);
        } else if (!want.zero) {
            bad.push_back(b);
        }
    }
    const std::set<int64_t> expectedSet(expected.begin(), expected.end());
    for (int64_t b : imageData) {
        if (expectedSet.count(b)) continue;
        const ssize_t got = ::pread(fd, &buffer[0], static_cast<size_t>(bs), static_cast<off_t>(b * bs));
        if (got > 0 && !FwBytes::IsAllZero(buffer.data(), static_cast<size_t>(got))) bad.push_back(b);
    }
    ::close(fd);
    std::sort(bad.begin(), bad.end());
    std::printf("  %s: %zu blocks with data, %s\n", volumeId.c_str(), expected.size(),
                bad.empty() ? (ofSnapshot ? ("image matches snapshot " + snapshotId).c_str() : "image matches the volume")
                            : (std::to_string(bad.size()) + " blocks differ (" + FirstBlocks(bad) + ")").c_str());
    return bad.empty() ? 0 : 1;
}

// A point's manifest as the host wrote it; false, said on stderr, when it
// cannot be read.
bool ReadManifest(const std::string& manifestFile, nlohmann::json& manifest) {
    std::ifstream in(manifestFile);
    if (!in) {
        std::fprintf(stderr, "error: cannot read %s\n", manifestFile.c_str());
        return false;
    }
    std::stringstream text;
    text << in.rdbuf();
    manifest = nlohmann::json::parse(text.str(), nullptr, false);
    if (manifest.is_discarded()) {
        std::fprintf(stderr, "error: %s is not JSON\n", manifestFile.c_str());
        return false;
    }
    return true;
}

// A disk's image, named relative to the manifest's folder unless absolute.
std::string ImagePath(const std::string& manifestFile, const std::string& image) {
    if (image.rfind('/', 0) == 0) return image;
    const std::string folder =
        manifestFile.find('/') == std::string::npos ? "." : manifestFile.substr(0, manifestFile.find_last_of('/'));
    return folder + "/" + image;
}

// Volume id -> the snapshot the snap job took of it, from the snapshot
// manager's record of the job.
bool SnapJobSnapshots(int64_t snapJob, std::map<std::string, std::string>& snapshots) {
    SMVolSnapInfo record;
    if (!CSnapStore::LoadJobRecord(snapJob, record)) {
        std::fprintf(stderr, "error: the snapshot manager holds no snap job %lld\n", static_cast<long long>(snapJob));
        return false;
    }
    for (const auto& m : record.metadata)
        if (m.type == kSMMetaSnapshotPairs)
            snapshots[FwSnapPairs::Value(m.metadata, "sourceInstance")] = FwSnapPairs::Value(m.metadata, "snapUUID");
    return true;
}

int Verify(const std::string& base, const std::string& manifestFile, int64_t snapJob) {
    nlohmann::json manifest;
    if (!ReadManifest(manifestFile, manifest)) return 2;
    KDPI_Base::setBaseDir(base);
    std::map<std::string, std::string> snapshots;
    if (snapJob && !SnapJobSnapshots(snapJob, snapshots)) return 2;
    auto cloud = cloudsim::Cloud::OpenFolder(base + "/cloudsim", "");
    std::printf("verify %s (%s, %s)\n", manifest.value("instance", "").c_str(), manifest.value("name", "").c_str(),
                manifest.value("mode", "").c_str());
    int failures = 0;
    for (const auto& disk : manifest.at("disks")) {
        const std::string volumeId = disk.at("volumeId").get<std::string>();
        std::string snapshot;
        if (snapJob) {
            snapshot = snapshots[volumeId];
            if (snapshot.empty()) {
                std::printf("  %s: snap job %lld took no snapshot of it\n", volumeId.c_str(),
                            static_cast<long long>(snapJob));
                ++failures;
                continue;
            }
        }
        failures += VerifyDisk(*cloud, volumeId, ImagePath(manifestFile, disk.at("image").get<std::string>()), snapshot);
    }
    std::printf("%s\n", failures ? "verify FAILED" : "verify passed");
    return failures ? 1 : 0;
}
// "sdf" for "/dev/sdf" and "/dev/xvdf": one device, two names.
std::string DeviceKey(std::string name) {
    if (name.rfind("/dev/", 0) == 0) name = name.substr(5);
    if (name.rfind("xvd", 0) == 0) name = "sd" + name.substr(3);
    return name;
}

struct RestoreExpectations {
    std::string instance, name, type, zone, devices;
    bool attach = false;
};

int VerifyRestore(const std::string& base, const std::string& manifestFile, const RestoreExpectations& want) {
    nlohmann::json manifest;
    if (!ReadManifest(manifestFile, manifest)) return 2;
    KDPI_Base::setBaseDir(base);
    auto cloud = cloudsim::Cloud::OpenFolder(base + "/cloudsim", "");
    std::map<std::string, std::string> deviceOf;   // backed-up volume -> device on the instance
    for (const auto& disk : manifest.at("disks"))
        deviceOf[disk.at("volumeId").get<std::string>()] = disk.value("deviceName", "");
    for (size_t at = 0; at < want.devices.size();) {
        const size_t comma = std::min(want.devices.find(',', at), want.devices.size());
        const std::string pair = want.devices.substr(at, comma - at);
        const size_t eq = pair.find('=');
        if (eq == std::string::npos) {
            std::fprintf(stderr, "error: --devices takes VOLUME=DEVICE pairs\n");
            return 2;
        }
        deviceOf[pair.substr(0, eq)] = pair.substr(eq + 1);
        at = comma + 1;
    }
    std::vector<std::string> diffs;
    auto expect = [&diffs](const std::string& what, const std::string& wanted, const std::string& found) {
        if (wanted != found) diffs.push_back(what + ": expected \"" + wanted + "\", found \"" + found + "\"");
    };
    cloudsim::Instance instance;
    std::map<std::string, cloudsim::Volume> attached;   // device key -> volume
    bool found = false;
    cloud->Read([&](const cloudsim::State& s) {
        auto it = s.instances.find(want.instance);
        if (it == s.instances.end()) return;
        found = true;
        instance = it->second;
        for (const auto& [id, v] : s.volumes)
            if (v.attachedInstance == want.instance && v.state != "deleting") attached[DeviceKey(v.attachedDevice)] = v;
    });
    std::printf("verify-restore %s against point %s of %s (%s)\n", want.instance.c_str(),
                manifest.value("point", nlohmann::json(0)).dump().c_str(), manifest.value("instance", "").c_str(),
                manifest.value("name", "").c_str());
    if (!found || instance.state == "terminated" || instance.state == "shutting-down") {
        std::printf("  instance %s: %s\nverify-restore FAILED\n", want.instance.c_str(),
                    found ? ("is " + instance.state).c_str() : "does not exist");
        return 1;
    }
    if (!want.attach) {
        const auto tag = [&instance](const std::string& key) {
            auto t = instance.tags.find(key);
            return t == instance.tags.end() ? std::string("(none)") : t->second;
        };
        expect("Name", want.name.empty() ? manifest.value("name", "") : want.name, tag("Name"));
        expect("instance type", want.type.empty() ? manifest.value("instanceType", "") : want.type,
               instance.instanceType);
        expect("zone", want.zone.empty() ? manifest.value("zone", "") : want.zone, instance.zone);
        static const std::set<std::string> notCopied = {"Name", "_QX_BACKUP_", "_QX_AMI_", "KD_Retain_Snap"};
        const nlohmann::json tags = manifest.contains("tags") ? manifest.at("tags") : nlohmann::json::object();
        for (const auto& [key, value] : tags.items())
            if (!notCopied.count(key)) expect("tag " + key, value.get<std::string>(), tag(key));
        for (const auto& key : notCopied)
            if (key != "Name" && instance.tags.count(key)) diffs.push_back("tag " + key + ": left on the instance");
    }
    int failures = 0;
    for (const auto& disk : manifest.at("disks")) {
        const std::string source = disk.at("volumeId").get<std::string>();
        const std::string device = deviceOf[source];
        auto v = attached.find(DeviceKey(device));
        if (device.empty() || v == attached.end()) {
            diffs.push_back("disk " + source + ": no volume of the instance at device \"" + device + "\"");
            continue;
        }
        const cloudsim::Volume& volume = v->second;
        expect("disk " + source + " (" + volume.id + ") size", disk.at("size").dump(), std::to_string(volume.sizeBytes));
        if (volume.tags.count("_QX_BACKUP_")) diffs.push_back("disk " + source + " (" + volume.id + "): keeps the restore's _QX_BACKUP_ tag");
        if (!want.attach && disk.value("isOSDisk", false))
            expect("root volume", volume.id, instance.volumeIds.empty() ? std::string() : instance.volumeIds.front());
        failures += VerifyDisk(*cloud, volume.id, ImagePath(manifestFile, disk.at("image").get<std::string>()));
    }
    for (const auto& d : diffs) std::printf("  %s\n", d.c_str());
    const bool ok = diffs.empty() && failures == 0;
    std::printf("%s\n", ok ? "verify-restore passed" : "verify-restore FAILED");
    return ok ? 0 : 1;
}

int GuestWrite(const std::string& base, const std::string& volume, const std::string& blockText,
               const std::string& text, bool zero) {
    size_t used = 0;
    const long long block = std::stoll(blockText, &used);
    if (used != blockText.size() || block < 0 || (zero == !text.empty())) {
        std::fprintf(stderr, "error: guest-write needs --block N and either --text TEXT or --zero yes\n");
        return 2;
    }
    KDPI_Base::setBaseDir(base);
    // The agent's processes may have skipped ahead; the guest writes "now"
    // on their clock.
    FwClock::Set(std::make_shared<SkipSleepClock>(FwFile::JoinPath(base, "clock-offset"), true));
    auto cloud = cloudsim::Cloud::OpenFolder(base + "/cloudsim", "");
    const int64_t offset = block * cloudsim::kBlockSize;
    cloud->WriteVolume(volume, offset, zero ? std::string(static_cast<size_t>(cloudsim::kBlockSize), '\0') : text);
    std::printf("%s: block %lld %s\n", volume.c_str(), block, zero ? "zeroed" : "written");
    return 0;
}

int Serve(const std::string& base, const std::string& ebsAddress) {
    using namespace cloudsim::endpoints;
    // Blocked before any server thread starts, so that only sigwait sees them.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTERM);
    sigaddset(&stop, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);

    KDPI_Base::setBaseDir(base);
    FwClock::Set(std::make_shared<SkipSleepClock>(FwFile::JoinPath(base, "clock-offset"), true));
    std::string why;
    auto cloud = cloudsim::Cloud::ProcessCloud(&why);
    if (!cloud) {
        std::fprintf(stderr, "error: no cloud: %s\n", why.c_str());
        return 2;
    }
    std::vector<std::string> regions;
    cloud->Read([&](const cloudsim::State& s) {
        for (const auto& r : s.regions) regions.push_back(r.name);
    });
    const std::string folder = FwFile::JoinPath(base, "endpoints");
    const std::string ready = FwFile::JoinPath(folder, "ready");
    FwFile::MakeDirs(folder);
    FwFile::RemoveFile(ready);
    CertificateFiles certs = WriteTestCertificates(folder, EndpointDnsNames(regions), EndpointIpAddresses());
    std::string ca;
    if (!FwFile::ReadAll(certs.caFile, ca) || !FwFile::WriteAllAtomic(FwFile::JoinPath(base, "curl-ca-bundle.crt"), ca))
        throw std::runtime_error("cannot install the CA bundle");
    EndpointServer server(cloud, EndpointOptions{certs.certFile, certs.keyFile, MetadataOptions{}, false});

    std::string connectTo, hosts;
    for (const auto& region : regions) {
        const std::string host = "ebs." + region + ".amazonaws.com";
        connectTo += host + ":443:127.0.0.1:" + std::to_string(server.EbsPort()) + ",";
        hosts += (hosts.empty() ? "" : ",") + host + "=" + ebsAddress;
    }
    connectTo += "169.254.169.254:80:127.0.0.1:" + std::to_string(server.MetadataPort()) +
                 ",ip-ranges.amazonaws.com:443:127.0.0.1:" + std::to_string(server.IpRangesPort());
    if (!KDPlatformInfo::setValue("Base", "sCurlConnectTo", connectTo) ||
        !KDPlatformInfo::setValue("Base", "sHostAddresses", hosts))
        throw std::runtime_error("cannot write the agent's settings");
    FwFile::WriteAllAtomic(ready, std::to_string(getpid()) + "\n");
    std::printf("serving EBS direct on 127.0.0.1:%d, metadata on %d, IP ranges on %d\n", server.EbsPort(),
                server.MetadataPort(), server.IpRangesPort());
    std::fflush(stdout);

    int signal = 0;
    sigwait(&stop, &signal);
    FwFile::RemoveFile(ready);
    KDPlatformInfo::removeValue("Base", "sCurlConnectTo");
    KDPlatformInfo::removeValue("Base", "sHostAddresses");
    std::printf("served %d GetSnapshotBlock requests\n", server.Faults().Calls("GetSnapshotBlock"));
    return 0;
}
}  // namespace

int main(int argc, char** argv) {
    std::string command = argc > 1 ? argv[1] : "";
    std::string base, manifest, ebsAddress = "10.0.0.25", volume, block, text, zero, attach;
    RestoreExpectations expectations;
    long long snapJob = 0;
    for (int i = 2; i + 1 < argc; i += 2) {
        const std::string key = argv[i];
        if (key == "--base") base = argv[i + 1];
        else if (key == "--manifest") manifest = argv[i + 1];
        else if (key == "--ebs-address") ebsAddress = argv[i + 1];
        else if (key == "--volume") volume = argv[i + 1];
        else if (key == "--block") block = argv[i + 1];
        else if (key == "--text") text = argv[i + 1];
        else if (key == "--zero") zero = argv[i + 1];
        else if (key == "--instance") expectations.instance = argv[i + 1];
        else if (key == "--name") expectations.name = argv[i + 1];
        else if (key == "--type") expectations.type = argv[i + 1];
        else if (key == "--zone") expectations.zone = argv[i + 1];
        else if (key == "--devices") expectations.devices = argv[i + 1];
        else if (key == "--attach") attach = argv[i + 1];
        else if (key == "--snap-job") snapJob = std::atoll(argv[i + 1]);
    }
    const bool verify = command == "verify" && !base.empty() && !manifest.empty();
    const bool serve = command == "serve" && !base.empty();
    const bool write = command == "guest-write" && !base.empty() && !volume.empty() && !block.empty();
    const bool verifyRestore =
        command == "verify-restore" && !base.empty() && !manifest.empty() && !expectations.instance.empty();
    const bool verifyRevert = command == "verify-revert" && !base.empty() && !expectations.instance.empty() && snapJob > 0;
    expectations.attach = attach == "yes";
    if (!verify && !serve && !write && !verifyRestore && !verifyRevert) {
        std::fprintf(stderr,
                     "usage: cloudsim-tool verify --base DIR --manifest FILE [--snap-job N]\n"
                     "                     (against the volumes now, or the snapshots snap job N took)\n"
                     "       cloudsim-tool verify-restore --base DIR --manifest FILE --instance ID [--name N]\n"
                     "                     [--type T] [--zone Z] [--devices VOL=DEV,...] [--attach yes]\n"
                     "       cloudsim-tool verify-revert --base DIR --instance ID --snap-job N\n"
                     "       cloudsim-tool guest-write --base DIR --volume ID --block N (--text TEXT | --zero yes)\n"
                     "       cloudsim-tool serve --base DIR [--ebs-address ADDRESS]\n");
        return 2;
    }
    try {
        if (verifyRestore) return VerifyRestore(base, manifest, expectations);
        if (verifyRevert) return VerifyRevert(base, expectations.instance, snapJob);
        if (write) return GuestWrite(base, volume, block, text, zero == "yes");
        return verify ? Verify(base, manifest, snapJob) : Serve(base, ebsAddress);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "error: %s\n", e.what());
        return 2;
    }
}
