#pragma once
// Inside the archive library: the engine's per-entry work for loops over many entries, with the
// buffers and decoders kept from one entry to the next.
#include "archive/ZipArchive.h"
#include "archive/decode/Decoder.h"
#include "fileutil/AlignedBuffer.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace narvo {

namespace platform {
class OutputFile;
}

class EntryWriter {
public:
    EntryWriter();
    ~EntryWriter();
    EntryWriter(const EntryWriter&) = delete;
    EntryWriter& operator=(const EntryWriter&) = delete;

    // ExtractCurrentEntry for an entry whose information the caller has read. targetAbsent tells
    // that the caller has just seen nothing at the target path, so it need not be asked again.
    int Extract(ZipReader& archive, const unz_file_info64& info, std::string_view name,
                const char* destFolder, bool targetAbsent);

private:
    decode::Decoder* DecoderFor(unsigned method);
    bool HasRoomFor(const char* destFolder, std::uint64_t size);
    int Copy(ZipReader& archive, const unz_file_info64& info, std::uint64_t start,
             decode::Decoder& decoder, platform::OutputFile& file);

    // Large blocks keep the number of reads and writes per megabyte low.
    AlignedBuffer in_, out_;
    // The second output block, made for the first entry written behind its decoding.
    std::optional<AlignedBuffer> spare_;
    std::vector<std::pair<unsigned, std::unique_ptr<decode::Decoder>>> decoders_;
    // Free space of the destination as last asked, less what has been written since; asked again
    // only when an entry would not fit in it.
    std::string spaceFolder_;
    std::uint64_t knownFree_ = 0;
};

} // namespace narvo
