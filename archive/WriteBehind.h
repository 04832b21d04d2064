#pragma once
// Inside the archive library: writes a large entry's blocks on a second thread while the engine
// decodes the next one, so that copying into the file system costs the extraction no time of its
// own (about a fifth of a large deflate entry's time when done in turn).
#include "platform/FileSystem.h"

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <thread>

namespace narvo {

class WriteBehind {
public:
    explicit WriteBehind(platform::OutputFile& file);
    ~WriteBehind(); // waits for the block in hand
    WriteBehind(const WriteBehind&) = delete;
    WriteBehind& operator=(const WriteBehind&) = delete;

    // Waits until the block handed over before is written, then hands over this one, which must
    // stay untouched until the next Hand or Finish. False when an earlier write failed.
    bool Hand(const unsigned char* data, std::size_t size);
    // Waits for the last block; false when any write failed.
    bool Finish();

private:
    bool WaitIdle(std::unique_lock<std::mutex>& hold);
    void Run();

    platform::OutputFile& file_;
    std::mutex lock_;
    std::condition_variable changed_;
    const unsigned char* block_ = nullptr;
    std::size_t size_ = 0;
    bool stop_ = false, failed_ = false;
    std::thread thread_;
};

} // namespace narvo
