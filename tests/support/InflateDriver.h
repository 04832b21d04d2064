#pragma once
// Drives method 8's decoder over a whole raw deflate stream in memory the way the engine does,
// alone or with the second thread decoding ahead, for the tests and the fuzz target alike.
#include "archive/decode/Decoder.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

namespace narvo::test {

class MemorySource final : public decode::RawSource {
public:
    explicit MemorySource(const std::string& bytes) : bytes_(bytes) {}
    std::size_t Read(std::uint64_t offset, void* buffer, std::size_t size) override {
        if (offset >= bytes_.size()) return 0;
        size = std::min<std::size_t>(size, bytes_.size() - std::size_t(offset));
        std::memcpy(buffer, bytes_.data() + offset, size);
        return size;
    }

private:
    const std::string& bytes_;
};

struct Inflated {
    std::string bytes;
    decode::DecodeStatus status = decode::DecodeStatus::NeedInput;
    std::size_t ownBlocks = 0;     // blocks handed out of the second thread's buffers
    bool heldBlockChanged = false; // a block of the decoder's own changed while still held
};

// Reads of `piece` bytes from where the decoder asks, every block handed on at once, until the
// stream ends, fails, runs out or gives most bytes. segment 0: one decoder; otherwise a second
// thread decodes segments of that size, the first decoder waiting for each of its searches.
inline Inflated Inflate(const std::string& stream, std::size_t segment, std::size_t piece,
                        std::size_t most = SIZE_MAX) {
    Inflated result;
    decode::InflateAheadTuning tuning;
    tuning.minimumInput = 0;
    tuning.segment = segment;
    tuning.waitForSearch = true;
    auto decoder = decode::CreateDeflateDecoder(tuning);
    decode::EntryFacts facts{0, 0, stream.size(), nullptr};
    if (segment != 0)
        facts.openSource = [&stream](std::uint64_t) {
            return std::make_unique<MemorySource>(stream);
        };
    if (!decoder->Init(facts)) return result;
    std::string block(piece, '\0');
    auto* out = reinterpret_cast<unsigned char*>(block.data());
    const unsigned char* held = nullptr;
    std::string heldCopy;
    std::uint64_t fed = 0;
    for (long steps = 0; steps < 10'000'000 && result.bytes.size() < most; ++steps) {
        if (result.status == decode::DecodeStatus::NeedInput) {
            if (fed == stream.size() && steps != 0) break;
            fed = decoder->NextInput(fed);
            const std::size_t n = std::min<std::size_t>(piece, stream.size() - fed);
            decoder->Feed(reinterpret_cast<const unsigned char*>(stream.data()) + fed, n,
                          fed + n == stream.size());
            fed += n;
        }
        const unsigned char* data = nullptr;
        std::size_t produced = 0;
        result.status = decoder->ProduceAny(out, block.size(), data, produced);
        if (produced != 0) {
            if (held && std::memcmp(held, heldCopy.data(), heldCopy.size()) != 0)
                result.heldBlockChanged = true;
            const bool own = data != out;
            held = own ? data : nullptr;
            heldCopy.assign(reinterpret_cast<const char*>(data), own ? produced : 0);
            result.ownBlocks += own;
            result.bytes.append(reinterpret_cast<const char*>(data), produced);
        }
        if (result.status == decode::DecodeStatus::End ||
            result.status == decode::DecodeStatus::Corrupt)
            break;
    }
    decoder->Finish();
    return result;
}

} // namespace narvo::test
