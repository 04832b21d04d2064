// Deflate decoding on two threads against one decoder, on streams the input makes: two stored
// blocks give the second thread its first entry point, and the input follows as the rest of the
// stream, with whatever real or false stored blocks it holds. Both must hand out the same bytes
// and end the same way, and a block the decoder hands out of its own must not change while the
// caller still holds it.
#include "archive/decode/Decoder.h"
#include "tests/support/InflateDriver.h"
#include "tests/fuzz/FuzzSupport.h"

#include <algorithm>
#include <string>

using namespace narvo;
using namespace narvo::decode;

namespace {

constexpr std::size_t kMostOutput = 4u << 20; // a few KiB of input can announce far more

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
    // Pieces of 4 KiB, segments of 8 KiB: the work changes hands often within a small input.
    const test::Inflated one = test::Inflate(stream, 0, 4096, kMostOutput);
    const test::Inflated two = test::Inflate(stream, 8192, 4096, kMostOutput);
    FUZZ_REQUIRE(!two.heldBlockChanged, "a handed-out block changed while held");
    // Cut short at the output bound, the two stop at different places of the same bytes.
    const std::size_t common = std::min(one.bytes.size(), two.bytes.size());
    const bool cut = common >= kMostOutput;
    FUZZ_REQUIRE(cut || one.status == two.status, "status %d alone, %d on two threads",
                 int(one.status), int(two.status));
    FUZZ_REQUIRE(cut ? one.bytes.compare(0, common, two.bytes, 0, common) == 0
                     : one.bytes == two.bytes,
                 "%zu bytes alone, %zu on two threads", one.bytes.size(), two.bytes.size());
    return 0;
}
