#include "driver/StopGuard.h"
#include "tests/support/Wait.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

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
        std::atomic<bool> asked{c.asked};
        std::mutex mutex;
        std::condition_variable changed;
        bool expired = false;
        const auto start = std::chrono::steady_clock::now();
        {
            driver::StopGuard guard([&] { return asked.load(); }, 1000ms,
                                    [&] {
                                        std::lock_guard lock(mutex);
                                        expired = true;
                                        changed.notify_all();
                                    });
            // The guard's own end stands for the stop's end; a hung stop is
            // one that is still going when the limit passes. The stop lasts
            // its time unless the guard expires first (a hung one is given
            // time enough on a slow machine).
            const auto takes = c.expires ? spindle_test::Scaled(c.stopTakes) : c.stopTakes;
            std::unique_lock lock(mutex);
            changed.wait_until(lock, start + takes, [&] { return expired; });
        }
        EXPECT_EQ(expired, c.expires);
        if (c.expires) {
            EXPECT_GE(std::chrono::steady_clock::now() - start, 1000ms);
        }
    }
}
