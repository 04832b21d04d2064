#include "archive/ZipArchive.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace narvo {

namespace {

// A read buffer between minizip and its own stdio file functions. The library reads every header
// field with a one-byte read and seeks before each record, which through stdio costs a locked
// call per byte and a system call per seek; here those reads become copies out of one of two
// windows (one stays on the central directory while the other follows the entry data).
class BufferedZipStream {
public:
    static zlib_filefunc64_def Functions() {
        zlib_filefunc64_def functions{};
        functions.zopen64_file = Open;
        functions.zread_file = Read;
        functions.zwrite_file = Write;
        functions.ztell64_file = Tell;
        functions.zseek64_file = Seek;
        functions.zclose_file = Close;
        functions.zerror_file = Error;
        return functions;
    }

    // Reads straight from the file into out, past the windows: for entry data read whole, which
    // need no window and no second copy. Returns the bytes read.
    std::size_t ReadDirect(ZPOS64_T pos, void* out, std::size_t size) {
        const auto& inner = Inner();
        if (pos > size_ ||
            inner.zseek64_file(inner.opaque, file_, pos, ZLIB_FILEFUNC_SEEK_SET) != 0)
            return 0;
        // Every window fill seeks first, so moving the file's position here disturbs none.
        return inner.zread_file(inner.opaque, file_, out, uLong(size));
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
        static const zlib_filefunc64_def inner = [] {
            zlib_filefunc64_def functions;
            fill_fopen64_filefunc(&functions);
            return functions;
        }();
        return inner;
    }

    explicit BufferedZipStream(voidpf file) : file_(file) {}

    // opaque, where set, receives the new stream (ZipReader keeps it for direct reads).
    static voidpf ZCALLBACK Open(voidpf opaque, const void* path, int mode) {
        const auto& inner = Inner();
        voidpf file = inner.zopen64_file(inner.opaque, path, mode);
        if (!file) return nullptr;
        auto stream = std::unique_ptr<BufferedZipStream>(new BufferedZipStream(file));
        if (inner.zseek64_file(inner.opaque, file, 0, ZLIB_FILEFUNC_SEEK_END) != 0) {
            inner.zclose_file(inner.opaque, file);
            return nullptr;
        }
        stream->size_ = inner.ztell64_file(inner.opaque, file);
        if (opaque) *static_cast<void**>(opaque) = stream.get();
        return stream.release();
    }

    static uLong ZCALLBACK Read(voidpf, voidpf opaqueStream, void* buffer, uLong size) {
        auto* stream = static_cast<BufferedZipStream*>(opaqueStream);
        auto* out = static_cast<unsigned char*>(buffer);
        // The common case, a header field inside the current window, in a few instructions.
        const ZPOS64_T offset = stream->pos_ - stream->currentStart_; // huge when pos_ < start
        if (offset < stream->currentLength_ && size <= stream->currentLength_ - offset) {
            const unsigned char* from = stream->currentBytes_ + offset;
            if (size == 1)
                *out = *from;
            else
                std::memcpy(out, from, size);
            stream->pos_ += size;
            return size;
        }
        return stream->ReadSlow(out, size);
    }

    // Kept out of line so that the fast path above needs no stack frame.
    [[gnu::noinline]] uLong ReadSlow(unsigned char* out, uLong size) {
        uLong done = 0;
        while (done < size) {
            Window* window = Find(pos_);
            if (window) {
                const std::size_t offset = std::size_t(pos_ - window->start);
                const std::size_t n = std::min<std::size_t>(size - done, window->length - offset);
                if (n == 1)
                    out[done] = window->bytes[offset];
                else
                    std::memcpy(out + done, window->bytes.data() + offset, n);
                done += uLong(n);
                pos_ += n;
                continue;
            }
            if (!Fill(pos_)) break;
        }
        return done;
    }

    void MakeCurrent(const Window& window) {
        currentBytes_ = window.bytes.data();
        currentStart_ = window.start;
        currentLength_ = window.length;
    }

    Window* Find(ZPOS64_T pos) {
        for (Window& window : windows_) {
            if (window.Holds(pos)) {
                window.lastUse = ++useCount_;
                MakeCurrent(window);
                return &window;
            }
        }
        return nullptr;
    }

    // Loads a window from pos: the one that ends there when reading runs on (it grows), else the
    // least recently used one. False at the end of the file or on an error.
    bool Fill(ZPOS64_T pos) {
        if (pos >= size_) return false;
        Window* continued = nullptr;
        for (Window& candidate : windows_)
            if (candidate.length != 0 && candidate.start + candidate.length == pos)
                continued = &candidate;
        Window& window = continued                                    ? *continued
                         : windows_[0].lastUse <= windows_[1].lastUse ? windows_[0]
                                                                      : windows_[1];
        window.nextFill = continued ? std::min(window.nextFill * 2, kLargestFill) : kFirstFill;
        const std::size_t want = std::size_t(std::min<ZPOS64_T>(window.nextFill, size_ - pos));
        if (window.bytes.size() < want) window.bytes.resize(want);
        const auto& inner = Inner();
        window.length = 0;
        currentLength_ = 0;
        if (inner.zseek64_file(inner.opaque, file_, pos, ZLIB_FILEFUNC_SEEK_SET) != 0) {
            failed_ = true;
            return false;
        }
        window.start = pos;
        window.length = inner.zread_file(inner.opaque, file_, window.bytes.data(), uLong(want));
        window.lastUse = ++useCount_;
        MakeCurrent(window);
        return window.length != 0;
    }

    static uLong ZCALLBACK Write(voidpf, voidpf, const void*, uLong) { return 0; }

    static ZPOS64_T ZCALLBACK Tell(voidpf, voidpf opaqueStream) {
        return static_cast<BufferedZipStream*>(opaqueStream)->pos_;
    }

    static long ZCALLBACK Seek(voidpf, voidpf opaqueStream, ZPOS64_T offset, int origin) {
        auto* stream = static_cast<BufferedZipStream*>(opaqueStream);
        switch (origin) {
        case ZLIB_FILEFUNC_SEEK_SET:
            stream->pos_ = offset;
            return 0;
        case ZLIB_FILEFUNC_SEEK_CUR:
            stream->pos_ += offset;
            return 0;
        case ZLIB_FILEFUNC_SEEK_END:
            stream->pos_ = stream->size_ + offset;
            return 0;
        default:
            return -1;
        }
    }

    static int ZCALLBACK Close(voidpf, voidpf opaqueStream) {
        std::unique_ptr<BufferedZipStream> stream(static_cast<BufferedZipStream*>(opaqueStream));
        const auto& inner = Inner();
        return inner.zclose_file(inner.opaque, stream->file_);
    }

    static int ZCALLBACK Error(voidpf, voidpf opaqueStream) {
        auto* stream = static_cast<BufferedZipStream*>(opaqueStream);
        const auto& inner = Inner();
        return stream->failed_ || inner.zerror_file(inner.opaque, stream->file_) ? 1 : 0;
    }

    voidpf file_;
    ZPOS64_T size_ = 0;
    ZPOS64_T pos_ = 0;
    Window windows_[2];
    // The window last read from, copied out so that the fast path follows no pointer.
    const unsigned char* currentBytes_ = nullptr;
    ZPOS64_T currentStart_ = 0, currentLength_ = 0;
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

// The archives ZipReader holds open, with their streams, for ReadArchiveData.
std::mutex openArchivesMutex;
std::vector<std::pair<unzFile, BufferedZipStream*>> openArchives;

} // namespace

zlib_filefunc64_def BufferedFileFunctions() {
    return BufferedZipStream::Functions();
}

long long ReadArchiveData(unzFile archive, std::uint64_t offset, void* out, std::size_t size) {
    BufferedZipStream* stream = nullptr;
    {
        std::lock_guard<std::mutex> lock(openArchivesMutex);
        for (const auto& [handle, opened] : openArchives)
            if (handle == archive) stream = opened;
    }
    return stream ? static_cast<long long>(stream->ReadDirect(offset, out, size)) : -1;
}

ZipReader::ZipReader(const char* path) {
    if (!path || !*path) return;
    zlib_filefunc64_def functions = BufferedFileFunctions();
    // Only the file's opening, inside unzOpen2_64, writes through this; later calls ignore it.
    functions.opaque = &stream_;
    handle_ = unzOpen2_64(path, &functions);
    if (!handle_) {
        emptyArchive_ = IsEmptyZipArchive(path);
        return;
    }
    std::lock_guard<std::mutex> lock(openArchivesMutex);
    openArchives.emplace_back(handle_, static_cast<BufferedZipStream*>(stream_));
}

void ZipReader::Close() {
    if (!handle_) return;
    {
        std::lock_guard<std::mutex> lock(openArchivesMutex);
        for (auto it = openArchives.begin(); it != openArchives.end(); ++it) {
            if (it->first == handle_) {
                openArchives.erase(it);
                break;
            }
        }
    }
    unzCloseCurrentFile(handle_);
    unzClose(handle_);
    handle_ = nullptr;
}

int ReadCurrentEntryInfo(unzFile archive, unz_file_info64& info, std::string& name) {
    // Try with the room the string already has; most names fit at the first attempt.
    if (name.capacity() < 256) name.reserve(256);
    name.resize(name.capacity());
    int rc = unzGetCurrentFileInfo64(archive, &info, name.data(), uLong(name.size()), nullptr, 0,
                                     nullptr, 0);
    if (rc != UNZ_OK) {
        name.clear();
        return rc;
    }
    if (info.size_filename >= name.size()) {
        name.resize(info.size_filename + 1);
        rc = unzGetCurrentFileInfo64(archive, &info, name.data(), uLong(name.size()), nullptr, 0,
                                     nullptr, 0);
        if (rc != UNZ_OK) {
            name.clear();
            return rc;
        }
    }
    name.resize(info.size_filename);
    return UNZ_OK;
}

} // namespace narvo
