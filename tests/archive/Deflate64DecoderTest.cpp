// The engine's own inflater: in plain-deflate mode against zlib on the streams zlib writes, fed
// and drained in pieces down to one byte; in Deflate64 mode on streams built here that use what
// Deflate64 adds (distances past 32 KiB up to 65,536, lengths past 258 under code 285), through
// the decoder and through an archive; and on malformed streams, which must fail, not misbehave.
#include "archive/ExtractAll.h"
#include "archive/decode/Decoder.h"
#include "fileutil/Digest.h"
#include "platform/FileSystem.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>
#include <unzip.h>
#include <zip.h>
#include <zlib.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

using namespace narvo;
using namespace narvo::test;
using decode::DecodeStatus;

namespace {

struct Result {
    DecodeStatus status = DecodeStatus::NeedInput;
    std::string out;
    bool stopped = false; // ended, failed or wanted more than there was, in bounded steps
};

// Feeds stream in pieces of 1..maxIn bytes and drains into blocks of 1..maxOut bytes until the
// stream ends, fails, or everything fed is used without an end.
Result Decode(decode::Decoder& decoder, const std::string& stream, std::size_t maxIn,
              std::size_t maxOut, unsigned seed = 1) {
    std::mt19937 rng(seed);
    Result r;
    EXPECT_TRUE(decoder.Init({0, 0}));
    std::vector<unsigned char> block(maxOut);
    std::size_t fed = 0;
    for (long steps = 0; steps < 50'000'000; ++steps) {
        if (r.status == DecodeStatus::NeedInput) {
            if (fed == stream.size() && steps != 0) {
                r.stopped = true;
                break;
            }
            const std::size_t n = std::min<std::size_t>(1 + rng() % maxIn, stream.size() - fed);
            decoder.Feed(reinterpret_cast<const unsigned char*>(stream.data()) + fed, n,
                         fed + n == stream.size());
            fed += n;
        }
        std::size_t produced = 0;
        const std::size_t room = 1 + rng() % maxOut;
        r.status = decoder.Produce(block.data(), room, produced);
        EXPECT_LE(produced, room);
        r.out.append(reinterpret_cast<const char*>(block.data()), produced);
        if (r.status == DecodeStatus::End || r.status == DecodeStatus::Corrupt) {
            r.stopped = true;
            break;
        }
    }
    decoder.Finish();
    return r;
}

std::string ZlibDeflate(const std::string& data, int level, int strategy) {
    z_stream z{};
    EXPECT_EQ(deflateInit2(&z, level, Z_DEFLATED, -15, 8, strategy), Z_OK);
    std::string out(deflateBound(&z, uLong(data.size())), '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = uInt(data.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = uInt(out.size());
    EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

std::string Noise(std::mt19937& rng, std::size_t size) {
    std::string out(size, '\0');
    for (char& c : out)
        c = char(rng());
    return out;
}

std::string Text(std::mt19937& rng, std::size_t size) {
    static const char* const words[] = {"archive", "entry", "window", "the", "of",
                                        "deflate", "code",  "length", "a",   "distance"};
    std::string out;
    while (out.size() < size)
        out += std::string(words[rng() % 10]) + (rng() % 9 ? " " : ".\n");
    return out.substr(0, size);
}

// Writes deflate streams bit by bit: fixed-code blocks of literals and matches, and raw bits for
// the malformed ones. The codes come from the format's tables, not from the decoder.
class BitWriter {
public:
    void Bits(unsigned value, unsigned count) {
        for (unsigned i = 0; i < count; ++i) {
            if (used_ % 8 == 0) out_ += '\0';
            out_.back() = char(out_.back() | (((value >> i) & 1) << (used_ % 8)));
            ++used_;
        }
    }
    void Code(unsigned code, unsigned length) { // Huffman codes go first bit highest
        for (unsigned i = length; i-- > 0;)
            Bits((code >> i) & 1, 1);
    }
    void FixedBlock(bool last) { Bits(last, 1), Bits(1, 2); }
    void Symbol(unsigned s) {
        if (s < 144)
            Code(0x30 + s, 8);
        else if (s < 256)
            Code(0x190 + s - 144, 9);
        else if (s < 280)
            Code(s - 256, 7);
        else
            Code(0xC0 + s - 280, 8);
    }
    void Literal(unsigned char c) { Symbol(c); }
    // long64 sends the length under code 285 with 16 extra bits, as only Deflate64 reads it.
    void Match(unsigned length, unsigned distance, bool long64 = false) {
        static const unsigned lengthBase[] = {3,  4,  5,  6,   7,   8,   9,   10,  11, 13,
                                              15, 17, 19, 23,  27,  31,  35,  43,  51, 59,
                                              67, 83, 99, 115, 131, 163, 195, 227, 258};
        static const unsigned distanceBase[] = {
            1,    2,    3,    4,    5,    7,     9,     13,    17,    25,    33,
            49,   65,   97,   129,  193,  257,   385,   513,   769,   1025,  1537,
            2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577, 32769, 49153, 65537};
        if (long64) {
            Symbol(285), Bits(length - 3, 16);
        } else {
            unsigned c = 0;
            while (c < 27 && lengthBase[c + 1] <= length)
                ++c;
            Symbol(257 + c);
            Bits(length - lengthBase[c], c < 8 || c == 28 ? 0 : (c - 4) / 4);
        }
        unsigned d = 0;
        while (distanceBase[d + 1] <= distance)
            ++d;
        Code(d, 5);
        Bits(distance - distanceBase[d], d < 4 ? 0 : (d - 2) / 2);
    }
    void End() { Symbol(256); }
    void Align() { used_ = (used_ + 7) / 8 * 8; }
    const std::string& Out() const { return out_; }

private:
    std::string out_;
    unsigned long used_ = 0;
};

// The reference for the matches above: out[i] = out[i - distance], one byte at a time.
void Repeat(std::string& data, unsigned length, unsigned distance) {
    for (unsigned i = 0; i < length; ++i)
        data += data[data.size() - distance];
}

// A Deflate64 stream of every distance range and lengths to the largest, with what it decodes to.
std::pair<std::string, std::string> Deflate64Sample() {
    std::mt19937 rng(64);
    BitWriter w;
    std::string data = Noise(rng, 70000);
    w.FixedBlock(false);
    for (unsigned char c : data)
        w.Literal(c);
    const unsigned matches[][3] = {{258, 65536, 0},   {65538, 65536, 1}, {300, 49153, 1},
                                   {3, 65535, 0},     {1000, 32769, 1},  {258, 40000, 0},
                                   {65538, 1, 1},     {5000, 3, 1},      {259, 32768, 1},
                                   {65538, 12345, 1}, {17, 60000, 0}};
    for (const auto& m : matches) {
        w.Match(m[0], m[1], m[2] != 0);
        Repeat(data, m[0], m[1]);
    }
    w.End();
    w.Bits(1, 1), w.Bits(0, 2), w.Align(); // a last, stored block
    w.Bits(5, 16), w.Bits(0xFFFA, 16);
    for (char c : std::string("tail!"))
        w.Bits((unsigned char)c, 8);
    data += "tail!";
    return {w.Out(), data};
}

} // namespace

TEST(Deflate64Decoder, PlainDeflateMatchesZlibAtEveryLevelInPiecesOfAnySize) {
    std::mt19937 rng(8);
    const std::string mixed = Text(rng, 50000) + Noise(rng, 40000) + std::string(30000, 'r') +
                              Text(rng, 90000) + Noise(rng, 5000);
    const std::vector<std::string> samples = {"", "x", Text(rng, 300000), Noise(rng, 100000),
                                              mixed};
    auto decoder = decode::CreateDeflate64Decoder(true);
    for (int level = 0; level <= 9; ++level) {
        for (const int strategy : {Z_DEFAULT_STRATEGY, Z_FIXED, Z_HUFFMAN_ONLY, Z_RLE}) {
            if (strategy != Z_DEFAULT_STRATEGY && level != 6) continue;
            for (std::size_t s = 0; s < samples.size(); ++s) {
                const std::string stream = ZlibDeflate(samples[s], level, strategy);
                const Result r = Decode(*decoder, stream, 1 + rng() % 70000, 1 + rng() % 300000);
                ASSERT_EQ(r.status, DecodeStatus::End) << level << "/" << strategy << "/" << s;
                EXPECT_TRUE(r.out == samples[s]) << level << "/" << strategy << "/" << s;
            }
        }
    }
    // One byte in and one byte out: every state stops and resumes at every bit.
    const std::string small = mixed.substr(0, 40000);
    for (const int level : {0, 1, 9}) {
        for (const auto& [in, out] : {std::pair{1, 1 << 17}, {1 << 16, 1}, {3, 2}}) {
            const Result r = Decode(*decoder, ZlibDeflate(small, level, Z_DEFAULT_STRATEGY), in,
                                    out, unsigned(level));
            ASSERT_EQ(r.status, DecodeStatus::End) << level << " " << in << " " << out;
            EXPECT_TRUE(r.out == small) << level << " " << in << " " << out;
        }
    }
}

TEST(Deflate64Decoder, DecodesLongDistancesAndLengthsInPiecesOfAnySize) {
    const auto [stream, data] = Deflate64Sample();
    auto decoder = decode::CreateDecoder(9);
    ASSERT_NE(decoder, nullptr);
    for (const auto& [in, out] :
         {std::pair{1 << 20, 1 << 20}, {1, 1 << 18}, {1 << 18, 1}, {7, 5}}) {
        const Result r = Decode(*decoder, stream, in, out);
        ASSERT_EQ(r.status, DecodeStatus::End) << in << " " << out;
        ASSERT_EQ(r.out.size(), data.size()) << in << " " << out;
        EXPECT_TRUE(r.out == data) << in << " " << out;
    }
    // What Deflate64 adds is damage to plain deflate.
    auto plain = decode::CreateDeflate64Decoder(true);
    EXPECT_EQ(Decode(*plain, stream, 4096, 4096).status, DecodeStatus::Corrupt);
}

TEST(Deflate64Decoder, FailsOnMalformedStreams) {
    const auto fixed = [](auto&& body) {
        BitWriter w;
        w.FixedBlock(true);
        body(w);
        return w.Out();
    };
    // A dynamic block's header: HLIT, HDIST, HCLEN, then three bits per code-length code length.
    const auto dynamic = [](unsigned hlit, unsigned hdist, std::vector<unsigned> clens,
                            auto&& body) {
        BitWriter w;
        w.Bits(1, 1), w.Bits(2, 2), w.Bits(hlit, 5), w.Bits(hdist, 5);
        w.Bits(unsigned(clens.size()) - 4, 4);
        for (unsigned l : clens)
            w.Bits(l, 3);
        body(w);
        return w.Out();
    };
    // Code-length code lengths in their sending order 16 17 18 0 8 7: a complete code where 16
    // is 00, 18 is 01, and 0, 7, 8, 17 are 100, 101, 110, 111.
    const std::vector<unsigned> clens = {2, 3, 2, 3, 3, 3};
    const struct {
        const char* what;
        std::string stream;
    } cases[] = {
        {"block type 3", std::string(1, '\x07') + std::string(10, '\0')},
        {"stored length not matching its complement", std::string("\x01\x05\x00\xfb\xffhello", 10)},
        {"distance before the first byte",
         fixed([](BitWriter& w) { w.Literal('a'), w.Match(3, 2); })},
        {"distance at the start", fixed([](BitWriter& w) { w.Match(3, 1); })},
        {"literal/length symbol 286", fixed([](BitWriter& w) { w.Literal('a'), w.Symbol(286); })},
        {"end of input mid-block", fixed([](BitWriter& w) { w.Literal('a'), w.Literal('b'); })},
        {"over-subscribed code-length code",
         dynamic(0, 0, {1, 1, 1, 0}, [](BitWriter& w) { w.Bits(0, 32); })},
        {"incomplete code-length code",
         dynamic(0, 0, {2, 2, 2, 0}, [](BitWriter& w) { w.Bits(0, 32); })},
        {"repeat with no previous length",
         dynamic(0, 0, clens, [](BitWriter& w) { w.Code(0, 2), w.Bits(3, 2); })}, // 16 first
        {"zeros past the last length",
         dynamic(0, 0, clens,
                 [](BitWriter& w) {
                     for (int i = 0; i < 3; ++i)
                         w.Code(1, 2), w.Bits(127, 7); // 18: 138 zeros, three times over 258
                 })},
        {"no end-of-block code", dynamic(0, 0, clens,
                                         [](BitWriter& w) {
                                             w.Code(1, 2), w.Bits(127, 7), w.Code(1, 2),
                                                 w.Bits(107, 7);         // 256 zeros
                                             w.Code(4, 3), w.Code(4, 3); // 256 and a distance
                                         })},
        {"incomplete literal/length code",
         dynamic(0, 0, clens,
                 [](BitWriter& w) {
                     w.Code(1, 2), w.Bits(127, 7), w.Code(1, 2), w.Bits(104, 7); // 253 zeros
                     for (int i = 0; i < 5; ++i)
                         w.Code(5, 3); // 253..256 and the distance code of 7 bits: incomplete
                 })},
        {"too many literal/length codes",
         dynamic(30, 0, clens, [](BitWriter& w) { w.Bits(0, 32), w.Bits(0, 32); })},
    };
    auto decoder = decode::CreateDecoder(9);
    for (const auto& c : cases) {
        for (const std::size_t piece : {std::size_t(1), std::size_t(4096)}) {
            const Result r = Decode(*decoder, c.stream, piece, piece);
            // Only the cut stream wants more; the engine makes that -3 once the entry's data end.
            const bool cut = std::string(c.what) == "end of input mid-block";
            EXPECT_TRUE(r.stopped) << c.what;
            EXPECT_EQ(r.status, cut ? DecodeStatus::NeedInput : DecodeStatus::Corrupt)
                << c.what << " (" << piece << ")";
        }
    }
    // Noise and damaged streams end, one way or another, without reading past what was fed.
    std::mt19937 rng(99);
    const std::string good = Deflate64Sample().first;
    for (int i = 0; i < 300; ++i) {
        std::string stream = i % 2 ? Noise(rng, 1 + rng() % 3000) : good.substr(0, 20000);
        for (int flips = 0; i % 2 == 0 && flips < 1 + i % 5; ++flips)
            stream[rng() % stream.size()] ^= char(1 << rng() % 8);
        EXPECT_TRUE(
            Decode(*decoder, stream, 1 + rng() % 100, 1 + rng() % 70000, unsigned(i)).stopped)
            << i;
    }
}

// Through the engine, as an archive entry of method 9: extracted whole with its CRC-32 checked,
// and a damaged or cut entry fails with a code.
TEST(Deflate64Decoder, ExtractsAnEntryOfMethodNine) {
    const auto [stream, data] = Deflate64Sample();
    const std::uint32_t crc = Crc32Update(0, data.data(), data.size());
    TempDir dir;
    int run = 0;
    const auto extract = [&](const std::string& raw, std::uint32_t claimedCrc) {
        const std::string zip = dir.File("d64.zip"), out = dir.File("out" + std::to_string(++run));
        zipFile z = zipOpen64(zip.c_str(), APPEND_STATUS_CREATE);
        zip_fileinfo info{};
        info.dosDate = DosDateTime(2021, 6, 15, 10, 30, 24);
        EXPECT_EQ(zipOpenNewFileInZip2_64(z, "big.bin", &info, nullptr, 0, nullptr, 0, nullptr,
                                          Z_DEFLATED, 6, 1, 0),
                  ZIP_OK);
        EXPECT_EQ(zipWriteInFileInZip(z, raw.data(), unsigned(raw.size())), ZIP_OK);
        EXPECT_EQ(zipCloseFileInZipRaw64(z, data.size(), claimedCrc), ZIP_OK);
        EXPECT_EQ(zipClose(z, nullptr), ZIP_OK);
        // minizip writes only the methods it knows: the method field becomes 9 afterwards.
        std::string bytes = ReadFile(zip);
        const std::size_t central = bytes.rfind("PK\x01\x02");
        bytes[8] = bytes[central + 10] = 9;
        WriteFile(zip, bytes);
        platform::CreateFolder(out.c_str());
        testing::internal::CaptureStdout();
        const int code = ExtractArchive(zip.c_str(), (out + platform::PathSeparator()).c_str());
        testing::internal::GetCapturedStdout();
        return std::pair{code, ReadFile(out + platform::PathSeparator() + "big.bin")};
    };
    const auto [code, got] = extract(stream, crc);
    ASSERT_EQ(code, 0);
    EXPECT_TRUE(got == data);
    EXPECT_EQ(extract(stream, crc ^ 1).first, UNZ_CRCERROR);
    EXPECT_EQ(extract(stream.substr(0, stream.size() / 2), crc).first, Z_DATA_ERROR);
    std::string damaged = stream;
    damaged[damaged.size() - 3] ^= 0x20;
    const int damagedCode = extract(damaged, crc).first;
    EXPECT_TRUE(damagedCode == Z_DATA_ERROR || damagedCode == UNZ_CRCERROR) << damagedCode;
}
