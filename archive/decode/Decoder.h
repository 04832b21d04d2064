#pragma once
// The seam between the archive's raw entry bytes and the file the engine writes: one decoder per
// compression method, each in its own file, chosen by method number in Decoder.cpp only.
#include <cstddef>
#include <cstdint>
#include <memory>

namespace narvo::decode {

enum class DecodeStatus {
    NeedInput,  // everything fed has been used; feed more
    OutputFull, // the output block is full; produce again
    End,        // the method's stream ended (input after it is not used)
    Corrupt,    // the data cannot be decoded
};

// What a decoder needs to know of the entry it decodes.
struct EntryFacts {
    std::uint64_t uncompressedSize = 0;
    unsigned flags = 0; // the general-purpose flag bits
};

class Decoder {
public:
    virtual ~Decoder() = default;
    // Starts a new entry; a decoder serves one entry after another. False without memory.
    virtual bool Init(const EntryFacts& entry) = 0;
    // Hands over the entry's next raw bytes, valid until Produce asks for more. last marks the
    // final bytes of the entry's data.
    virtual void Feed(const unsigned char* data, std::size_t size, bool last) = 0;
    // Decodes into out (capacity bytes), telling in produced how many were written.
    virtual DecodeStatus Produce(unsigned char* out, std::size_t capacity,
                                 std::size_t& produced) = 0;
    // Releases what the current entry holds beyond the decoder's reusable state.
    virtual void Finish() {}
};

// The decoder for a ZIP compression method; null for a method this build does not decode.
std::unique_ptr<Decoder> CreateDecoder(unsigned method);

// The method numbers CreateDecoder knows, for a refusal before anything is written.
bool IsSupportedMethod(unsigned method);

// One factory per method file.
std::unique_ptr<Decoder> CreateStoredDecoder();
std::unique_ptr<Decoder> CreateDeflateDecoder();
// Deflate64; plainDeflate has it decode method 8 instead, for checking its core against zlib.
std::unique_ptr<Decoder> CreateDeflate64Decoder(bool plainDeflate = false);
std::unique_ptr<Decoder> CreateBzip2Decoder();
std::unique_ptr<Decoder> CreateLzmaDecoder();

} // namespace narvo::decode
