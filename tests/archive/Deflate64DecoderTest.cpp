// The engine's own inflater: in plain-deflate mode against zlib on the streams zlib writes, fed
// and drained in pieces down to one byte; in Deflate64 mode on streams built here that use what
// Deflate64 adds (distances past 32 KiB up to 65,536, lengths past 258 under code 285); and on
// malformed streams, which must fail, not misbehave. 7-Zip's archives: tests/cli.
#include "archive/decode/Decoder.h"

#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

using narvo::decode::DecodeStatus;

namespace {

struct Result {
    DecodeStatus status = DecodeStatus::NeedInput;
    std::string out;
    bool stopped = false; // ended, failed, or used everything fed, within bounded steps
};

// Feeds stream in pieces of 1..maxIn bytes and drains it into 1..maxOut bytes at a time.
Result Decode(narvo::decode::Decoder& decoder, const std::string& stream, std::size_t maxIn,
              std::size_t maxOut, unsigned seed = 1) {
    std::mt19937 rng(seed);
    Result r;
    EXPECT_TRUE(decoder.Init({0, 0}));
    std::vector<unsigned char> block(maxOut);
    std::size_t fed = 0;
    for (long steps = 0; steps < 50'000'000 && !r.stopped; ++steps) {
        if (r.status == DecodeStatus::NeedInput) {
            if (fed == stream.size() && steps != 0) break;
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
        r.stopped = r.status == DecodeStatus::End || r.status == DecodeStatus::Corrupt;
    }
    r.stopped = r.stopped || (r.status == DecodeStatus::NeedInput && fed == stream.size());
    decoder.Finish();
    return r;
}

std::string Noise(std::mt19937& rng, std::size_t size) {
    std::string out(size, '\0');
    for (char& c : out)
        c = char(rng());
    return out;
}

std::string Text(std::mt19937& rng, std::size_t size) {
    static const char* const words[] = {"archive", "entry", "window", "the", "of", "code", "a"};
    std::string out;
    while (out.size() < size)
        out += std::string(words[rng() % 7]) + (rng() % 9 ? " " : ".\n");
    return out.substr(0, size);
}

// Writes deflate streams bit by bit: fixed-code blocks of literals and matches, and raw bits for
// the malformed ones. The codes come from the format's rules, not from the decoder.
class BitWriter {
public:
    void Bits(unsigned value, unsigned count) {
        for (unsigned i = 0; i < count; ++i, ++used_) {
            if (used_ % 8 == 0) out_ += '\0';
            out_.back() = char(out_.back() | (((value >> i) & 1) << (used_ % 8)));
        }
    }
    void Code(unsigned code, unsigned length) { // Huffman codes go first bit highest
        for (unsigned i = length; i-- > 0;)
            Bits((code >> i) & 1, 1);
    }
    void Align() { used_ = (used_ + 7) / 8 * 8; }
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
    // long64 sends the length under code 285 with 16 extra bits, as only Deflate64 reads it.
    void Match(unsigned length, unsigned distance, bool long64 = false) {
        if (long64) {
            Symbol(285), Bits(length - 3, 16);
        } else { // codes 257..284: 8 without extra bits, then 4 each of 1..5 extra bits
            unsigned c = 0, base = 3;
            while (c < 27 && base + (1u << Extra(c, 8)) <= length)
                base += 1u << Extra(c++, 8);
            Symbol(257 + c), Bits(length - base, Extra(c, 8));
        }
        unsigned d = 0, base = 1; // 4 codes without extra bits, then 2 each of 1..14
        while (d < 31 && base + (1u << Extra(d, 4)) <= distance)
            base += 1u << Extra(d++, 4);
        Code(d, 5), Bits(distance - base, Extra(d, 4));
    }

    std::string out_;

private:
    static unsigned Extra(unsigned code, unsigned plain) {
        return code < plain ? 0 : (code - plain) / (plain / 2) + 1;
    }
    unsigned long used_ = 0;
};

// A Deflate64 stream of every distance range and lengths up to the largest, and its bytes.
std::pair<std::string, std::string> Deflate64Sample() {
    std::mt19937 rng(64);
    std::string data = Noise(rng, 70000);
    BitWriter w;
    w.Bits(0, 1), w.Bits(1, 2); // a fixed-code block
    for (unsigned char c : data)
        w.Symbol(c);
    const unsigned matches[][3] = {{258, 65536, 0},   {65538, 65536, 1}, {300, 49153, 1},
                                   {3, 65535, 0},     {1000, 32769, 1},  {258, 40000, 0},
                                   {65538, 1, 1},     {5000, 3, 1},      {259, 32768, 1},
                                   {65538, 12345, 1}, {17, 60000, 0}};
    for (const auto& [length, distance, long64] : matches) {
        w.Match(length, distance, long64 != 0);
        for (unsigned i = 0; i < length; ++i)
            data += data[data.size() - distance];
    }
    w.Symbol(256);
    w.Bits(1, 1), w.Bits(0, 2), w.Align(); // a last, stored block
    w.Bits(5, 16), w.Bits(0xFFFA, 16);
    for (char c : std::string("tail!"))
        w.Bits((unsigned char)c, 8);
    return {w.out_, data + "tail!"};
}

} // namespace

TEST(Deflate64Decoder, PlainDeflateMatchesZlibAtEveryLevelInPiecesOfAnySize) {
    std::mt19937 rng(8);
    const std::string mixed = Text(rng, 50000) + Noise(rng, 40000) + std::string(30000, 'r') +
                              Text(rng, 90000) + Noise(rng, 5000);
    const std::string samples[] = {"", "x", Text(rng, 300000), Noise(rng, 100000), mixed};
    auto decoder = narvo::decode::CreateDeflate64Decoder(true);
    for (int level = 0; level <= 9; ++level) {
        for (const int strategy : {Z_DEFAULT_STRATEGY, Z_FIXED, Z_HUFFMAN_ONLY, Z_RLE}) {
            if (strategy != Z_DEFAULT_STRATEGY && level != 6) continue;
            for (const std::string& data : samples) {
                const Result r = Decode(*decoder, narvo::test::RawDeflate(data, level, strategy),
                                        1 + rng() % 70000, 1 + rng() % 300000);
                ASSERT_EQ(r.status, DecodeStatus::End) << level << "/" << strategy;
                EXPECT_TRUE(r.out == data) << level << "/" << strategy << "/" << data.size();
            }
        }
    }
    // One byte in or out: every state stops and goes on at every bit.
    const std::string small = mixed.substr(0, 40000);
    for (const int level : {0, 1, 9}) {
        for (const auto& [in, out] : {std::pair{1, 1 << 17}, {1 << 16, 1}, {3, 2}}) {
            const Result r =
                Decode(*decoder, narvo::test::RawDeflate(small, level, Z_DEFAULT_STRATEGY), in, out,
                       unsigned(level));
            ASSERT_EQ(r.status, DecodeStatus::End) << level << " " << in << " " << out;
            EXPECT_TRUE(r.out == small) << level << " " << in << " " << out;
        }
    }
}

TEST(Deflate64Decoder, DecodesLongDistancesAndLengthsInPiecesOfAnySize) {
    const auto [stream, data] = Deflate64Sample();
    auto decoder = narvo::decode::CreateDecoder(9);
    ASSERT_NE(decoder, nullptr);
    for (const auto& [in, out] :
         {std::pair{1 << 20, 1 << 20}, {1, 1 << 18}, {1 << 18, 1}, {7, 5}}) {
        const Result r = Decode(*decoder, stream, in, out);
        ASSERT_EQ(r.status, DecodeStatus::End) << in << " " << out;
        EXPECT_TRUE(r.out == data) << in << " " << out << ": " << r.out.size();
    }
    // What Deflate64 adds is damage to plain deflate.
    auto plain = narvo::decode::CreateDeflate64Decoder(true);
    EXPECT_EQ(Decode(*plain, stream, 4096, 4096).status, DecodeStatus::Corrupt);
}

TEST(Deflate64Decoder, FailsOnMalformedStreams) {
    // A last block: fixed, or dynamic with HLIT, HDIST and the code-length code lengths in their
    // sending order (16 17 18 0 8 7 ...), then what body writes.
    const auto block = [](std::vector<unsigned> header, auto&& body) {
        BitWriter w;
        w.Bits(1, 1), w.Bits(header.empty() ? 1 : 2, 2);
        if (!header.empty()) {
            w.Bits(header[0], 5), w.Bits(header[1], 5), w.Bits(unsigned(header.size()) - 6, 4);
            for (std::size_t i = 2; i < header.size(); ++i)
                w.Bits(header[i], 3);
        }
        body(w);
        w.Bits(0, 32), w.Bits(0, 32); // enough bits for any code: the damage is before them
        return w.out_;
    };
    // A complete code-length code: 16 is 00, 18 is 01; 0, 7, 8, 17 are 100, 101, 110, 111.
    const std::vector<unsigned> lengths = {0, 0, 2, 3, 2, 3, 3, 3};
    const auto zeros = [](BitWriter& w, unsigned n) { // code 18, 11..138 zeros at a time
        for (; n != 0; n -= std::min(n, 138u))
            w.Code(1, 2), w.Bits(std::min(n, 138u) - 11, 7);
    };
    const struct {
        const char* what;
        std::string stream;
        DecodeStatus status = DecodeStatus::Corrupt;
    } cases[] = {
        {"block type 3", std::string(1, '\x07') + std::string(10, '\0')},
        {"stored length not matching its complement", std::string("\x01\x05\x00\xfb\xffhello", 10)},
        {"distance at the start", block({}, [](BitWriter& w) { w.Match(3, 1); })},
        {"distance before the first byte",
         block({}, [](BitWriter& w) { w.Symbol('a'), w.Match(3, 2); })},
        {"literal/length symbol 286", block({}, [](BitWriter& w) { w.Symbol(286); })},
        {"end of input mid-block",
         block({},
               [](BitWriter& w) {
                   for (unsigned c = 0; c < 50; ++c)
                       w.Symbol(c);
               })
             .substr(0, 20),
         DecodeStatus::NeedInput},
        {"over-subscribed code-length code", block({0, 0, 1, 1, 1, 0}, [](BitWriter&) {})},
        {"incomplete code-length code", block({0, 0, 2, 2, 2, 0}, [](BitWriter&) {})},
        {"too many literal/length codes", block({30, 0, 1, 1, 0, 0}, [](BitWriter&) {})},
        {"repeat with no previous length",
         block(lengths, [](BitWriter& w) { w.Code(0, 2), w.Bits(3, 2); })},
        {"zeros past the last length", block(lengths, [&](BitWriter& w) { zeros(w, 300); })},
        {"no end-of-block code", block(lengths,
                                       [&](BitWriter& w) {
                                           zeros(w, 256), w.Code(4, 3),
                                               w.Code(4, 3); // 256 and the distance code: 0
                                       })},
        {"incomplete literal/length code",
         block(lengths,
               [&](BitWriter& w) {
                   zeros(w, 253);
                   for (int i = 0; i < 5; ++i)
                       w.Code(5, 3); // 253..256 and the distance code of 7 bits
               })},
    };
    auto decoder = narvo::decode::CreateDecoder(9);
    for (const auto& c : cases) {
        for (const std::size_t piece : {std::size_t(1), std::size_t(4096)}) {
            const Result r = Decode(*decoder, c.stream, piece, piece);
            EXPECT_TRUE(r.stopped) << c.what;
            EXPECT_EQ(r.status, c.status) << c.what << " (" << piece << ")";
        }
    }
    // Noise and damaged streams end one way or another, without reading past what was fed.
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
