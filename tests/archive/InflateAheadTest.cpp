// Deflate decoding on two threads against one decoder and the original bytes: streams with stored
// stretches, cut into small segments so that the second thread's work changes hands many times,
// must decode to the same bytes with the same outcome, intact or damaged, and a block the decoder
// hands out of its own must stay put while the caller is still writing it.
#include "archive/decode/Decoder.h"
#include "tests/support/InflateDriver.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>

using namespace narvo;
using namespace narvo::decode;

namespace {

constexpr std::size_t kPiece = 256 * 1024; // the engine's read and output blocks

// 64 KiB pieces of text, noise, counters and runs, as in the benchmark's large entry.
std::string MixedData(std::size_t pieces, unsigned seed) {
    std::mt19937 rng(seed);
    std::string out;
    for (std::size_t i = 0; i < pieces; ++i) {
        const std::size_t size = 64 * 1024;
        switch (rng() % 5) {
        case 0:
        case 1: {
            std::string piece;
            while (piece.size() < size) {
                for (unsigned k = 2 + rng() % 8; k > 0; --k)
                    piece += "etaoinshrdlu"[rng() % 12];
                piece += rng() % 9 ? ' ' : '\n';
            }
            out += piece.substr(0, size);
            break;
        }
        case 2:
            for (std::size_t k = 0; k < size; ++k)
                out += char(rng());
            break;
        case 3:
            for (std::uint32_t v = rng(), k = 0; k < size / 4; ++k, v += 3)
                out.append(reinterpret_cast<const char*>(&v), 4);
            break;
        default:
            out.append(size, char(rng()));
        }
    }
    return out;
}

TEST(InflateAhead, DecodesStreamsWithStoredStretchesAsOneDecoderAndZlibDo) {
    const std::string data = MixedData(160, 5); // 10 MiB
    for (const int level : {1, 6, 9}) {
        const test::Inflated two = test::Inflate(test::RawDeflate(data, level), 192 * 1024, kPiece);
        EXPECT_EQ(two.status, DecodeStatus::End) << level;
        EXPECT_TRUE(two.bytes == data) << "level " << level;
        EXPECT_FALSE(two.heldBlockChanged) << "level " << level;
        // About every third noise piece starts a segment: the others lie inside one or too
        // close behind.
        EXPECT_GE(two.ownBlocks, 4u) << "level " << level;
    }
    // Without stored stretches there is nowhere to start: one decoder does it all.
    const std::string text(8 << 20, 'a');
    const test::Inflated one = test::Inflate(test::RawDeflate(text, 6), 192 * 1024, kPiece);
    EXPECT_TRUE(one.bytes == text);
    EXPECT_EQ(one.ownBlocks, 0u);
}

TEST(InflateAhead, DamagedStreamsEndAsOneDecoderEndsThem) {
    const std::string data = MixedData(64, 11);
    const std::string stream = test::RawDeflate(data, 6);
    std::mt19937 rng(3);
    for (int trial = 0; trial < 24; ++trial) {
        std::string damaged = stream;
        // Damage in the second half, where the second thread works; and sometimes a cut.
        for (int flips = 1 + int(rng() % 3); flips > 0; --flips)
            damaged[damaged.size() / 2 + rng() % (damaged.size() / 2)] ^= char(1 + rng() % 255);
        if (trial % 4 == 3) damaged.resize(damaged.size() - rng() % (damaged.size() / 3));
        const test::Inflated one = test::Inflate(damaged, 0, kPiece);
        const test::Inflated two = test::Inflate(damaged, 128 * 1024, kPiece);
        EXPECT_EQ(int(two.status), int(one.status)) << trial;
        EXPECT_TRUE(two.bytes == one.bytes) << trial;
        EXPECT_FALSE(two.heldBlockChanged) << trial;
    }
}

} // namespace
