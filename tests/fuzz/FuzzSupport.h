#pragma once
// What the fuzz targets share: a scratch folder of the process's own, a hard stop on a broken
// property (libFuzzer keeps the input), and the result codes the archive engine documents.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>

namespace narvo::fuzz {

// A folder made for this process (on tmpfs where there is one), removed when it ends.
const std::filesystem::path& Scratch();

void WriteBytes(const std::filesystem::path& path, const std::uint8_t* data, std::size_t size);

// Stops the run with the message: libFuzzer reports the input as a crash.
[[noreturn]] void Fail(const char* format, ...) __attribute__((format(printf, 1, 2)));
#define FUZZ_REQUIRE(condition, ...)                                                               \
    do {                                                                                           \
        if (!(condition)) ::narvo::fuzz::Fail(__VA_ARGS__);                                        \
    } while (0)

// Keeps what one input may write small: a larger file fails to grow (the write reports an error)
// instead of filling the disk. Archives of a few KiB can announce gigabytes.
void LimitFileSize(std::uint64_t bytes);

// Every path below root with its kind and size ('d' for a folder), for before-and-after checks.
using Tree = std::map<std::string, std::string>;
Tree Snapshot(const std::filesystem::path& root);

// True for a result the listing and extraction functions say they return.
bool IsDocumentedArchiveResult(int result);

// Splits input at the first occurrence of separator; the second part is empty without one.
std::pair<std::string_view, std::string_view> SplitAt(std::string_view input, char separator);

} // namespace narvo::fuzz
