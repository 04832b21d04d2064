#pragma once
// The extraction engine: writes archive entries flat into a folder, read-only, with their stored
// times; plus the folder creation the archive and transfer operations share.
#include <unzip.h>

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace narvo {

// Writes the entry at the archive's current position into destFolder under its base name (the
// part of its stored name after the last '/' or '\'). destFolder is put directly in front of the
// base name, so it should end with a separator. Folder entries produce nothing and give 0.
// Returns 0 or the unzip/zlib code: -1 when the target cannot be created or written, -3 for
// corrupt data, -105 when the data read whole do not match the stored CRC-32.
int ExtractCurrentEntry(unzFile archive, const char* destFolder);

// Opens archivePath, finds entryName (ASCII letters compared without regard to case) and extracts
// it with ExtractCurrentEntry. -103 when the archive cannot be opened, -100 when no entry has the
// name.
int ExtractNamedEntry(const char* archivePath, const char* entryName, const char* destFolder);

// Gives a file the DOS date (high 16 bits) and time (low 16 bits) as its last-write time (and
// creation time where kept). Out-of-range fields leave the file's times as they were.
void SetFileTimeFromDos(const char* path, std::uint32_t dosDateTime);

// Creates every missing folder along path (levels split by the platform's separator). Returns 1
// when every level exists at the end, 0 when a missing level cannot be created.
int CreateDirectoryPath(const char* path);

// The part of a stored entry name after its last '/' or '\'; empty for a folder entry.
std::string_view EntryBaseName(std::string_view storedName);

namespace detail {
// The block through which entry data move from the archive to the file. Large blocks keep the
// number of reads and writes per megabyte low; one buffer serves a whole loop over entries.
struct Inflater;
struct InflaterDeleter {
    void operator()(Inflater* inflater) const;
};
struct CopyBuffer {
    std::vector<char> bytes = std::vector<char>(256 * 1024);
    // Deflated entries' compressed data and the decoder's state, made at the first such entry.
    std::vector<char> input;
    std::unique_ptr<Inflater, InflaterDeleter> inflater;
};

// ExtractCurrentEntry for a caller that has read the entry's information already. targetAbsent
// tells that the caller has just seen nothing at the target path, so it need not be asked again.
int ExtractEntry(unzFile archive, const unz_file_info64& info, std::string_view name,
                 const char* destFolder, CopyBuffer& buffer, bool targetAbsent);
} // namespace detail

} // namespace narvo
