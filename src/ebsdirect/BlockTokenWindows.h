#pragma once
// The block tokens of one open snapshot, held a window of block indexes at a
// time so that an open disk costs a bounded amount of memory however large
// it is: a fully allocated 16 TiB volume has 33.5 million blocks, and their
// tokens held whole would take gigabytes per disk.
//
// A window covers windowBlocks consecutive indexes and is listed the first
// time a reader needs one of its blocks (by the lister the reader brings,
// on its own connection). Readers say where they are (Reading); a window
// that every reader in flight has passed is dropped when the next one is
// listed, and at most maxWindows stay held (the least recently used go
// first), so scattered readers cost no more. A reader well into its window
// lists the next one ahead of the others (never past the snapshot's end,
// once a listing has told it), while that evicts nothing. A
// window whose listing expires within the margin is listed again before its
// tokens are handed out, and one whose token the service refused is listed
// again unless a later listing has already replaced it.
//
// One reader lists a window while the others that need it wait for that
// listing; when it fails, they fail with it rather than list again each.
// Tokens are handed out as copies taken while their window is held.
//
// Thread-safe; nothing throws out of it except what the lister throws.
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace AmazonDirectSnapshotAccessAPI {

struct BlockTokenEntry {
    int64_t index = 0;
    std::string token;
};

struct TokenWindowShape {
    // 2048 blocks of 512 KiB: 1 GiB of disk, one page of a full listing.
    int64_t windowBlocks = 2048;
    // Enough for 64 readers each in a window of its own.
    size_t maxWindows = 64;
};

struct TokenWindowStats {
    size_t windows = 0;      // held now
    size_t tokens = 0;       // held now
    size_t bytes = 0;        // heap the held windows take
    size_t peakBytes = 0;    // most held at once, a listing's new tokens beside the old
    uint64_t listings = 0;   // windows listed (each maybe several pages)
};

class BlockTokenWindows {
public:
    // Lists the allocated blocks with indexes in [first, end), ascending and
    // each once, and the earliest ExpiryTime of the pages it took in
    // framework-clock milliseconds (0 when the service gave none). False
    // when the blocks cannot be listed; the lister logs why.
    using Lister =
        std::function<bool(int64_t first, int64_t end, std::vector<BlockTokenEntry>& blocks, int64_t& expiryMs)>;

    // A block's token as handed out; allocated false for a block that has
    // none (it reads as zeros).
    struct Token {
        bool allocated = false;
        std::string token;
        uint64_t generation = 0;   // the listing it came from
        bool renewed = false;      // listed again for this look-up as its tokens neared expiry
    };

    // Where one read is: registered for its lifetime, moved on by Find.
    class Reading {
    public:
        Reading(BlockTokenWindows& windows, int64_t index);
        ~Reading();
        Reading(const Reading&) = delete;
        Reading& operator=(const Reading&) = delete;

    private:
        friend class BlockTokenWindows;
        BlockTokenWindows& m_windows;
        std::multiset<int64_t>::iterator m_at;
    };

    // name: the snapshot, for the log. marginMs: how long before its expiry
    // a listing is renewed.
    BlockTokenWindows(std::string name, TokenWindowShape shape, int64_t marginMs);

    // The token of block index for reading, listing its window first when
    // it is not held or about to expire. False when that listing fails.
    bool Find(Reading& reading, int64_t index, const Lister& list, Token& token);
    // The service refused token: its window is listed again unless a newer
    // listing replaced the one token came from, and token is replaced.
    bool Renew(Reading& reading, int64_t index, const Lister& list, Token& token);

    // The snapshot's size in blocks, once a listing has said it: nothing
    // is listed ahead past it.
    void SetBlockCount(int64_t blocks);

    TokenWindowStats Stats() const;
    const TokenWindowShape& Shape() const { return m_shape; }

private:
    struct Window {
        std::vector<BlockTokenEntry> blocks;   // ascending by index
        int64_t expiryMs = 0;
        uint64_t generation = 0;   // 0 while it is being listed
        uint64_t lastUse = 0;
        size_t bytes = 0;
        bool failed = false;       // its listing failed; waiters give up
    };

    // Under m_lock: hands out the token of index, listing its window first
    // when absent, expiring or (stale != 0) from listing stale.
    bool find(std::unique_lock<std::mutex>& lock, Reading& reading, int64_t index, uint64_t stale,
              const Lister& list, Token& token);
    // Lists window number with the lock released meanwhile; false, the
    // window gone and its waiters failed, when the listing fails.
    bool listInto(std::unique_lock<std::mutex>& lock, int64_t number, const std::shared_ptr<Window>& window,
                  const Lister& list);
    // A reader a quarter into its window lists the next one, when
    // that evicts nothing, so that the others do not all wait for it there.
    void listAhead(std::unique_lock<std::mutex>& lock, int64_t number, int64_t index, const Lister& list);
    bool expiring(const Window& window) const;
    void handOut(Window& window, int64_t index, Token& token);
    void trim(int64_t keep);
    // The heap a window holding blocks takes, as malloc counts it.
    static size_t BlocksBytes(const std::vector<BlockTokenEntry>& blocks);

    const std::string m_name;
    const TokenWindowShape m_shape;
    const int64_t m_marginMs;

    mutable std::mutex m_lock;   // guards everything below
    std::condition_variable m_listed;
    std::map<int64_t, std::shared_ptr<Window>> m_windows;   // by window number
    std::multiset<int64_t> m_readers;                        // reads in flight, at their block
    uint64_t m_generations = 0;
    uint64_t m_uses = 0;
    size_t m_bytes = 0;
    size_t m_peakBytes = 0;
    uint64_t m_listings = 0;
    int64_t m_blockCount = 0;   // 0 until known
};

}  // namespace AmazonDirectSnapshotAccessAPI
