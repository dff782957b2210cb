#include "ebsdirect/AmazonDirectSnapshotAccessAPIWrapper.h"

#include <algorithm>
#include <new>
#include <shared_mutex>

#include "bridge/AmazonSDKBridge.h"
#include "common/BridgeCall.h"
#include "framework/EvDebug.h"
#include "framework/FileUtils.h"
#include "framework/KDPlatformInfo.h"

namespace AmazonDirectSnapshotAccessAPI {

namespace {
const char* const kTag = "CAmazonDirectSnapshotAccessAPIWrapper";
constexpr int32_t kDefaultTimeoutSeconds = 60;
// The fewest blocks a listing page may ask for.
constexpr int kFirstPageBlocks = 100;
}  // namespace

CAmazonDirectSnapshotAccessAPIWrapper::CAmazonDirectSnapshotAccessAPIWrapper(size_t maxConnections,
                                                                             TokenWindowShape shape)
    : m_maxConnections(std::max<size_t>(1, maxConnections)), m_tokenShape(shape) {}

CAmazonDirectSnapshotAccessAPIWrapper::~CAmazonDirectSnapshotAccessAPIWrapper() {
    {
        std::unique_lock<ReadWriteLock> lock(m_snapshotLock);
        m_snapshots.clear();
    }
    dropAllConnections();
}

bool CAmazonDirectSnapshotAccessAPIWrapper::Initialize(const std::string& keyOrRoleArn, const std::string& secretKey,
                                                       CAmazonSDKBridge* bridge) {
    {
        std::lock_guard<std::mutex> lock(m_bridgeLock);
        m_bridge = bridge;
    }
    const bool credentialsOk = initializeCredentials(keyOrRoleArn, secretKey);

    KDPlatformInfo settings;
    int timeout = kDefaultTimeoutSeconds;
    if (settings.getNumber("VirtualServer", "nAmazonDirectReadOperationTimeoutInSeconds", timeout)) {
        EvDebug::Debug(kTag, "Read additional setting [%s]: [%d]", "nAmazonDirectReadOperationTimeoutInSeconds",
                       timeout);
    }
    // Zero would let a silent endpoint hang a reader for ever, and libcurl
    // refuses a negative time-out.
    if (timeout < 1) timeout = kDefaultTimeoutSeconds;
    m_config.timeoutSeconds = timeout;
    bool validate = true;
    if (settings.getBoolean("VirtualServer", "bAmazonValidateDirectReadChecksum", validate)) {
        EvDebug::Debug(kTag, "Read additional setting [%s]: [%s]", "bAmazonValidateDirectReadChecksum",
                       validate ? "True" : "False");
    } else {
        validate = true;
    }
    m_config.validateChecksum = validate;
    m_initialized = credentialsOk;
    return credentialsOk;
}

size_t CAmazonDirectSnapshotAccessAPIWrapper::connectionCount() {
    std::lock_guard<std::mutex> lock(m_connectionsLock);
    return m_connections.size();
}

// ---- connections, one per reading thread ----

std::shared_ptr<CAmazonRESTAPIConnection> CAmazonDirectSnapshotAccessAPIWrapper::getRestApiConnection(
    uint64_t threadId) {
    {
        std::lock_guard<std::mutex> lock(m_connectionsLock);
        auto it = m_connections.find(threadId);
        if (it != m_connections.end()) {
            it->second.lastUse = ++m_useCount;
            return it->second.connection;
        }
    }
    // Built outside the lock: setting up a client must not hold up the
    // other threads' look-ups.
    std::shared_ptr<CAmazonRESTAPIConnection> connection = createNewRestApiConnection();
    if (!connection) return nullptr;
    std::lock_guard<std::mutex> lock(m_connectionsLock);
    if (m_connections.size() >= m_maxConnections) {
        auto oldest = std::min_element(m_connections.begin(), m_connections.end(), [](const auto& a, const auto& b) {
            return a.second.lastUse < b.second.lastUse;
        });
        EvDebug::DebugLvl(kTag, 2, "Dropping the connection of thread [%lu]: [%zu] connections are open.",
                          static_cast<unsigned long>(oldest->first), m_connections.size());
        m_connections.erase(oldest);
    }
    auto inserted = m_connections.emplace(threadId, PooledConnection{connection, ++m_useCount});
    if (!inserted.second) {
        EvDebug::Error(kTag, "Failed to insert connection object for thread [%lu] to cache.",
                       static_cast<unsigned long>(threadId));
        return nullptr;
    }
    return connection;
}

void CAmazonDirectSnapshotAccessAPIWrapper::dropAllConnections() {
    std::map<uint64_t, PooledConnection> dropped;
    {
        std::lock_guard<std::mutex> lock(m_connectionsLock);
        dropped.swap(m_connections);
    }
    // Closed outside the lock; a read in flight keeps its own until it ends.
}

std::unique_ptr<CAmazonRESTAPIConnection> CAmazonDirectSnapshotAccessAPIWrapper::createNewRestApiConnection() {
    EvDebug::DebugLvl(kTag, 2, "Creating rest api connection.");
    std::unique_ptr<CAmazonRESTAPIConnection> connection(new (std::nothrow) CAmazonRESTAPIConnection());
    if (!connection || !connection->initialize(getCredentialsCopy(), &refreshCredentialsCallBack, this, &m_config)) {
        EvDebug::Error(kTag, "Failed to initialize API connection.");
        return nullptr;
    }
    return connection;
}

// ---- snapshot access cache ----

bool CAmazonDirectSnapshotAccessAPIWrapper::FillSnapshotAccessInfo(const std::string& snapshotId,
                                                                   const std::string& region, std::string& why) {
    return fetchSnapshotAccessInfo(snapshotId, region, why);
}

bool CAmazonDirectSnapshotAccessAPIWrapper::fetchSnapshotAccessInfo(const std::string& snapshotId,
                                                                    const std::string& region, std::string& why) {
    // One short page: the block size, and the word that the snapshot may be
    // listed at all, without holding any of its tokens yet.
    int blockSize = 0;
    VMInfoStructs::SDiskChangeInfo firstPage;
    bool listed = false;
    std::string error;
    {
        std::lock_guard<std::mutex> lock(m_bridgeLock);
        listed = m_bridge && AmazonCommon::BridgeCall(
                                 *m_bridge, kTag,
                                 [&] {
                                     return m_bridge->GetAllocatedBlockPage(snapshotId, region, kFirstPageBlocks,
                                                                            firstPage, blockSize);
                                 },
                                 error, "Failed to get direct snasphot access info for snapshot: [%s]: %s",
                                 snapshotId.c_str());
    }
    if (!listed) {
        if (!m_bridge) EvDebug::Error(kTag, "No bridge to open snapshot [%s] with.", snapshotId.c_str());
        why = m_bridge ? "listing its blocks failed: " + error : std::string("no connection to list its blocks");
        return false;
    }
    auto info = std::make_shared<SnapshotAccessInfo>(snapshotId, blockSize, m_tokenShape, kTokenExpiryMarginMs);
    std::unique_lock<ReadWriteLock> lock(m_snapshotLock);
    if (!m_snapshots.emplace(snapshotId, std::move(info)).second) {
        EvDebug::Error(kTag, "Failed to insert access info for snapshot [%s] to cache.", snapshotId.c_str());
        why = "it is open already";
        return false;
    }
    return true;
}

bool CAmazonDirectSnapshotAccessAPIWrapper::ClearSnapshotAccessInfo(const std::string& snapshotId) {
    bool noneOpen = false;
    {
        std::unique_lock<ReadWriteLock> lock(m_snapshotLock);
        if (m_snapshots.erase(snapshotId) == 0)
            EvDebug::Error(kTag, "Could not find access info for snapshot [%s] in the cache.", snapshotId.c_str());
        noneOpen = m_snapshots.empty();
    }
    // The next disk is read by threads of its own; the finished readers'
    // connections would only hold sockets.
    if (noneOpen) dropAllConnections();
    return true;
}

std::shared_ptr<SnapshotAccessInfo> CAmazonDirectSnapshotAccessAPIWrapper::getSnapshotAccessInfo(
    const std::string& snapshotId) {
    std::shared_lock<ReadWriteLock> lock(m_snapshotLock);
    auto it = m_snapshots.find(snapshotId);
    if (it == m_snapshots.end()) {
        EvDebug::Error(kTag, "Could not find access info for snapshot [%s] in the cache.", snapshotId.c_str());
        return nullptr;
    }
    return it->second;
}

bool CAmazonDirectSnapshotAccessAPIWrapper::tokenStats(const std::string& snapshotId, TokenWindowStats& stats) {
    std::shared_ptr<SnapshotAccessInfo> info = getSnapshotAccessInfo(snapshotId);
    if (!info) return false;
    stats = info->tokens.Stats();
    return true;
}

// ---- reads ----

bool CAmazonDirectSnapshotAccessAPIWrapper::ReadFromSnapshot(const std::string& snapshotId,
                                                             const std::string& region, long long offset,
                                                             long long length, unsigned char* buffer,
                                                             std::string& why) {
    // Every failure is logged and told to the caller in the same words.
    auto fail = [&](const std::string& text) {
        EvDebug::Error(kTag, "Cannot read [%lld] bytes at [%lld] of snapshot [%s]: %s", length, offset,
                       snapshotId.c_str(), text.c_str());
        why = text;
        return false;
    };
    std::shared_ptr<CAmazonRESTAPIConnection> connection = getRestApiConnection(FwThread::CurrentThreadId());
    if (!connection) return fail("no HTTPS client for the EBS direct APIs could be set up");
    std::shared_ptr<SnapshotAccessInfo> info = getSnapshotAccessInfo(snapshotId);
    if (!info) return fail("snapshot " + snapshotId + " was not opened for reading");
    const int64_t blockSize = info->blockSize;
    if (blockSize <= 0) return fail("snapshot " + snapshotId + " has no block size");
    // A range that does not fall on block boundaries would be read shorter
    // or shifted, handing the caller other bytes than it asked for.
    if (offset < 0 || length < 0 || offset % blockSize != 0 || length % blockSize != 0)
        return fail("the range is not a whole number of blocks of " + std::to_string(blockSize) + " bytes");
    if (length > 0 && !buffer) return fail("no buffer to read into");
    const int64_t first = offset / blockSize;
    const int64_t count = length / blockSize;
    BlockTokenWindows::Reading reading(info->tokens, first);
    const BlockTokenWindows::Lister list = windowLister(*connection, *info, region);
    for (int64_t i = 0; i < count; ++i) {
        const int64_t index = first + i;
        unsigned char* destination = buffer + i * blockSize;
        uint64_t received = 0;
        std::string cause;
        if (!readBlock(*connection, *info, reading, list, region, index, destination, received, cause))
            return fail("block " + std::to_string(index) + " of " + snapshotId + ": " + cause);
        if (received != static_cast<uint64_t>(blockSize))
            return fail("block " + std::to_string(index) + " of " + snapshotId + " came with " +
                        std::to_string(received) + " bytes, not " + std::to_string(blockSize));
    }
    return true;
}

bool CAmazonDirectSnapshotAccessAPIWrapper::getSnapshotBlock(CAmazonRESTAPIConnection& connection,
                                                             const std::string& snapshotId, const std::string& region,
                                                             int64_t index, const std::string& token,
                                                             unsigned char* destination, int64_t blockSize,
                                                             uint64_t& received) {
    AWSRequestOptions options;
    options.region = region;
    options.service = "ebs";
    options.downloadBuffer = destination;
    options.downloadBufferSize = static_cast<uint64_t>(blockSize);
    options.queryParameters = {{"blockToken", token}, {"Action", "GetSnapshotBlock"}, {"Version", "2020-05-11"}};
    std::string response;
    const std::string path = "/snapshots/" + snapshotId + "/blocks/" + std::to_string(index);
    if (!connection.get(path, response, &options)) return false;
    received = options.bytesReceived;
    return true;
}

}  // namespace AmazonDirectSnapshotAccessAPI
