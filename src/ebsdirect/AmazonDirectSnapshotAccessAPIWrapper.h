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
// A snapshot's block size is learnt when its disk is opened
// (FillSnapshotAccessInfo, one short listing through the bridge); its block
// tokens are listed by the readers, a window of indexes at a time, on their
// own connections (ListSnapshotBlocks from the window's first block, paged
// on with NextToken), and dropped once every reader has passed them
// (BlockTokenWindows), so an open disk holds a bounded number of tokens
// however large it is. A read holds its entry alive until it is done, even
// if the disk is closed meanwhile. Block tokens expire: a window whose
// listing's ExpiryTime is near (by the framework clock) is listed again
// before its tokens are used, and so is one whose token the service calls
// invalid, after which the block is read once more.
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
#include "aws/AmazonRequestSigning.h"
#include "ebsdirect/BlockTokenWindows.h"
#include "framework/Locks.h"

class CAmazonSDKBridge;

namespace AmazonDirectSnapshotAccessAPI {

enum AWSCredentialType {
    AWSCredentialIAMRole = 0,
    AWSCredentialAssumeRole = 1,
    AWSCredentialAccessKey = 2,
    AWSCredentialInvalid = 3,
};

struct SnapshotAccessInfo {
    SnapshotAccessInfo(const std::string& id, int64_t size, const TokenWindowShape& shape, int64_t marginMs)
        : snapshotId(id), blockSize(size), tokens(id, shape, marginMs) {}
    const std::string snapshotId;
    const int64_t blockSize;
    BlockTokenWindows tokens;

    // Why the last listing failed: a reader that waited on another's
    // listing fails with its words.
    void SetListFailure(const std::string& why) {
        std::lock_guard<std::mutex> hold(failureLock);
        listFailure = why;
    }
    std::string ListFailure() const {
        std::lock_guard<std::mutex> hold(failureLock);
        return listFailure;
    }

private:
    mutable std::mutex failureLock;
    std::string listFailure;
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

    // shape: how the block tokens of an open snapshot are held.
    explicit CAmazonDirectSnapshotAccessAPIWrapper(size_t maxConnections = kMaxConnections,
                                                   TokenWindowShape shape = TokenWindowShape{});
    ~CAmazonDirectSnapshotAccessAPIWrapper();
    CAmazonDirectSnapshotAccessAPIWrapper(const CAmazonDirectSnapshotAccessAPIWrapper&) = delete;
    CAmazonDirectSnapshotAccessAPIWrapper& operator=(const CAmazonDirectSnapshotAccessAPIWrapper&) = delete;

    // keyOrRoleArn and secretKey: the account's access key id (or role ARN)
    // and secret; both empty for the proxy's instance role. bridge: connected
    // to the account, used by this wrapper alone and outliving it. May be
    // called again after a failure.
    bool Initialize(const std::string& keyOrRoleArn, const std::string& secretKey, CAmazonSDKBridge* bridge);
    bool IsInitialized() const { return m_initialized.load(); }

    bool FillSnapshotAccessInfo(const std::string& snapshotId, const std::string& region) {
        std::string why;
        return FillSnapshotAccessInfo(snapshotId, region, why);
    }
    // why: on failure, what stopped the snapshot from being opened.
    bool FillSnapshotAccessInfo(const std::string& snapshotId, const std::string& region, std::string& why);
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
    // What the open snapshot's tokens take now; false when it is not open.
    bool tokenStats(const std::string& snapshotId, TokenWindowStats& stats);

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
    bool fetchSnapshotAccessInfo(const std::string& snapshotId, const std::string& region, std::string& why);
    static bool getSnapshotBlock(CAmazonRESTAPIConnection& connection, const std::string& snapshotId,
                                 const std::string& region, int64_t index, const std::string& token,
                                 unsigned char* destination, int64_t blockSize, uint64_t& received);
    // One block, its token's window listed first when it is not held or
    // about to expire, and once more when the service refuses it as invalid.
    // why on failure.
    static bool readBlock(CAmazonRESTAPIConnection& connection, SnapshotAccessInfo& info,
                          BlockTokenWindows::Reading& reading, const BlockTokenWindows::Lister& list,
                          const std::string& region, int64_t index, unsigned char* destination, uint64_t& received,
                          std::string& why);
    // How a read lists its snapshot's windows, made once per read rather
    // than per block: on its connection, in region.
    static BlockTokenWindows::Lister windowLister(CAmazonRESTAPIConnection& connection, SnapshotAccessInfo& info,
                                                  const std::string& region);
    // The allocated blocks in [first, end) with their tokens, paged from
    // first until the listing passes end or ends. why on failure.
    static bool listBlockTokens(CAmazonRESTAPIConnection& connection, const std::string& snapshotId,
                                const std::string& region, int64_t first, int64_t end,
                                std::vector<BlockTokenEntry>& blocks, int64_t& expiryMs, int64_t& volumeBlocks,
                                std::string& why);

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
    const TokenWindowShape m_tokenShape;
    std::mutex m_connectionsLock;   // guards the two below
    std::map<uint64_t, PooledConnection> m_connections;
    uint64_t m_useCount = 0;
    ReadWriteLock m_snapshotLock;
    // Shared so that a read that found an entry keeps it while a close
    // removes it from the cache.
    std::map<std::string, std::shared_ptr<SnapshotAccessInfo>> m_snapshots;
};

}  // namespace AmazonDirectSnapshotAccessAPI
