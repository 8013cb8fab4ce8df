// The iteration count against the rule itself: for every pixel, the steps counted must be the
// ones after which juliaColor returned its value; with the periodicity check, the same rule's
// count and the checked loop's own steps from one pass.
#include <climits>
#include <cmath>

#include <gtest/gtest.h>

#include "bench_test_util.h"
#include "julia.h"

namespace {

TEST(Iterations, AgreeWithTheColourOfEveryPixel) {
    struct Case {
        float mx, my;
        int precision;
    } cases[] = {{0, 0, 10}, {-0.8f, 0.156f, 100}, {0.3f, -0.5f, 37}, {-1, 0, 200}};
    for (const Case& c : cases) {
        int64_t total = 0, checked = 0;
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
                checked += juliaStepsPeriodic(x, y, c.mx, c.my, c.precision);
            }
        }
        EXPECT_EQ(wrong, 0) << "seed (" << c.mx << ", " << c.my << "), limit " << c.precision;
        std::atomic<int> rows{0};
        EXPECT_EQ(frameIterations(c.mx, c.my, c.precision, VIEW_SCALE, &rows), total);
        EXPECT_EQ(rows.load(), HEIGHT);
        FrameParams p{c.mx, c.my, c.precision, VIEW_SCALE};
        p.periodicity = true;
        rows = 0;
        const FrameWork work = frameWork(p, &rows);
        EXPECT_EQ(work.iterations, total) << "limit " << c.precision << ", with the check";
        EXPECT_EQ(work.steps, checked) << "limit " << c.precision << ", with the check";
        EXPECT_EQ(rows.load(), HEIGHT);
    }
    std::atomic<int> rows{0};
    std::vector<float4> img(PIXEL_COUNT);
    renderJuliaCPU(img.data(), {0, 0, 10, VIEW_SCALE}, &rows);
    EXPECT_EQ(rows.load(), HEIGHT) << "the renderer counts its rows too";
}

TEST(Iterations, Bounds) {
    EXPECT_EQ(juliaSteps(0, 0, 2, 0, 10), 2) << "magnitude exactly 4 is no escape";
    EXPECT_EQ(juliaSteps(1.5f, 1.5f, 0, 0, INT_MAX), 1);
    EXPECT_EQ(frameIterations(0, 0, 1, VIEW_SCALE), PIXEL_COUNT) << "one step for every pixel";
    EXPECT_EQ(frameIterations(0, 0, 0, VIEW_SCALE), 0);
    EXPECT_EQ(frameIterations(0, 0, -3, VIEW_SCALE), 0);
}

}  // namespace
