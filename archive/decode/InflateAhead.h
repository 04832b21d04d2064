#pragma once
// Inside the archive library (ISA-L builds): a second thread that decodes a large deflate entry
// ahead of the first decoder. A deflate stream has no entry points, but stored (uncompressed)
// blocks holding 32 KiB or more in a row fix the whole window: a decoder seeded with those bytes
// and started at the next block decodes exactly what the first decoder will from there. The second
// thread looks for such stretches and decodes a segment from one; the first decoder, arriving,
// checks that a block does start there and that its last 32 KiB are those bytes, then takes the
// segment and the second decoder's state and goes on from where that one stopped. A stream
// without stored stretches decodes on one thread, as before.
#include "archive/decode/Decoder.h"
#include "fileutil/AlignedBuffer.h"

#include <isa-l/igzip_lib.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace narvo::decode {

constexpr std::size_t kInflateWindow = 32 * 1024;

// A likely entry point: stored blocks from byte check on whose content ends at byte at, where the
// next block starts.
struct EntryPoint {
    std::uint64_t check = 0, at = 0;
};

class InflateAhead {
public:
    // input: the entry's raw size; gap: the raw bytes the first decoder is to cover between two
    // segments. Throws std::bad_alloc or std::system_error when it cannot start.
    InflateAhead(std::unique_ptr<RawSource> source, std::uint64_t input, std::size_t segment,
                 std::uint64_t gap);
    ~InflateAhead(); // stops the thread
    InflateAhead(const InflateAhead&) = delete;
    InflateAhead& operator=(const InflateAhead&) = delete;

    // Where the first decoder is, so that the next search starts far enough ahead of it.
    void Report(std::uint64_t position) { position_.store(position, std::memory_order_relaxed); }
    // The entry point the second thread is decoding from; none while it searches (unless
    // waitForSearch: then the search ends first).
    std::optional<EntryPoint> Candidate(bool waitForSearch = false);

    struct Segment {
        const unsigned char* data = nullptr;
        std::size_t size = 0;
        std::uint64_t resumeAt = 0; // the raw offset the taken state reads on from
        int buffer = 0;
    };
    // The first decoder stands at a block boundary at point at, its last kInflateWindow decoded
    // bytes at tail. If they match, the second decoder's state is swapped into state, its
    // segment is handed out (its buffer stays out until Release) and the answer is true.
    // Otherwise the point is dropped.
    bool Take(std::uint64_t at, const unsigned char* tail, std::unique_ptr<inflate_state>& state,
              Segment& segment);
    // The first decoder, at position, cannot use the point at: search again further on.
    void Drop(std::uint64_t at, std::uint64_t position);
    void Release(int buffer);

private:
    enum class Phase { Searching, Decoding, Ready, Exhausted };
    enum class Outcome { Ready, Invalid, Broken };

    void Run();
    std::optional<EntryPoint> Search(std::uint64_t from, std::uint64_t& budget);
    Outcome DecodeSegment(std::uint64_t at);
    void StopDecoding(std::unique_lock<std::mutex>& hold);

    std::unique_ptr<RawSource> source_;
    const std::uint64_t input_, gap_;
    const std::size_t segment_;
    AlignedBuffer buffers_[2], scan_, in_;
    unsigned char window_[kInflateWindow];
    std::unique_ptr<inflate_state> state_;

    std::mutex lock_;
    std::condition_variable changed_;
    Phase phase_ = Phase::Searching;
    EntryPoint candidate_;
    std::uint64_t searchFrom_ = 0, resumeAt_ = 0;
    std::size_t produced_ = 0, taken_ = 0;
    int current_ = 0;
    bool busy_[2] = {false, false};
    std::atomic<bool> stop_{false}, quit_{false};
    std::atomic<std::uint64_t> position_{0};
    std::thread thread_;
};

} // namespace narvo::decode
