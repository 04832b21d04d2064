// The progress box's bar and label arithmetic: per mille positions, the label written only when
// the whole percent changes, and the last label remembered from one transfer to the next.
#include "control/ProgressMeter.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>

using narvo::ProgressMeter;

namespace {

struct Expect {
    std::int32_t total, done;
    int position;
    bool relabel;
};

void Feed(ProgressMeter& meter, std::initializer_list<Expect> reports) {
    for (const Expect& e : reports) {
        const auto step = meter.Report(e.total, e.done);
        EXPECT_EQ(step.position, e.position) << e.done << " of " << e.total;
        EXPECT_EQ(step.relabel, e.relabel) << e.done << " of " << e.total;
        if (step.relabel) {
            EXPECT_EQ(step.percent, e.position / 10);
        }
    }
}

} // namespace

TEST(ProgressMeter, FirstTransferLabelsFromOnePercent) {
    ProgressMeter meter;
    // Below 10 per mille the whole percent is 0, as for the initial -1: nothing to write.
    Feed(meter, {{0, 0, 0, false},
                 {1000, 0, 0, false},
                 {1000, 9, 9, false},
                 {1000, 10, 10, true},
                 {1000, 19, 19, false},
                 {1000, 20, 20, true},
                 {3, 1, 333, true},
                 {3, 2, 666, true},
                 {3, 3, 1000, true},
                 {3, 3, 1000, false}});
}

TEST(ProgressMeter, NextTransferStartsFromTheLastLabel) {
    ProgressMeter meter;
    Feed(meter, {{100, 100, 1000, true}});
    // A new transfer: its first report differs from 100 %, so 0 % is written at once.
    Feed(meter, {{0, 0, 0, true}, {100, 0, 0, false}, {100, 1, 10, true}});
    // Stopped at 37 %, the next transfer's reports up to 37 % write nothing.
    Feed(meter, {{100, 37, 370, true}});
    Feed(meter, {{200, 74, 370, false}, {200, 75, 375, false}, {200, 76, 380, true}});
}

TEST(ProgressMeter, NoTotalKeepsTheBarEmpty) {
    ProgressMeter fresh;
    Feed(fresh, {{0, 5000, 0, false}, {0, 1 << 30, 0, false}});
    ProgressMeter used;
    Feed(used, {{10, 5, 500, true}, {0, 700, 0, true}, {0, 800, 0, false}});
}

TEST(ProgressMeter, MoreThanAnnounced) {
    ProgressMeter meter;
    Feed(meter, {{1000, 1500, 1500, true}});
    EXPECT_EQ(meter.Report(1000, 1500).percent, 150);
    // The 64-bit product does not overflow; the position is cut to 16 bits past 65.535 times.
    Feed(meter, {{1, 65, 65000, true}, {1, 66, 66000 - 65536, true}});
    Feed(meter, {{2147483647, 2147483647, 1000, true}, {2147483647, 1073741823, 499, true}});
    // Negative counts never come from a transfer; they still divide without trapping.
    Feed(meter, {{-1000, 500, std::uint16_t(-500), true}});
}
