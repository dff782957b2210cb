// The plug-in's EBS direct client against the simulated endpoints: where its
// credentials come from and how they are refreshed, its per-thread
// connections and snapshot access cache, block reads, and the check for an
// EBS VPC endpoint with its cached IP ranges.
#include <algorithm>
#include <thread>

#include "ebsdirect/DirectFixture.h"

using namespace ebsdirect_test;

namespace {

// Blocks 0, 1, 2 and 6 are allocated.
constexpr const char* kSnap = "snap-0a1b2c3d4e5fb0002";
constexpr const char* kRole = "arn:aws:iam::111122223333:role/VSABackupRole";

struct DirectClientTest : DirectEndpointTest {
    CAmazonDirectSnapshotAccessAPIWrapper client;

    bool UseAccessKey() { return client.Initialize(kAccessKey, kSecretKey, &bridge); }
    // The client on the typed-in keys, with kSnap open.
    bool OpenWithAccessKey() { return UseAccessKey() && client.FillSnapshotAccessInfo(kSnap, kRegion); }

    // Reads whole blocks of kSnap and compares them with the cloud's bytes.
    bool ReadMatches(CAmazonDirectSnapshotAccessAPIWrapper& reader, int64_t first, int64_t count) {
        std::vector<unsigned char> out(count * kBlock, 0xAA);
        return reader.ReadFromSnapshot(kSnap, kRegion, first * kBlock, count * kBlock, out.data()) &&
               std::string(out.begin(), out.end()) == cloud->ReadSnapshot(kSnap, first * kBlock, count * kBlock);
    }
};

}  // namespace

TEST_F(DirectClientTest, CredentialTypeFollowsTheKeyStrings) {
    bridge.issue = [this](int) { return Server().Credentials().IssueSession(kSourceAccount, 3600 * 1000); };
    const struct {
        const char* key;
        const char* secret;
        AWSCredentialType type;
        bool ok;
    } rows[] = {
        {"", "", AWSCredentialIAMRole, true},
        {kRole, "", AWSCredentialAssumeRole, true},
        {"arn:aws-cn:iam::111122223333:role/VSABackupRole", "", AWSCredentialAssumeRole, true},
        {"arn:aws-us-gov:iam::111122223333:role/VSABackupRole", "ignored", AWSCredentialAssumeRole, true},
        {kAccessKey, kSecretKey, AWSCredentialAccessKey, true},
        {"arn:aws:s3:::backup-bucket", "secret", AWSCredentialAccessKey, true},
        {kAccessKey, "", AWSCredentialInvalid, false},
        {"", kSecretKey, AWSCredentialInvalid, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.key) + " / " + row.secret);
        CAmazonDirectSnapshotAccessAPIWrapper wrapper;
        const int assumesBefore = bridge.assumeCalls;
        EXPECT_EQ(row.ok, wrapper.Initialize(row.key, row.secret, &bridge));
        EXPECT_EQ(row.ok, wrapper.IsInitialized());
        EXPECT_EQ(row.type, wrapper.credentialType());
        EXPECT_EQ(row.type == AWSCredentialAssumeRole ? 1 : 0, bridge.assumeCalls - assumesBefore);
        const AWSCredentials c = wrapper.getCredentialsCopy();
        if (row.type == AWSCredentialAccessKey) {
            EXPECT_EQ(row.key, c.accessKeyId);
            EXPECT_EQ(row.secret, c.secretAccessKey);
            EXPECT_EQ("", c.sessionToken);
        } else if (row.ok) {
            EXPECT_FALSE(c.sessionToken.empty());
            EXPECT_EQ(FwClock::NowSec(), c.issueTime);
        } else {
            EXPECT_EQ("", c.accessKeyId);
        }
    }
}

TEST_F(DirectClientTest, SessionCredentialsReadBlocksImdsv2FirstAndImdsv1OnlyWhenTokensAreRefused) {
    ASSERT_TRUE(client.Initialize("", "", &bridge));
    ASSERT_TRUE(client.FillSnapshotAccessInfo(kSnap, kRegion));
    EXPECT_TRUE(ReadMatches(client, 0, 1));
    EXPECT_EQ(0, Server().Metadata().V1Requests());

    Server().Metadata().SetRefuseTokens(true);
    CAmazonDirectSnapshotAccessAPIWrapper v1;
    ASSERT_TRUE(v1.Initialize("", "", &bridge));
    EXPECT_EQ(2, Server().Metadata().V1Requests());   // role name, then its credentials
    ASSERT_TRUE(v1.FillSnapshotAccessInfo(kSnap, kRegion));
    EXPECT_TRUE(ReadMatches(v1, 1, 1));

    // The cloud's own assumed-role session signs as well.
    CAmazonDirectSnapshotAccessAPIWrapper assumed;
    ASSERT_TRUE(assumed.Initialize(kRole, "", &bridge));
    ASSERT_TRUE(assumed.FillSnapshotAccessInfo(kSnap, kRegion));
    EXPECT_TRUE(ReadMatches(assumed, 2, 1));
    EXPECT_EQ(3, BlockCalls());
}

TEST_F(DirectClientTest, ReadsWholeBlocksAndUnallocatedOnesCostNoRequest) {
    ASSERT_TRUE(UseAccessKey());
    EXPECT_FALSE(ReadMatches(client, 0, 1)) << "no access information yet";
    ASSERT_TRUE(client.FillSnapshotAccessInfo(kSnap, kRegion));
    EXPECT_TRUE(ReadMatches(client, 2, 5));   // 2 and 6 allocated, 3 to 5 not
    EXPECT_EQ(2, BlockCalls());

    std::vector<unsigned char> out(2 * kBlock);
    const struct {
        long long offset;
        long long length;
    } misaligned[] = {{kBlock / 2, kBlock}, {0, kBlock + 512}, {0, 4096}, {-kBlock, kBlock}, {0, -kBlock}};
    for (const auto& range : misaligned)
        EXPECT_FALSE(client.ReadFromSnapshot(kSnap, kRegion, range.offset, range.length, out.data()))
            << range.offset << " + " << range.length;
    EXPECT_TRUE(client.ReadFromSnapshot(kSnap, kRegion, 6 * kBlock, 0, out.data()));
    EXPECT_EQ(2, BlockCalls());
}

TEST_F(DirectClientTest, EachReadingThreadKeepsItsOwnConnection) {
    ASSERT_TRUE(OpenWithAccessKey());
    std::atomic<int> done{0};
    std::atomic<int> bad{0};
    auto reader = [&](int64_t index) {
        if (!ReadMatches(client, index, 1)) ++bad;
        ++done;
        // Both threads stay alive until both have read, so their ids differ.
        while (done < 2) std::this_thread::yield();
    };
    std::thread a(reader, 0), b(reader, 1);
    a.join();
    b.join();
    EXPECT_EQ(0, bad.load());
    EXPECT_EQ(2u, client.connectionCount());
    EXPECT_TRUE(ReadMatches(client, 2, 1));
    EXPECT_EQ(3u, client.connectionCount());
    EXPECT_TRUE(ReadMatches(client, 6, 1));
    EXPECT_EQ(3u, client.connectionCount());
}

TEST_F(DirectClientTest, ReaderThreadsComeAndGoButConnectionsAreCappedAndDroppedWhenNoSnapshotIsOpen) {
    const size_t cap = 3;
    CAmazonDirectSnapshotAccessAPIWrapper pool(cap);
    ASSERT_TRUE(pool.Initialize(kAccessKey, kSecretKey, &bridge));
    ASSERT_TRUE(pool.FillSnapshotAccessInfo(kSnap, kRegion));
    ASSERT_TRUE(pool.FillSnapshotAccessInfo(kLaterSnapshot, kRegion));
    // Readers one after the other, as the disks of a long job bring their own.
    for (size_t t = 0; t < cap + 4; ++t) std::thread([&] { EXPECT_TRUE(ReadMatches(pool, 0, 1)); }).join();
    EXPECT_EQ(cap, pool.connectionCount());
    EXPECT_TRUE(ReadMatches(pool, 1, 1));
    EXPECT_EQ(cap, pool.connectionCount());

    ASSERT_TRUE(pool.ClearSnapshotAccessInfo(kLaterSnapshot));
    EXPECT_EQ(cap, pool.connectionCount()) << "a snapshot is still open";
    ASSERT_TRUE(pool.ClearSnapshotAccessInfo(kSnap));
    EXPECT_EQ(0u, pool.connectionCount());
    ASSERT_TRUE(pool.FillSnapshotAccessInfo(kSnap, kRegion));
    EXPECT_TRUE(ReadMatches(pool, 2, 1));
    EXPECT_EQ(1u, pool.connectionCount());
}

TEST_F(DirectClientTest, RefreshesOnReaderThreadsAndOpeningsOnTheJobThreadTakeTheBridgeInTurn) {
    // The real bridge and the cloud's own sessions. Some block reads are
    // called expired, so readers assume the role again while the job thread
    // opens and closes another disk through the same bridge. Three faults at
    // most: a read gives up after three refreshes, and two readers' calls
    // interleave so that one reader may meet every fault in a row.
    ASSERT_TRUE(client.Initialize(kRole, "", &bridge));
    ASSERT_TRUE(client.FillSnapshotAccessInfo(kSnap, kRegion));
    for (int nth : {2, 9, 20}) Server().Faults().Add({"GetSnapshotBlock", FaultKind::ExpiredToken, nth, 0});
    std::atomic<int> bad{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < 2; ++t)
        readers.emplace_back([&] {
            for (int i = 0; i < 6; ++i)
                if (!ReadMatches(client, 0, 3)) ++bad;
        });
    int opened = 0;
    for (int i = 0; i < 10; ++i) {
        opened += client.FillSnapshotAccessInfo(kLaterSnapshot, kRegion) ? 1 : 0;
        client.ClearSnapshotAccessInfo(kLaterSnapshot);
    }
    for (auto& r : readers) r.join();
    EXPECT_EQ(0, bad.load());
    EXPECT_EQ(10, opened);
    EXPECT_LE(2, bridge.assumeCalls.load()) << "the start, and refreshes";
    EXPECT_LE(1, Logged("Assume role session access key ID"));
}

TEST_F(DirectClientTest, ReadsInFlightSurviveTheirSnapshotBeingClosedAndReopened) {
    ASSERT_TRUE(OpenWithAccessKey());
    const std::string expected = cloud->ReadSnapshot(kSnap, 0, 3 * kBlock);
    std::atomic<int> wrong{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < 4; ++t) {
        readers.emplace_back([&] {
            std::vector<unsigned char> out(3 * kBlock);
            // A read either finds the entry and completes with it, or finds
            // none and fails; it never reads through a freed one.
            for (int i = 0; i < 8; ++i)
                if (client.ReadFromSnapshot(kSnap, kRegion, 0, 3 * kBlock, out.data()) &&
                    std::string(out.begin(), out.end()) != expected)
                    ++wrong;
        });
    }
    for (int i = 0; i < 20; ++i) {
        client.ClearSnapshotAccessInfo(kSnap);
        client.FillSnapshotAccessInfo(kSnap, kRegion);
    }
    for (auto& r : readers) r.join();
    EXPECT_EQ(0, wrong.load());
    EXPECT_TRUE(ReadMatches(client, 0, 3));
}

TEST_F(DirectClientTest, SnapshotAccessIsFilledOnceUntilCleared) {
    ASSERT_TRUE(UseAccessKey());
    EXPECT_FALSE(client.FillSnapshotAccessInfo("snap-0000000000000dead", kRegion));
    ASSERT_TRUE(client.FillSnapshotAccessInfo(kSnap, kRegion));
    EXPECT_FALSE(client.FillSnapshotAccessInfo(kSnap, kRegion));
    EXPECT_TRUE(ReadMatches(client, 0, 1)) << "the first entry stays usable";
    EXPECT_TRUE(client.ClearSnapshotAccessInfo(kSnap));
    EXPECT_FALSE(ReadMatches(client, 0, 1));
    EXPECT_TRUE(client.ClearSnapshotAccessInfo(kSnap)) << "clearing what is gone is harmless";
    ASSERT_TRUE(client.FillSnapshotAccessInfo(kSnap, kRegion));
    EXPECT_TRUE(ReadMatches(client, 1, 1));
    EXPECT_EQ(4, bridge.accessInfoCalls.load());
}

TEST_F(DirectClientTest, ATokenRefusedAsInvalidOrNearItsExpiryIsListedAgainAndTheBlockReadOnceMore) {
    ASSERT_TRUE(OpenWithAccessKey());
    auto listings = [this] {
        TokenWindowStats stats;
        EXPECT_TRUE(client.tokenStats(kSnap, stats));
        return static_cast<int>(stats.listings);
    };

    // The window is listed for the first read, and again when its token is
    // refused.
    Server().Faults().Add({"GetSnapshotBlock", FaultKind::InvalidBlockToken, 1, 0});
    EXPECT_TRUE(ReadMatches(client, 6, 1));
    EXPECT_EQ(2, listings());
    EXPECT_EQ(2, BlockCalls());

    // The listing's expiry stays with its tokens: used as they are until the
    // clock nears it, then listed again before one is sent; one listing
    // renews every block of the read.
    env.Clock().AdvanceMs(24 * 3600 * 1000);
    EXPECT_TRUE(ReadMatches(client, 6, 1));
    EXPECT_EQ(2, listings());
    env.Clock().AdvanceMs(6LL * 24 * 3600 * 1000 - 30 * 1000);
    EXPECT_TRUE(ReadMatches(client, 0, 3));
    EXPECT_EQ(3, listings());
    EXPECT_EQ(6, BlockCalls()) << "no block request was refused";

    // Refused every time: listed once more, read once more, then given up.
    Server().Faults().Add({"GetSnapshotBlock", FaultKind::InvalidBlockToken, 0, 0});
    EXPECT_FALSE(ReadMatches(client, 6, 1));
    EXPECT_EQ(4, listings());
    EXPECT_EQ(8, BlockCalls());

    // Past its expiry it is listed again before a token goes out, and then
    // refused: not renewed twice in one read.
    env.Clock().AdvanceMs(7LL * 24 * 3600 * 1000);
    EXPECT_FALSE(ReadMatches(client, 6, 1));
    EXPECT_EQ(5, listings());
    EXPECT_EQ(9, BlockCalls());
    EXPECT_EQ(0, env.Clock().TotalSleptMs());
}

// The listing says how large the volume is: nothing is listed ahead past
// its end, and the last window ends at the volume's last block.
TEST_F(DirectClientTest, ListingStopsAtAFullWindowAndAtTheVolumesEnd) {
    ASSERT_TRUE(UseAccessKey());
    // 125 blocks: the first two windows hold exactly the 250 allocated ones.
    CAmazonDirectSnapshotAccessAPIWrapper windowed(CAmazonDirectSnapshotAccessAPIWrapper::kMaxConnections,
                                                   TokenWindowShape{125, 4});
    ASSERT_TRUE(windowed.Initialize(kAccessKey, kSecretKey, &bridge));
    ASSERT_TRUE(windowed.FillSnapshotAccessInfo(kBigSnapshot, kRegion));
    const int pagesBefore = Server().Faults().Calls("ListSnapshotBlocks");
    const int64_t volumeBlocks = (1LL << 30) / kBlock, chunk = 64;
    for (int64_t first = 0; first < volumeBlocks; first += chunk) {
        std::vector<unsigned char> out(chunk * kBlock);
        ASSERT_TRUE(windowed.ReadFromSnapshot(kBigSnapshot, kRegion, first * kBlock, chunk * kBlock, out.data()));
        if (first < 256) {
            ASSERT_EQ(cloud->ReadSnapshot(kBigSnapshot, first * kBlock, chunk * kBlock),
                      std::string(out.begin(), out.end()));
        }
    }
    TokenWindowStats stats;
    ASSERT_TRUE(windowed.tokenStats(kBigSnapshot, stats));
    const uint64_t windows = (volumeBlocks + 124) / 125;
    EXPECT_EQ(windows, stats.listings) << "each window once, none past the end";
    // The endpoint ends some pages short or empty, as AWS may; a full
    // window's listing still ends at its last block instead of asking on.
    EXPECT_EQ(0, Logged("did not pass block"));
    EXPECT_LE(windows, static_cast<uint64_t>(Server().Faults().Calls("ListSnapshotBlocks") - pagesBefore));
}

// Windows narrower and wider than a listing page, over a snapshot whose 250
// blocks the endpoint pages short, empty and across NextToken boundaries:
// every allocated block is read once with its own token, none is lost or
// listed twice, and only the windows around the reader stay held.
TEST_F(DirectClientTest, WindowsListedAcrossPagesLoseNoBlockAndFollowTheReader) {
    const struct {
        int64_t windowBlocks;
        size_t maxWindows;
    } shapes[] = {{7, 1}, {32, 2}, {1000, 4}};
    for (const auto& shape : shapes) {
        SCOPED_TRACE(shape.windowBlocks);
        CAmazonDirectSnapshotAccessAPIWrapper windowed(CAmazonDirectSnapshotAccessAPIWrapper::kMaxConnections,
                                                       TokenWindowShape{shape.windowBlocks, shape.maxWindows});
        ASSERT_TRUE(windowed.Initialize(kAccessKey, kSecretKey, &bridge));
        ASSERT_TRUE(windowed.FillSnapshotAccessInfo(kBigSnapshot, kRegion));
        TokenWindowStats stats;
        ASSERT_TRUE(windowed.tokenStats(kBigSnapshot, stats));
        EXPECT_EQ(0u, stats.listings) << "opening lists no window";
        const int blocksBefore = BlockCalls();
        const int pagesBefore = Server().Faults().Calls("ListSnapshotBlocks");
        const int64_t reads = 300, chunk = 4;   // beyond the 250 allocated
        size_t mostHeld = 0;
        for (int64_t first = 0; first < reads; first += chunk) {
            std::vector<unsigned char> out(chunk * kBlock);
            ASSERT_TRUE(windowed.ReadFromSnapshot(kBigSnapshot, kRegion, first * kBlock, chunk * kBlock, out.data()));
            ASSERT_EQ(cloud->ReadSnapshot(kBigSnapshot, first * kBlock, chunk * kBlock),
                      std::string(out.begin(), out.end()))
                << "blocks from " << first;
            ASSERT_TRUE(windowed.tokenStats(kBigSnapshot, stats));
            mostHeld = std::max(mostHeld, stats.windows);
        }
        EXPECT_EQ(250, BlockCalls() - blocksBefore) << "each allocated block once, no other";
        const int windows = static_cast<int>((reads + shape.windowBlocks - 1) / shape.windowBlocks);
        EXPECT_LE(static_cast<uint64_t>(windows), stats.listings);
        EXPECT_GE(static_cast<uint64_t>(windows) + 1, stats.listings) << "at most one listed ahead";
        EXPECT_LE(windows, Server().Faults().Calls("ListSnapshotBlocks") - pagesBefore);
        EXPECT_LE(mostHeld, std::min<size_t>(2, shape.maxWindows));
        ASSERT_TRUE(windowed.ClearSnapshotAccessInfo(kBigSnapshot));
    }
    EXPECT_EQ(0, Logged("Block token cache insert failed"));
}

TEST_F(DirectClientTest, BlockShorterThanTheReportedBlockSizeFailsTheRead) {
    bridge.reportedBlockSize = 1 << 20;
    ASSERT_TRUE(OpenWithAccessKey());
    std::vector<unsigned char> out(1 << 20);
    std::string why;
    EXPECT_FALSE(client.ReadFromSnapshot(kSnap, kRegion, 0, 1 << 20, out.data(), why));
    EXPECT_EQ(std::string("block 0 of ") + kSnap + " came with 524288 bytes, not 1048576", why);
    EXPECT_EQ(1, BlockCalls());
}

TEST_F(DirectClientTest, TypedInKeysCannotBeRefreshedAndChecksumCheckingFollowsTheSetting) {
    ASSERT_TRUE(UseAccessKey());
    EXPECT_TRUE(client.configuration().validateChecksum);
    ASSERT_TRUE(client.FillSnapshotAccessInfo(kSnap, kRegion));
    Server().Faults().Add({"GetSnapshotBlock", FaultKind::ExpiredToken, 1, 0});
    EXPECT_FALSE(ReadMatches(client, 0, 1));
    EXPECT_EQ(1, BlockCalls());
    EXPECT_EQ(1, Logged("Invalid credential type for refresh: [2]"));

    TestEnv::SetSetting("VirtualServer", "bAmazonValidateDirectReadChecksum", "false");
    Server().Faults().Add({"GetSnapshotBlock", FaultKind::WrongChecksum, 0, 0});
    CAmazonDirectSnapshotAccessAPIWrapper trusting;
    ASSERT_TRUE(trusting.Initialize(kAccessKey, kSecretKey, &bridge));
    EXPECT_FALSE(trusting.configuration().validateChecksum);
    ASSERT_TRUE(trusting.FillSnapshotAccessInfo(kSnap, kRegion));
    EXPECT_TRUE(ReadMatches(trusting, 0, 1));
    EXPECT_EQ(2, BlockCalls());
    EXPECT_EQ(0, env.Clock().TotalSleptMs());
}

TEST_F(DirectClientTest, TwoThreadsMeetingAnExpiredAssumedRoleFetchOneNewSession) {
    bridge.issue = [this](int call) {
        return Server().Credentials().IssueSession(kSourceAccount, call == 1 ? 60 * 1000 : 3600 * 1000);
    };
    ASSERT_TRUE(client.Initialize(kRole, "", &bridge));
    ASSERT_TRUE(client.FillSnapshotAccessInfo(kSnap, kRegion));
    std::atomic<int> ready{0};
    std::atomic<bool> expired{false};
    std::atomic<int> bad{0};
    auto reader = [&](int64_t index) {
        if (!ReadMatches(client, index, 1)) ++bad;
        ++ready;
        while (!expired) std::this_thread::yield();
        if (!ReadMatches(client, index, 1)) ++bad;
    };
    std::thread a(reader, 0), b(reader, 6);
    while (ready < 2) std::this_thread::yield();
    env.Clock().AdvanceMs(120 * 1000);   // past the first session's end
    expired = true;
    a.join();
    b.join();
    EXPECT_EQ(0, bad.load());
    EXPECT_EQ(2u, client.connectionCount());
    EXPECT_EQ(2, bridge.assumeCalls.load()) << "one session at start, one refresh for both threads";
    EXPECT_EQ(1, Logged("Providing already updated credentials"));
    EXPECT_EQ(FwClock::NowSec(), client.getCredentialsCopy().issueTime);
}

namespace {

struct VpcCheckTest : DirectEndpointTest {
    std::string cacheFolder = env.BaseDir() + "/cache";
    std::string cacheFile = cacheFolder + "/aws-public-ip-ranges.json";

    static void Resolve(const std::string& address) {
        TestEnv::SetSetting("Base", "sHostAddresses", "ebs.us-east-1.amazonaws.com=" + address);
    }
    bool Check(bool& configured) {
        return CAmazonDirectSnapshotAccessAPIWrapper::CheckIfEbsVpcEndpointIsConfigured(kRegion, cacheFolder,
                                                                                         configured);
    }
    int Downloads() { return Server().Faults().Calls("IpRanges"); }
};

}  // namespace

TEST_F(VpcCheckTest, EndpointOutsideTheAmazonRangesIsAVpcEndpoint) {
    const struct {
        const char* address;
        bool ok;
        bool configured;
    } rows[] = {
        {"10.0.5.7", true, true},        // private: an interface endpoint
        {"52.10.200.3", true, false},    // us-east-1's AMAZON range
        {"52.11.0.1", true, false},      // another region's, still public
        {"52.12.0.1", true, true},
        {"2600:1f10::5", false, false},  // IPv6 cannot be told
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.address);
        Resolve(row.address);
        bool configured = !row.configured;
        ASSERT_EQ(row.ok, Check(configured));
        if (row.ok) {
            EXPECT_EQ(row.configured, configured);
        }
    }
    EXPECT_EQ(1, Downloads());
}

TEST_F(VpcCheckTest, CachedRangesServeForExactlyOneDay) {
    Resolve("10.0.5.7");
    bool configured = false;
    ASSERT_TRUE(Check(configured));
    EXPECT_EQ(1, Downloads());
    EXPECT_EQ(FwClock::NowSec(), FwFile::ModifiedTimeSec(cacheFile));

    env.Clock().AdvanceMs(86400 * 1000LL);
    ASSERT_TRUE(Check(configured));
    EXPECT_EQ(1, Downloads());

    env.Clock().AdvanceMs(1000);
    ASSERT_TRUE(Check(configured));
    EXPECT_EQ(2, Downloads());
    EXPECT_EQ(FwClock::NowSec(), FwFile::ModifiedTimeSec(cacheFile));
    EXPECT_TRUE(configured);
}

TEST_F(VpcCheckTest, UnusableRangesFailTheCheck) {
    Resolve("52.10.0.9");
    ASSERT_TRUE(FwFile::MakeDirs(cacheFolder));
    const char* cached[] = {
        "<html>not json",
        "{}",
        R"({"prefixes": {"ip_prefix": "52.10.0.0/16", "service": "AMAZON"}})",
        R"({"prefixes": [{"ip_prefix": "52.10.0.0/99", "service": "AMAZON"}]})",
    };
    for (const char* text : cached) {
        SCOPED_TRACE(text);
        ASSERT_TRUE(FwFile::WriteAllAtomic(cacheFile, text));
        ASSERT_TRUE(FwFile::SetModifiedTimeSec(cacheFile, FwClock::NowSec()));
        bool configured = true;
        EXPECT_FALSE(Check(configured));
    }
    EXPECT_EQ(0, Downloads()) << "a fresh cache file is not downloaded again";

    // An expired cache whose download fails fails the check but is kept.
    env.Clock().AdvanceMs(86401 * 1000LL);
    Server().Faults().Add({"IpRanges", FaultKind::InternalError, 0, 0});
    bool configured = true;
    EXPECT_FALSE(Check(configured));
    EXPECT_EQ(1, Downloads());
    EXPECT_TRUE(FwFile::Exists(cacheFile));
}

TEST(DirectClientSettings, TimeOutAndChecksumFollowTheSettingsAndNonsenseKeepsTheDefaults) {
    TestEnv env;
    const struct {
        const char* timeout;   // nullptr: not set
        const char* checksum;
        int32_t wantTimeout;
        bool wantChecksum;
    } rows[] = {
        {nullptr, nullptr, 60, true}, {"30", "false", 30, false}, {"0", "true", 60, true},
        {"-5", "maybe", 60, true},    {"abc", nullptr, 60, true},
    };
    for (const auto& row : rows) {
        TestEnv::SetSetting("VirtualServer", "nAmazonDirectReadOperationTimeoutInSeconds", row.timeout ? row.timeout : "");
        TestEnv::SetSetting("VirtualServer", "bAmazonValidateDirectReadChecksum", row.checksum ? row.checksum : "");
        CAmazonDirectSnapshotAccessAPIWrapper client;
        ASSERT_TRUE(client.Initialize("AKIAEXAMPLE", "secret", nullptr));
        EXPECT_EQ(row.wantTimeout, client.configuration().timeoutSeconds) << (row.timeout ? row.timeout : "unset");
        EXPECT_EQ(row.wantChecksum, client.configuration().validateChecksum) << (row.checksum ? row.checksum : "unset");
    }
}
