#include "archive/WriteBehind.h"

namespace narvo {

WriteBehind::WriteBehind(platform::OutputFile& file) : file_(file), thread_([this] { Run(); }) {}

WriteBehind::~WriteBehind() {
    Finish();
    {
        std::lock_guard<std::mutex> hold(lock_);
        stop_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

bool WriteBehind::WaitIdle(std::unique_lock<std::mutex>& hold) {
    changed_.wait(hold, [this] { return block_ == nullptr; });
    return !failed_;
}

bool WriteBehind::Hand(const unsigned char* data, std::size_t size) {
    std::unique_lock<std::mutex> hold(lock_);
    if (!WaitIdle(hold)) return false;
    block_ = data;
    size_ = size;
    hold.unlock();
    changed_.notify_all();
    return true;
}

bool WriteBehind::Finish() {
    std::unique_lock<std::mutex> hold(lock_);
    return WaitIdle(hold);
}

void WriteBehind::Run() {
    std::unique_lock<std::mutex> hold(lock_);
    for (;;) {
        changed_.wait(hold, [this] { return block_ != nullptr || stop_; });
        if (block_ == nullptr) return; // stopped with nothing in hand
        const unsigned char* data = block_;
        const std::size_t size = size_;
        hold.unlock();
        // After a failure the rest is not written: the entry has failed already.
        const bool written = !failed_ && file_.Write(data, size);
        hold.lock();
        if (!written) failed_ = true;
        block_ = nullptr;
        changed_.notify_all();
    }
}

} // namespace narvo
