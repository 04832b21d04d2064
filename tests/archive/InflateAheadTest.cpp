// Deflate decoding on two threads against one decoder and against zlib: streams with stored
// stretches, cut into small segments so that the second thread's work changes hands many times,
// must decode to the same bytes with the same outcome, intact or damaged, and a block the decoder
// hands out of its own must stay put while the caller is still writing it.
#include "archive/decode/Decoder.h"
#include "tests/support/MemorySource.h"
#include "archive/decode/InflateAhead.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>

using namespace narvo;
using namespace narvo::decode;

namespace {

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

struct Outcome {
    std::string bytes;
    DecodeStatus status = DecodeStatus::NeedInput;
    std::size_t ownBlocks = 0;
};

// Drives the decoder the way the engine does: 256 KiB reads from where it asks, every block
// handed on at once. With `ahead`, a second thread may decode segments of tuning.segment bytes.
Outcome DecodeAll(const std::string& stream, std::size_t size, bool ahead, std::size_t segment,
                  std::size_t* taken = nullptr) {
    InflateAheadTuning tuning;
    tuning.minimumInput = 0;
    tuning.segment = segment;
    tuning.segmentsTaken = taken;
    tuning.waitForSearch = true;
    auto decoder = CreateDeflateDecoder(tuning);
    EntryFacts facts{size, 0, stream.size(), nullptr};
    if (ahead)
        facts.openSource = [&stream] { return std::make_unique<test::MemorySource>(stream); };
    EXPECT_TRUE(decoder->Init(facts));
    Outcome result;
    std::string block(256 * 1024, '\0');
    std::uint64_t fed = 0;
    // The last block the decoder handed out of its own, and what it held.
    const unsigned char* ownData = nullptr;
    std::string ownCopy;
    DecodeStatus status = DecodeStatus::NeedInput;
    for (int steps = 0; steps < 1'000'000; ++steps) {
        if (status == DecodeStatus::NeedInput) {
            if (fed == stream.size() && steps != 0) break;
            fed = decoder->NextInput(fed);
            const std::size_t n = std::min<std::size_t>(256 * 1024, stream.size() - fed);
            decoder->Feed(reinterpret_cast<const unsigned char*>(stream.data()) + fed, n,
                          fed + n == stream.size());
            fed += n;
        }
        const unsigned char* data = nullptr;
        std::size_t produced = 0;
        status = decoder->ProduceAny(reinterpret_cast<unsigned char*>(block.data()), block.size(),
                                     data, produced);
        if (produced != 0) {
            if (ownData) {
                EXPECT_EQ(std::memcmp(ownData, ownCopy.data(), ownCopy.size()), 0)
                    << "a handed-out block changed before a later one went";
            }
            const bool own = data != reinterpret_cast<unsigned char*>(block.data());
            ownData = own ? data : nullptr;
            ownCopy.assign(reinterpret_cast<const char*>(data), own ? produced : 0);
            result.ownBlocks += own;
            result.bytes.append(reinterpret_cast<const char*>(data), produced);
        }
        if (status == DecodeStatus::End || status == DecodeStatus::Corrupt) break;
    }
    result.status = status;
    decoder->Finish();
    return result;
}

TEST(InflateAhead, DecodesStreamsWithStoredStretchesAsOneDecoderAndZlibDo) {
    const std::string data = MixedData(160, 5); // 10 MiB
    for (const int level : {1, 6, 9}) {
        const std::string stream = test::RawDeflate(data, level);
        std::size_t taken = 0;
        const Outcome two = DecodeAll(stream, data.size(), true, 192 * 1024, &taken);
        EXPECT_EQ(two.status, DecodeStatus::End) << level;
        EXPECT_TRUE(two.bytes == data) << "level " << level;
        // About every third noise piece starts a segment (the others lie inside one or too
        // close behind), handed out whole unless the first decoder arrived before it began.
        EXPECT_GE(two.ownBlocks, 4u) << "level " << level;
        EXPECT_LE(two.ownBlocks, taken);
    }
    // Without stored stretches there is nowhere to start: one decoder does it all.
    const std::string text(8 << 20, 'a');
    std::size_t taken = 0;
    const Outcome one = DecodeAll(test::RawDeflate(text, 6), text.size(), true, 192 * 1024, &taken);
    EXPECT_TRUE(one.bytes == text);
    EXPECT_EQ(taken, 0u);
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
        const Outcome one = DecodeAll(damaged, data.size(), false, 0);
        const Outcome two = DecodeAll(damaged, data.size(), true, 128 * 1024);
        EXPECT_EQ(int(two.status), int(one.status)) << trial;
        EXPECT_TRUE(two.bytes == one.bytes) << trial;
    }
}

TEST(InflateAhead, FindsTheEntryPointAfterARunOfStoredBlocks) {
    // zlib stores noise in blocks of about 16 KiB: the point follows 32 KiB of them or more.
    std::mt19937 rng(8);
    std::string noise(100 * 1024, '\0');
    for (char& c : noise)
        c = char(rng());
    const std::string data = std::string(50000, 'x') + noise + std::string(50000, 'y');
    const std::string stream = test::RawDeflate(data, 6);
    const auto* bytes = reinterpret_cast<const unsigned char*>(stream.data());
    unsigned char window[kInflateWindow];
    const auto point = FindEntryPoint(bytes, stream.size(), 1, window);
    ASSERT_TRUE(point.has_value());
    // Decoding up to the point gives, as its last 32 KiB, the window; and a block starts there.
    z_stream z{};
    ASSERT_EQ(inflateInit2(&z, -15), Z_OK);
    std::string out(data.size(), '\0');
    z.next_in = const_cast<Bytef*>(bytes);
    z.avail_in = uInt(point->at);
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = uInt(out.size());
    int rc;
    do {
        rc = inflate(&z, Z_BLOCK);
    } while (rc == Z_OK && z.avail_in != 0);
    EXPECT_EQ(z.avail_in, 0u);
    EXPECT_EQ(z.data_type & 0xC7, 128) << "a block starts at the point, on a byte boundary";
    ASSERT_GE(z.total_out, kInflateWindow);
    EXPECT_EQ(std::memcmp(out.data() + z.total_out - kInflateWindow, window, kInflateWindow), 0);
    inflateEnd(&z);
    // Text alone has no such point.
    const std::string plain = test::RawDeflate(std::string(200000, 'x') + "tail", 6);
    EXPECT_FALSE(FindEntryPoint(reinterpret_cast<const unsigned char*>(plain.data()), plain.size(),
                                1, window));
}

} // namespace
