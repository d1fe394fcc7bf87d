// The words of a progress report, as the command line's bar and the Windows status line show
// them: amount, pace, and the time left or taken.
#include <gtest/gtest.h>

#include "disk/progress_text.h"

namespace quarrow {
namespace {

TEST(ProgressText, AmountPaceAndTimeForEachKindOfReport) {
    struct Case {
        int64_t done, total, bytes_per_unit;
        const char* unit;
        double elapsed;
        bool final_line;
        const char* expected;
    };
    const Case cases[] = {
        // Sectors: MB of MB, and the time left from the pace so far.
        {2048, 8192, 512, "sectors", 2.0, false, "1.0 of 4.0 MB  0.5 MB/s  6 s left"},
        // Too early for an estimate.
        {0, 8192, 512, "sectors", 0.0, false, "0.0 of 4.0 MB  0.0 MB/s  --:-- left"},
        {1, 100, 8388608, "clusters", 0.1, false, "8.0 of 800.0 MB  80.0 MB/s  --:-- left"},
        // Minutes and hours.
        {1, 100, 8388608, "clusters", 10.0, false, "8.0 of 800.0 MB  0.8 MB/s  16:30 left"},
        {1, 1000, 8388608, "clusters", 10.0, false, "8.0 of 8000.0 MB  0.8 MB/s  2:46:30 left"},
        // The end: the whole amount and the time taken; or where it stopped.
        {8192, 8192, 512, "sectors", 75.0, true, "4.0 MB  0.1 MB/s  done in 1:15"},
        {4096, 8192, 512, "sectors", 3.0, true, "2.0 of 4.0 MB  0.7 MB/s  stopped after 3 s"},
        // Done beyond the total counts as the total.
        {9000, 8192, 512, "sectors", 1.0, true, "4.0 MB  4.0 MB/s  done in 1 s"},
        // Work counted in units, not bytes.
        {300, 1200, 0, "clusters", 3.0, false, "300 of 1200 clusters  100 clusters/s  9 s left"},
        {5, 10, 0, nullptr, 1.0, false, "5 of 10 units  5 units/s  1 s left"},
    };
    for (const Case& c : cases) {
        ProgressFigures f;
        f.done = c.done;
        f.total = c.total;
        f.bytes_per_unit = c.bytes_per_unit;
        f.unit = c.unit;
        f.elapsed_seconds = c.elapsed;
        f.final_line = c.final_line;
        EXPECT_EQ(progress_text(f), c.expected) << c.done << " of " << c.total;
    }
}

}  // namespace
}  // namespace quarrow
