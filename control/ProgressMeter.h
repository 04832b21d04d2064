#pragma once
// Where a progress box's bar stands after a transfer report, and when its whole-percent label
// is written again.
#include <cstdint>

namespace narvo {

struct ProgressStep {
    // Per mille of the transfer, cut to 16 bits: beyond 1000 when more arrived than announced.
    std::uint16_t position = 0;
    // Whether the label is to be rewritten, and with which whole percent.
    bool relabel = false;
    int percent = 0;
};

class ProgressMeter {
public:
    // total 0 (nothing announced) puts the bar at 0.
    ProgressStep Report(std::int32_t total, std::int32_t done);

private:
    // The position at the last label update. It outlives each transfer, so a new box of the same
    // owner shows its first label only once the whole percent differs from the one shown last.
    std::int32_t lastShown_ = -1;
};

} // namespace narvo
