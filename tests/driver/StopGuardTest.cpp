#include "driver/StopGuard.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

using namespace std::chrono_literals;

// The guard expires only for a stop that was asked for and outlives its
// limit; a stop that ends in time, or none at all, never expires it.
TEST(StopGuard, ExpiresOnlyForAStopThatOutlivesItsLimit) {
    struct Case {
        const char* what;
        bool asked;
        std::chrono::milliseconds stopTakes;
        bool expires;
    } cases[] = {
        {"no stop asked", false, 600ms, false},
        {"a stop that ends in time", true, 50ms, false},
        {"a stop that hangs", true, 10000ms, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::atomic<bool> asked{c.asked}, expired{false};
        const auto start = std::chrono::steady_clock::now();
        {
            driver::StopGuard guard([&] { return asked.load(); }, 1000ms, [&] { expired = true; });
            // The guard's own end stands for the stop's end; a hung stop is
            // one that is still going when the limit passes.
            const auto until = start + c.stopTakes;
            while (std::chrono::steady_clock::now() < until && !expired)
                std::this_thread::sleep_for(10ms);
        }
        EXPECT_EQ(expired.load(), c.expires);
        if (c.expires) {
            EXPECT_GE(std::chrono::steady_clock::now() - start, 1000ms);
        }
    }
}
