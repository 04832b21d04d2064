#include "fileutil/Digest.h"

#include "fileutil/AlignedBuffer.h"
#include "fileutil/StdioFile.h"
#include "platform/FileSystem.h"
#include "platform/Sha1.h"

#if NARVO_HAVE_ISAL
#include <isa-l/crc.h>
#else
#include <zlib.h>
#endif

#include <cstdio>
#include <cstring>

namespace narvo {

namespace {

// Large reads straight into our buffer keep the digest, not the I/O, the cost.
constexpr std::size_t kReadSize = 64 * 1024;
// The CRC-32 runs at many bytes per cycle, so the reads' fixed cost counts: larger pieces that
// still stay in the cache between the read and the sum.
constexpr std::size_t kCrcReadSize = 256 * 1024;
FilePtr OpenForReading(const char* path) {
    FilePtr file(path && *path ? std::fopen(path, "rb") : nullptr);
    if (file) std::setvbuf(file.get(), nullptr, _IONBF, 0);
    return file;
}

// A folder is never read as a file, even where the C library would open one.
FilePtr OpenFileForReading(const char* path) {
    return path && *path && !platform::IsFolder(path) ? OpenForReading(path) : nullptr;
}

// Calls consume(bytes, count) for each piece until the end of the file or a read error.
template <typename Consume>
void ReadPieces(std::FILE* file, Consume consume, std::size_t pieceSize = kReadSize) {
    AlignedBuffer buffer(pieceSize);
    for (;;) {
        const std::size_t n = std::fread(buffer.data(), 1, pieceSize, file);
        if (n == 0) break;
        consume(buffer.data(), n);
    }
}

std::uint32_t Crc32Of(std::FILE* file) {
    std::uint32_t value = 0;
    ReadPieces(
        file,
        [&](const unsigned char* bytes, std::size_t n) { value = Crc32Update(value, bytes, n); },
        kCrcReadSize);
    return value;
}

} // namespace

std::uint32_t Crc32Update(std::uint32_t crc, const void* data, std::size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(data);
#if NARVO_HAVE_ISAL
    return crc32_gzip_refl(crc, bytes, size);
#else
    // zlib takes at most 4 GiB less one byte per call.
    uLong value = crc;
    while (size > 0) {
        const std::size_t n = size < (std::size_t(1) << 30) ? size : std::size_t(1) << 30;
        value = crc32(value, bytes, uInt(n));
        bytes += n;
        size -= n;
    }
    return std::uint32_t(value);
#endif
}

std::uint32_t FileCrc32(const char* path) {
    FilePtr file = OpenFileForReading(path);
    return file ? Crc32Of(file.get()) : 0;
}

bool TryFileCrc32(const char* path, std::uint32_t& crc) {
    FilePtr file = OpenForReading(path);
    if (!file) return false;
    crc = Crc32Of(file.get());
    return true;
}

int FileSha1(const char* path, std::uint8_t digest[20]) {
    std::memset(digest, 0, 20);
    FilePtr file = OpenFileForReading(path);
    if (!file) return 0;
    platform::Sha1Hasher hasher;
    ReadPieces(file.get(),
               [&](const unsigned char* bytes, std::size_t n) { hasher.Update(bytes, n); });
    hasher.Final(digest);
    return 1;
}

void DigestToHex(const std::uint8_t digest[20], char text[41]) {
    static const char kDigits[] = "0123456789abcdef";
    for (int i = 0; i < 20; ++i) {
        text[2 * i] = kDigits[digest[i] >> 4];
        text[2 * i + 1] = kDigits[digest[i] & 0x0F];
    }
    text[40] = '\0';
}

} // namespace narvo
