#include "control/ProgressMeter.h"

namespace narvo {

ProgressStep ProgressMeter::Report(std::int32_t total, std::int32_t done) {
    ProgressStep step;
    if (total != 0) step.position = std::uint16_t(std::int64_t(done) * 1000 / total);
    step.percent = step.position / 10;
    // -1 counts as 0 percent: a first transfer labels nothing below 1 %.
    if (step.percent != lastShown_ / 10) {
        step.relabel = true;
        lastShown_ = step.position;
    }
    return step;
}

} // namespace narvo
