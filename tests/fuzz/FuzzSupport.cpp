#include "tests/fuzz/FuzzSupport.h"

#include "archive/ArchiveResults.h"

#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sys/resource.h>
#include <unistd.h>

namespace narvo::fuzz {

namespace fs = std::filesystem;

const fs::path& Scratch() {
    static const fs::path folder = [] {
        std::error_code ec;
        std::string base =
            fs::is_directory("/dev/shm", ec) ? "/dev/shm" : fs::temp_directory_path().string();
        std::string pattern = base + "/narvo-fuzz-XXXXXX";
        if (!mkdtemp(pattern.data())) Fail("cannot make a scratch folder under %s", base.c_str());
        std::atexit([] {
            std::error_code ignored;
            fs::remove_all(Scratch(), ignored);
        });
        return fs::path(pattern);
    }();
    return folder;
}

void WriteBytes(const fs::path& path, const std::uint8_t* data, std::size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), std::streamsize(size));
    if (!out) Fail("cannot write %s", path.c_str());
}

void Fail(const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    std::fputs("fuzz property broken: ", stderr);
    std::vfprintf(stderr, format, args);
    std::fputc('\n', stderr);
    va_end(args);
    std::abort();
}

void LimitFileSize(std::uint64_t bytes) {
    std::signal(SIGXFSZ, SIG_IGN); // the write fails with EFBIG instead of ending the process
    rlimit limit{rlim_t(bytes), rlim_t(bytes)};
    setrlimit(RLIMIT_FSIZE, &limit);
}

Tree Snapshot(const fs::path& root) {
    Tree tree;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::end(it);
         it.increment(ec)) {
        const auto status = it->symlink_status();
        std::string what;
        if (fs::is_symlink(status))
            what = "l";
        else if (fs::is_directory(status))
            what = "d";
        else if (fs::is_regular_file(status))
            what = "f" + std::to_string(it->file_size());
        else
            what = "?";
        tree[fs::relative(it->path(), root).string()] = what;
    }
    return tree;
}

bool IsDocumentedArchiveResult(int result) {
    // The codes the engine describes one by one; the catch-all descriptions are for codes it
    // never means to return.
    const std::string_view description = DescribeArchiveResult(result);
    return result != kUnsupportedFormat && description != "zlib or unzip library error" &&
           description != "unknown result";
}

std::pair<std::string_view, std::string_view> SplitAt(std::string_view input, char separator) {
    const auto cut = input.find(separator);
    if (cut == std::string_view::npos) return {input, {}};
    return {input.substr(0, cut), input.substr(cut + 1)};
}

} // namespace narvo::fuzz
