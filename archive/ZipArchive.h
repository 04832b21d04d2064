#pragma once
// Small helpers over minizip's unzip API shared by listing and extraction.
#include <unzip.h>

#include <cstdint>
#include <string>

namespace narvo {

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

private:
    unzFile handle_ = nullptr;
    void* stream_ = nullptr; // the buffered stream under handle_, for ReadArchiveData
    bool emptyArchive_ = false;
};

// The file functions ZipReader opens archives with: minizip's own stdio functions behind a read
// buffer (read-only; writing is refused).
zlib_filefunc64_def BufferedFileFunctions();

// Reads size bytes at offset of an archive that a ZipReader holds open straight into out (one
// copy, none through minizip's buffers): for entry data opened raw. Returns the bytes read (fewer
// at the end of the file or on an error), or -1 when no ZipReader holds the archive.
long long ReadArchiveData(unzFile archive, std::uint64_t offset, void* out, std::size_t size);

// The current entry's information and its whole stored name, however long. Returns the library's
// code.
int ReadCurrentEntryInfo(unzFile archive, unz_file_info64& info, std::string& name);

} // namespace narvo
