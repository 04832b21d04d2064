// Method 12: bzip2 through libbz2.
#include "archive/decode/Decoder.h"

#include <bzlib.h>

namespace narvo::decode {

namespace {

class Bzip2Decoder final : public Decoder {
public:
    ~Bzip2Decoder() override { Finish(); }
    bool Init(const EntryFacts&) override {
        Finish();
        stream_ = {};
        ready_ = BZ2_bzDecompressInit(&stream_, 0, 0) == BZ_OK;
        return ready_;
    }
    void Feed(const unsigned char* data, std::size_t size, bool) override {
        stream_.next_in = reinterpret_cast<char*>(const_cast<unsigned char*>(data));
        stream_.avail_in = unsigned(size);
    }
    DecodeStatus Produce(unsigned char* out, std::size_t capacity, std::size_t& produced) override {
        stream_.next_out = reinterpret_cast<char*>(out);
        stream_.avail_out = unsigned(capacity);
        const int rc = BZ2_bzDecompress(&stream_);
        produced = capacity - stream_.avail_out;
        if (rc == BZ_STREAM_END) return DecodeStatus::End;
        if (rc != BZ_OK) return DecodeStatus::Corrupt;
        return stream_.avail_out == 0 ? DecodeStatus::OutputFull : DecodeStatus::NeedInput;
    }
    void Finish() override {
        if (ready_) BZ2_bzDecompressEnd(&stream_);
        ready_ = false;
    }

private:
    bz_stream stream_{};
    bool ready_ = false;
};

} // namespace

std::unique_ptr<Decoder> CreateBzip2Decoder() {
    return std::make_unique<Bzip2Decoder>();
}

} // namespace narvo::decode
