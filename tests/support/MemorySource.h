#pragma once
// A decoder's second way to an entry's raw bytes, over bytes in memory that outlive it.
#include "archive/decode/Decoder.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace narvo::test {

class MemorySource final : public decode::RawSource {
public:
    explicit MemorySource(const std::string& bytes) : bytes_(bytes) {}
    std::size_t Read(std::uint64_t offset, void* buffer, std::size_t size) override {
        if (offset >= bytes_.size()) return 0;
        size = std::min<std::size_t>(size, bytes_.size() - std::size_t(offset));
        std::memcpy(buffer, bytes_.data() + offset, size);
        return size;
    }

private:
    const std::string& bytes_;
};

} // namespace narvo::test
