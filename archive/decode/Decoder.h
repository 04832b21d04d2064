#pragma once
// The seam between the archive's raw entry bytes and the file the engine writes: one decoder per
// compression method, each in its own file, chosen by method number in Decoder.cpp only.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

namespace narvo::decode {

enum class DecodeStatus {
    NeedInput,  // everything fed has been used; feed more
    OutputFull, // the output block is full; produce again
    End,        // the method's stream ended (input after it is not used)
    Corrupt,    // the data cannot be decoded
};

// A second way to an entry's raw bytes, independent of the one the engine feeds from, for a
// decoder that reads ahead on a thread of its own. Offsets count from the entry's first raw byte.
class RawSource {
public:
    virtual ~RawSource() = default;
    // The count read: short only at the end of the data or on an error.
    virtual std::size_t Read(std::uint64_t offset, void* buffer, std::size_t size) = 0;
};

// What a decoder needs to know of the entry it decodes.
struct EntryFacts {
    std::uint64_t uncompressedSize = 0;
    unsigned flags = 0; // the general-purpose flag bits
    std::uint64_t compressedSize = 0;
    // Opens a RawSource over the entry's data (compressedSize bytes); empty where there is none.
    // A caller that gives it takes the decoded bytes through ProduceAny.
    std::function<std::unique_ptr<RawSource>(std::uint64_t size)> openSource = nullptr;
};

class Decoder {
public:
    virtual ~Decoder() = default;
    // Starts a new entry; a decoder serves one entry after another. False without memory.
    virtual bool Init(const EntryFacts& entry) = 0;
    // Hands over the entry's next raw bytes, valid until Produce asks for more. last marks the
    // final bytes of the entry's data. They start where NextInput said.
    virtual void Feed(const unsigned char* data, std::size_t size, bool last) = 0;
    // Decodes into out (capacity bytes), telling in produced how many were written.
    virtual DecodeStatus Produce(unsigned char* out, std::size_t capacity,
                                 std::size_t& produced) = 0;
    // The raw offset to feed from next, given how far the feeding has come: further on when
    // a second decoder has decoded what lies between.
    virtual std::uint64_t NextInput(std::uint64_t fed) const { return fed; }
    // Produce, except that the decoder may hand over a block of its own instead of filling out:
    // data then points at it (and produced may exceed capacity). The caller hands every non-empty
    // block on before calling again; the decoder's own stays untouched until a later one has gone.
    virtual DecodeStatus ProduceAny(unsigned char* out, std::size_t capacity,
                                    const unsigned char*& data, std::size_t& produced) {
        data = out;
        return Produce(out, capacity, produced);
    }
    // Releases what the current entry holds beyond the decoder's reusable state.
    virtual void Finish() {}
};

// When method 8's decoder (ISA-L builds) decodes part of a large entry on a second thread.
struct InflateAheadTuning {
    std::uint64_t minimumInput = 16u << 20; // raw bytes an entry needs for it
    std::size_t segment = 8u << 20;         // decoded bytes the second thread holds at most
    // For tests: the first decoder waits for each search, so that the points found are used
    // whatever the threads' timing.
    bool waitForSearch = false;
};

// The decoder for a ZIP compression method; null for a method this build does not decode.
std::unique_ptr<Decoder> CreateDecoder(unsigned method);

// The method numbers CreateDecoder knows, for a refusal before anything is written.
bool IsSupportedMethod(unsigned method);

// One factory per method file.
std::unique_ptr<Decoder> CreateStoredDecoder();
std::unique_ptr<Decoder> CreateDeflateDecoder(const InflateAheadTuning& tuning = {});
// Deflate64; plainDeflate has it decode method 8 instead, for checking its core against zlib.
std::unique_ptr<Decoder> CreateDeflate64Decoder(bool plainDeflate = false);
std::unique_ptr<Decoder> CreateBzip2Decoder();
std::unique_ptr<Decoder> CreateLzmaDecoder();

} // namespace narvo::decode
