// Method 8: raw deflate through zlib. The stream state is kept between entries (inflateReset is
// far cheaper than a new inflateInit for archives of many small files).
#include "archive/decode/Decoder.h"

#include <zlib.h>

namespace narvo::decode {

namespace {

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

} // namespace

std::unique_ptr<Decoder> CreateDeflateDecoder() {
    return std::make_unique<DeflateDecoder>();
}

} // namespace narvo::decode
