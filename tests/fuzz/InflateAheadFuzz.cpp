// Deflate decoding on two threads against one decoder, on streams the input makes: two stored
// blocks give the second thread its first entry point, and the input follows as the rest of the
// stream, with whatever real or false stored blocks it holds. Both must hand out the same bytes
// and end the same way, and a block the decoder hands out of its own must not change while the
// caller still holds it.
#include "archive/decode/Decoder.h"
#include "tests/support/MemorySource.h"
#include "tests/fuzz/FuzzSupport.h"

#include <cstring>
#include <memory>
#include <string>

using namespace narvo;
using namespace narvo::decode;

namespace {

constexpr std::size_t kMostOutput = 4u << 20; // a few KiB of input can announce far more

struct Run {
    std::string bytes;
    DecodeStatus status = DecodeStatus::NeedInput;
};

Run Decode(const std::string& stream, bool ahead) {
    InflateAheadTuning tuning;
    tuning.minimumInput = 0;
    tuning.segment = 8192;
    tuning.waitForSearch = true;
    auto decoder = CreateDeflateDecoder(tuning);
    EntryFacts facts{0, 0, stream.size(), nullptr};
    if (ahead)
        facts.openSource = [&stream] { return std::make_unique<test::MemorySource>(stream); };
    FUZZ_REQUIRE(decoder->Init(facts), "Init failed");
    Run run;
    std::string block(16384, '\0');
    const unsigned char* held = nullptr;
    std::string heldCopy;
    std::uint64_t fed = 0;
    for (int steps = 0; steps < 200000 && run.bytes.size() < kMostOutput; ++steps) {
        if (run.status == DecodeStatus::NeedInput) {
            if (fed == stream.size() && steps != 0) break;
            fed = decoder->NextInput(fed);
            const std::size_t n = std::min<std::size_t>(4096, stream.size() - fed);
            decoder->Feed(reinterpret_cast<const unsigned char*>(stream.data()) + fed, n,
                          fed + n == stream.size());
            fed += n;
        }
        const unsigned char* data = nullptr;
        std::size_t produced = 0;
        run.status = decoder->ProduceAny(reinterpret_cast<unsigned char*>(block.data()),
                                         block.size(), data, produced);
        if (produced != 0) {
            FUZZ_REQUIRE(!held || std::memcmp(held, heldCopy.data(), heldCopy.size()) == 0,
                         "a handed-out block changed while held");
            const bool own = data != reinterpret_cast<unsigned char*>(block.data());
            held = own ? data : nullptr;
            heldCopy.assign(reinterpret_cast<const char*>(data), own ? produced : 0);
            run.bytes.append(reinterpret_cast<const char*>(data), produced);
        }
        if (run.status == DecodeStatus::End || run.status == DecodeStatus::Corrupt) break;
    }
    decoder->Finish();
    if (run.bytes.size() > kMostOutput) run.bytes.resize(kMostOutput);
    return run;
}

void AppendStored(std::string& stream, std::size_t length, char fill) {
    stream += '\0'; // not the last block, stored, padded with zeros
    stream += char(length & 0xFF);
    stream += char(length >> 8);
    stream += char(~length & 0xFF);
    stream += char((~length >> 8) & 0xFF);
    stream.append(length, fill);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string stream;
    AppendStored(stream, 8192, 'a');
    AppendStored(stream, 32768, size != 0 ? char(data[0]) : 'b');
    stream.append(reinterpret_cast<const char*>(data), size);
    const Run one = Decode(stream, false), two = Decode(stream, true);
    // Cut short at the output bound, the two stop at different places of the same bytes.
    const bool cut = one.bytes.size() == kMostOutput;
    FUZZ_REQUIRE(cut || one.status == two.status, "status %d alone, %d on two threads",
                 int(one.status), int(two.status));
    FUZZ_REQUIRE(one.bytes == two.bytes, "%zu bytes alone, %zu on two threads (first difference)",
                 one.bytes.size(), two.bytes.size());
    return 0;
}
