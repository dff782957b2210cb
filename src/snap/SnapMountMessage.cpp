// The live-browse mount hand-over message: writer and reader.
#include "snap/SnapMountMessage.h"

#include <cerrno>
#include <cstdlib>
#include <limits>

#include "framework/MessageBase.h"
#include "framework/ProtectedString.h"
#include "framework/SnapMessages.h"

namespace VS = VirtualServer;

namespace {
bool SealInto(CNMessageBase& m, int field, const std::string& clear, std::string& error) {
    if (clear.empty()) return true;
    std::string sealed;
    if (!FwProtected::Seal(clear, sealed)) {
        error = "a password cannot be sealed";
        return false;
    }
    m.SetString(field, sealed);
    return true;
}

bool OpenFrom(const CNMessageBase& m, int field, std::string& clear, std::string& error) {
    const std::string text = m.GetString(field);
    clear.clear();
    if (text.empty()) return true;
    if (!FwProtected::IsSealed(text)) {
        error = "a password travels in clear";
        return false;
    }
    if (!FwProtected::Open(text, clear)) {
        error = "a sealed password cannot be opened";
        return false;
    }
    return true;
}

bool ParseUnsigned(const std::string& text, uint64_t& out) {
    if (text.empty() || text[0] == '-') return false;
    char* end = nullptr;
    errno = 0;
    const unsigned long long v = std::strtoull(text.c_str(), &end, 10);
    if (errno || *end) return false;
    out = v;
    return true;
}

bool ReadMapping(const CNMessageBase& m, SnapMountMessage::Mapping& out, std::string& error) {
    out.volumeId = m.GetString(VS::AmazonVolSnapMapping::kVolumeId);
    out.snapshotId = m.GetString(VS::AmazonVolSnapMapping::kSnapshotId);
    out.zone = m.GetString(VS::AmazonVolSnapMapping::kZone);
    if (out.volumeId.empty() || out.snapshotId.empty()) {
        error = "a mapping has no volume or snapshot id";
        return false;
    }
    const std::string sector = m.GetString(VS::AmazonVolSnapMapping::kSectorSize);
    if (!ParseUnsigned(sector, out.sectorSize) || (out.sectorSize != 512 && out.sectorSize != 4096)) {
        error = "volume [" + out.volumeId + "] has sector size [" + sector.substr(0, 32) + "], not 512 or 4096";
        return false;
    }
    return true;
}
}  // namespace

bool SnapMountMessage::Serialize(const Info& info, std::string& out, std::string& error) {
    out.clear();
    CNMessageBase connect(VS::AmazonConnectParam::kType);
    connect.SetString(VS::AmazonConnectParam::kEndpoint, info.endpoint);
    connect.SetString(VS::AmazonConnectParam::kUser, info.user);
    if (!SealInto(connect, VS::AmazonConnectParam::kPassword, info.password, error)) return false;
    for (const auto& c : info.credentials) {
        CNMessageBase cred(VS::HostCredentials::kType);
        cred.SetString(VS::HostCredentials::kHost, c.host);
        cred.SetString(VS::HostCredentials::kUser, c.user);
        if (!SealInto(cred, VS::HostCredentials::kPassword, c.password, error)) return false;
        cred.SetString(VS::HostCredentials::kCredentialType, std::to_string(static_cast<int64_t>(c.type)));
        connect.AddMessage(VS::AmazonConnectParam::kHostCredentials, cred);
    }
    CNMessageBase top(VS::AmazonMountSnapInfo::kType);
    top.AddMessage(VS::AmazonMountSnapInfo::kConnectParam, connect);
    if (!info.instanceId.empty()) {
        top.SetString(VS::AmazonMountSnapInfo::kRegion, info.region);
        top.SetString(VS::AmazonMountSnapInfo::kInstanceName, info.instanceName);
        top.SetString(VS::AmazonMountSnapInfo::kInstanceId, info.instanceId);
        for (const auto& map : info.mappings) {
            CNMessageBase m(VS::AmazonVolSnapMapping::kType);
            m.SetString(VS::AmazonVolSnapMapping::kVolumeId, map.volumeId);
            m.SetString(VS::AmazonVolSnapMapping::kSnapshotId, map.snapshotId);
            m.SetString(VS::AmazonVolSnapMapping::kZone, map.zone);
            m.SetString(VS::AmazonVolSnapMapping::kSectorSize, std::to_string(map.sectorSize));
            top.AddMessage(VS::AmazonMountSnapInfo::kVolSnapMappings, m);
        }
    }
    const int rc = top.Serialize(out);
    if (rc == CNMessageBase::kOk) return true;
    error = "the mount message cannot be serialised (" + std::to_string(rc) + ")";
    return false;
}

bool SnapMountMessage::Parse(const std::string& text, Info& info, std::string& error) {
    if (text.size() > kMaxText) {
        error = "the mount message is longer than 1 MiB";
        return false;
    }
    CNMessageBase top(VS::AmazonMountSnapInfo::kType);
    const int rc = top.Deserialize(text);
    if (rc != CNMessageBase::kOk) {
        error = "not a mount message (" + std::to_string(rc) + ")";
        return false;
    }
    const auto connects = top.GetMessages(VS::AmazonMountSnapInfo::kConnectParam);
    if (connects.size() != 1) {
        error = "the mount message has no single connection";
        return false;
    }
    Info read;
    const CNMessageBase& connect = connects[0];
    read.endpoint = connect.GetString(VS::AmazonConnectParam::kEndpoint);
    read.user = connect.GetString(VS::AmazonConnectParam::kUser);
    if (!OpenFrom(connect, VS::AmazonConnectParam::kPassword, read.password, error)) return false;
    for (const auto& cred : connect.GetMessages(VS::AmazonConnectParam::kHostCredentials)) {
        SHostCredentials c;
        c.host = cred.GetString(VS::HostCredentials::kHost);
        c.user = cred.GetString(VS::HostCredentials::kUser);
        uint64_t type = 0;
        if (!ParseUnsigned(cred.GetString(VS::HostCredentials::kCredentialType), type) ||
            type > static_cast<uint64_t>(std::numeric_limits<int32_t>::max())) {
            error = "a credential's type does not parse";
            return false;
        }
        c.type = static_cast<int32_t>(type);
        if (!OpenFrom(cred, VS::HostCredentials::kPassword, c.password, error)) return false;
        read.credentials.push_back(c);
    }
    read.region = top.GetString(VS::AmazonMountSnapInfo::kRegion);
    read.instanceName = top.GetString(VS::AmazonMountSnapInfo::kInstanceName);
    read.instanceId = top.GetString(VS::AmazonMountSnapInfo::kInstanceId);
    for (const auto& m : top.GetMessages(VS::AmazonMountSnapInfo::kVolSnapMappings)) {
        Mapping map;
        if (!ReadMapping(m, map, error)) return false;
        read.mappings.push_back(map);
    }
    info = std::move(read);
    return true;
}
