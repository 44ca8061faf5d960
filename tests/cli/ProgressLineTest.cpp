// The rate and time left on the progress line of copy-disc, build-iso and
// burn, as one table.
#include "cli/Report.h"

#include <gtest/gtest.h>

// Report.cpp's usage lines come from the command table of main.cpp, which
// this test leaves out.
const char* cli::UsageOf(const char*) {
    return "";
}

namespace {

TEST(ProgressLine, SaysRateAndTimeLeftOnceItCan) {
    const struct {
        double percent;
        std::int64_t total;
        double seconds;
        const char* shown;
    } rows[] = {
        {0, 100000000, 10, ""},                         // nothing done yet
        {50, 100000000, 0.5, ""},                       // under a second
        {42, 0, 10, "  0:14 left"},                     // size unknown: no rate
        {50, 100000000, 10, "  5.0 MB/s  0:10 left"},   //
        {25, 4000000000, 30, "  33.3 MB/s  1:30 left"}, // over 2^31 bytes
        {1, 700000000, 61, "  0.1 MB/s  100:39 left"},  // minutes past the hour
        {100, 1000000, 2, "  0.5 MB/s  0:00 left"},     //
        {120, 1000000, 2, ""},                          // no sense in it
    };
    for (const auto& r : rows)
        EXPECT_EQ(cli::ProgressLine::RateAndTimeLeft(r.percent, r.total, r.seconds), r.shown)
            << r.percent << "% after " << r.seconds << " s";
}

} // namespace
