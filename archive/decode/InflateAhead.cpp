#include "archive/decode/InflateAhead.h"

#include <emmintrin.h>

#include <algorithm>
#include <cstring>
#include <utility>

namespace narvo::decode {

namespace {

// The scan reads this much at a time, each read overlapping the last by more than the longest
// run of stored blocks an entry point needs (32 KiB less a byte, then a whole 64 KiB block).
constexpr std::size_t kScan = 1024 * 1024, kOverlap = 160 * 1024;
constexpr std::size_t kInput = 256 * 1024, kStep = 256 * 1024;
// An entry point this close to the end leaves too little to share.
constexpr std::uint64_t kShortestTail = 256 * 1024;
// Raw bytes scanned in vain after which the search gives up on the entry: the scan runs beside
// the decoder, and a stream without stored stretches (text alone) would pay for it whole.
constexpr std::uint64_t kFruitlessScan = 32u << 20;

unsigned Le16(const unsigned char* p) {
    return unsigned(p[0]) | unsigned(p[1]) << 8;
}

// LEN and its complement NLEN, as a stored block's header ends.
bool IsStoredLength(const unsigned char* p) {
    return (Le16(p) ^ Le16(p + 2)) == 0xFFFF;
}

// The first likely entry point in data whose stored blocks start at or after from and lie wholly
// in data (with the next block's first byte); the last kInflateWindow bytes of their content go
// to window. Offsets are into data.
std::optional<EntryPoint> FindEntryPoint(const unsigned char* data, std::size_t size,
                                         std::size_t from, unsigned char* window) {
    // Visits the stored blocks from the one whose LEN is at h on, while they hold less than the
    // window; the offset after the last. Empty blocks count too, up to a bound on the walk.
    const auto walk = [&](std::size_t h, auto&& visit) {
        std::size_t at = h + 4 + Le16(data + h), content = Le16(data + h);
        visit(h + 4, Le16(data + h));
        // Further stored blocks follow on byte boundaries: a zero header byte, then LEN/NLEN.
        for (int links = 0; links < 1024 && content < kInflateWindow && at + 5 <= size &&
                            data[at] == 0 && IsStoredLength(data + at + 1);
             ++links) {
            const std::size_t length = Le16(data + at + 1);
            visit(at + 5, length);
            content += length;
            at += 5 + length;
        }
        return std::pair(at, content);
    };
    const auto tryAt = [&](std::size_t h) -> std::optional<EntryPoint> {
        // The block's three header bits are zero and writers pad them to the byte with zeros,
        // so the byte before LEN is below 0x20. Other padding only loses the point.
        if (data[h - 1] >= 0x20 || !IsStoredLength(data + h)) return std::nullopt;
        const auto [at, content] = walk(h, [](std::size_t, std::size_t) {});
        // Block type 3 does not exist: the next block cannot start here.
        if (content < kInflateWindow || at >= size || ((data[at] >> 1) & 3) == 3)
            return std::nullopt;
        std::size_t skip = content - kInflateWindow, filled = 0;
        walk(h, [&](std::size_t start, std::size_t length) {
            const std::size_t dropped = std::min(skip, length);
            skip -= dropped;
            std::memcpy(window + filled, data + start + dropped, length - dropped);
            filled += length - dropped;
        });
        return EntryPoint{h - 1, at};
    };
    std::size_t h = std::max<std::size_t>(from, 1);
    // Sixteen places at a time: a byte and the one two on must be each other's complement,
    // which leaves one place in 256 to look at closely. The scan otherwise costs a large entry
    // without stored stretches a tenth of its time.
    const __m128i ones = _mm_set1_epi8(-1);
    for (; h + 18 <= size; h += 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + h));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + h + 2));
        for (unsigned mask = unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_xor_si128(a, b), ones)));
             mask != 0; mask &= mask - 1) {
            if (auto point = tryAt(h + unsigned(__builtin_ctz(mask)))) return point;
        }
    }
    for (; h + 4 <= size; ++h) {
        if (auto point = tryAt(h)) return point;
    }
    return std::nullopt;
}

} // namespace

InflateAhead::InflateAhead(std::unique_ptr<RawSource> source, std::uint64_t input,
                           std::size_t segment, std::uint64_t gap)
    : source_(std::move(source)), input_(input), gap_(gap),
      segment_(segment), buffers_{AlignedBuffer(segment), AlignedBuffer(segment)}, scan_(kScan),
      in_(kInput), state_(std::make_unique<inflate_state>()) {
    thread_ = std::thread([this] { Run(); });
}

InflateAhead::~InflateAhead() {
    {
        std::lock_guard<std::mutex> hold(lock_);
        quit_ = true;
        stop_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

std::optional<EntryPoint> InflateAhead::Candidate(bool waitForSearch) {
    std::unique_lock<std::mutex> hold(lock_);
    if (waitForSearch)
        changed_.wait(hold, [this] { return phase_ != Phase::Searching || busy_[current_]; });
    if (phase_ == Phase::Decoding || phase_ == Phase::Ready) return candidate_;
    return std::nullopt;
}

void InflateAhead::StopDecoding(std::unique_lock<std::mutex>& hold) {
    stop_ = true;
    changed_.wait(hold, [this] { return phase_ != Phase::Decoding; });
    stop_ = false;
}

bool InflateAhead::Take(std::uint64_t at, const unsigned char* tail,
                        std::unique_ptr<inflate_state>& state, Segment& segment) {
    std::unique_lock<std::mutex> hold(lock_);
    if ((phase_ != Phase::Decoding && phase_ != Phase::Ready) || candidate_.at != at) return false;
    StopDecoding(hold);
    if (phase_ != Phase::Ready) return false; // it found the point false itself
    if (std::memcmp(window_, tail, kInflateWindow) != 0) {
        phase_ = Phase::Searching;
        searchFrom_ = at + gap_;
        hold.unlock();
        changed_.notify_all();
        return false;
    }
    state.swap(state_);
    ++taken_;
    segment = {buffers_[current_].data(), produced_, resumeAt_, current_};
    busy_[current_] = true;
    current_ ^= 1;
    phase_ = Phase::Searching;
    searchFrom_ = resumeAt_ + gap_;
    hold.unlock();
    changed_.notify_all();
    return true;
}

void InflateAhead::Drop(std::uint64_t at, std::uint64_t position) {
    std::unique_lock<std::mutex> hold(lock_);
    if ((phase_ != Phase::Decoding && phase_ != Phase::Ready) || candidate_.at != at) return;
    StopDecoding(hold);
    if (phase_ == Phase::Ready) phase_ = Phase::Searching;
    searchFrom_ = std::max(searchFrom_, position + gap_);
    hold.unlock();
    changed_.notify_all();
}

void InflateAhead::Release(int buffer) {
    {
        std::lock_guard<std::mutex> hold(lock_);
        busy_[buffer] = false;
    }
    changed_.notify_all();
}

void InflateAhead::Run() {
    std::unique_lock<std::mutex> hold(lock_);
    std::uint64_t budget = kFruitlessScan, takenBefore = 0;
    for (;;) {
        changed_.wait(hold,
                      [this] { return quit_ || (phase_ == Phase::Searching && !busy_[current_]); });
        if (quit_) return;
        if (taken_ != takenBefore) { // a segment was used: the stream has stretches after all
            takenBefore = taken_;
            budget = kFruitlessScan;
        }
        const std::uint64_t from =
            std::max(searchFrom_, position_.load(std::memory_order_relaxed) + gap_);
        hold.unlock();
        const std::optional<EntryPoint> found = Search(from, budget);
        if (found) {
            isal_inflate_init(state_.get());
            state_->crc_flag = ISAL_DEFLATE;
            isal_inflate_set_dict(state_.get(), window_, kInflateWindow);
        }
        hold.lock();
        if (quit_) return;
        if (!found) {
            phase_ = Phase::Exhausted;
            changed_.notify_all();
            continue; // waits for the end
        }
        candidate_ = *found;
        phase_ = Phase::Decoding;
        hold.unlock();
        changed_.notify_all();
        const Outcome outcome = DecodeSegment(found->at);
        hold.lock();
        if (outcome == Outcome::Invalid) {
            // A false point, usually found out within a few bytes: look on just past it.
            phase_ = Phase::Searching;
            searchFrom_ = found->check + 2;
        } else {
            phase_ = outcome == Outcome::Ready ? Phase::Ready : Phase::Exhausted;
        }
        hold.unlock();
        changed_.notify_all();
        hold.lock();
    }
}

std::optional<EntryPoint> InflateAhead::Search(std::uint64_t from, std::uint64_t& budget) {
    for (std::uint64_t base = from; base < input_ && !quit_;) {
        const std::size_t want = std::size_t(std::min<std::uint64_t>(kScan, input_ - base));
        if (budget < want) return std::nullopt;
        budget -= want;
        const std::size_t got = source_->Read(base, scan_.data(), want);
        if (got != want) return std::nullopt;
        if (auto point = FindEntryPoint(scan_.data(), got, 1, window_)) {
            if (base + point->at + kShortestTail > input_) return std::nullopt;
            return EntryPoint{base + point->check, base + point->at};
        }
        if (base + got >= input_) break;
        base += got - kOverlap;
    }
    return std::nullopt;
}

InflateAhead::Outcome InflateAhead::DecodeSegment(std::uint64_t at) {
    unsigned char* out = buffers_[current_].data();
    std::size_t filled = 0;
    std::uint64_t position = at;
    state_->avail_in = 0;
    while (!stop_.load(std::memory_order_relaxed) && filled < segment_) {
        if (state_->avail_in == 0 && position < input_) {
            const std::size_t want =
                std::size_t(std::min<std::uint64_t>(kInput, input_ - position));
            if (source_->Read(position, in_.data(), want) != want) return Outcome::Broken;
            state_->next_in = in_.data();
            state_->avail_in = std::uint32_t(want);
            position += want;
        }
        const std::uint32_t room = std::uint32_t(std::min(kStep, segment_ - filled));
        state_->next_out = out + filled;
        state_->avail_out = room;
        if (isal_inflate(state_.get()) < 0) return Outcome::Invalid;
        filled += room - state_->avail_out;
        if (state_->block_state == ISAL_BLOCK_FINISH) break;
        // Input used up short of the stream's end: the first decoder will find the same.
        if (state_->avail_out == room && state_->avail_in == 0 && position == input_) break;
    }
    produced_ = filled;
    resumeAt_ = position - state_->avail_in;
    return Outcome::Ready;
}

} // namespace narvo::decode
