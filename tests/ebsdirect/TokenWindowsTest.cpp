// The block token windows of an open snapshot against listers that make up
// their tokens: listed on demand, dropped behind readers and beyond the cap,
// listed again near expiry or when a token is refused, one listing per
// window at a time however many readers need it.
#include <atomic>
#include <map>
#include <mutex>
#include <stdexcept>
#include <thread>

#include <gtest/gtest.h>

#include "ebsdirect/BlockTokenWindows.h"
#include "framework/Clock.h"
#include "support/TestEnv.h"

using namespace AmazonDirectSnapshotAccessAPI;

namespace {

constexpr int64_t kMargin = 60 * 1000;

// Lists the blocks allocated() says are, with tokens that name their block
// and the listing they came from, expiring lifetimeMs after the listing.
struct FakeListing {
    std::function<bool(int64_t)> allocated = [](int64_t) { return true; };
    int64_t blocks = 1000;
    int64_t lifetimeMs = 0;   // 0: no expiry given
    std::atomic<int> listings{0};
    std::atomic<bool> fail{false};
    std::mutex lock;
    std::map<int64_t, int> inFlight;   // by first block
    std::atomic<int> overlapping{0};   // listings of one window at the same time

    BlockTokenWindows::Lister Lister() {
        return [this](int64_t first, int64_t end, std::vector<BlockTokenEntry>& out, int64_t& expiryMs) {
            const int listing = ++listings;
            {
                std::lock_guard<std::mutex> guard(lock);
                if (++inFlight[first] > 1) ++overlapping;
            }
            // Gives the other readers time to pile up behind this listing.
            std::this_thread::yield();
            for (int64_t i = first; i < end && i < blocks; ++i)
                if (allocated(i)) out.push_back({i, Token(i, listing)});
            expiryMs = lifetimeMs ? FwClock::NowMs() + lifetimeMs : 0;
            std::lock_guard<std::mutex> guard(lock);
            --inFlight[first];
            return !fail;
        };
    }
    // Long enough to live on the heap, as real tokens do.
    static std::string Token(int64_t index, int listing) {
        return "token-of-block-" + std::to_string(index) + "-from-listing-" + std::to_string(listing);
    }
    static bool NamesBlock(const std::string& token, int64_t index) {
        return token.rfind("token-of-block-" + std::to_string(index) + "-from-", 0) == 0;
    }
};

BlockTokenWindows Windows(int64_t windowBlocks, size_t maxWindows) {
    return BlockTokenWindows("snap-test", TokenWindowShape{windowBlocks, maxWindows}, kMargin);
}

}  // namespace

TEST(TokenWindows, ListedOnlyWhenNeededAndDroppedOnceTheReaderHasPassed) {
    TestEnv env;
    const struct {
        const char* name;
        std::function<bool(int64_t)> allocated;
    } listings[] = {
        {"full", [](int64_t) { return true; }},
        {"sparse", [](int64_t i) { return i % 37 == 5; }},
        {"empty", [](int64_t) { return false; }},
    };
    for (const auto& row : listings) {
        SCOPED_TRACE(row.name);
        FakeListing listing;
        listing.allocated = row.allocated;
        BlockTokenWindows windows = Windows(100, 8);
        EXPECT_EQ(0u, windows.Stats().listings) << "nothing is listed before a read";
        BlockTokenWindows::Reading reading(windows, 0);
        size_t mostHeld = 0, mostBytes = 0, oneWindow = 0;
        for (int64_t i = 0; i < listing.blocks; ++i) {
            BlockTokenWindows::Token token;
            ASSERT_TRUE(windows.Find(reading, i, listing.Lister(), token));
            ASSERT_EQ(row.allocated(i), token.allocated) << i;
            if (token.allocated) {
                ASSERT_TRUE(FakeListing::NamesBlock(token.token, i)) << token.token;
            }
            const TokenWindowStats stats = windows.Stats();
            mostHeld = std::max(mostHeld, stats.windows);
            mostBytes = std::max(mostBytes, stats.bytes);
            if (i == 0) oneWindow = stats.bytes;
        }
        EXPECT_EQ(11, listing.listings.load()) << "each window once, and the one after the last ahead";
        EXPECT_EQ(2u, mostHeld) << "the reader's and the next; those behind it went";
        EXPECT_LE(mostBytes, 2 * (oneWindow + oneWindow / 4));
        EXPECT_LE(windows.Stats().peakBytes, 3 * (oneWindow + oneWindow / 4))
            << "a listing's tokens beside the two windows before it, no more";
    }
}

TEST(TokenWindows, ScatteredReadersHoldNoMoreThanTheCapAndMissesAreListedAgain) {
    TestEnv env;
    FakeListing listing;
    BlockTokenWindows windows = Windows(100, 3);
    // A reader parked at block 0 keeps every window from being behind.
    BlockTokenWindows::Reading parked(windows, 0);
    BlockTokenWindows::Reading reading(windows, 0);
    BlockTokenWindows::Token token;
    for (int64_t i : {0, 150, 250, 350, 450, 460, 30}) {
        ASSERT_TRUE(windows.Find(reading, i, listing.Lister(), token));
        EXPECT_TRUE(FakeListing::NamesBlock(token.token, i));
        EXPECT_LE(windows.Stats().windows, 3u);
    }
    EXPECT_EQ(6, listing.listings.load()) << "460 was held; 0 had gone and came back";
}

TEST(TokenWindows, AListingNearItsExpiryIsListedAgainBeforeItsTokensAreHandedOut) {
    TestEnv env;
    FakeListing listing;
    listing.lifetimeMs = 10 * 60 * 1000;
    BlockTokenWindows windows = Windows(100, 4);
    BlockTokenWindows::Reading reading(windows, 0);
    BlockTokenWindows::Token token;
    ASSERT_TRUE(windows.Find(reading, 5, listing.Lister(), token));
    EXPECT_FALSE(token.renewed);
    const struct {
        int64_t advanceMs;
        int listings;
        bool renewed;
    } steps[] = {
        {8 * 60 * 1000, 1, false},      // two minutes left
        {60 * 1000 - 1, 1, false},      // just outside the margin
        {1, 2, true},                   // within it
        {60 * 1000, 2, false},          // the new listing serves
    };
    for (const auto& step : steps) {
        env.Clock().AdvanceMs(step.advanceMs);
        ASSERT_TRUE(windows.Find(reading, 7, listing.Lister(), token));
        EXPECT_EQ(step.listings, listing.listings.load());
        EXPECT_EQ(step.renewed, token.renewed);
        EXPECT_TRUE(FakeListing::NamesBlock(token.token, 7));
    }
    EXPECT_EQ(0, env.Clock().TotalSleptMs());
}

TEST(TokenWindows, ARefusedTokenIsRenewedOnceHoweverManyReadersHeldIt) {
    TestEnv env;
    FakeListing listing;
    BlockTokenWindows windows = Windows(100, 4);
    BlockTokenWindows::Reading a(windows, 0), b(windows, 0);
    BlockTokenWindows::Token first, second;
    ASSERT_TRUE(windows.Find(a, 3, listing.Lister(), first));
    ASSERT_TRUE(windows.Find(b, 4, listing.Lister(), second));
    ASSERT_TRUE(windows.Renew(a, 3, listing.Lister(), first));
    EXPECT_EQ(2, listing.listings.load());
    EXPECT_EQ(FakeListing::Token(3, 2), first.token);
    // b's token came from the listing a renewed: b takes the new one.
    ASSERT_TRUE(windows.Renew(b, 4, listing.Lister(), second));
    EXPECT_EQ(2, listing.listings.load());
    EXPECT_EQ(FakeListing::Token(4, 2), second.token);
}

TEST(TokenWindows, AFailedListingHoldsNothingAndTheNextReadListsAgain) {
    TestEnv env;
    FakeListing listing;
    listing.fail = true;
    BlockTokenWindows windows = Windows(100, 4);
    BlockTokenWindows::Reading reading(windows, 0);
    BlockTokenWindows::Token token;
    EXPECT_FALSE(windows.Find(reading, 3, listing.Lister(), token));
    EXPECT_EQ(0u, windows.Stats().windows);
    EXPECT_EQ(0u, windows.Stats().bytes);
    listing.fail = false;
    ASSERT_TRUE(windows.Find(reading, 3, listing.Lister(), token));
    EXPECT_EQ(FakeListing::Token(3, 2), token.token);
    const BlockTokenWindows::Lister throwing = [](int64_t, int64_t, std::vector<BlockTokenEntry>&, int64_t&) -> bool {
        throw std::runtime_error("no memory");
    };
    EXPECT_FALSE(windows.Find(reading, 250, throwing, token)) << "a throwing lister is a failed listing";
}

// Readers in step across window boundaries, the cap small enough that
// windows come and go under them: every token names its block, and no
// window is ever listed by two readers at once.
TEST(TokenWindows, ConcurrentReadersOnWindowBoundariesShareEachListing) {
    TestEnv env;
    FakeListing listing;
    listing.blocks = 4000;
    listing.allocated = [](int64_t i) { return i % 3 != 0; };
    BlockTokenWindows windows = Windows(64, 2);
    std::atomic<int> wrong{0};
    std::atomic<int64_t> next{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < 8; ++t)
        readers.emplace_back([&] {
            // Reads of 8 blocks handed out in turn, as the framework's
            // readers take a disk's chunks; each crosses boundaries now
            // and then.
            for (int64_t first = next.fetch_add(5); first < listing.blocks; first = next.fetch_add(5)) {
                BlockTokenWindows::Reading reading(windows, first);
                for (int64_t i = first; i < std::min(first + 8, listing.blocks); ++i) {
                    BlockTokenWindows::Token token;
                    if (!windows.Find(reading, i, listing.Lister(), token) || token.allocated != (i % 3 != 0) ||
                        (token.allocated && !FakeListing::NamesBlock(token.token, i)))
                        ++wrong;
                }
            }
        });
    for (auto& r : readers) r.join();
    EXPECT_EQ(0, wrong.load());
    EXPECT_EQ(0, listing.overlapping.load());
    EXPECT_LE(windows.Stats().windows, 2u);
    EXPECT_GE(listing.listings.load(), 4000 / 64);
}
