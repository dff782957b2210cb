#include "cloudsim/endpoints/EbsService.h"

#include <algorithm>
#include <cctype>

#include <nlohmann/json.hpp>

#include "cloudsim/BlockToken.h"
#include "cloudsim/Cloud.h"
#include "cloudsim/endpoints/Digest.h"
#include "cloudsim/endpoints/HttpGlue.h"
#include "framework/Clock.h"

namespace cloudsim::endpoints {
namespace {

constexpr int64_t kTokenLifetimeMs = 7LL * 24 * 3600 * 1000;

AwsError Validation(const std::string& message, const std::string& reason) {
    return EbsError(400, "ValidationException", message, reason);
}

AwsError SnapshotNotFound(const std::string& id) {
    return EbsError(404, "ResourceNotFoundException", "The snapshot '" + id + "' does not exist.",
                    "SNAPSHOT_NOT_FOUND");
}

bool ParseIndex(const std::string& text, int64_t& value) {
    if (text.empty() || text.size() > 18 || !std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c) != 0; }))
        return false;
    value = std::stoll(text);
    return true;
}

// Page tokens carry the snapshot pair and the next index, hex-encoded so
// that they look opaque and cannot be confused between listings.
std::string PageToken(const std::string& listing, int64_t next) { return Hex(listing + "#" + std::to_string(next)); }

bool ParsePageToken(const std::string& token, const std::string& listing, int64_t& next) {
    if (token.size() % 2) return false;
    std::string text;
    for (size_t i = 0; i < token.size(); i += 2) {
        if (!isxdigit(static_cast<unsigned char>(token[i])) || !isxdigit(static_cast<unsigned char>(token[i + 1])))
            return false;
        text += static_cast<char>(std::stoi(token.substr(i, 2), nullptr, 16));
    }
    size_t hash = text.rfind('#');
    return hash != std::string::npos && text.substr(0, hash) == listing && ParseIndex(text.substr(hash + 1), next);
}

// maxResults, and the first index from pageToken or startingBlockIndex.
AwsError PageBounds(const std::string& rawQuery, const std::string& listing, int64_t& first, int64_t& max) {
    bool present = false;
    std::string text = QueryParam(rawQuery, "maxResults", &present);
    max = 10000;
    if (present && (!ParseIndex(text, max) || max < 100 || max > 10000))
        return Validation("maxResults must be between 100 and 10000.", "INVALID_PARAMETER_VALUE");
    first = 0;
    std::string token = QueryParam(rawQuery, "pageToken", &present);
    if (present) {
        if (!ParsePageToken(token, listing, first))
            return Validation("The pagination token is not valid.", "INVALID_PAGE_TOKEN");
        return AwsError{};
    }
    text = QueryParam(rawQuery, "startingBlockIndex", &present);
    if (present && !ParseIndex(text, first))
        return Validation("startingBlockIndex is not valid.", "INVALID_PARAMETER_VALUE");
    return AwsError{};
}

// "ebs.us-east-1.amazonaws.com[:port]" -> "us-east-1"; empty for other names.
std::string RegionOfHost(std::string host) {
    host = host.substr(0, host.find(':'));
    const std::string prefix = "ebs.", suffix = ".amazonaws.com";
    if (host.size() <= prefix.size() + suffix.size() || host.compare(0, prefix.size(), prefix) != 0 ||
        host.compare(host.size() - suffix.size(), suffix.size(), suffix) != 0)
        return std::string();
    return host.substr(prefix.size(), host.size() - prefix.size() - suffix.size());
}

void PageCommon(nlohmann::json& out, int64_t sizeBytes) {
    out["ExpiryTime"] = static_cast<double>(FwClock::NowMs() + kTokenLifetimeMs) / 1000.0;
    out["VolumeSize"] = (sizeBytes + (1LL << 30) - 1) >> 30;
    out["BlockSize"] = kBlockSize;
}

}  // namespace

EbsService::EbsService(httplib::Server& server, std::shared_ptr<Cloud> cloud, const CredentialStore& store,
                       FaultRules& faults)
    : m_cloud(std::move(cloud)), m_verifier(store, "ebs"), m_faults(faults) {
    server.Get(R"(/snapshots/([^/]+)/blocks/([^/]+))",
               [this](const httplib::Request& req, httplib::Response& res) { GetSnapshotBlock(req, res); });
    server.Get(R"(/snapshots/([^/]+)/blocks)",
               [this](const httplib::Request& req, httplib::Response& res) { ListSnapshotBlocks(req, res); });
    server.Get(R"(/snapshots/([^/]+)/changedblocks)",
               [this](const httplib::Request& req, httplib::Response& res) { ListChangedBlocks(req, res); });
}

bool EbsService::Admit(const std::string& operation, const httplib::Request& req, httplib::Response& res,
                       std::vector<EndpointFault>& hits, std::string& region) {
    Credentials caller;
    WireRequest wire = ToWire(req);
    if (AwsError error = m_verifier.Verify(wire, &caller)) {
        WriteError(res, error);
        return false;
    }
    Authorization auth;
    ParseAuthorization(HeaderValue(wire.headers, "authorization"), auth);
    region = RegionOfHost(HeaderValue(wire.headers, "host"));
    if (region.empty()) region = auth.region;
    if (auth.region != region) {
        WriteError(res, {403, "InvalidSignatureException",
                         "Credential should be scoped to a valid region, not '" + auth.region + "'. ", "", false});
        return false;
    }
    hits = m_faults.Hits(operation);
    if (ApplyFaultsBefore(hits, res)) return false;
    bool denied = false;
    m_cloud->Read([&](const State& state) {
        const Account* account = state.FindAccount(caller.accountId);
        if (!account) return;
        for (const std::string& action : account->deniedActions) {
            std::string wanted = "ebs:" + operation;
            if (action == wanted || (!action.empty() && action.back() == '*' &&
                                     wanted.compare(0, action.size() - 1, action, 0, action.size() - 1) == 0))
                denied = true;
        }
    });
    if (denied) {
        WriteError(res, EbsError(403, "AccessDeniedException",
                                 "User is not authorized to perform: ebs:" + operation, "UNAUTHORIZED_ACCOUNT"));
        return false;
    }
    return true;
}

int64_t EbsService::SnapshotSize(const std::string& id, const std::string& region) {
    int64_t size = -1;
    m_cloud->Read([&](const State& state) {
        auto it = state.snapshots.find(id);
        if (it != state.snapshots.end() && it->second.region == region) size = it->second.sizeBytes;
    });
    return size;
}

void EbsService::GetSnapshotBlock(const httplib::Request& req, httplib::Response& res) {
    std::vector<EndpointFault> hits;
    std::string region;
    if (!Admit("GetSnapshotBlock", req, res, hits, region)) return;
    std::string id = req.matches[1];
    int64_t index = 0;
    int64_t size = SnapshotSize(id, region);
    if (size < 0) return WriteError(res, SnapshotNotFound(id));
    if (!ParseIndex(req.matches[2], index) || index * kBlockSize >= size)
        return WriteError(res, Validation("The block index is out of range.", "INVALID_BLOCK"));
    if (QueryParam(ToWire(req).rawQuery, "blockToken") != BlockToken(id, index))
        return WriteError(res, Validation("The block token is not valid.", "INVALID_BLOCK_TOKEN"));

    std::string data = m_cloud->ReadSnapshot(id, index * kBlockSize, std::min(kBlockSize, size - index * kBlockSize));
    res.set_header("x-amz-Data-Length", std::to_string(data.size()));
    res.set_header("x-amz-Checksum", Base64(Sha256(data)));
    res.set_header("x-amz-Checksum-Algorithm", "SHA256");
    res.set_content(std::move(data), "application/octet-stream");
    ApplyFaultsAfter(hits, res);
}

void EbsService::ListSnapshotBlocks(const httplib::Request& req, httplib::Response& res) {
    std::vector<EndpointFault> hits;
    std::string region;
    if (!Admit("ListSnapshotBlocks", req, res, hits, region)) return;
    std::string id = req.matches[1];
    int64_t first = 0, max = 0;
    if (AwsError error = PageBounds(ToWire(req).rawQuery, id, first, max)) return WriteError(res, error);
    bool found = false;
    nlohmann::json out;
    m_cloud->Read([&](const State& state) {
        auto it = state.snapshots.find(id);
        if (it == state.snapshots.end() || it->second.region != region) return;
        found = true;
        out["Blocks"] = nlohmann::json::array();
        for (auto b = it->second.blocks.lower_bound(first); b != it->second.blocks.end(); ++b) {
            if (static_cast<int64_t>(out["Blocks"].size()) == max) {
                out["NextToken"] = PageToken(id, b->first);
                break;
            }
            out["Blocks"].push_back({{"BlockIndex", b->first}, {"BlockToken", BlockToken(id, b->first)}});
        }
        PageCommon(out, it->second.sizeBytes);
    });
    if (!found) return WriteError(res, SnapshotNotFound(id));
    res.set_content(out.dump(), "application/json");
    ApplyFaultsAfter(hits, res);
}

void EbsService::ListChangedBlocks(const httplib::Request& req, httplib::Response& res) {
    std::vector<EndpointFault> hits;
    std::string region;
    if (!Admit("ListChangedBlocks", req, res, hits, region)) return;
    std::string second = req.matches[1];
    std::string rawQuery = ToWire(req).rawQuery;
    std::string firstId = QueryParam(rawQuery, "firstSnapshotId");
    int64_t first = 0, max = 0;
    if (AwsError error = PageBounds(rawQuery, firstId + "/" + second, first, max)) return WriteError(res, error);
    std::string missing;
    nlohmann::json out;
    m_cloud->Read([&](const State& state) {
        auto later = state.snapshots.find(second);
        auto earlier = firstId.empty() ? state.snapshots.end() : state.snapshots.find(firstId);
        if (later == state.snapshots.end() || later->second.region != region) missing = second;
        if (!firstId.empty() && (earlier == state.snapshots.end() || earlier->second.region != region))
            missing = firstId;
        if (!missing.empty()) return;
        static const BlockMap none;
        const BlockMap& a = earlier == state.snapshots.end() ? none : earlier->second.blocks;
        const BlockMap& b = later->second.blocks;
        std::map<int64_t, int> changed;   // index -> 1 in a, 2 in b, 3 both
        for (auto it = a.lower_bound(first); it != a.end(); ++it) {
            auto other = b.find(it->first);
            if (other == b.end()) changed[it->first] = 1;
            else if (other->second != it->second) changed[it->first] = 3;
        }
        for (auto it = b.lower_bound(first); it != b.end(); ++it)
            if (!a.count(it->first)) changed[it->first] = 2;
        out["ChangedBlocks"] = nlohmann::json::array();
        for (const auto& [index, where] : changed) {
            if (static_cast<int64_t>(out["ChangedBlocks"].size()) == max) {
                out["NextToken"] = PageToken(firstId + "/" + second, index);
                break;
            }
            nlohmann::json entry{{"BlockIndex", index}};
            if (where & 1) entry["FirstBlockToken"] = BlockToken(firstId, index);
            if (where & 2) entry["SecondBlockToken"] = BlockToken(second, index);
            out["ChangedBlocks"].push_back(entry);
        }
        PageCommon(out, later->second.sizeBytes);
    });
    if (!missing.empty()) return WriteError(res, SnapshotNotFound(missing));
    res.set_content(out.dump(), "application/json");
    ApplyFaultsAfter(hits, res);
}

}  // namespace cloudsim::endpoints
