#include "archive/Extraction.h"

#include "archive/Diagnostics.h"
#include "archive/EntryNames.h"
#include "archive/EntryWriter.h"
#include "archive/WriteBehind.h"
#include "fileutil/Digest.h"
#include "platform/FileSystem.h"

#include <zlib.h>

#include <algorithm>
#include <optional>
#include <string>

namespace narvo {

namespace {

constexpr std::size_t kBlock = 256 * 1024;
// From this size on an entry is written on a second thread: below it the thread costs more than
// the overlap saves.
constexpr std::uint64_t kWriteBehindSize = 4 * 1024 * 1024;
constexpr unsigned kFlagEncrypted = 1, kMethodAes = 99;

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

} // namespace

std::string_view EntryBaseName(std::string_view storedName) {
    const auto slash = storedName.find_last_of("/\\");
    return slash == std::string_view::npos ? storedName : storedName.substr(slash + 1);
}

EntryWriter::EntryWriter() : in_(kBlock), out_(kBlock) {}
EntryWriter::~EntryWriter() = default;

decode::Decoder* EntryWriter::DecoderFor(unsigned method) {
    for (auto& [known, decoder] : decoders_)
        if (known == method) return decoder.get();
    auto decoder = decode::CreateDecoder(method);
    if (!decoder) return nullptr;
    decoders_.emplace_back(method, std::move(decoder));
    return decoders_.back().second.get();
}

bool EntryWriter::HasRoomFor(const char* destFolder, std::uint64_t size) {
    if (size == 0) return true;
    // destFolder is put in front of the base name; the folder is the part up to its separator.
    const std::string_view text = destFolder ? destFolder : "";
    const auto cut = text.find_last_of(platform::PathSeparator() == '/' ? "/" : "\\/");
    const std::string_view folder = cut == std::string_view::npos ? "" : text.substr(0, cut + 1);
    if (size <= knownFree_ && folder == spaceFolder_) {
        knownFree_ -= size;
        return true;
    }
    spaceFolder_ = folder;
    if (!platform::FreeSpace(spaceFolder_.c_str(), knownFree_)) {
        knownFree_ = UINT64_MAX; // unknown: the writes themselves will tell
        return true;
    }
    if (size > knownFree_) return false;
    knownFree_ -= size;
    return true;
}

int EntryWriter::Extract(ZipReader& archive, const unz_file_info64& info, std::string_view name,
                         const char* destFolder, bool targetAbsent) {
    const std::string_view baseName = EntryBaseName(name);
    if (baseName.empty() || IsFolderReference(baseName)) return UNZ_OK;

    // A name Windows would turn into a device, a stream or another file is refused, on both builds.
    if (!IsWritableBaseName(baseName)) {
        Diagnose("name not allowed for a file: %.*s", int(baseName.size()), baseName.data());
        return UNZ_ERRNO;
    }
    // What cannot be decoded is refused before anything is written.
    const unsigned method = unsigned(info.compression_method);
    if ((info.flag & kFlagEncrypted) || method == kMethodAes) {
        Diagnose("encrypted entry");
        return UNZ_BADZIPFILE;
    }
    decode::Decoder* decoder = DecoderFor(method);
    if (!decoder) {
        Diagnose("unsupported compression method %u", method);
        return UNZ_BADZIPFILE;
    }
    std::uint64_t start = 0;
    if (const int located = archive.LocateCurrentData(info, start); located != UNZ_OK)
        return located;

    if (!HasRoomFor(destFolder, info.uncompressed_size)) {
        Diagnose("no room for %.*s", int(baseName.size()), baseName.data());
        return UNZ_ERRNO;
    }

    std::string target = destFolder ? destFolder : "";
    target += baseName;
    // An existing target (even a read-only one) is made writable so that it can be replaced.
    if (!targetAbsent && platform::PathExists(target.c_str()))
        platform::SetAttributes(target.c_str(), platform::FileAttributes::Archive);

    // A stored name with a NUL byte cannot name a file whole; it is refused, not shortened.
    platform::OutputFile file;
    if (baseName.find('\0') != std::string_view::npos || !file.Open(target.c_str()))
        return UNZ_ERRNO;
    int result = Copy(archive, info, start, *decoder, file);
    if (!file.Close() && result == UNZ_OK) {
        Diagnose("error in writing extracted file");
        result = UNZ_ERRNO;
    }
    if (result == UNZ_OK || result == UNZ_CRCERROR)
        SetFileTimeFromDos(target.c_str(), std::uint32_t(info.dosDate));
    if (!file.CreatedReadOnly())
        platform::SetAttributes(target.c_str(), platform::FileAttributes::ReadOnly);
    return result;
}

// Raw bytes in, decoded bytes out, until the method's stream ends; never more than the stored
// size is written.
int EntryWriter::Copy(ZipReader& archive, const unz_file_info64& info, std::uint64_t start,
                      decode::Decoder& decoder, platform::OutputFile& file) {
    decode::EntryFacts facts{info.uncompressed_size, unsigned(info.flag), info.compressed_size, {}};
    // Two words: small enough for std::function to hold without allocating, entry after entry.
    facts.openSource = [&archive, start](std::uint64_t size) {
        return archive.OpenSource(start, size);
    };
    if (!decoder.Init(facts)) return Z_MEM_ERROR;
    std::uint64_t position = start, rawLeft = info.compressed_size;
    std::uint64_t outLeft = info.uncompressed_size;
    std::uint32_t crc = 0;
    int result = UNZ_OK;
    bool fedLast = false;
    // A large entry is written behind its decoding, from two blocks in turn.
    std::optional<WriteBehind> behind;
    if (info.uncompressed_size >= kWriteBehindSize) {
        if (!spare_) spare_.emplace(out_.size());
        behind.emplace(file);
    }
    unsigned char* block = out_.data();
    decode::DecodeStatus status = decode::DecodeStatus::NeedInput;
    for (;;) {
        if (status == decode::DecodeStatus::NeedInput) {
            if (fedLast) { // the data end before the method's stream does
                result = Z_DATA_ERROR;
                break;
            }
            // What a second decoder has decoded already is not read again.
            const std::uint64_t skip =
                std::min(decoder.NextInput(position - start) - (position - start), rawLeft);
            position += skip;
            rawLeft -= skip;
            // An entry without data (an empty stored file) is fed once, empty and last.
            const std::size_t want = std::size_t(std::min<std::uint64_t>(in_.size(), rawLeft));
            if (want != 0 && archive.ReadRaw(position, in_.data(), want) != want) {
                result = UNZ_ERRNO;
                Diagnose("error %d with zipfile in unzReadCurrentFile", result);
                break;
            }
            position += want;
            rawLeft -= want;
            fedLast = rawLeft == 0;
            decoder.Feed(in_.data(), want, fedLast);
        }
        std::size_t produced = 0;
        const unsigned char* data = block;
        status = decoder.ProduceAny(block, out_.size(), data, produced);
        const bool overrun = produced > outLeft;
        if (overrun) produced = std::size_t(outLeft);
        if (produced != 0) {
            crc = Crc32Update(crc, data, produced);
            if (behind ? !behind->Hand(data, produced) : !file.Write(data, produced)) {
                Diagnose("error in writing extracted file");
                result = UNZ_ERRNO;
                break;
            }
            if (behind) block = block == out_.data() ? spare_->data() : out_.data();
            outLeft -= produced;
        }
        if (overrun || status == decode::DecodeStatus::Corrupt) {
            result = Z_DATA_ERROR;
            break;
        }
        if (status == decode::DecodeStatus::End) break;
    }
    if (behind && !behind->Finish() && result == UNZ_OK) {
        Diagnose("error in writing extracted file");
        result = UNZ_ERRNO;
    }
    decoder.Finish();
    if (result == Z_DATA_ERROR) Diagnose("error %d with zipfile in unzReadCurrentFile", result);
    if (result == UNZ_OK && (outLeft != 0 || crc != info.crc)) result = UNZ_CRCERROR;
    return result;
}

int ExtractCurrentEntry(ZipReader& archive, const char* destFolder) {
    unz_file_info64 info;
    std::string name;
    const int result = ReadCurrentEntryInfo(archive.Handle(), info, name);
    if (result != UNZ_OK) return result;
    EntryWriter writer;
    return writer.Extract(archive, info, name, destFolder, false);
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
            EntryWriter writer;
            return writer.Extract(reader, info, name, destFolder, false);
        }
        rc = unzGoToNextFile(reader.Handle());
    }
    return rc;
}

void SetFileTimeFromDos(const char* path, std::uint32_t dosDateTime) {
    if (!path || !IsValidDosDateTime(dosDateTime)) return;
    platform::SetFileTimesFromDos(path, dosDateTime);
}

} // namespace narvo
