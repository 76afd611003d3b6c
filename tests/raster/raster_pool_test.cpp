#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "raster/raster_pool.h"

namespace {

class RasterPoolTest : public ::testing::Test {
protected:
    void SetUp() override { DropKeptRasters(); }
    void TearDown() override { DropKeptRasters(); }
};

TEST_F(RasterPoolTest, AReturnedRasterServesTheNextOfItsSizeOnly) {
    uint8_t* first = TakeRaster(3000);
    first[2999] = 7;
    ReturnRaster(first, 3000);
    uint8_t* other = TakeRaster(3003);
    EXPECT_NE(other, first);
    uint8_t* again = TakeRaster(3000);
    EXPECT_EQ(again, first);
    ReturnRaster(again, 3000);
    ReturnRaster(other, 3003);
}

TEST_F(RasterPoolTest, KeepsAtMostTheNewestRastersItsCountAllows) {
    std::vector<uint8_t*> taken;
    for (size_t k = 0; k < kMaxKeptRasters + 2; ++k) taken.push_back(TakeRaster(4096));
    for (uint8_t* raster : taken) ReturnRaster(raster, 4096);
    // The newest come back; the two oldest were freed.
    std::vector<uint8_t*> again;
    for (size_t k = 0; k < kMaxKeptRasters + 2; ++k) again.push_back(TakeRaster(4096));
    for (size_t k = 0; k < kMaxKeptRasters; ++k) {
        EXPECT_EQ(again[k], taken[taken.size() - 1 - k]) << k;
    }
    for (uint8_t* raster : again) ReturnRaster(raster, 4096);
}

TEST_F(RasterPoolTest, KeepsNoMoreBytesThanItsBudget) {
    const size_t half = kMaxKeptBytes / 2 + 1;
    uint8_t* a = TakeRaster(half);
    uint8_t* b = TakeRaster(half);
    ReturnRaster(a, half);
    ReturnRaster(b, half);  // evicts a: both would exceed the budget
    uint8_t* first = TakeRaster(half);
    EXPECT_EQ(first, b);
    ReturnRaster(first, half);
}

TEST_F(RasterPoolTest, RastersOverTheBudgetAndEmptyOnesAreNotKept) {
    uint8_t* big = TakeRaster(kMaxKeptBytes + 1);
    ReturnRaster(big, kMaxKeptBytes + 1);
    uint8_t* small = TakeRaster(16);
    ReturnRaster(small, 16);
    EXPECT_EQ(TakeRaster(16), small);  // the big one did not push it out
    ReturnRaster(small, 16);
    ReturnRaster(nullptr, 16);
    uint8_t* empty = TakeRaster(0);
    ReturnRaster(empty, 0);
}

// Many threads taking and returning at once never share a raster: each
// writes its own mark over the whole raster and finds it intact.
TEST_F(RasterPoolTest, ThreadsNeverGetTheSameRasterAtOnce) {
    std::vector<std::thread> threads;
    std::vector<int> faults(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t, &faults] {
            for (int round = 0; round < 200; ++round) {
                const size_t size = 512 + 3 * static_cast<size_t>(round % 3);
                uint8_t* raster = TakeRaster(size);
                for (size_t k = 0; k < size; ++k) raster[k] = static_cast<uint8_t>(t);
                for (size_t k = 0; k < size; ++k) faults[t] += raster[k] != t ? 1 : 0;
                ReturnRaster(raster, size);
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    for (int t = 0; t < 4; ++t) EXPECT_EQ(faults[t], 0) << t;
}

}  // namespace
