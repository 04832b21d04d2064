// The engine's deflate decoder against zlib's inflate, the reference: the same raw deflate
// streams (zlib's every level and strategy, small windows, flushes that leave empty stored
// blocks) of the kinds of data the benchmark corpora hold, stored in an archive, extracted and
// compared byte for byte and by CRC-32; and streams whose directory record lies.
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

namespace {

struct Stream {
    int level = 6, windowBits = 15, strategy = Z_DEFAULT_STRATEGY;
    std::size_t flushEvery = 0; // alternating sync and full flushes: empty stored blocks
};

std::string Deflate(const std::string& data, const Stream& how) {
    return RawDeflate(data, how.level, how.strategy, how.windowBits, how.flushEvery);
}

// zlib's raw inflate of a whole stream.
std::string ZlibInflate(const std::string& deflated, std::size_t size) {
    z_stream z{};
    EXPECT_EQ(inflateInit2(&z, -15), Z_OK);
    std::string out(size, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(deflated.data()));
    z.avail_in = uInt(deflated.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = uInt(out.size());
    EXPECT_EQ(inflate(&z, Z_FINISH), Z_STREAM_END);
    out.resize(z.total_out);
    inflateEnd(&z);
    return out;
}

std::uint32_t ZlibCrc(const std::string& data) {
    return std::uint32_t(crc32(0, reinterpret_cast<const Bytef*>(data.data()), uInt(data.size())));
}

struct RawEntry {
    std::string name, deflated;
    std::uint64_t size;
    std::uint32_t crc;
};

// Stores already deflated data, with whatever size and CRC-32 the record is to claim.
void WriteRawZip(const std::string& path, const std::vector<RawEntry>& entries) {
    zipFile zip = zipOpen64(path.c_str(), APPEND_STATUS_CREATE);
    ASSERT_NE(zip, nullptr);
    for (const RawEntry& entry : entries) {
        zip_fileinfo info{};
        info.dosDate = DosDateTime(2021, 6, 15, 10, 30, 24);
        ASSERT_EQ(zipOpenNewFileInZip2_64(zip, entry.name.c_str(), &info, nullptr, 0, nullptr, 0,
                                          nullptr, Z_DEFLATED, 6, 1, 0),
                  ZIP_OK);
        if (!entry.deflated.empty()) {
            ASSERT_EQ(
                zipWriteInFileInZip(zip, entry.deflated.data(), unsigned(entry.deflated.size())),
                ZIP_OK);
        }
        ASSERT_EQ(zipCloseFileInZipRaw64(zip, entry.size, entry.crc), ZIP_OK);
    }
    ASSERT_EQ(zipClose(zip, nullptr), ZIP_OK);
}

// The corpora's kinds: word-salad text, slowly growing integers, noise, long runs, and 64 KiB
// blocks of them all mixed.
std::vector<std::pair<std::string, std::string>> Samples() {
    std::mt19937 rng(4242);
    std::vector<std::string> words;
    for (int i = 0; i < 2000; ++i) {
        std::string word;
        for (int n = 2 + int(rng() % 9); n > 0; --n)
            word += "etaoinshrdlcumwfgypbvkjxqz"[std::min(rng() % 26, rng() % 26)];
        words.push_back(word);
    }
    const auto text = [&](std::size_t size) {
        std::string out;
        while (out.size() < size)
            out += words[rng() % words.size()] + (rng() % 12 ? " " : ".\n");
        return out.substr(0, size);
    };
    const auto table = [&](std::size_t size) {
        std::string out;
        for (std::uint32_t v = rng() % 100000, step = 1 + rng() % 9; out.size() < size; v += step)
            out.append(reinterpret_cast<const char*>(&v), 4);
        return out.substr(0, size);
    };
    const auto noise = [&](std::size_t size) {
        std::string out(size, '\0');
        for (char& c : out)
            c = char(rng());
        return out;
    };
    std::string mixed;
    for (int block = 0; block < 10; ++block) {
        switch (rng() % 4) {
        case 0:
            mixed += text(64 * 1024);
            break;
        case 1:
            mixed += table(64 * 1024);
            break;
        case 2:
            mixed += noise(64 * 1024);
            break;
        default:
            mixed += std::string(64 * 1024, char(rng()));
        }
    }
    return {{"empty", ""},
            {"one", "x"},
            {"text", text(400 * 1024 + 7)},
            {"table", table(300 * 1024 + 2)},
            {"noise", noise(300 * 1024 + 1)},
            {"runs", std::string(3 * 1024 * 1024 + 5, 'r')},
            {"mixed", mixed}};
}

class DeflateDecoderTest : public testing::Test {
protected:
    // Extracts the archive into a fresh folder; the code of the whole extraction.
    int Extract(const std::vector<RawEntry>& entries) {
        const std::string zip = dir_.File("raw" + std::to_string(++archives_) + ".zip");
        WriteRawZip(zip, entries);
        out_ = dir_.File("out" + std::to_string(archives_));
        EXPECT_TRUE(platform::CreateFolder(out_.c_str()));
        testing::internal::CaptureStdout();
        const int code = ExtractArchive(zip.c_str(), (out_ + platform::PathSeparator()).c_str());
        testing::internal::GetCapturedStdout();
        return code;
    }
    std::string Output(const std::string& name) const {
        return ReadFile(out_ + platform::PathSeparator() + name);
    }

    TempDir dir_;
    std::string out_;
    int archives_ = 0;
};

} // namespace

TEST_F(DeflateDecoderTest, MatchesZlibOnEveryLevelStrategyAndKindOfData) {
    std::vector<Stream> streams;
    for (int level = 0; level <= 9; ++level)
        streams.push_back({level});
    for (int strategy : {Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED})
        streams.push_back({6, 15, strategy});
    streams.push_back({9, 9});
    streams.push_back({1, 12});
    streams.push_back({6, 15, Z_DEFAULT_STRATEGY, 10007});
    streams.push_back({0, 15, Z_DEFAULT_STRATEGY, 70000});

    struct Expected {
        std::string name, data;
        std::uint32_t crc;
    };
    const auto samples = Samples();
    std::vector<RawEntry> entries;
    std::vector<Expected> expected;
    for (std::size_t s = 0; s < streams.size(); ++s) {
        for (const auto& [kind, data] : samples) {
            const Stream& how = streams[s];
            RawEntry entry{kind + "-" + std::to_string(s), Deflate(data, how), data.size(), 0};
            const std::string reference = ZlibInflate(entry.deflated, data.size());
            ASSERT_EQ(reference, data) << entry.name;
            entry.crc = ZlibCrc(reference);
            expected.push_back({entry.name, reference, entry.crc});
            entries.push_back(std::move(entry));
        }
    }
    ASSERT_EQ(Extract(entries), 0);
    for (const Expected& e : expected) {
        const std::string got = Output(e.name);
        ASSERT_EQ(got.size(), e.data.size()) << e.name;
        EXPECT_TRUE(got == e.data) << e.name;
        EXPECT_EQ(Crc32Update(0, got.data(), got.size()), e.crc) << e.name;
    }
}

// A record whose size or CRC-32 does not fit its data, and data cut short or damaged, fail the
// entry with a code, whichever library decodes; the output never outgrows the stored size.
TEST_F(DeflateDecoderTest, RefusesDataThatDisagreeWithTheirRecord) {
    const auto samples = Samples();
    const std::string& text = samples[2].second;
    const std::string deflated = Deflate(text, {});
    const std::uint32_t crc = ZlibCrc(text);
    std::string damaged = deflated;
    for (std::size_t i = 100; i < damaged.size(); i += 997)
        damaged[i] = char(~damaged[i]);
    const struct {
        const char* what;
        RawEntry entry;
        std::vector<int> codes;
    } cases[] = {
        {"size one short", {"a", deflated, text.size() - 1, crc}, {Z_DATA_ERROR}},
        {"size one over", {"a", deflated, text.size() + 1, crc}, {UNZ_CRCERROR}},
        {"size zero", {"a", deflated, 0, crc}, {Z_DATA_ERROR}},
        {"crc off", {"a", deflated, text.size(), crc ^ 1}, {UNZ_CRCERROR}},
        {"cut in half",
         {"a", deflated.substr(0, deflated.size() / 2), text.size(), crc},
         {Z_DATA_ERROR}},
        {"last byte gone",
         {"a", deflated.substr(0, deflated.size() - 1), text.size(), crc},
         {Z_DATA_ERROR}},
        {"damaged", {"a", damaged, text.size(), crc}, {Z_DATA_ERROR, UNZ_CRCERROR}},
        {"noise",
         {"a", samples[4].second.substr(0, 5000), 5000, crc},
         {Z_DATA_ERROR, UNZ_CRCERROR}},
    };
    for (const auto& c : cases) {
        const int code = Extract({c.entry});
        EXPECT_NE(std::find(c.codes.begin(), c.codes.end(), code), c.codes.end())
            << c.what << ": " << code;
        EXPECT_LE(Output("a").size(), c.entry.size) << c.what;
    }
    // Bytes after the stream's last block, inside the stored size, are ignored as zlib does.
    ASSERT_EQ(Extract({{"a", deflated + "trailing", text.size(), crc}}), 0);
    EXPECT_TRUE(Output("a") == text);
}

// The decoder's contract with input and output in odd small pieces, the way no engine block size
// shows it: everything fed is used, a full block is produced again, the end comes once.
TEST(DeflateDecoder, DecodesAcrossOddInputAndOutputPieces) {
    const auto samples = Samples();
    std::mt19937 rng(77);
    auto decoder = decode::CreateDecoder(Z_DEFLATED);
    ASSERT_NE(decoder, nullptr);
    for (const int level : {0, 1, 9}) {
        for (const auto& [kind, data] : samples) {
            const std::string deflated = Deflate(data, {level});
            ASSERT_TRUE(decoder->Init({data.size(), 0}));
            std::string out;
            std::vector<unsigned char> block(70000);
            std::size_t fed = 0;
            decode::DecodeStatus status = decode::DecodeStatus::NeedInput;
            for (int steps = 0; status != decode::DecodeStatus::End; ++steps) {
                ASSERT_LT(steps, 2000000) << kind << " " << level;
                if (status == decode::DecodeStatus::NeedInput) {
                    ASSERT_LT(fed, deflated.size()) << kind << " " << level << ": wants more";
                    const std::size_t n =
                        std::min<std::size_t>(1 + rng() % 5000, deflated.size() - fed);
                    decoder->Feed(reinterpret_cast<const unsigned char*>(deflated.data()) + fed, n,
                                  fed + n == deflated.size());
                    fed += n;
                }
                std::size_t produced = 0;
                const std::size_t room = 1 + rng() % (rng() % 2 ? 16 : block.size());
                status = decoder->Produce(block.data(), room, produced);
                ASSERT_NE(status, decode::DecodeStatus::Corrupt) << kind << " " << level;
                ASSERT_LE(produced, room);
                out.append(reinterpret_cast<const char*>(block.data()), produced);
            }
            decoder->Finish();
            EXPECT_EQ(out.size(), data.size()) << kind << " " << level;
            EXPECT_TRUE(out == data) << kind << " " << level;
        }
    }
}
