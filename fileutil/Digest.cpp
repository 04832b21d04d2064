#include "fileutil/Digest.h"

#include "fileutil/StdioFile.h"
#include "platform/FileSystem.h"
#include "platform/Sha1.h"

#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <vector>

namespace narvo {

namespace {

// Large reads straight into our buffer keep the digest, not the I/O, the cost.
constexpr std::size_t kReadSize = 64 * 1024;

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
template <typename Consume> void ReadPieces(std::FILE* file, Consume consume) {
    std::vector<unsigned char> buffer(kReadSize);
    for (;;) {
        const std::size_t n = std::fread(buffer.data(), 1, buffer.size(), file);
        if (n == 0) break;
        consume(buffer.data(), n);
    }
}

std::uint32_t Crc32Of(std::FILE* file) {
    uLong value = 0;
    ReadPieces(file, [&](const unsigned char* bytes, std::size_t n) {
        value = crc32(value, bytes, uInt(n));
    });
    return std::uint32_t(value);
}

} // namespace

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
