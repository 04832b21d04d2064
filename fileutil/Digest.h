#pragma once
// File digests: the CRC-32 that ZIP archives store per entry, and SHA-1.
#include <cstddef>
#include <cstdint>

namespace narvo {

// Continues a CRC-32 (the one ZIP and zlib use; 0 to start) over size bytes: ISA-L's carry-less
// multiplication where the build has it, else zlib.
std::uint32_t Crc32Update(std::uint32_t crc, const void* data, std::size_t size);

// CRC-32 of the file's contents (as zlib computes it); 0 when the file cannot be opened.
std::uint32_t FileCrc32(const char* path);

// FileCrc32 for callers that must tell an unreadable file from one whose CRC-32 is 0: false (with
// errno set by the C library) when the file cannot be opened. A folder is not refused up front;
// where the C library opens one, it reads as empty.
bool TryFileCrc32(const char* path, std::uint32_t& crc);

// SHA-1 of the file's contents into digest; returns 1 when the file was read, 0 when it cannot be
// opened (the digest is then 20 zero bytes).
int FileSha1(const char* path, std::uint8_t digest[20]);

// Writes the digest as 40 lower-case hexadecimal digits and a terminator into text (41 chars).
void DigestToHex(const std::uint8_t digest[20], char text[41]);

} // namespace narvo
