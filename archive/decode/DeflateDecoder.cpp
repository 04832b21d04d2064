// Method 8: raw deflate. ISA-L decodes it where the build has its x86-64 code (two to three times
// as fast as zlib, writing straight into the engine's output block); zlib elsewhere. Either keeps
// its state between entries: archives of many small files would otherwise spend their time on it.
#include "archive/decode/Decoder.h"

#if NARVO_HAVE_ISAL
#include "archive/decode/InflateAhead.h"

#include <isa-l/igzip_lib.h>
#include <cstring>
#include <optional>
#include <stdexcept>
#else
#include <zlib.h>
#endif

#include <algorithm>
#include <cstdint>

namespace narvo::decode {

namespace {

#if NARVO_HAVE_ISAL
class DeflateDecoder final : public Decoder {
public:
    explicit DeflateDecoder(const InflateAheadTuning& tuning) : tuning_(tuning) {}

    bool Init(const EntryFacts& entry) override {
        if (!state_) state_ = std::make_unique<inflate_state>();
        isal_inflate_init(state_.get());
        state_->crc_flag = ISAL_DEFLATE; // the engine sums the output itself
        fedStart_ = fedEnd_ = cursor_ = blocks_ = 0;
        fed_ = nullptr;
        handed_[0] = handed_[1] = 0;
        pending_.reset();
        point_.reset();
        tailKept_ = 0;
        ahead_.reset();
        if (entry.openSource && entry.compressedSize >= tuning_.minimumInput) StartAhead(entry);
        return true;
    }
    void Feed(const unsigned char* data, std::size_t size, bool) override {
        fed_ = data;
        fedStart_ = std::max(fedEnd_, cursor_);
        fedEnd_ = fedStart_ + size;
    }
    std::uint64_t NextInput(std::uint64_t fed) const override { return std::max(fed, cursor_); }
    DecodeStatus Produce(unsigned char* out, std::size_t capacity, std::size_t& produced) override {
        return Decode(out, capacity, produced);
    }
    DecodeStatus ProduceAny(unsigned char* out, std::size_t capacity, const unsigned char*& data,
                            std::size_t& produced) override {
        data = out;
        if (!ahead_) return Decode(out, capacity, produced);
        // The caller has handed out every block before calling again, so a segment is written
        // once a later block has gone out.
        for (int buffer = 0; buffer < 2; ++buffer) {
            if (handed_[buffer] != 0 && blocks_ > handed_[buffer]) {
                ahead_->Release(buffer);
                handed_[buffer] = 0;
            }
        }
        DecodeStatus status;
        if (pending_) {
            data = pending_->data;
            produced = pending_->size;
            if (produced == 0)
                ahead_->Release(pending_->buffer);
            else
                handed_[pending_->buffer] = blocks_ + 1;
            pending_.reset();
            status = state_->block_state == ISAL_BLOCK_FINISH ? DecodeStatus::End
                                                              : DecodeStatus::OutputFull;
        } else {
            status = Decode(out, capacity, produced);
        }
        if (produced != 0) ++blocks_;
        return status;
    }
    void Finish() override { ahead_.reset(); }

private:
    void StartAhead(const EntryFacts& entry) {
        // Between two segments the first decoder covers the raw bytes of about half a segment:
        // the second, then decoding as fast, is stopped short of its buffer and never waits.
        const double share =
            entry.uncompressedSize == 0
                ? 1.0
                : std::clamp(double(entry.compressedSize) / double(entry.uncompressedSize),
                             1.0 / 1032, 1.0);
        try {
            auto source = entry.openSource(entry.compressedSize);
            if (!source) return;
            ahead_ = std::make_unique<InflateAhead>(
                std::move(source), entry.compressedSize, tuning_.segment,
                std::uint64_t(double(tuning_.segment) * share / 2));
        } catch (const std::exception&) {
            ahead_.reset(); // without memory or a thread: one decoder does it all
        }
    }

    DecodeStatus Decode(unsigned char* out, std::size_t capacity, std::size_t& produced) {
        // Where an entry point lies ahead, the input stops first where its stored blocks begin,
        // then where they end; the output in between is kept for the check there.
        std::uint64_t limit = fedEnd_;
        if (ahead_) {
            ahead_->Report(cursor_);
            const std::optional<EntryPoint> point = ahead_->Candidate(tuning_.waitForSearch);
            if (!point || !point_ || point->at != point_->at) tailKept_ = 0;
            point_ = point;
            if (point_ && cursor_ >= point_->at) { // found too late to be checked
                ahead_->Drop(point_->at, cursor_);
                point_.reset();
            }
            if (point_)
                limit = std::min(limit, cursor_ < point_->check ? point_->check : point_->at);
        }
        const bool pastCheck = point_ && cursor_ >= point_->check;
        const std::uint32_t room = std::uint32_t(std::min<std::size_t>(capacity, UINT32_MAX));
        const bool inFed = cursor_ < limit;
        state_->next_in = inFed ? const_cast<std::uint8_t*>(fed_) + (cursor_ - fedStart_) : nullptr;
        state_->avail_in = inFed ? std::uint32_t(limit - cursor_) : 0;
        state_->next_out = out;
        state_->avail_out = room;
        const int rc = isal_inflate(state_.get());
        produced = room - state_->avail_out;
        if (inFed) cursor_ = limit - state_->avail_in;
        if (rc < 0) return DecodeStatus::Corrupt;
        // Finished means the last block ended and everything decoded has been handed out.
        if (state_->block_state == ISAL_BLOCK_FINISH) return DecodeStatus::End;
        if (pastCheck) {
            KeepTail(out, produced);
            // After a segment is taken, the next call hands it out whatever the input.
            if (cursor_ == point_->at && Arrive()) return DecodeStatus::OutputFull;
        }
        if (state_->avail_out == 0 || cursor_ < fedEnd_) return DecodeStatus::OutputFull;
        return DecodeStatus::NeedInput;
    }

    // The last kInflateWindow bytes decoded since the stored blocks began.
    void KeepTail(const unsigned char* data, std::size_t size) {
        if (size >= kInflateWindow) {
            std::memcpy(tail_, data + size - kInflateWindow, kInflateWindow);
            tailKept_ = kInflateWindow;
            return;
        }
        const std::size_t keep = std::min(tailKept_, kInflateWindow - size);
        std::memmove(tail_, tail_ + tailKept_ - keep, keep);
        std::memcpy(tail_ + keep, data, size);
        tailKept_ = keep + size;
    }

    // At the entry point: a block boundary, no bits or output held back, and a whole window
    // decoded since the stored blocks began, or the point is not used.
    bool Arrive() {
        const EntryPoint point = *point_;
        point_.reset();
        const inflate_state& s = *state_;
        InflateAhead::Segment segment;
        if (s.block_state == ISAL_BLOCK_NEW_HDR && s.read_in_length == 0 && s.tmp_in_size == 0 &&
            s.tmp_out_processed == s.tmp_out_valid && tailKept_ == kInflateWindow &&
            ahead_->Take(point.at, tail_, state_, segment)) {
            pending_ = segment;
            cursor_ = std::max(cursor_, segment.resumeAt);
            return true;
        }
        ahead_->Drop(point.at, cursor_);
        return false;
    }

    const InflateAheadTuning tuning_;
    std::unique_ptr<inflate_state> state_; // about 85 KiB of tables and history, made once
    // The fed bytes, their raw offsets, and the offset the decoder reads on from (past the fed
    // bytes while it skips what a taken segment has decoded).
    const unsigned char* fed_ = nullptr;
    std::uint64_t fedStart_ = 0, fedEnd_ = 0, cursor_ = 0;
    std::unique_ptr<InflateAhead> ahead_;
    std::optional<EntryPoint> point_;
    std::optional<InflateAhead::Segment> pending_;
    // Non-empty blocks handed out, and the number each segment buffer went out as.
    std::uint64_t blocks_ = 0, handed_[2] = {0, 0};
    unsigned char tail_[kInflateWindow];
    std::size_t tailKept_ = 0;
};
#else
class DeflateDecoder final : public Decoder {
public:
    ~DeflateDecoder() override {
        if (ready_) inflateEnd(&stream_);
    }
    bool Init(const EntryFacts&) override {
        if (ready_) return inflateReset(&stream_) == Z_OK;
        stream_ = {};
        ready_ = inflateInit2(&stream_, -MAX_WBITS) == Z_OK;
        return ready_;
    }
    void Feed(const unsigned char* data, std::size_t size, bool) override {
        stream_.next_in = const_cast<unsigned char*>(data);
        stream_.avail_in = uInt(size);
    }
    DecodeStatus Produce(unsigned char* out, std::size_t capacity, std::size_t& produced) override {
        stream_.next_out = out;
        stream_.avail_out = uInt(capacity);
        const int rc = inflate(&stream_, Z_NO_FLUSH);
        produced = capacity - stream_.avail_out;
        if (rc == Z_STREAM_END) return DecodeStatus::End;
        if (rc == Z_OK || rc == Z_BUF_ERROR)
            return stream_.avail_out == 0 ? DecodeStatus::OutputFull : DecodeStatus::NeedInput;
        return DecodeStatus::Corrupt;
    }

private:
    z_stream stream_{};
    bool ready_ = false;
};
#endif

} // namespace

std::unique_ptr<Decoder> CreateDeflateDecoder(const InflateAheadTuning& tuning) {
#if NARVO_HAVE_ISAL
    return std::make_unique<DeflateDecoder>(tuning);
#else
    (void)tuning; // one decoder: zlib has no entry points to share
    return std::make_unique<DeflateDecoder>();
#endif
}

} // namespace narvo::decode
