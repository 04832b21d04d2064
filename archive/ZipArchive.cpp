#include "archive/ZipArchive.h"

#include "archive/EntryNames.h"
#include "archive/minizip/ZipReadWindow.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace narvo {

namespace {

// Read-only stdio functions with 64-bit offsets on both builds. minizip's own pass offsets through
// zlib's z_off64_t, which mingw's zlib makes 32 bits wide: archives past 4 GiB would not open.
std::int64_t Tell64(std::FILE* file) {
#ifdef _WIN32
    return _ftelli64(file);
#else
    return ftello(file);
#endif
}
int Seek64(std::FILE* file, std::int64_t offset, int origin) {
#ifdef _WIN32
    return _fseeki64(file, offset, origin);
#else
    return fseeko(file, off_t(offset), origin);
#endif
}

zlib_filefunc64_def StdioFunctions() {
    zlib_filefunc64_def functions{};
    functions.zopen64_file = [](voidpf, const void* path, int mode) -> voidpf {
        if (!path || (mode & ZLIB_FILEFUNC_MODE_READWRITEFILTER) != ZLIB_FILEFUNC_MODE_READ)
            return nullptr;
        return std::fopen(static_cast<const char*>(path), "rb");
    };
    functions.zread_file = [](voidpf, voidpf file, void* buffer, uLong size) -> uLong {
        return uLong(std::fread(buffer, 1, size, static_cast<std::FILE*>(file)));
    };
    functions.zwrite_file = [](voidpf, voidpf, const void*, uLong) -> uLong { return 0; };
    functions.ztell64_file = [](voidpf, voidpf file) -> ZPOS64_T {
        const std::int64_t at = Tell64(static_cast<std::FILE*>(file));
        return at < 0 ? ZPOS64_T(-1) : ZPOS64_T(at);
    };
    functions.zseek64_file = [](voidpf, voidpf file, ZPOS64_T offset, int origin) -> long {
        const int whence = origin == ZLIB_FILEFUNC_SEEK_SET   ? SEEK_SET
                           : origin == ZLIB_FILEFUNC_SEEK_CUR ? SEEK_CUR
                                                              : SEEK_END;
        return Seek64(static_cast<std::FILE*>(file), std::int64_t(offset), whence) == 0 ? 0 : -1;
    };
    functions.zclose_file = [](voidpf, voidpf file) -> int {
        return std::fclose(static_cast<std::FILE*>(file));
    };
    functions.zerror_file = [](voidpf, voidpf file) -> int {
        return std::ferror(static_cast<std::FILE*>(file));
    };
    return functions;
}

// A read buffer between minizip and its own stdio file functions. The library reads every header
// field with a one-byte read and seeks before each record, which through stdio costs a locked
// call per byte and a system call per seek; here those reads become copies out of one of two
// windows (one stays on the central directory while the other follows the entry data). The
// window last read from is the narvo_zip_window the stream starts with, where minizip's reader
// takes the bytes it holds without a call (archive/minizip/BufferedUnzip.c).
class BufferedZipStream : private narvo_zip_window {
public:
    static zlib_filefunc64_def Functions() {
        zlib_filefunc64_def functions{};
        functions.opaque = const_cast<char*>(&narvo_zip_window_tag);
        functions.zopen64_file = Open;
        functions.zread_file = Read;
        functions.zwrite_file = Write;
        functions.ztell64_file = Tell;
        functions.zseek64_file = Seek;
        functions.zclose_file = Close;
        functions.zerror_file = Error;
        return functions;
    }

private:
    // A window starts small, as a local header needs, and grows while reads run on sequentially.
    static constexpr std::size_t kFirstFill = 4 * 1024, kLargestFill = 256 * 1024;

    struct Window {
        std::vector<unsigned char> bytes;
        ZPOS64_T start = 0;
        std::size_t length = 0;
        std::size_t nextFill = kFirstFill;
        unsigned lastUse = 0;
        bool Holds(ZPOS64_T pos) const { return pos >= start && pos - start < length; }
    };

    static const zlib_filefunc64_def& Inner() {
        static const zlib_filefunc64_def inner = StdioFunctions();
        return inner;
    }

    explicit BufferedZipStream(voidpf file) : narvo_zip_window{}, file_(file) {}

    // minizip holds the stream as its window, the base at the front of the object.
    static voidpf Handle(BufferedZipStream* stream) {
        return static_cast<narvo_zip_window*>(stream);
    }
    static BufferedZipStream* From(voidpf handle) {
        return static_cast<BufferedZipStream*>(static_cast<narvo_zip_window*>(handle));
    }

    static voidpf ZCALLBACK Open(voidpf, const void* path, int mode) {
        const auto& inner = Inner();
        voidpf file = inner.zopen64_file(inner.opaque, path, mode);
        if (!file) return nullptr;
        auto stream = std::unique_ptr<BufferedZipStream>(new BufferedZipStream(file));
        if (inner.zseek64_file(inner.opaque, file, 0, ZLIB_FILEFUNC_SEEK_END) != 0) {
            inner.zclose_file(inner.opaque, file);
            return nullptr;
        }
        stream->size_ = inner.ztell64_file(inner.opaque, file);
        return Handle(stream.release());
    }

    // minizip's reader has looked in the current window already; the engine's own reads of
    // entry data come here directly.
    static uLong ZCALLBACK Read(voidpf, voidpf handle, void* buffer, uLong size) {
        auto* stream = From(handle);
        if (size != 0 && narvo_zip_window_take(stream, buffer, size) == size) return size;
        return stream->ReadSlow(static_cast<unsigned char*>(buffer), size);
    }

    uLong ReadSlow(unsigned char* out, uLong size) {
        // A block as large as a whole window (entry data) goes straight into the caller's
        // buffer instead of through a window.
        if (size >= kLargestFill && !Find(pos)) return ReadDirect(out, size);
        uLong done = 0;
        while (done < size) {
            Window* window = Find(pos);
            if (window) {
                const std::size_t offset = std::size_t(pos - window->start);
                const std::size_t n = std::min<std::size_t>(size - done, window->length - offset);
                if (n == 1)
                    out[done] = window->bytes[offset];
                else
                    std::memcpy(out + done, window->bytes.data() + offset, n);
                done += uLong(n);
                pos += n;
                continue;
            }
            if (!Fill(pos)) break;
        }
        return done;
    }

    uLong ReadDirect(unsigned char* out, uLong size) {
        const auto& inner = Inner();
        if (inner.zseek64_file(inner.opaque, file_, pos, ZLIB_FILEFUNC_SEEK_SET) != 0) {
            failed_ = true;
            return 0;
        }
        const uLong done = inner.zread_file(inner.opaque, file_, out, size);
        pos += done;
        return done;
    }

    void MakeCurrent(const Window& window) {
        bytes = window.bytes.data();
        start = window.start;
        length = window.length;
    }

    Window* Find(ZPOS64_T at) {
        for (Window& window : windows_) {
            if (window.Holds(at)) {
                window.lastUse = ++useCount_;
                MakeCurrent(window);
                return &window;
            }
        }
        return nullptr;
    }

    // Loads a window from at: the one that ends there when reading runs on (it grows), else the
    // least recently used one. False at the end of the file or on an error.
    bool Fill(ZPOS64_T at) {
        if (at >= size_) return false;
        Window* continued = nullptr;
        for (Window& candidate : windows_)
            if (candidate.length != 0 && candidate.start + candidate.length == at)
                continued = &candidate;
        Window& window = continued                                    ? *continued
                         : windows_[0].lastUse <= windows_[1].lastUse ? windows_[0]
                                                                      : windows_[1];
        window.nextFill = continued ? std::min(window.nextFill * 2, kLargestFill) : kFirstFill;
        const std::size_t want = std::size_t(std::min<ZPOS64_T>(window.nextFill, size_ - at));
        if (window.bytes.size() < want) window.bytes.resize(want);
        const auto& inner = Inner();
        window.length = 0;
        length = 0;
        if (inner.zseek64_file(inner.opaque, file_, at, ZLIB_FILEFUNC_SEEK_SET) != 0) {
            failed_ = true;
            return false;
        }
        window.start = at;
        window.length = inner.zread_file(inner.opaque, file_, window.bytes.data(), uLong(want));
        window.lastUse = ++useCount_;
        MakeCurrent(window);
        return window.length != 0;
    }

    static uLong ZCALLBACK Write(voidpf, voidpf, const void*, uLong) { return 0; }

    static ZPOS64_T ZCALLBACK Tell(voidpf, voidpf handle) { return From(handle)->pos; }

    static long ZCALLBACK Seek(voidpf, voidpf handle, ZPOS64_T offset, int origin) {
        auto* stream = From(handle);
        switch (origin) {
        case ZLIB_FILEFUNC_SEEK_SET:
            stream->pos = offset;
            return 0;
        case ZLIB_FILEFUNC_SEEK_CUR:
            stream->pos += offset;
            return 0;
        case ZLIB_FILEFUNC_SEEK_END:
            stream->pos = stream->size_ + offset;
            return 0;
        default:
            return -1;
        }
    }

    static int ZCALLBACK Close(voidpf, voidpf handle) {
        std::unique_ptr<BufferedZipStream> stream(From(handle));
        const auto& inner = Inner();
        return inner.zclose_file(inner.opaque, stream->file_);
    }

    static int ZCALLBACK Error(voidpf, voidpf handle) {
        auto* stream = From(handle);
        const auto& inner = Inner();
        return stream->failed_ || inner.zerror_file(inner.opaque, stream->file_) ? 1 : 0;
    }

    voidpf file_;
    ZPOS64_T size_ = 0;
    Window windows_[2];
    unsigned useCount_ = 0;
    bool failed_ = false;
};

std::uint32_t ReadLe32(const unsigned char* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}
std::uint16_t ReadLe16(const unsigned char* p) {
    return std::uint16_t(p[0] | p[1] << 8);
}

// True when path is a ZIP archive with no entries whose end record stands at the start of the
// file, the one form of empty archive the library cannot open.
bool IsEmptyZipArchive(const char* path) {
    constexpr long kRecordSize = 22;
    std::FILE* file = std::fopen(path, "rb");
    if (!file) return false;
    unsigned char record[kRecordSize];
    bool empty = false;
    if (std::fread(record, 1, kRecordSize, file) == kRecordSize && ReadLe32(record) == 0x06054b50 &&
        ReadLe16(record + 4) == 0 && ReadLe16(record + 6) == 0 && ReadLe16(record + 8) == 0 &&
        ReadLe16(record + 10) == 0 && ReadLe32(record + 12) == 0 && ReadLe32(record + 16) == 0) {
        // Whatever follows the record must be exactly its comment.
        const long commentLength = ReadLe16(record + 20);
        if (std::fseek(file, 0, SEEK_END) == 0)
            empty = std::ftell(file) == kRecordSize + commentLength;
    }
    std::fclose(file);
    return empty;
}

} // namespace

zlib_filefunc64_def BufferedFileFunctions() {
    return BufferedZipStream::Functions();
}

namespace {
std::uint64_t ReadLe64(const unsigned char* p) {
    return std::uint64_t(ReadLe32(p)) | std::uint64_t(ReadLe32(p + 4)) << 32;
}

constexpr std::uint32_t kLocalHeader = 0x04034b50, kCentralHeader = 0x02014b50,
                        kEndRecord = 0x06054b50, kZip64Locator = 0x07064b50;

} // namespace

ZipReader::ZipReader(const char* path) {
    if (!path || !*path) return;
    path_ = path;
    zlib_filefunc64_def functions = BufferedFileFunctions();
    handle_ = unzOpen2_64(path, &functions);
    if (!handle_) emptyArchive_ = IsEmptyZipArchive(path);
}

void ZipReader::Close() {
    raw_.reset();
    if (!handle_) return;
    unzCloseCurrentFile(handle_);
    unzClose(handle_);
    handle_ = nullptr;
}

ArchiveStream::ArchiveStream(const std::string& path) : functions_(BufferedFileFunctions()) {
    stream_ = functions_.zopen64_file(functions_.opaque, path.c_str(),
                                      ZLIB_FILEFUNC_MODE_READ | ZLIB_FILEFUNC_MODE_EXISTING);
    if (stream_ &&
        functions_.zseek64_file(functions_.opaque, stream_, 0, ZLIB_FILEFUNC_SEEK_END) == 0)
        size_ = functions_.ztell64_file(functions_.opaque, stream_);
}

ArchiveStream::~ArchiveStream() {
    if (stream_) functions_.zclose_file(functions_.opaque, stream_);
}

std::size_t ArchiveStream::Read(std::uint64_t pos, void* buffer, std::size_t size) {
    if (size == 0 || !stream_ ||
        functions_.zseek64_file(functions_.opaque, stream_, pos, ZLIB_FILEFUNC_SEEK_SET) != 0)
        return 0;
    return functions_.zread_file(functions_.opaque, stream_, buffer, uLong(size));
}

namespace {

// One entry's data, read through a stream of its own.
class EntrySource final : public decode::RawSource {
public:
    EntrySource(const std::string& path, std::uint64_t start, std::uint64_t size)
        : stream_(path), start_(start), size_(size) {}
    bool IsOpen() const { return stream_.IsOpen(); }

    std::size_t Read(std::uint64_t offset, void* buffer, std::size_t size) override {
        if (offset >= size_) return 0;
        return stream_.Read(start_ + offset, buffer,
                            std::size_t(std::min<std::uint64_t>(size, size_ - offset)));
    }

private:
    ArchiveStream stream_;
    std::uint64_t start_, size_;
};

} // namespace

std::unique_ptr<decode::RawSource> ZipReader::OpenSource(std::uint64_t start,
                                                         std::uint64_t size) const {
    auto source = std::make_unique<EntrySource>(path_, start, size);
    if (!source->IsOpen()) return nullptr;
    return source;
}

std::size_t ZipReader::ReadRaw(std::uint64_t pos, void* buffer, std::size_t size) {
    return raw_ ? raw_->Read(pos, buffer, size) : 0;
}

// Opens the data stream and finds how many bytes stand in front of the archive proper, the way
// the library does: the end record's position less the directory's declared end.
bool ZipReader::OpenRaw() {
    if (rawTried_) return raw_ != nullptr;
    rawTried_ = true;
    raw_ = std::make_unique<ArchiveStream>(path_);
    if (!raw_->IsOpen()) {
        raw_.reset();
        return false;
    }
    fileSize_ = raw_->Size();
    const std::size_t tail = std::size_t(std::min<std::uint64_t>(fileSize_, 0xFFFF + 22 + 20));
    std::vector<unsigned char> end(tail);
    if (ReadRaw(fileSize_ - tail, end.data(), tail) != tail) return true;
    for (std::size_t i = tail >= 22 ? tail - 22 + 1 : 0; i-- > 0;) {
        if (ReadLe32(&end[i]) != kEndRecord) continue;
        std::uint64_t recordPos = fileSize_ - tail + i;
        std::uint64_t dirSize = ReadLe32(&end[i + 12]), dirOffset = ReadLe32(&end[i + 16]);
        unsigned char record[56];
        if (i >= 20 && ReadLe32(&end[i - 20]) == kZip64Locator) {
            recordPos = ReadLe64(&end[i - 20 + 8]);
            if (ReadRaw(recordPos, record, sizeof record) != sizeof record ||
                ReadLe32(record) != 0x06064b50)
                return true;
            dirSize = ReadLe64(record + 40);
            dirOffset = ReadLe64(record + 48);
        }
        if (dirOffset <= recordPos && dirSize <= recordPos - dirOffset) {
            bytesBefore_ = recordPos - dirOffset - dirSize;
            dirOffset_ = dirOffset;
            dirSize_ = dirSize;
            dirKnown_ = true;
        }
        break;
    }
    return true;
}

int ZipReader::CheckEntryCount(std::uint64_t entryCount) {
    constexpr std::uint64_t kSmallestRecord = 46;
    if (!OpenRaw() || !dirKnown_) return UNZ_OK; // the library has judged the end records
    return entryCount > dirSize_ / kSmallestRecord ? UNZ_BADZIPFILE : UNZ_OK;
}

int ZipReader::CheckEntriesApart(std::uint64_t entryCount) {
    if (const int rc = CheckEntryCount(entryCount); rc != UNZ_OK || !dirKnown_) return rc;
    std::vector<unsigned char> dir(static_cast<std::size_t>(dirSize_));
    if (ReadRaw(dirOffset_ + bytesBefore_, dir.data(), dir.size()) != dir.size())
        return UNZ_BADZIPFILE;
    // Each entry's data span at least its local header, its name and its compressed bytes.
    std::vector<std::pair<std::uint64_t, std::uint64_t>> spans;
    spans.reserve(std::size_t(entryCount));
    for (std::size_t at = 0; spans.size() < entryCount;) {
        if (at + 46 > dir.size() || ReadLe32(&dir[at]) != kCentralHeader) return UNZ_BADZIPFILE;
        const unsigned char* record = &dir[at];
        std::uint64_t compressed = ReadLe32(record + 20), local = ReadLe32(record + 42);
        const std::size_t nameLength = ReadLe16(record + 28), extraLength = ReadLe16(record + 30);
        const std::size_t next = at + 46 + nameLength + extraLength + ReadLe16(record + 32);
        if (next > dir.size()) return UNZ_BADZIPFILE;
        if (compressed == 0xFFFFFFFF || local == 0xFFFFFFFF) {
            const unsigned char* extra = record + 46 + nameLength;
            for (std::size_t e = 0; e + 4 <= extraLength;) {
                const std::size_t tag = ReadLe16(extra + e), length = ReadLe16(extra + e + 2);
                if (e + 4 + length > extraLength) break;
                if (tag == 1) {
                    std::size_t field = e + 4;
                    const auto take = [&](std::uint64_t& value) {
                        if (value != 0xFFFFFFFF) return;
                        if (field + 8 <= e + 4 + length) value = ReadLe64(extra + field);
                        field += 8;
                    };
                    std::uint64_t uncompressed = ReadLe32(record + 24);
                    take(uncompressed);
                    take(compressed);
                    take(local);
                    break;
                }
                e += 4 + length;
            }
        }
        const std::uint64_t start = local + bytesBefore_;
        if (start > fileSize_ || compressed > fileSize_ - start ||
            30 + nameLength > fileSize_ - start - compressed)
            return UNZ_BADZIPFILE;
        spans.emplace_back(start, start + 30 + nameLength + compressed);
        at = next;
    }
    std::sort(spans.begin(), spans.end());
    for (std::size_t i = 1; i < spans.size(); ++i)
        if (spans[i - 1].second > spans[i].first) return UNZ_BADZIPFILE;
    return UNZ_OK;
}

int ZipReader::LocateCurrentData(const unz_file_info64& info, std::uint64_t& start) {
    if (!handle_ || !OpenRaw()) return UNZ_ERRNO;
    const std::uint64_t central = unzGetOffset64(handle_) + bytesBefore_;
    unsigned char record[46];
    if (ReadRaw(central, record, sizeof record) != sizeof record ||
        ReadLe32(record) != kCentralHeader)
        return UNZ_BADZIPFILE;
    std::uint64_t local = ReadLe32(record + 42);
    if (local == 0xFFFFFFFF) {
        // The 64-bit offset stands in the ZIP64 field after the sizes that overflowed too.
        const std::size_t nameLength = ReadLe16(record + 28), extraLength = ReadLe16(record + 30);
        std::vector<unsigned char> extra(extraLength);
        if (ReadRaw(central + 46 + nameLength, extra.data(), extraLength) != extraLength)
            return UNZ_BADZIPFILE;
        bool found = false;
        for (std::size_t at = 0; at + 4 <= extraLength && !found;) {
            const std::size_t tag = ReadLe16(&extra[at]), length = ReadLe16(&extra[at + 2]);
            if (at + 4 + length > extraLength) break;
            if (tag == 1) {
                std::size_t skip = (ReadLe32(record + 24) == 0xFFFFFFFF ? 8 : 0) +
                                   (ReadLe32(record + 20) == 0xFFFFFFFF ? 8 : 0);
                if (skip + 8 > length) return UNZ_BADZIPFILE;
                local = ReadLe64(&extra[at + 4 + skip]);
                found = true;
            }
            at += 4 + length;
        }
        if (!found) return UNZ_BADZIPFILE;
    }
    local += bytesBefore_;
    unsigned char header[30];
    if (local > fileSize_ || ReadRaw(local, header, sizeof header) != sizeof header ||
        ReadLe32(header) != kLocalHeader)
        return UNZ_BADZIPFILE;
    start = local + 30 + ReadLe16(header + 26) + ReadLe16(header + 28);
    if (start > fileSize_ || info.compressed_size > fileSize_ - start) return UNZ_BADZIPFILE;
    return UNZ_OK;
}

int ReadCurrentEntryInfo(unzFile archive, unz_file_info64& info, std::string& name) {
    // Try with the room the strings already have; most names and extra fields fit at once.
    thread_local std::string extra;
    if (name.capacity() < 256) name.reserve(256);
    name.resize(name.capacity());
    // The extra field's room is kept at its size (only its first size_file_extra bytes count),
    // so that it is not cleared again for every entry.
    if (extra.size() < 256) extra.resize(256);
    int rc = unzGetCurrentFileInfo64(archive, &info, name.data(), uLong(name.size()), extra.data(),
                                     uLong(extra.size()), nullptr, 0);
    if (rc != UNZ_OK) {
        name.clear();
        return rc;
    }
    if (info.size_filename >= name.size() || info.size_file_extra > extra.size()) {
        name.resize(std::max<std::size_t>(name.size(), info.size_filename + 1));
        extra.resize(std::max<std::size_t>(extra.size(), info.size_file_extra));
        rc = unzGetCurrentFileInfo64(archive, &info, name.data(), uLong(name.size()), extra.data(),
                                     uLong(extra.size()), nullptr, 0);
        if (rc != UNZ_OK) {
            name.clear();
            return rc;
        }
    }
    name.resize(info.size_filename);
    DecodeEntryName(name, std::string_view(extra.data(), info.size_file_extra));
    return UNZ_OK;
}

} // namespace narvo
