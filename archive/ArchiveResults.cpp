#include "archive/ArchiveResults.h"

namespace narvo {

const char* DescribeArchiveResult(int result) {
    switch (result) {
    case UNZ_OK:
        return "success";
    case UNZ_ERRNO:
        return "a file could not be created, written or read";
    case Z_DATA_ERROR:
        return "the entry's compressed data are corrupt";
    case UNZ_END_OF_LIST_OF_FILE:
        return "no such entry in the archive";
    case UNZ_PARAMERROR:
        return "the archive cannot be opened";
    case UNZ_BADZIPFILE:
        return "not a ZIP archive, or it cannot be opened";
    case UNZ_INTERNALERROR:
        return "internal error of the unzip library";
    case UNZ_CRCERROR:
        return "the entry's data do not match its CRC-32";
    case kUnsupportedFormat:
        return "unsupported archive format";
    default:
        return result < 0 ? "zlib or unzip library error" : "unknown result";
    }
}

} // namespace narvo
