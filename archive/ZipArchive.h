#pragma once
// Small helpers over minizip's unzip API shared by listing and extraction.
#include "archive/decode/Decoder.h"

#include <unzip.h>

#include <cstdint>
#include <cstddef>
#include <memory>
#include <string>

namespace narvo {

// A read-only stream of its own over an archive file, through BufferedFileFunctions, read at
// positions; IsOpen() is false when the file cannot be opened.
class ArchiveStream {
public:
    explicit ArchiveStream(const std::string& path);
    ~ArchiveStream();
    ArchiveStream(const ArchiveStream&) = delete;
    ArchiveStream& operator=(const ArchiveStream&) = delete;

    bool IsOpen() const { return stream_ != nullptr; }
    std::uint64_t Size() const { return size_; }
    // The count read at pos: short at the end or on an error.
    std::size_t Read(std::uint64_t pos, void* buffer, std::size_t size);

private:
    zlib_filefunc64_def functions_;
    voidpf stream_ = nullptr;
    std::uint64_t size_ = 0;
};

// Owns an open unzip handle; closing also closes any entry data left open.
class ZipReader {
public:
    // Opens path; Handle() is null when it cannot be opened as a ZIP archive. A valid archive
    // without entries is recognised here even where the library refuses it: IsEmptyArchive()
    // then tells the caller, and Handle() stays null.
    explicit ZipReader(const char* path);
    ~ZipReader() { Close(); }
    ZipReader(const ZipReader&) = delete;
    ZipReader& operator=(const ZipReader&) = delete;

    unzFile Handle() const { return handle_; }
    bool IsEmptyArchive() const { return emptyArchive_; }
    void Close();

    // Where the current entry's raw data start (after its local header) in the archive file.
    // UNZ_BADZIPFILE when its records are damaged or its data would run past the archive's end.
    int LocateCurrentData(const unz_file_info64& info, std::uint64_t& start);
    // UNZ_BADZIPFILE when the directory declares more entries than its size can hold.
    int CheckEntryCount(std::uint64_t entryCount);
    // Whether a row's stored compressed size fits in the archive at all.
    bool FitsInArchive(std::uint64_t compressedSize) const { return compressedSize <= fileSize_; }
    // Walks the directory's records once: UNZ_BADZIPFILE when two entries' data overlap (several
    // records pointing into the same bytes, as in a zip bomb) or an entry's data would run past
    // the archive's end.
    int CheckEntriesApart(std::uint64_t entryCount);
    // Reads raw bytes of the archive at pos; the count read (short at the end or on an error).
    std::size_t ReadRaw(std::uint64_t pos, void* buffer, std::size_t size);
    // The size bytes from start on through a stream of their own, for another thread; null when
    // the archive cannot be opened again.
    std::unique_ptr<decode::RawSource> OpenSource(std::uint64_t start, std::uint64_t size) const;

private:
    bool OpenRaw();

    std::string path_;
    unzFile handle_ = nullptr;
    bool emptyArchive_ = false;
    // A second stream over the file for the entries' data, so that the library's stream keeps
    // its window on the directory.
    std::unique_ptr<ArchiveStream> raw_;
    std::uint64_t fileSize_ = 0;
    std::uint64_t bytesBefore_ = 0; // of a self-extractor's stub in front of the archive
    std::uint64_t dirOffset_ = 0, dirSize_ = 0;
    bool dirKnown_ = false;
    bool rawTried_ = false;
};

// The file functions ZipReader opens archives with: stdio with 64-bit offsets behind a read
// buffer (read-only; writing is refused).
zlib_filefunc64_def BufferedFileFunctions();

// The current entry's information and its whole name, however long, decoded into the ANSI code
// page where it is UTF-8 (DecodeEntryName). Returns the library's code.
int ReadCurrentEntryInfo(unzFile archive, unz_file_info64& info, std::string& name);

} // namespace narvo
