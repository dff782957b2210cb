// Block token windows: listed on demand, one lister per window at a time,
// dropped behind the readers and beyond the cap.
#include "ebsdirect/BlockTokenWindows.h"

#include <algorithm>
#include <exception>

#include "framework/Clock.h"
#include "framework/EvDebug.h"

namespace AmazonDirectSnapshotAccessAPI {

namespace {
const char* const kTag = "CAmazonDirectSnapshotAccessAPIWrapper";

// Whether s keeps its characters inside itself (the short-string buffer)
// rather than on the heap.
bool Inline(const std::string& s) {
    const char* self = reinterpret_cast<const char*>(&s);
    return s.data() >= self && s.data() < self + sizeof s;
}
// What malloc takes for a request of n bytes: its 8-byte header, rounded up
// to 16, at least 32 (glibc's chunks).
size_t HeapBytes(size_t n) { return std::max<size_t>(32, (n + 8 + 15) & ~static_cast<size_t>(15)); }
}  // namespace

BlockTokenWindows::Reading::Reading(BlockTokenWindows& windows, int64_t index) : m_windows(windows) {
    std::lock_guard<std::mutex> lock(windows.m_lock);
    m_at = windows.m_readers.insert(index);
}

BlockTokenWindows::Reading::~Reading() {
    std::lock_guard<std::mutex> lock(m_windows.m_lock);
    m_windows.m_readers.erase(m_at);
}

BlockTokenWindows::BlockTokenWindows(std::string name, TokenWindowShape shape, int64_t marginMs)
    : m_name(std::move(name)),
      m_shape{std::max<int64_t>(1, shape.windowBlocks), std::max<size_t>(1, shape.maxWindows)},
      m_marginMs(marginMs) {}

bool BlockTokenWindows::Find(Reading& reading, int64_t index, const Lister& list, Token& token) {
    std::unique_lock<std::mutex> lock(m_lock);
    return find(lock, reading, index, 0, list, token);
}

bool BlockTokenWindows::Renew(Reading& reading, int64_t index, const Lister& list, Token& token) {
    std::unique_lock<std::mutex> lock(m_lock);
    return find(lock, reading, index, token.generation, list, token);
}

bool BlockTokenWindows::expiring(const Window& window) const {
    return window.expiryMs != 0 && FwClock::NowMs() >= window.expiryMs - m_marginMs;
}

bool BlockTokenWindows::find(std::unique_lock<std::mutex>& lock, Reading& reading, int64_t index, uint64_t stale,
                             const Lister& list, Token& token) {
    // Moved first, so that a listing made below drops what this read has
    // passed.
    if (*reading.m_at != index) {
        m_readers.erase(reading.m_at);
        reading.m_at = m_readers.insert(index);
    }
    const int64_t number = index / m_shape.windowBlocks;
    bool renewing = false;
    for (;;) {
        auto it = m_windows.find(number);
        std::shared_ptr<Window> window;
        if (it != m_windows.end()) {
            window = it->second;
            if (window->generation == 0) {
                // Being listed by another reader: its listing serves here too.
                m_listed.wait(lock, [&] { return window->generation != 0 || window->failed; });
                if (window->failed) return false;
                continue;
            }
            const bool old = expiring(*window);
            if (!old && window->generation != stale) {
                handOut(*window, index, token);
                listAhead(lock, number, index, list);
                return true;
            }
            EvDebug::Debug(kTag, "Block tokens of [%s] from block [%lld] %s; listing them again.", m_name.c_str(),
                           static_cast<long long>(number * m_shape.windowBlocks),
                           old ? "are about to expire" : "were refused");
            window->generation = 0;
            renewing = old;
        } else {
            window = std::make_shared<Window>();
            m_windows.emplace(number, window);
        }

        if (!listInto(lock, number, window, list)) return false;
        // Handed out at once, even from a listing already near its expiry:
        // listing it again would give no later one.
        handOut(*window, index, token);
        token.renewed = renewing;
        return true;
    }
}

void BlockTokenWindows::listAhead(std::unique_lock<std::mutex>& lock, int64_t number, int64_t index,
                                  const Lister& list) {
    const int64_t offset = index - number * m_shape.windowBlocks;
    if (offset * 4 < m_shape.windowBlocks || m_windows.size() >= m_shape.maxWindows ||
        m_windows.count(number + 1) || (m_blockCount > 0 && (number + 1) * m_shape.windowBlocks >= m_blockCount))
        return;
    auto window = std::make_shared<Window>();
    m_windows.emplace(number + 1, window);
    listInto(lock, number + 1, window, list);
}

bool BlockTokenWindows::listInto(std::unique_lock<std::mutex>& lock, int64_t number,
                                 const std::shared_ptr<Window>& window, const Lister& list) {
    // The lock is not held while listing; the window, marked as being
    // listed, makes the others wait for it.
    const int64_t first = number * m_shape.windowBlocks;
    std::vector<BlockTokenEntry> blocks;
    int64_t expiryMs = 0;
    lock.unlock();
    bool listed = false;
    try {
        listed = list(first, first + m_shape.windowBlocks, blocks, expiryMs);
    } catch (const std::exception& e) {
        EvDebug::Error(kTag, "Listing the block tokens of [%s] failed: %s", m_name.c_str(), e.what());
    }
    blocks.shrink_to_fit();
    const size_t incoming = listed ? BlocksBytes(blocks) : 0;
    lock.lock();
    ++m_listings;
    // Counted with the tokens it replaces: both were held a moment.
    m_peakBytes = std::max(m_peakBytes, m_bytes + incoming);
    // A window being listed is never dropped, so it is still held here.
    m_bytes -= window->bytes;
    if (!listed) {
        window->failed = true;
        m_windows.erase(number);
        m_listed.notify_all();
        return false;
    }
    window->blocks.swap(blocks);
    window->expiryMs = expiryMs;
    window->bytes = incoming;
    window->generation = ++m_generations;
    m_bytes += window->bytes;
    trim(number);
    m_listed.notify_all();
    return true;
}

void BlockTokenWindows::handOut(Window& window, int64_t index, Token& token) {
    window.lastUse = ++m_uses;
    auto at = std::lower_bound(window.blocks.begin(), window.blocks.end(), index,
                               [](const BlockTokenEntry& e, int64_t wanted) { return e.index < wanted; });
    token.allocated = at != window.blocks.end() && at->index == index;
    token.token = token.allocated ? at->token : std::string();
    token.generation = window.generation;
    token.renewed = false;
}

void BlockTokenWindows::trim(int64_t keep) {
    // Every read in flight is at or beyond lowest: windows ending there
    // are behind them all.
    const bool reading = !m_readers.empty();
    const int64_t lowest = reading ? *m_readers.begin() : 0;
    auto drop = [&](std::map<int64_t, std::shared_ptr<Window>>::iterator it) {
        m_bytes -= it->second->bytes;
        return m_windows.erase(it);
    };
    for (auto it = m_windows.begin(); it != m_windows.end();) {
        const bool behind = reading && (it->first + 1) * m_shape.windowBlocks <= lowest;
        if (behind && it->first != keep && it->second->generation != 0)
            it = drop(it);
        else
            ++it;
    }
    while (m_windows.size() > m_shape.maxWindows) {
        auto oldest = m_windows.end();
        for (auto it = m_windows.begin(); it != m_windows.end(); ++it)
            if (it->first != keep && it->second->generation != 0 &&
                (oldest == m_windows.end() || it->second->lastUse < oldest->second->lastUse))
                oldest = it;
        if (oldest == m_windows.end()) break;   // the rest are being listed
        drop(oldest);
    }
}

size_t BlockTokenWindows::BlocksBytes(const std::vector<BlockTokenEntry>& blocks) {
    size_t bytes = HeapBytes(sizeof(Window)) + HeapBytes(blocks.capacity() * sizeof(BlockTokenEntry));
    for (const BlockTokenEntry& entry : blocks)
        if (!Inline(entry.token)) bytes += HeapBytes(entry.token.capacity() + 1);
    return bytes;
}

void BlockTokenWindows::SetBlockCount(int64_t blocks) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_blockCount = blocks;
}

TokenWindowStats BlockTokenWindows::Stats() const {
    std::lock_guard<std::mutex> lock(m_lock);
    TokenWindowStats stats;
    stats.windows = m_windows.size();
    for (const auto& entry : m_windows) stats.tokens += entry.second->blocks.size();
    stats.bytes = m_bytes;
    stats.peakBytes = m_peakBytes;
    stats.listings = m_listings;
    return stats;
}

}  // namespace AmazonDirectSnapshotAccessAPI
