// Method 8: raw deflate. ISA-L decodes it where the build has its x86-64 code (two to three times
// as fast as zlib, writing straight into the engine's output block); zlib elsewhere. Either keeps
// its state between entries: archives of many small files would otherwise spend their time on it.
#include "archive/decode/Decoder.h"

#if NARVO_HAVE_ISAL
#include <isa-l/igzip_lib.h>
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
    bool Init(const EntryFacts&) override {
        if (!state_) state_ = std::make_unique<inflate_state>();
        isal_inflate_init(state_.get());
        state_->crc_flag = ISAL_DEFLATE; // the engine sums the output itself
        return true;
    }
    void Feed(const unsigned char* data, std::size_t size, bool) override {
        state_->next_in = const_cast<std::uint8_t*>(data);
        state_->avail_in = std::uint32_t(size);
    }
    DecodeStatus Produce(unsigned char* out, std::size_t capacity, std::size_t& produced) override {
        const std::uint32_t room = std::uint32_t(std::min<std::size_t>(capacity, UINT32_MAX));
        state_->next_out = out;
        state_->avail_out = room;
        const int rc = isal_inflate(state_.get());
        produced = room - state_->avail_out;
        if (rc < 0) return DecodeStatus::Corrupt;
        // Finished means the last block ended and everything decoded has been handed out.
        if (state_->block_state == ISAL_BLOCK_FINISH) return DecodeStatus::End;
        return state_->avail_out == 0 ? DecodeStatus::OutputFull : DecodeStatus::NeedInput;
    }

private:
    std::unique_ptr<inflate_state> state_; // about 85 KiB of tables and history, made once
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

std::unique_ptr<Decoder> CreateDeflateDecoder() {
    return std::make_unique<DeflateDecoder>();
}

} // namespace narvo::decode
