// The iteration count against the rule itself: for every pixel, the steps counted must be the
// ones after which juliaColor returned its value; and the quick estimate that the progress line
// builds on.
#include <climits>
#include <cmath>

#include <gtest/gtest.h>

#include "bench_test_util.h"
#include "iterations.h"
#include "progress.h"
#include "julia.h"

namespace {

TEST(Iterations, AgreeWithTheColourOfEveryPixel) {
    struct Case {
        float mx, my;
        int precision;
    } cases[] = {{0, 0, 10}, {-0.8f, 0.156f, 100}, {0.3f, -0.5f, 37}};
    for (const Case& c : cases) {
        int64_t total = 0;
        int wrong = 0;
        for (int i = 0; i < HEIGHT; i++) {
            for (int j = 0; j < WIDTH; j++) {
                const float x = VIEW_SCALE * (float)(j - 512), y = VIEW_SCALE * (float)(i - 384);
                const int steps = juliaSteps(x, y, c.mx, c.my, c.precision);
                const float color = juliaColor(x, y, c.mx, c.my, c.precision);
                // Escaping on step k (k + 1 steps) gives 1 - k/precision; never escaping gives 0.
                const float expected =
                    color == 0.0f ? 0.0f : 1.0f - (float)(steps - 1) / (float)c.precision;
                if ((color == 0.0f && steps != c.precision) || color != expected) wrong++;
                total += steps;
            }
        }
        EXPECT_EQ(wrong, 0) << "seed (" << c.mx << ", " << c.my << "), limit " << c.precision;
        std::atomic<int> rows{0};
        EXPECT_EQ(frameIterations(c.mx, c.my, c.precision, VIEW_SCALE, &rows), total);
        EXPECT_EQ(rows.load(), HEIGHT);
        // The estimate from one pixel in 256, with no cap at these limits.
        const double estimate = estimateWork(c.mx, c.my, c.precision, VIEW_SCALE).total();
        EXPECT_NEAR(estimate / total, 1.0, 0.1) << estimate << " for " << total;
    }
    std::atomic<int> rows{0};
    std::vector<float4> img(PIXEL_COUNT);
    renderJuliaCPU(img.data(), {0, 0, 10, VIEW_SCALE}, &rows);
    EXPECT_EQ(rows.load(), HEIGHT) << "the renderer counts its rows too";
}

TEST(Iterations, AHugeLimitIsSeenAtOnceToTakeDays) {
    // Seed 0: every point inside the unit circle stays bounded, about 44 % of the view.
    const WorkEstimate w = estimateWork(0, 0, INT_MAX, VIEW_SCALE);
    const double inside = M_PI / (3.072 * 2.304) * PIXEL_COUNT * (double)INT_MAX;
    EXPECT_NEAR(w.total() / inside, 1.0, 0.05);
    EXPECT_LT(w.before[48], w.total() * 1e-6) << "the rows below the circle are cheap";
    EXPECT_GT(w.secondsPerStep, 0.0);
    // Even with the sample's speed unknown to the test, 1e14 steps take longer than a day at any
    // clock; the line must say days, not the seconds a count of rows would suggest.
    const std::string line = rowsAndTimeLeft(51, 1.0, w);
    EXPECT_EQ(line.rfind("rows 51/768, about ", 0), 0u) << line;
    EXPECT_NE(line.find(" days left"), std::string::npos) << line;
    EXPECT_EQ(rowsAndTimeLeft(768, 9.0, w), "rows 768/768, about 0.0 s left");
}

TEST(Iterations, DurationsReadAsPeopleSayThem) {
    EXPECT_EQ(formatDuration(0.44), "0.4 s");
    EXPECT_EQ(formatDuration(42.4), "42 s");
    EXPECT_EQ(formatDuration(200), "3 min 20 s");
    EXPECT_EQ(formatDuration(5 * 3600 + 12 * 60), "5 h 12 min");
    EXPECT_EQ(formatDuration(28 * 86400.0), "28 days");
}

TEST(Iterations, Bounds) {
    EXPECT_EQ(juliaSteps(0, 0, 2, 0, 10), 2) << "magnitude exactly 4 is no escape";
    EXPECT_EQ(juliaSteps(1.5f, 1.5f, 0, 0, INT_MAX), 1);
    EXPECT_EQ(frameIterations(0, 0, 1, VIEW_SCALE), PIXEL_COUNT) << "one step for every pixel";
    EXPECT_EQ(frameIterations(0, 0, 0, VIEW_SCALE), 0);
    EXPECT_EQ(frameIterations(0, 0, -3, VIEW_SCALE), 0);
}

}  // namespace
