#pragma once
// A C stream that closes itself.
#include <cstdio>
#include <memory>

namespace narvo {

struct StdioFileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, StdioFileCloser>;

} // namespace narvo
