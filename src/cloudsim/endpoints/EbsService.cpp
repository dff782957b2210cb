#include "cloudsim/endpoints/EbsService.h"

#include <algorithm>
#include <cctype>

#include <nlohmann/json.hpp>

#include "cloudsim/BlockStore.h"
#include "cloudsim/BlockToken.h"
#include "cloudsim/Cloud.h"
#include "cloudsim/Lineage.h"
#include "cloudsim/endpoints/Digest.h"
#include "cloudsim/endpoints/EbsPages.h"
#include "cloudsim/endpoints/HttpGlue.h"
#include "framework/Clock.h"

namespace cloudsim::endpoints {
namespace {

const int64_t kMaxInteger = 2147483647;   // the service model's "integer"

AwsError Validation(const std::string& message, const std::string& reason) {
    return EbsError(400, "ValidationException", message, reason);
}

AwsError SnapshotNotFound(const std::string& id) {
    return EbsError(404, "ResourceNotFoundException", "The snapshot '" + id + "' does not exist.",
                    "SNAPSHOT_NOT_FOUND");
}

// Decimal digits naming a value from 0 to the model's largest integer.
bool ParseInteger(const std::string& text, int64_t& value) {
    if (text.empty() || text.size() > 10 ||
        !std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c) != 0; }))
        return false;
    value = std::stoll(text);
    return value <= kMaxInteger;
}

// The model's SnapshotId: 1 to 64 characters matching ^snap-[0-9a-f]+$.
AwsError CheckSnapshotId(const std::string& id, const std::string& member) {
    bool valid = id.size() > 5 && id.size() <= 64 && id.compare(0, 5, "snap-") == 0 &&
                 std::all_of(id.begin() + 5, id.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
    if (valid) return AwsError{};
    return Validation("1 validation error detected: Value '" + id + "' at '" + member +
                          "' failed to satisfy constraint: Member must satisfy regular expression pattern: "
                          "^snap-[0-9a-f]+$",
                      "INVALID_SNAPSHOT_ID");
}

// The snapshot, when the caller may read its blocks: in this region (else
// it does not exist here), the caller's own (the EBS direct APIs serve
// neither other accounts' snapshots nor public ones), and completed.
AwsError Readable(const State& state, const std::string& id, const std::string& region, const std::string& account,
                  const std::string& operation, const Snapshot*& out) {
    auto it = state.snapshots.find(id);
    if (it == state.snapshots.end() || it->second.region != region) return SnapshotNotFound(id);
    if (it->second.account != account)
        return EbsError(403, "AccessDeniedException",
                        "User is not authorized to perform: ebs:" + operation + " on resource: arn:aws:ec2:" +
                            region + "::snapshot/" + id,
                        "UNAUTHORIZED_ACCOUNT");
    if (it->second.state != "completed")
        return Validation("The snapshot '" + id + "' is not in the completed state.", "INVALID_SNAPSHOT_ID");
    out = &it->second;
    return AwsError{};
}

// What a listing request asks for: its page size and where it starts (from
// pageToken, else startingBlockIndex).
struct PageRequest {
    int64_t max = 10000;
    PagePosition at;
};

AwsError ParsePageRequest(const std::string& rawQuery, const std::string& listing, int64_t nowMs, PageRequest& out) {
    bool present = false;
    std::string text = QueryParam(rawQuery, "maxResults", &present);
    if (present && (!ParseInteger(text, out.max) || out.max < 100 || out.max > 10000))
        return Validation("maxResults must be between 100 and 10000.", "INVALID_PARAMETER_VALUE");
    std::string token = QueryParam(rawQuery, "pageToken", &present);
    if (present) {
        if (!ParsePageToken(token, listing, out.at))
            return Validation("The pagination token is not valid.", "INVALID_PAGE_TOKEN");
        if (nowMs >= out.at.issuedMs + kPageTokenLifetimeMs)
            return Validation("The pagination token has expired.", "INVALID_PAGE_TOKEN");
        return AwsError{};
    }
    text = QueryParam(rawQuery, "startingBlockIndex", &present);
    if (present && !ParseInteger(text, out.at.next))
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

// A listing's page: its blocks (put by entry), NextToken when it goes on,
// and the members every listing carries. Block tokens issued now expire
// when ExpiryTime says.
template <class PutEntry>
void PageJson(nlohmann::json& out, const char* member, const std::string& listing, const PageRequest& request,
              const BlockPage& page, int64_t sizeBytes, int64_t nowMs, PutEntry put) {
    out[member] = nlohmann::json::array();
    for (const ChangedEntry& entry : page.entries) out[member].push_back(put(entry));
    if (page.more) {
        int stalls = page.next == request.at.next ? request.at.stalls + 1 : 0;
        out["NextToken"] = PageToken(listing, PagePosition{page.next, stalls, nowMs});
    }
    out["ExpiryTime"] = static_cast<double>(nowMs + kBlockTokenLifetimeMs) / 1000.0;
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
                       Call& call) {
    Credentials caller;
    WireRequest wire = ToWire(req);
    if (AwsError error = m_verifier.Verify(wire, &caller)) {
        WriteError(res, error);
        return false;
    }
    Authorization auth;
    ParseAuthorization(HeaderValue(wire.headers, "authorization"), auth);
    std::string& region = call.region;
    region = RegionOfHost(HeaderValue(wire.headers, "host"));
    if (region.empty()) region = auth.region;
    if (auth.region != region) {
        WriteError(res, {403, "InvalidSignatureException",
                         "Credential should be scoped to a valid region, not '" + auth.region + "'. ", "", false});
        return false;
    }
    call.hits = m_faults.Hits(operation);
    if (ApplyFaultsBefore(call.hits, res)) return false;
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
    call.account = caller.accountId;
    return true;
}

void EbsService::GetSnapshotBlock(const httplib::Request& req, httplib::Response& res) {
    Call call;
    if (!Admit("GetSnapshotBlock", req, res, call)) return;
    const std::string id = req.matches[1];
    if (AwsError error = CheckSnapshotId(id, "snapshotId")) return WriteError(res, error);
    int64_t index = 0;
    if (!ParseInteger(req.matches[2], index))
        return WriteError(res, Validation("The block index is not valid.", "INVALID_BLOCK"));
    int64_t size = 0;
    std::string blockId;
    AwsError error;
    // One look at the state: the block's id is all the request needs of it.
    m_cloud->Read([&](const State& state) {
        const Snapshot* snap = nullptr;
        error = Readable(state, id, call.region, call.account, "GetSnapshotBlock", snap);
        if (error) return;
        size = snap->sizeBytes;
        auto it = snap->blocks.find(index);
        blockId = it == snap->blocks.end() ? ZeroBlockId() : it->second;
    });
    if (error) return WriteError(res, error);
    // Compared in blocks: an index times the block size may not fit.
    if (index >= (size + kBlockSize - 1) / kBlockSize)
        return WriteError(res, Validation("The block index is out of range.", "INVALID_BLOCK"));
    int64_t issued = BlockTokenIssuedMs(QueryParam(ToWire(req).rawQuery, "blockToken"), id, index);
    if (issued < 0) return WriteError(res, Validation("The block token is not valid.", "INVALID_BLOCK_TOKEN"));
    if (FwClock::NowMs() >= issued + kBlockTokenLifetimeMs)
        return WriteError(res, Validation("The block token has expired.", "INVALID_BLOCK_TOKEN"));

    // Stored blocks never change, so the bytes are read outside the cloud's
    // lock and the other workers' requests go on meanwhile.
    std::string data(static_cast<size_t>(kBlockSize), '\0');
    if (blockId != ZeroBlockId()) m_cloud->Blocks().Get(blockId, &data[0]);
    const int64_t length = std::min(kBlockSize, size - index * kBlockSize);
    const std::string checksum =
        length == kBlockSize ? m_checksums.Of(blockId, data) : Base64(Sha256(data.substr(0, length)));
    data.resize(static_cast<size_t>(length));
    res.set_header("x-amz-Data-Length", std::to_string(data.size()));
    res.set_header("x-amz-Checksum", checksum);
    res.set_header("x-amz-Checksum-Algorithm", "SHA256");
    res.set_content(std::move(data), "application/octet-stream");
    ApplyFaultsAfter(call.hits, res);
}

void EbsService::ListSnapshotBlocks(const httplib::Request& req, httplib::Response& res) {
    Call call;
    if (!Admit("ListSnapshotBlocks", req, res, call)) return;
    const std::string id = req.matches[1];
    if (AwsError error = CheckSnapshotId(id, "snapshotId")) return WriteError(res, error);
    const int64_t now = FwClock::NowMs();
    PageRequest request;
    if (AwsError error = ParsePageRequest(ToWire(req).rawQuery, id, now, request)) return WriteError(res, error);
    AwsError error;
    nlohmann::json out;
    m_cloud->Read([&](const State& state) {
        const Snapshot* snap = nullptr;
        if ((error = Readable(state, id, call.region, call.account, "ListSnapshotBlocks", snap))) return;
        static const BlockMap none;
        BlockPage page = ChangedPage(none, snap->blocks, request.at.next,
                                     PageShape(id, request.at.next, request.at.stalls, request.max));
        PageJson(out, "Blocks", id, request, page, snap->sizeBytes, now, [&](const ChangedEntry& entry) {
            return nlohmann::json{{"BlockIndex", entry.index}, {"BlockToken", BlockToken(id, entry.index, now)}};
        });
    });
    if (error) return WriteError(res, error);
    res.set_content(out.dump(), "application/json");
    ApplyFaultsAfter(call.hits, res);
}

void EbsService::ListChangedBlocks(const httplib::Request& req, httplib::Response& res) {
    Call call;
    if (!Admit("ListChangedBlocks", req, res, call)) return;
    const std::string second = req.matches[1];
    const std::string rawQuery = ToWire(req).rawQuery;
    bool hasFirst = false;
    const std::string firstId = QueryParam(rawQuery, "firstSnapshotId", &hasFirst);
    if (AwsError error = CheckSnapshotId(second, "secondSnapshotId")) return WriteError(res, error);
    if (hasFirst)
        if (AwsError error = CheckSnapshotId(firstId, "firstSnapshotId")) return WriteError(res, error);
    const std::string listing = firstId + "/" + second;
    const int64_t now = FwClock::NowMs();
    PageRequest request;
    if (AwsError error = ParsePageRequest(rawQuery, listing, now, request)) return WriteError(res, error);
    AwsError error;
    nlohmann::json out;
    m_cloud->Read([&](const State& state) {
        const Snapshot* later = nullptr;
        const Snapshot* earlier = nullptr;
        if ((error = Readable(state, second, call.region, call.account, "ListChangedBlocks", later))) return;
        if (hasFirst && (error = Readable(state, firstId, call.region, call.account, "ListChangedBlocks", earlier)))
            return;
        if (earlier && !Related(state, *earlier, *later)) {
            error = Validation("The snapshots '" + firstId + "' and '" + second + "' are not related.",
                               "UNRELATED_SNAPSHOTS");
            return;
        }
        static const BlockMap none;
        BlockPage page = ChangedPage(earlier ? earlier->blocks : none, later->blocks, request.at.next,
                                     PageShape(listing, request.at.next, request.at.stalls, request.max));
        PageJson(out, "ChangedBlocks", listing, request, page, later->sizeBytes, now, [&](const ChangedEntry& entry) {
            nlohmann::json item{{"BlockIndex", entry.index}};
            if (entry.inFirst) item["FirstBlockToken"] = BlockToken(firstId, entry.index, now);
            if (entry.inSecond) item["SecondBlockToken"] = BlockToken(second, entry.index, now);
            return item;
        });
    });
    if (error) return WriteError(res, error);
    res.set_content(out.dump(), "application/json");
    ApplyFaultsAfter(call.hits, res);
}

}  // namespace cloudsim::endpoints
