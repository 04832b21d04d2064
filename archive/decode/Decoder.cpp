#include "archive/decode/Decoder.h"

namespace narvo::decode {

namespace {
enum Method : unsigned { kStored = 0, kDeflate = 8, kDeflate64 = 9, kBzip2 = 12, kLzma = 14 };
}

bool IsSupportedMethod(unsigned method) {
    return method == kStored || method == kDeflate || method == kDeflate64 || method == kBzip2 ||
           method == kLzma;
}

std::unique_ptr<Decoder> CreateDecoder(unsigned method) {
    switch (method) {
    case kStored:
        return CreateStoredDecoder();
    case kDeflate:
        return CreateDeflateDecoder();
    case kDeflate64:
        return CreateDeflate64Decoder();
    case kBzip2:
        return CreateBzip2Decoder();
    case kLzma:
        return CreateLzmaDecoder();
    default:
        return nullptr;
    }
}

} // namespace narvo::decode
