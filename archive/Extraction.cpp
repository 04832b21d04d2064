#include "archive/Extraction.h"

#include "archive/ZipArchive.h"
#include "fileutil/Digest.h"
#include "platform/FileSystem.h"

#if NARVO_HAVE_ISAL
#include <isa-l/igzip_lib.h>
#endif

#include <algorithm>
#include <cstdio>
#include <string>

namespace narvo {

#if NARVO_HAVE_ISAL
struct detail::Inflater {
    inflate_state state;
};
#else
struct detail::Inflater {};
#endif
void detail::InflaterDeleter::operator()(Inflater* inflater) const {
    delete inflater;
}

namespace {

bool IsValidDosDateTime(std::uint32_t dosDateTime) {
    const unsigned date = dosDateTime >> 16, time = dosDateTime & 0xFFFF;
    const unsigned day = date & 0x1F, month = (date >> 5) & 0x0F;
    const unsigned seconds2 = time & 0x1F, minutes = (time >> 5) & 0x3F, hours = time >> 11;
    return day >= 1 && month >= 1 && month <= 12 && seconds2 <= 29 && minutes <= 59 && hours <= 23;
}

// "." and ".." name the folder itself or its parent, never a file to write.
bool IsFolderReference(std::string_view baseName) {
    return baseName == "." || baseName == "..";
}

// Copies the open entry's data into file through minizip, which inflates with zlib and checks
// the CRC-32 when the entry is closed. Returns 0, the library's code or UNZ_ERRNO.
int CopyThroughLibrary(unzFile archive, platform::OutputFile& file, detail::CopyBuffer& buffer) {
    for (;;) {
        const int n =
            unzReadCurrentFile(archive, buffer.bytes.data(), unsigned(buffer.bytes.size()));
        if (n < 0) {
            std::printf("error %d with zipfile in unzReadCurrentFile\n", n);
            return n;
        }
        if (n == 0) return UNZ_OK;
        if (!file.Write(buffer.bytes.data(), unsigned(n))) {
            std::printf("error in writing extracted file\n");
            return UNZ_ERRNO;
        }
    }
}

#if NARVO_HAVE_ISAL
// Deflated, unencrypted entries go to ISA-L, which inflates two to three times as fast as zlib.
bool DecodedHere(const unz_file_info64& info) {
    return info.compression_method == Z_DEFLATED && (info.flag & 1) == 0;
}

// Inflates the open entry's raw deflate data straight into the copy buffer and on into file,
// checking the CRC-32 and the stored size itself (minizip hands raw data over unchecked). Data
// that would run past the stored size, or that end before it, are corrupt: a forged size never
// makes the output grow beyond what the directory promised, nor passes a short file as whole.
int InflateToFile(unzFile archive, const unz_file_info64& info, platform::OutputFile& file,
                  detail::CopyBuffer& buffer) {
    if (!buffer.inflater) buffer.inflater.reset(new detail::Inflater);
    if (buffer.input.empty()) buffer.input.resize(256 * 1024);
    inflate_state& state = buffer.inflater->state;
    isal_inflate_init(&state);
    state.crc_flag = ISAL_DEFLATE;

    const auto corrupt = [] {
        std::printf("error %d with zipfile in unzReadCurrentFile\n", Z_DATA_ERROR);
        return Z_DATA_ERROR;
    };
    std::uint64_t written = 0;
    std::uint32_t crc = 0;
    bool inputEnded = false;
    // Compressed data come straight from the archive's file where the reader allows it; else
    // through minizip, which copies them byte by byte and sums them.
    std::uint64_t offset = unzGetCurrentFileZStreamPos64(archive);
    std::uint64_t rest = info.compressed_size;
    bool direct = true;
    while (state.block_state != ISAL_BLOCK_FINISH) {
        if (state.avail_in == 0 && !inputEnded) {
            long long n = 0;
            if (direct && rest != 0) {
                const std::size_t want =
                    std::size_t(std::min<std::uint64_t>(rest, buffer.input.size()));
                n = ReadArchiveData(archive, offset, buffer.input.data(), want);
                if (n >= 0 && std::size_t(n) != want) { // the archive ends early
                    std::printf("error %d with zipfile in unzReadCurrentFile\n", UNZ_ERRNO);
                    return UNZ_ERRNO;
                }
                if (n >= 0) {
                    offset += want;
                    rest -= want;
                } else {
                    direct = false;
                }
            }
            if (!direct) {
                n = unzReadCurrentFile(archive, buffer.input.data(), unsigned(buffer.input.size()));
                if (n < 0) {
                    std::printf("error %d with zipfile in unzReadCurrentFile\n", int(n));
                    return int(n);
                }
            }
            inputEnded = n == 0;
            state.next_in = reinterpret_cast<std::uint8_t*>(buffer.input.data());
            state.avail_in = std::uint32_t(n);
        }
        state.next_out = reinterpret_cast<std::uint8_t*>(buffer.bytes.data());
        state.avail_out = std::uint32_t(buffer.bytes.size());
        if (isal_inflate(&state) < 0) return corrupt();
        const std::uint32_t produced = std::uint32_t(buffer.bytes.size()) - state.avail_out;
        if (produced > info.uncompressed_size - written) return corrupt();
        // Nothing made and nothing left to read: the deflate stream stops short of its end.
        if (produced == 0 && state.avail_in == 0 && inputEnded &&
            state.block_state != ISAL_BLOCK_FINISH)
            return corrupt();
        crc = Crc32Update(crc, buffer.bytes.data(), produced);
        written += produced;
        if (produced != 0 && !file.Write(buffer.bytes.data(), produced)) {
            std::printf("error in writing extracted file\n");
            return UNZ_ERRNO;
        }
    }
    if (written != info.uncompressed_size) return corrupt();
    return crc == info.crc ? UNZ_OK : UNZ_CRCERROR;
}
#else
bool DecodedHere(const unz_file_info64&) {
    return false;
}
int InflateToFile(unzFile, const unz_file_info64&, platform::OutputFile&, detail::CopyBuffer&) {
    return UNZ_INTERNALERROR;
}
#endif

} // namespace

std::string_view EntryBaseName(std::string_view storedName) {
    const auto slash = storedName.find_last_of("/\\");
    return slash == std::string_view::npos ? storedName : storedName.substr(slash + 1);
}

int detail::ExtractEntry(unzFile archive, const unz_file_info64& info, std::string_view name,
                         const char* destFolder, CopyBuffer& buffer, bool targetAbsent) {
    const std::string_view baseName = EntryBaseName(name);
    if (baseName.empty() || IsFolderReference(baseName)) return UNZ_OK;

    std::string target = destFolder ? destFolder : "";
    target += baseName;

    // Entries ISA-L decodes are opened raw: minizip then only hands over the compressed bytes.
    const bool decodedHere = DecodedHere(info);
    int result = unzOpenCurrentFile2(archive, nullptr, nullptr, decodedHere ? 1 : 0);
    // An existing target (even a read-only one) is made writable so that it can be replaced.
    if (!targetAbsent && platform::PathExists(target.c_str()))
        platform::SetAttributes(target.c_str(), platform::FileAttributes::Archive);

    if (result == UNZ_OK) {
        // A stored name with a NUL byte cannot name a file whole; it is refused, not shortened.
        platform::OutputFile file;
        if (baseName.find('\0') != std::string_view::npos || !file.Open(target.c_str())) {
            result = UNZ_ERRNO;
        } else {
            result = decodedHere ? InflateToFile(archive, info, file, buffer)
                                 : CopyThroughLibrary(archive, file, buffer);
            if (!file.Close() && result == UNZ_OK) {
                std::printf("error in writing extracted file\n");
                result = UNZ_ERRNO;
            }
            if (result == UNZ_OK) SetFileTimeFromDos(target.c_str(), std::uint32_t(info.dosDate));
            if (!file.CreatedReadOnly())
                platform::SetAttributes(target.c_str(), platform::FileAttributes::ReadOnly);
        }
    }

    // Closing the entry's data is where a CRC mismatch shows; an earlier failure takes precedence.
    const int closeResult = unzCloseCurrentFile(archive);
    if (result == UNZ_OK) result = closeResult;
    return result;
}

int ExtractCurrentEntry(unzFile archive, const char* destFolder) {
    unz_file_info64 info;
    std::string name;
    const int result = ReadCurrentEntryInfo(archive, info, name);
    if (result != UNZ_OK) return result;
    detail::CopyBuffer buffer;
    return detail::ExtractEntry(archive, info, name, destFolder, buffer, false);
}

int ExtractNamedEntry(const char* archivePath, const char* entryName, const char* destFolder) {
    ZipReader reader(archivePath);
    if (!reader.Handle()) return reader.IsEmptyArchive() ? UNZ_END_OF_LIST_OF_FILE : UNZ_BADZIPFILE;
    if (!entryName) return UNZ_PARAMERROR;

    // The library's own search compares names cut to 255 bytes; this walk compares them whole.
    const std::string_view wanted(entryName);
    unz_file_info64 info;
    std::string name;
    int rc = unzGoToFirstFile(reader.Handle());
    while (rc == UNZ_OK) {
        rc = ReadCurrentEntryInfo(reader.Handle(), info, name);
        if (rc != UNZ_OK) break;
        if (name.size() == wanted.size() && name.find('\0') == std::string::npos &&
            unzStringFileNameCompare(name.c_str(), entryName, 2) == 0) {
            detail::CopyBuffer buffer;
            return detail::ExtractEntry(reader.Handle(), info, name, destFolder, buffer, false);
        }
        rc = unzGoToNextFile(reader.Handle());
    }
    return rc;
}

void SetFileTimeFromDos(const char* path, std::uint32_t dosDateTime) {
    if (!path || !IsValidDosDateTime(dosDateTime)) return;
    platform::SetFileTimesFromDos(path, dosDateTime);
}

int CreateDirectoryPath(const char* path) {
    if (!path || !*path) return 0;
    if (platform::PathExists(path)) return 1;
    const char separator = platform::PathSeparator();
    std::string work(path);
    if (work.empty() || work.back() != separator) work += separator;
    for (auto pos = work.find(separator, platform::PathRootLength(work)); pos != std::string::npos;
         pos = work.find(separator, pos + 1)) {
        work[pos] = '\0';
        const char* prefix = work.c_str();
        const bool ok = platform::PathExists(prefix) || platform::CreateFolder(prefix);
        work[pos] = separator;
        if (!ok) return 0;
    }
    return 1;
}

} // namespace narvo
