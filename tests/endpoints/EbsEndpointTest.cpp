// The EBS direct APIs over real TLS: block bytes and checksums from the
// simulated cloud, block listings page by page, changed blocks between
// related snapshots, and AWS's answers for bad, foreign, pending, malformed
// and expired requests.
#include <openssl/sha.h>

#include "cloudsim/BlockToken.h"
#include "cloudsim/endpoints/Digest.h"
#include "cloudsim/endpoints/EbsPages.h"
#include "endpoints/EndpointFixture.h"

using namespace endpoints_test;

namespace {

std::string TokenQuery(const std::string& snapshot, int64_t index) {
    return "blockToken=" + UriEncode(cloudsim::BlockToken(snapshot, index), true);
}

std::string BlocksPath(const std::string& snapshot) { return "/snapshots/" + snapshot + "/blocks"; }
std::string ChangedPath(const std::string& snapshot) { return "/snapshots/" + snapshot + "/changedblocks"; }

bool Padded(const std::string& token) { return !token.empty() && token.back() == '='; }

class EbsListingTest : public EndpointTest {
protected:
    struct Listing {
        nlohmann::json entries = nlohmann::json::array();
        std::vector<std::string> tokens;   // NextToken of every page but the last
        int pages = 0;
        int shortPages = 0;                // fewer than maxResults, with a NextToken
        int emptyPages = 0;                // none at all, with a NextToken
    };

    // Every page of a listing, in order; each must answer 200 within max.
    Listing PageThrough(const std::string& path, const std::string& query, const char* member, size_t max) {
        Listing out;
        std::string next;
        do {
            std::string q = query + (query.empty() ? "" : "&") + "maxResults=" + std::to_string(max) +
                            (next.empty() ? "" : "&pageToken=" + UriEncode(next, true));
            auto res = SignedGet(path, q);
            if (!res || res->status != 200) {
                ADD_FAILURE() << path << "?" << q << ": " << (res ? res->body : httplib::to_string(res.error()));
                return out;
            }
            nlohmann::json page = nlohmann::json::parse(res->body);
            EXPECT_EQ(page["BlockSize"], 524288);
            EXPECT_EQ(page["VolumeSize"], 1);
            EXPECT_DOUBLE_EQ(page["ExpiryTime"].get<double>(),
                             static_cast<double>(FwClock::NowMs() + cloudsim::kBlockTokenLifetimeMs) / 1000.0);
            EXPECT_LE(page[member].size(), max);
            for (const auto& entry : page[member]) out.entries.push_back(entry);
            next = page.value("NextToken", "");
            if (!next.empty()) {
                out.tokens.push_back(next);
                out.shortPages += page[member].size() < max;
                out.emptyPages += page[member].empty();
            }
            ++out.pages;
        } while (!next.empty() && out.pages < 100);
        EXPECT_TRUE(next.empty()) << "the listing never ends";
        return out;
    }
};

}  // namespace

TEST_F(EndpointTest, GetSnapshotBlockReturnsTheCloudsBytesWithTheirChecksum) {
    std::vector<int64_t> blocks = cloud->SnapshotBlocks(kBigSnapshot);
    ASSERT_FALSE(blocks.empty());
    int64_t index = blocks[7];
    auto res = SignedGet(BlockPath(kBigSnapshot, index), TokenQuery(kBigSnapshot, index));
    ASSERT_TRUE(res) << httplib::to_string(res.error());
    ASSERT_EQ(res->status, 200) << res->body;
    std::string expected = cloud->ReadSnapshot(kBigSnapshot, index * cloudsim::kBlockSize, cloudsim::kBlockSize);
    EXPECT_EQ(res->body, expected);
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256(reinterpret_cast<const unsigned char*>(expected.data()), expected.size(), digest);
    EXPECT_EQ(res->get_header_value("x-amz-Checksum"),
              Base64(std::string(reinterpret_cast<char*>(digest), sizeof digest)));
    EXPECT_EQ(res->get_header_value("x-amz-Checksum-Algorithm"), "SHA256");
    EXPECT_EQ(res->get_header_value("x-amz-Data-Length"), std::to_string(cloudsim::kBlockSize));
}

TEST_F(EndpointTest, BadTokensUnknownSnapshotsAndUntrustedClientsAreRefused) {
    EXPECT_EQ("400 ValidationException INVALID_BLOCK_TOKEN",
              Answer(SignedGet(BlockPath(kBigSnapshot, 3), TokenQuery(kBigSnapshot, 4))));
    EXPECT_EQ("404 ResourceNotFoundException SNAPSHOT_NOT_FOUND",
              Answer(SignedGet(BlockPath("snap-0000000000000dead", 0), TokenQuery("snap-0000000000000dead", 0))));
    EXPECT_EQ("403 UnrecognizedClientException",
              Answer(SignedGet(BlockPath(kBigSnapshot, 3), TokenQuery(kBigSnapshot, 3), "AKIAUNKNOWN000000001")));
    EXPECT_EQ("403 SignatureDoesNotMatch",
              Answer(SignedGet(BlockPath(kBigSnapshot, 3), TokenQuery(kBigSnapshot, 3), kAccessKey, "wrong")));

    // A client that does not trust the throwaway CA cannot connect at all.
    httplib::SSLClient untrusting("localhost", Server().EbsPort());
    untrusting.set_ca_cert_path(env.BaseDir().c_str());
    untrusting.enable_server_certificate_verification(true);
    EXPECT_FALSE(untrusting.Get("/snapshots/x/blocks"));
}

TEST_F(EbsListingTest, ListSnapshotBlocksPagesThroughEveryBlockWithItsToken) {
    // AWS's pages may be short or empty with a NextToken, and its tokens are
    // base64, at times padded: so are these, whatever the page size, and a
    // client that stops at a short page or signs "=" wrongly fails on them.
    int shortPages = 0, emptyPages = 0, paddedPageTokens = 0, paddedBlockTokens = 0;
    for (size_t max : {100, 117, 150}) {
        Listing listing = PageThrough(BlocksPath(kBigSnapshot), "", "Blocks", max);
        std::vector<int64_t> seen;
        for (const auto& block : listing.entries) {
            seen.push_back(block["BlockIndex"]);
            EXPECT_EQ(block["BlockToken"], cloudsim::BlockToken(kBigSnapshot, block["BlockIndex"]));
            paddedBlockTokens += Padded(block["BlockToken"]);
        }
        EXPECT_EQ(seen, cloud->SnapshotBlocks(kBigSnapshot)) << "maxResults " << max;
        for (const auto& token : listing.tokens) paddedPageTokens += Padded(token);
        shortPages += listing.shortPages;
        emptyPages += listing.emptyPages;
    }
    EXPECT_GT(shortPages, emptyPages) << "no short page that is not empty";
    EXPECT_GT(emptyPages, 0);
    EXPECT_GT(paddedPageTokens, 0);
    EXPECT_GT(paddedBlockTokens, 0);

    auto fromIndex = SignedGet(BlocksPath(kBigSnapshot), "startingBlockIndex=240");
    ASSERT_TRUE(fromIndex);
    EXPECT_LE(nlohmann::json::parse(fromIndex->body)["Blocks"].size(), 10u);

    EXPECT_EQ("400 ValidationException INVALID_PARAMETER_VALUE",
              Answer(SignedGet(BlocksPath(kBigSnapshot), "maxResults=99")));
    const std::string foreign = cloudsim::PageToken(kBigSnapshot, {100, 0, FwClock::NowMs()});
    EXPECT_EQ("400 ValidationException INVALID_PAGE_TOKEN",
              Answer(SignedGet(BlocksPath(kLaterSnapshot), "pageToken=" + UriEncode(foreign, true))));
}

TEST_F(EbsListingTest, ListChangedBlocksNamesOnlyBlocksWhoseContentDiffers) {
    Listing listing = PageThrough(ChangedPath(kLaterSnapshot), std::string("firstSnapshotId=") + kBigSnapshot,
                                  "ChangedBlocks", 100);
    const nlohmann::json& changed = listing.entries;
    ASSERT_EQ(changed.size(), 241u);   // 10..249 dropped, 260 added
    EXPECT_EQ(changed.front()["BlockIndex"], 10);
    EXPECT_EQ(changed.front()["FirstBlockToken"], cloudsim::BlockToken(kBigSnapshot, 10));
    EXPECT_FALSE(changed.front().contains("SecondBlockToken"));
    EXPECT_EQ(changed.back()["BlockIndex"], 260);
    EXPECT_EQ(changed.back()["SecondBlockToken"], cloudsim::BlockToken(kLaterSnapshot, 260));
    EXPECT_FALSE(changed.back().contains("FirstBlockToken"));

    // A snapshot of a volume created from kBigSnapshot is of its lineage;
    // a snapshot of another volume is not.
    EXPECT_EQ("200", Answer(SignedGet(ChangedPath(kRestoredSnapshot), std::string("firstSnapshotId=") + kBigSnapshot)));
    EXPECT_EQ("400 ValidationException UNRELATED_SNAPSHOTS",
              Answer(SignedGet(ChangedPath(kLaterSnapshot), "firstSnapshotId=snap-0a1b2c3d4e5fb0001")));
}

TEST(EbsPagesTest, APageCostsWhatItListsNotWhatTheSnapshotsHold) {
    // Two large snapshots differing in a few blocks at the end, and a large
    // snapshot listed whole: the first page's work is bounded by its size.
    cloudsim::BlockMap same, changed;
    for (int64_t i = 0; i < 200000; ++i) same[i] = changed[i] = "block " + std::to_string(i);
    for (int64_t i = 199990; i < 200000; ++i) changed[i] = "new " + std::to_string(i);
    const cloudsim::endpoints::PageLimits limits = cloudsim::endpoints::PageShape("pair", 0, 0, 100);
    cloudsim::endpoints::BlockPage page = cloudsim::endpoints::ChangedPage(same, changed, 0, limits);
    EXPECT_TRUE(page.more);
    EXPECT_LE(page.visited, 4 * 100);
    page = cloudsim::endpoints::ChangedPage({}, same, 1000, {100, 400});
    EXPECT_EQ(page.entries.size(), 100u);
    EXPECT_EQ(page.visited, 100);
    EXPECT_EQ(page.next, 1100);

    // Paged to the end, the pages still find exactly the changed blocks.
    std::vector<int64_t> found;
    int64_t next = 0;
    int stalls = 0, pages = 0;
    for (bool more = true; more && pages < 5000; ++pages) {
        page = cloudsim::endpoints::ChangedPage(same, changed, next,
                                                cloudsim::endpoints::PageShape("pair", next, stalls, 100));
        for (const auto& entry : page.entries) found.push_back(entry.index);
        EXPECT_LE(page.visited, 400);
        stalls = page.next == next ? stalls + 1 : 0;
        more = page.more;
        next = page.next;
    }
    std::vector<int64_t> expected;
    for (int64_t i = 199990; i < 200000; ++i) expected.push_back(i);
    EXPECT_EQ(found, expected);
}

TEST_F(EbsListingTest, OnlyTheOwnersCompletedSnapshotsAreServed) {
    cloud->Write([](cloudsim::State& s) { s.snapshots.at(kRestoredSnapshot).state = "pending"; });
    struct Case {
        const char* what;
        std::string path, query, accessKey, secret;
        const char* answer;
    };
    const std::string admin = demo::kAdminKey, adminSecret = demo::kAdminSecret;
    const std::string publicSnap = "snap-0c55b159cbfafe1f0";   // another account's, public
    const char* const kForeign = "403 AccessDeniedException UNAUTHORIZED_ACCOUNT";
    const char* const kPending = "400 ValidationException INVALID_SNAPSHOT_ID";
    const Case cases[] = {
        {"another account's block", BlockPath(kBigSnapshot, 3), TokenQuery(kBigSnapshot, 3), admin, adminSecret,
         kForeign},
        {"another account's listing", BlocksPath(kBigSnapshot), "", admin, adminSecret, kForeign},
        {"another account's changes", ChangedPath(kLaterSnapshot), std::string("firstSnapshotId=") + kBigSnapshot,
         admin, adminSecret, kForeign},
        {"a public snapshot", BlocksPath(publicSnap), "", kAccessKey, kSecretKey, kForeign},
        {"a pending snapshot's block", BlockPath(kRestoredSnapshot, 0), TokenQuery(kRestoredSnapshot, 0), kAccessKey,
         kSecretKey, kPending},
        {"a pending snapshot's listing", BlocksPath(kRestoredSnapshot), "", kAccessKey, kSecretKey, kPending},
        {"changes to a pending snapshot", ChangedPath(kRestoredSnapshot),
         std::string("firstSnapshotId=") + kBigSnapshot, kAccessKey, kSecretKey, kPending},
    };
    for (const Case& c : cases) EXPECT_EQ(c.answer, Answer(SignedGet(c.path, c.query, c.accessKey, c.secret))) << c.what;
}

TEST_F(EbsListingTest, MalformedIdsAndIndexesAreRefusedBeforeAnyLookUp) {
    // 2^44: times the block size it no longer fits a signed 64-bit integer.
    const int64_t overflowing = 17592186044416LL;
    struct Case {
        std::string path, query;
        const char* reason;
    };
    const Case cases[] = {
        {BlockPath("snap-NOT-HEX", 0), TokenQuery("snap-NOT-HEX", 0), "INVALID_SNAPSHOT_ID"},
        {BlocksPath("vol-0e0d0000000000001"), "", "INVALID_SNAPSHOT_ID"},
        {BlocksPath("snap-" + std::string(60, 'a')), "", "INVALID_SNAPSHOT_ID"},
        {ChangedPath(kLaterSnapshot), "firstSnapshotId=snap-", "INVALID_SNAPSHOT_ID"},
        {ChangedPath("snap-0E0D"), std::string("firstSnapshotId=") + kBigSnapshot, "INVALID_SNAPSHOT_ID"},
        {BlockPath(kBigSnapshot, 2048), TokenQuery(kBigSnapshot, 2048), "INVALID_BLOCK"},   // 1 GiB ends at 2047
        {BlockPath(kBigSnapshot, overflowing), TokenQuery(kBigSnapshot, overflowing), "INVALID_BLOCK"},
        {"/snapshots/" + std::string(kBigSnapshot) + "/blocks/x1", TokenQuery(kBigSnapshot, 1), "INVALID_BLOCK"},
        {BlocksPath(kBigSnapshot), "startingBlockIndex=99999999999", "INVALID_PARAMETER_VALUE"},
    };
    for (const Case& c : cases)
        EXPECT_EQ("400 ValidationException " + std::string(c.reason), Answer(SignedGet(c.path, c.query))) << c.path;
}

TEST_F(EbsListingTest, BlockTokensLastAWeekAndPageTokensAnHour) {
    const std::string blockToken = cloudsim::BlockToken(kBigSnapshot, 5);
    auto page = SignedGet(BlocksPath(kBigSnapshot), "maxResults=100");
    ASSERT_TRUE(page);
    std::string pageToken = nlohmann::json::parse(page->body).value("NextToken", "");
    ASSERT_FALSE(pageToken.empty());
    auto read = [&] { return SignedGet(BlockPath(kBigSnapshot, 5), "blockToken=" + UriEncode(blockToken, true)); };
    auto next = [&] { return SignedGet(BlocksPath(kBigSnapshot), "pageToken=" + UriEncode(pageToken, true)); };

    env.Clock().AdvanceMs(cloudsim::kPageTokenLifetimeMs - 1000);
    EXPECT_EQ("200", Answer(next()));
    env.Clock().AdvanceMs(1000);
    EXPECT_EQ("400 ValidationException INVALID_PAGE_TOKEN", Answer(next()));

    env.Clock().AdvanceMs(cloudsim::kBlockTokenLifetimeMs - cloudsim::kPageTokenLifetimeMs - 1000);
    EXPECT_EQ("200", Answer(read()));
    env.Clock().AdvanceMs(1000);
    EXPECT_EQ("400 ValidationException INVALID_BLOCK_TOKEN", Answer(read()));
    // A token issued now reads the block again.
    EXPECT_EQ("200", Answer(SignedGet(BlockPath(kBigSnapshot, 5), TokenQuery(kBigSnapshot, 5))));
}

TEST_F(EndpointTest, SnapshotsAreServedOnlyByTheirRegionsEndpoint) {
    hostRegion = signingRegion = "us-west-2";
    EXPECT_EQ("404 ResourceNotFoundException SNAPSHOT_NOT_FOUND", Answer(SignedGet(BlocksPath(kBigSnapshot), "")));
    signingRegion = "us-east-1";
    EXPECT_EQ("403 InvalidSignatureException", Answer(SignedGet(BlocksPath(kBigSnapshot), "")));
}
