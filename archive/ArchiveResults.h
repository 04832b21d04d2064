#pragma once
// The archive operations' result codes, as the unzip library names them (UNZ_OK, UNZ_ERRNO,
// UNZ_BADZIPFILE, ... and zlib's Z_DATA_ERROR), plus the archive format code; the numbers are the
// ones page scripts see. One description per code, for the tool and for logs.
#include <unzip.h>

namespace narvo {

// The result for an archive format other than "ZIP".
constexpr int kUnsupportedFormat = 500;

// A short description of an archive result code ("zlib or unzip library error" for other
// negative codes, "unknown result" otherwise).
const char* DescribeArchiveResult(int result);

} // namespace narvo
