#pragma once
// One of the proxy's data streams, held while a disk is copied. The plug-in
// tells the framework how many streams the proxy serves at once
// (GetStreamLimit); every job on the proxy shares them. Slot i is an
// exclusive flock on <base>/Locks/streams/slot-<i>; the kernel frees it when
// the process ends, however it ends, so a killed job never keeps a stream.
#include <functional>
#include <string>

class StreamSlot {
public:
    StreamSlot() = default;
    ~StreamSlot() { Release(); }
    StreamSlot(const StreamSlot&) = delete;
    StreamSlot& operator=(const StreamSlot&) = delete;

    // Takes a free slot of the first limit ones without waiting; false when
    // all are held (why empty) or a slot file cannot be used (why says so).
    bool TryAcquire(const std::string& folder, int limit, std::string& why);
    // Takes a slot, waiting for one to be freed when all are held; waiting
    // is called once before the wait, and a signal that makes stopped true
    // ends it. False, with why, when stopped or a slot file cannot be used.
    bool Acquire(const std::string& folder, int limit, const std::function<void()>& waiting,
                 const std::function<bool()>& stopped, std::string& why);
    void Release();
    // The slot held, -1 for none.
    int Index() const { return m_index; }

private:
    int m_fd = -1;
    int m_index = -1;
};

// A stream of this base folder's proxy for one disk copy (what), as the
// framework grants them: at most limit at once across every job, waiting,
// and saying so on stderr, while all are held.
bool TakeStream(StreamSlot& slot, int limit, const std::string& what, const std::function<bool()>& stopped,
                std::string& why);
