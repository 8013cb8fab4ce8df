// The title refresh rule: the 500 ms edge, the rate's single-precision value and its format.
#include <string>

#include <gtest/gtest.h>

#include "app_state.h"
#include "title.h"

namespace {

std::string refresh(int mode, int frames, int now, int last, bool* due = nullptr) {
    char t[TITLE_SIZE] = "untouched";
    const bool d = titleRefresh(t, sizeof t, mode, frames, now, last);
    if (due) *due = d;
    return t;
}

TEST(Title, RefreshOnlyWhenMoreThan500msPassed) {
    bool due = true;
    EXPECT_EQ(refresh(MODE_CPU, 30, 500, 0, &due), "untouched");
    EXPECT_FALSE(due);
    EXPECT_EQ(refresh(MODE_CPU, 30, 1700, 1200, &due), "untouched");
    EXPECT_FALSE(due);
    refresh(MODE_CPU, 30, 501, 0, &due);
    EXPECT_TRUE(due);
    refresh(MODE_CPU, 1, 1701, 1200, &due);
    EXPECT_TRUE(due);
}

TEST(Title, RateExamples) {
    struct { int frames, now; const char* shown; } cases[] = {
        {30, 501, "59.88"}, {1, 501, "2.00"}, {7, 503, "13.92"}, {600, 1000, "600.00"}};
    for (auto& c : cases) {
        EXPECT_EQ(refresh(MODE_CPU, c.frames, c.now, 0),
                  std::string("Julia Fractals:  CPU mode, ") + c.shown + " FPS");
    }
    EXPECT_EQ(refresh(MODE_GPU, 600, 2000, 1000), "Julia Fractals:  GPU mode, 600.00 FPS");

    // SIMD mode names what it runs on, as resolved on entering the mode.
    const SimdRun saved = simdRun;
    simdRun.target.name = "avx3";
    simdRun.threads = 2;
    EXPECT_EQ(refresh(MODE_SIMD, 121, 1001, 500),
              "Julia Fractals:  SIMD mode (avx3, 2 threads), 241.52 FPS");
    simdRun.target.name = "sse4";
    simdRun.threads = 1;
    EXPECT_EQ(refresh(MODE_SIMD, 7, 503, 0),
              "Julia Fractals:  SIMD mode (sse4, 1 thread), 13.92 FPS");
    simdRun = saved;
}

TEST(Title, RateIsAFloatQuotient) {
    // 7000/503 is 13.916500994... in double but 13.9165010452 as a float.
    EXPECT_EQ(frameRate(7, 503), 7000.0f / 503.0f);
    EXPECT_NE((double)frameRate(7, 503), 7000.0 / 503.0);
}

TEST(Title, FitsItsBuffer) {
    char t[TITLE_SIZE];
    ASSERT_TRUE(titleRefresh(t, sizeof t, MODE_CPU, 2000000, 100000000, 0));
    EXPECT_LT(std::string(t).size(), sizeof t);
}

}  // namespace
