// The allowance that bounds what concurrent requests hold at once.

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "drawing/allowance.h"

namespace {

TEST(Allowance, NeverLetsHoldersTogetherPassTheTotal) {
    constexpr size_t kTotal = 10;
    Allowance allowance(kTotal);
    std::atomic<size_t> holding{0};
    std::atomic<size_t> most{0};
    std::vector<std::thread> threads;
    for (size_t t = 0; t < 6; ++t) {
        threads.emplace_back([&, t] {
            for (size_t i = 0; i < 300; ++i) {
                const size_t amount = 1 + (t * 7 + i) % kTotal;
                const Allowance::Share share(allowance, amount);
                const size_t now = holding += amount;
                size_t seen = most.load();
                while (now > seen && !most.compare_exchange_weak(seen, now)) {
                }
                holding -= amount;
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_LE(most.load(), kTotal);
    EXPECT_EQ(allowance.InUse(), 0u);
}

TEST(Allowance, ClampsAShareLargerThanTheWhole) {
    Allowance allowance(4);
    {
        const Allowance::Share share(allowance, 1000);  // would otherwise wait for ever
        EXPECT_EQ(allowance.InUse(), 4u);
    }
    EXPECT_EQ(allowance.InUse(), 0u);
}

}  // namespace
