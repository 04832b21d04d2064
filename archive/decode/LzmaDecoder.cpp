// Method 14: LZMA through liblzma. ZIP stores a 2-byte version, a 2-byte properties size and the
// 5 properties bytes before the raw LZMA1 data; they become the .lzma ("alone") header liblzma
// reads, with the entry's size unless flag bit 1 says the data end with an end marker.
#include "archive/decode/Decoder.h"

#include <lzma.h>

#include <cstring>

namespace narvo::decode {

namespace {

constexpr std::size_t kZipHeader = 9, kAloneHeader = 13;

class LzmaDecoder final : public Decoder {
public:
    ~LzmaDecoder() override { lzma_end(&stream_); }
    bool Init(const EntryFacts& entry) override {
        entry_ = entry;
        headerHave_ = 0;
        inHeader_ = true;
        failed_ = false;
        return lzma_alone_decoder(&stream_, UINT64_MAX) == LZMA_OK;
    }
    void Feed(const unsigned char* data, std::size_t size, bool last) override {
        last_ = last;
        // The ZIP header may arrive split; it is gathered first.
        while (inHeader_ && size != 0) {
            header_[headerHave_++] = *data++;
            --size;
            if (headerHave_ == kZipHeader) inHeader_ = !StartStream();
        }
        stream_.next_in = data;
        stream_.avail_in = size;
    }
    DecodeStatus Produce(unsigned char* out, std::size_t capacity, std::size_t& produced) override {
        produced = 0;
        if (failed_) return DecodeStatus::Corrupt;
        if (inHeader_) return last_ ? DecodeStatus::Corrupt : DecodeStatus::NeedInput;
        stream_.next_out = out;
        stream_.avail_out = capacity;
        const lzma_ret rc = lzma_code(&stream_, last_ ? LZMA_FINISH : LZMA_RUN);
        produced = capacity - stream_.avail_out;
        if (rc == LZMA_STREAM_END) return DecodeStatus::End;
        if (rc != LZMA_OK && rc != LZMA_BUF_ERROR) return DecodeStatus::Corrupt;
        return stream_.avail_out == 0 ? DecodeStatus::OutputFull : DecodeStatus::NeedInput;
    }

private:
    // Feeds liblzma the .lzma header built from the ZIP one; false when it is not LZMA's.
    bool StartStream() {
        if (header_[2] != 5 || header_[3] != 0) {
            failed_ = true;
            return true;
        }
        unsigned char alone[kAloneHeader];
        std::memcpy(alone, header_ + 4, 5);
        const bool endMarker = (entry_.flags & 2) != 0;
        std::uint64_t size = endMarker ? UINT64_MAX : entry_.uncompressedSize;
        for (int i = 0; i < 8; ++i)
            alone[5 + i] = (unsigned char)(size >> (8 * i));
        // liblzma does nothing without room for output; the header alone produces none.
        unsigned char room[1];
        stream_.next_in = alone;
        stream_.avail_in = kAloneHeader;
        stream_.next_out = room;
        stream_.avail_out = sizeof room;
        const lzma_ret rc = lzma_code(&stream_, LZMA_RUN);
        if ((rc != LZMA_OK && rc != LZMA_BUF_ERROR) || stream_.avail_in != 0) failed_ = true;
        return true;
    }

    lzma_stream stream_ = LZMA_STREAM_INIT;
    EntryFacts entry_;
    unsigned char header_[kZipHeader];
    std::size_t headerHave_ = 0;
    bool inHeader_ = true, last_ = false, failed_ = false;
};

} // namespace

std::unique_ptr<Decoder> CreateLzmaDecoder() {
    return std::make_unique<LzmaDecoder>();
}

} // namespace narvo::decode
