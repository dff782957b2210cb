#pragma once
// The plug-in's own EBS direct API client: reads snapshot blocks with signed
// HTTPS requests, so a backup can read a snapshot without a volume.
//
// Credentials: the proxy's instance role (both key strings empty), an
// assumed role (the first string is a role ARN) or a plain access key. Every
// reading thread gets its own connection (keyed by the kernel thread id);
// connections share the credentials through a refresh callback that fetches
// at most once per expiry, the issue time serving as generation number.
// Connections are pooled, at most maxConnections (the least recently used
// goes first), and all are dropped when the last open snapshot is closed, so
// the reader threads of a long job do not leave one client each behind. A
// read holds its connection alive until it is done, even if it is dropped.
//
// A snapshot's block size and the tokens of its allocated blocks are fetched
// once, when its disk is opened (FillSnapshotAccessInfo), through the bridge.
// A read holds its entry alive until it is done, even if the disk is closed
// meanwhile. Block tokens expire: when a token's known expiry is near (by
// the framework clock), or the service calls it invalid, the reader lists
// that range's tokens once more on its own connection (ListSnapshotBlocks
// from the block on), keeps them with the listing's ExpiryTime, and reads
// the block once more. The bridge's listing carries no expiry, so its
// tokens are renewed on the service's word alone.
//
// The bridge given to Initialize is the wrapper's own: refreshes of an
// assumed role run on reader threads while the job thread opens the next
// disk, and a bridge serves one thread at a time, so the wrapper serialises
// every call it makes and nobody else may use that bridge meanwhile.
//
// Thread-safe. Failures are reported as false with the cause in the log
// (and, for reads, in the caller's why); nothing throws.
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "ebsdirect/AmazonRESTAPIConnection.h"
#include "ebsdirect/AmazonRequestSigning.h"
#include "framework/Locks.h"

class CAmazonSDKBridge;

namespace AmazonDirectSnapshotAccessAPI {

enum AWSCredentialType {
    AWSCredentialIAMRole = 0,
    AWSCredentialAssumeRole = 1,
    AWSCredentialAccessKey = 2,
    AWSCredentialInvalid = 3,
};

struct BlockTokenEntry {
    int64_t index = 0;
    std::string token;
    int64_t expiryMs = 0;   // framework-clock milliseconds; 0 when the listing gave none
};

struct SnapshotAccessInfo {
    std::string snapshotId;
    int64_t blockSize = 0;
    // Allocated blocks only, by ascending index, each index once. A sorted
    // array rather than a map: a map's node costs as much as the token in
    // it, and a fully allocated 64 GiB disk holds 131072 tokens. The set of
    // indexes is fixed once filled; tokens and expiries change under
    // tokenLock when a range is listed again.
    std::vector<BlockTokenEntry> blockTokens;
    mutable std::mutex tokenLock;
};

class CAmazonDirectSnapshotAccessAPIWrapper {
public:
    // Where the instance metadata service and the published address ranges
    // live; only the paths below them are fixed.
    static constexpr const char* kMetadataBaseUrl = "http://169.254.169.254";
    static constexpr const char* kIpRangesUrl = "https://ip-ranges.amazonaws.com/ip-ranges.json";
    static constexpr const char* kIpRangesCacheFile = "aws-public-ip-ranges.json";
    static constexpr const char* kIpRangesLockName = "aws-public-ip-ranges-cache-lock";
    static constexpr int64_t kIpRangesCacheSeconds = 86400;
    // As many as the most reader threads a job runs at once.
    static constexpr size_t kMaxConnections = 64;
    // A token this close to its expiry is listed again before it is used.
    static constexpr int64_t kTokenExpiryMarginMs = 60 * 1000;
    static constexpr const char* kInvalidBlockTokenReason = "INVALID_BLOCK_TOKEN";

    explicit CAmazonDirectSnapshotAccessAPIWrapper(size_t maxConnections = kMaxConnections);
    ~CAmazonDirectSnapshotAccessAPIWrapper();
    CAmazonDirectSnapshotAccessAPIWrapper(const CAmazonDirectSnapshotAccessAPIWrapper&) = delete;
    CAmazonDirectSnapshotAccessAPIWrapper& operator=(const CAmazonDirectSnapshotAccessAPIWrapper&) = delete;

    // keyOrRoleArn and secretKey: the account's access key id (or role ARN)
    // and secret; both empty for the proxy's instance role. bridge: connected
    // to the account, used by this wrapper alone and outliving it. May be
    // called again after a failure.
    bool Initialize(const std::string& keyOrRoleArn, const std::string& secretKey, CAmazonSDKBridge* bridge);
    bool IsInitialized() const { return m_initialized.load(); }

    bool FillSnapshotAccessInfo(const std::string& snapshotId, const std::string& region);
    bool ClearSnapshotAccessInfo(const std::string& snapshotId);
    // Offset and length in bytes, multiples of the snapshot's block size;
    // unallocated blocks read as zeros without a request. On failure why
    // says what failed, for a person: the block and the service's (or the
    // network's) answer, e.g. "block 3 of snap-1: cannot connect to
    // https://ebs.us-east-1.amazonaws.com: ... Connection refused".
    bool ReadFromSnapshot(const std::string& snapshotId, const std::string& region, long long offset,
                          long long length, unsigned char* buffer, std::string& why);
    // The same, for a caller that needs no reason.
    bool ReadFromSnapshot(const std::string& snapshotId, const std::string& region, long long offset,
                          long long length, unsigned char* buffer) {
        std::string why;
        return ReadFromSnapshot(snapshotId, region, offset, length, buffer, why);
    }

    // Whether the proxy reaches EBS through an interface VPC endpoint: the
    // regional EBS endpoint resolves outside the published AMAZON ranges.
    // The ranges are cached in cacheFolder for a day.
    static bool CheckIfEbsVpcEndpointIsConfigured(const std::string& region, const std::string& cacheFolder,
                                                  bool& configured);
    static bool refreshCredentialsCallBack(void* owner, AWSCredentials& credentials);

    AWSCredentialType credentialType() const { return m_credentialType; }
    AWSCredentials getCredentialsCopy();
    size_t connectionCount();
    const AWSConnectionConfiguration& configuration() const { return m_config; }

    // The address-range pieces, public so that they can be checked alone.
    static bool GetAWSIpRangesJson(const std::string& cacheFolder, std::string& json);
    static bool IsAWSIpRangesCacheAvailableAndValid(const std::string& cacheFile);
    static bool IsIpAddressPresentInIpRangesJson(const std::string& ip, const std::string& json, bool& found);

private:
    bool initializeCredentials(const std::string& keyOrRoleArn, const std::string& secretKey);
    bool refreshCredentials(AWSCredentials& credentials);
    AWSCredentials getAssumeRoleSessionCredentials(const std::string& roleArn);
    static AWSCredentials getIAMRoleSessionCredentials();
    static bool getIAMSessionJson(std::string& json);
    static AWSCredentials parseIAMSessionJson(const std::string& json);

    std::shared_ptr<CAmazonRESTAPIConnection> getRestApiConnection(uint64_t threadId);
    void dropAllConnections();
    std::unique_ptr<CAmazonRESTAPIConnection> createNewRestApiConnection();

    std::shared_ptr<SnapshotAccessInfo> getSnapshotAccessInfo(const std::string& snapshotId);
    bool fetchSnapshotAccessInfo(const std::string& snapshotId, const std::string& region);
    // False, quietly, for an unallocated block.
    static bool getBlockToken(const SnapshotAccessInfo& info, int64_t index, BlockTokenEntry& entry);
    static bool getSnapshotBlock(CAmazonRESTAPIConnection& connection, const std::string& snapshotId,
                                 const std::string& region, int64_t index, const std::string& token,
                                 unsigned char* destination, int64_t blockSize, uint64_t& received);
    // One block, its token renewed first when it is about to expire and once
    // more when the service refuses it as invalid. why on failure.
    static bool readBlock(CAmazonRESTAPIConnection& connection, SnapshotAccessInfo& info, const std::string& region,
                          int64_t index, unsigned char* destination, uint64_t& received, std::string& why);
    // Lists the snapshot's tokens again from index on, until a page reaches
    // index, and stores those the cache holds with the listing's expiry.
    static bool refreshBlockTokens(CAmazonRESTAPIConnection& connection, SnapshotAccessInfo& info,
                                   const std::string& region, int64_t index, std::string& why);
    // refreshBlockTokens, then the block's fresh entry.
    static bool renewToken(CAmazonRESTAPIConnection& connection, SnapshotAccessInfo& info, const std::string& region,
                           int64_t index, BlockTokenEntry& entry, std::string& why);

    static bool GetEbsEndpointIpAddress(const std::string& region, std::string& ip);
    static bool IsAwsPublicIpAddress(const std::string& ip, const std::string& cacheFolder, bool& isPublic);
    static bool DownloadAWSIpRangesJson(const std::string& cacheFolder, const std::string& cacheFile);
    static bool ReadAWSIpRangesJsonFromCache(const std::string& cacheFile, std::string& json);

    CAmazonSDKBridge* m_bridge = nullptr;   // calls under m_bridgeLock
    std::mutex m_bridgeLock;
    // Read by every block read while a failed set-up may be retried.
    std::atomic<bool> m_initialized{false};
    AWSConnectionConfiguration m_config;
    AWSCredentialType m_credentialType = AWSCredentialInvalid;
    std::string m_roleArn;
    AWSCredentials m_credentials;
    std::mutex m_credentialsLock;
    struct PooledConnection {
        std::shared_ptr<CAmazonRESTAPIConnection> connection;
        uint64_t lastUse = 0;   // m_useCount when its thread last took it
    };
    const size_t m_maxConnections;
    std::mutex m_connectionsLock;   // guards the two below
    std::map<uint64_t, PooledConnection> m_connections;
    uint64_t m_useCount = 0;
    ReadWriteLock m_snapshotLock;
    // Shared so that a read that found an entry keeps it while a close
    // removes it from the cache.
    std::map<std::string, std::shared_ptr<SnapshotAccessInfo>> m_snapshots;
};

}  // namespace AmazonDirectSnapshotAccessAPI
