// Method 0: the raw bytes are the entry's bytes.
#include "archive/decode/Decoder.h"

#include <algorithm>
#include <cstring>

namespace narvo::decode {

namespace {

class StoredDecoder final : public Decoder {
public:
    bool Init(const EntryFacts& entry) override {
        expected_ = entry.uncompressedSize;
        total_ = 0;
        size_ = 0;
        last_ = false;
        return true;
    }
    void Feed(const unsigned char* data, std::size_t size, bool last) override {
        data_ = data;
        size_ = size;
        last_ = last;
    }
    DecodeStatus Produce(unsigned char* out, std::size_t capacity, std::size_t& produced) override {
        produced = std::min(capacity, size_);
        std::memcpy(out, data_, produced);
        data_ += produced;
        size_ -= produced;
        total_ += produced;
        if (size_ != 0) return DecodeStatus::OutputFull;
        // Stored data end with the entry's data; short of the stored size they end early.
        return last_ && total_ >= expected_ ? DecodeStatus::End : DecodeStatus::NeedInput;
    }

private:
    const unsigned char* data_ = nullptr;
    std::size_t size_ = 0;
    std::uint64_t expected_ = 0, total_ = 0;
    bool last_ = false;
};

} // namespace

std::unique_ptr<Decoder> CreateStoredDecoder() {
    return std::make_unique<StoredDecoder>();
}

} // namespace narvo::decode
