#include "fileutil/Digest.h"

#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <string>
#include <vector>

using namespace narvo;
using narvo::test::TempDir;

namespace {

std::string Sha1Text(const std::string& path, int* result = nullptr) {
    std::uint8_t digest[20];
    char text[41];
    const int read = FileSha1(path.c_str(), digest);
    if (result) *result = read;
    DigestToHex(digest, text);
    return text;
}

} // namespace

// The FIPS 180 examples, read from files whose sizes fall on both sides of the read piece size.
TEST(FileSha1, MatchesFips180Vectors) {
    TempDir dir;
    const struct {
        std::string data, digest;
    } vectors[] = {
        {"abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
        {"", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
        {std::string(1000000, 'a'), "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
    };
    for (const auto& vector : vectors) {
        const std::string path = dir.File("v.bin");
        test::WriteFile(path, vector.data);
        int result = 0;
        EXPECT_EQ(Sha1Text(path, &result), vector.digest) << vector.data.size() << " bytes";
        EXPECT_EQ(result, 1);
    }
}

TEST(FileSha1, UnreadableFileGivesZeroDigest) {
    TempDir dir;
    const std::string zeros(40, '0');
    int result = 1;
    EXPECT_EQ(Sha1Text(dir.File("missing.bin"), &result), zeros);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(Sha1Text(dir.path().string(), &result), zeros) << "a folder is not a file";
    EXPECT_EQ(result, 0);
    EXPECT_EQ(Sha1Text("", &result), zeros);
    EXPECT_EQ(result, 0);
}

TEST(DigestToHex, WritesLowerCaseHighNibbleFirst) {
    std::uint8_t digest[20];
    for (int i = 0; i < 20; ++i) digest[i] = std::uint8_t(i * 13 + 0x0F);
    char text[41];
    text[40] = 'x';
    DigestToHex(digest, text);
    EXPECT_STREQ(text, "0f1c293643505d6a7784919eabb8c5d2dfecf906");
}

TEST(FileCrc32, MatchesStandardCheckValues) {
    TempDir dir;
    const std::string path = dir.File("c.bin");
    test::WriteFile(path, "123456789");
    EXPECT_EQ(FileCrc32(path.c_str()), 0xCBF43926u);
    test::WriteFile(path, "");
    EXPECT_EQ(FileCrc32(path.c_str()), 0u);
    // Four 0xFF bytes give the all-ones CRC, the value scripts see as -1.
    test::WriteFile(path, std::string(4, '\xFF'));
    EXPECT_EQ(FileCrc32(path.c_str()), 0xFFFFFFFFu);
    // Longer than one read piece: the running value must carry across pieces.
    test::WriteFile(path, std::string(1000000, 'a'));
    EXPECT_EQ(FileCrc32(path.c_str()), 0xDC25BFBCu);
}

TEST(FileCrc32, UnreadableFileGivesZero) {
    TempDir dir;
    EXPECT_EQ(FileCrc32(dir.File("missing").c_str()), 0u);
    EXPECT_EQ(FileCrc32(dir.path().string().c_str()), 0u);
    EXPECT_EQ(FileCrc32(nullptr), 0u);
}

// The fast CRC-32 against zlib's: every start alignment, lengths around the vector widths and
// well past them, a running value carried across a split, and whole files over several pieces.
TEST(Crc32Update, MatchesZlibOverRandomLengthsAndAlignments) {
    std::mt19937 rng(1234);
    std::vector<unsigned char> bytes(600 * 1024);
    for (auto& byte : bytes)
        byte = static_cast<unsigned char>(rng());
    const auto zlibCrc = [](std::uint32_t crc, const unsigned char* p, std::size_t n) {
        return std::uint32_t(crc32(crc, p, uInt(n)));
    };
    for (int round = 0; round < 3000; ++round) {
        const std::size_t offset = rng() % 64;
        const std::size_t length = round < 600 ? round : rng() % (round % 10 ? 4096 : 300000);
        const unsigned char* p = bytes.data() + offset;
        const std::uint32_t expected = zlibCrc(0, p, length);
        ASSERT_EQ(Crc32Update(0, p, length), expected) << offset << "+" << length;
        const std::size_t split = length ? rng() % length : 0;
        ASSERT_EQ(Crc32Update(Crc32Update(0, p, split), p + split, length - split), expected)
            << offset << "+" << length << " split at " << split;
        const std::uint32_t seed = std::uint32_t(rng());
        ASSERT_EQ(Crc32Update(seed, p, length), zlibCrc(seed, p, length));
    }

    TempDir dir;
    const std::string path = dir.File("r.bin");
    for (const std::size_t size : {std::size_t(65537), std::size_t(262144), bytes.size() - 13}) {
        test::WriteFile(path, std::string(bytes.begin(), bytes.begin() + std::ptrdiff_t(size)));
        EXPECT_EQ(FileCrc32(path.c_str()), zlibCrc(0, bytes.data(), size)) << size;
    }
}
