// The fractal core against known values: escapes, the initial image's bands and marker, the
// marker's boundary, limits of 0 and below, and the mouse-to-seed mapping.
#include <algorithm>
#include <cmath>
#include <climits>
#include <vector>

#include <gtest/gtest.h>

#include "cpu_renderer.h"
#include "image_compare.h"
#include "julia.h"

namespace {

constexpr float SCALE = 0.003f;

std::vector<float4> render(float mx, float my, int precision) {
    std::vector<float4> img(PIXEL_COUNT);
    renderJuliaCPU(img.data(), {mx, my, precision, SCALE});
    return img;
}

const float4& at(const std::vector<float4>& img, int i, int j) { return img[i * WIDTH + j]; }

// Pixels whose red differs from green: the marker wherever the picture under it is not white.
std::vector<std::pair<int, int>> markerPixels(const std::vector<float4>& img) {
    std::vector<std::pair<int, int>> out;
    for (int i = 0; i < HEIGHT; i++)
        for (int j = 0; j < WIDTH; j++)
            if (at(img, i, j).x != at(img, i, j).y) out.push_back({i, j});
    return out;
}

TEST(JuliaColor, EscapeValues) {
    EXPECT_EQ(floatBits(juliaColor(0, 0, 0, 0, 10)), floatBits(0.0f)) << "the iterate stays at 0";
    // (2, 0) has magnitude exactly 4, which is no escape; (6, 0) escapes at step 1.
    EXPECT_EQ(juliaColor(0, 0, 2, 0, 10), 0.9f);
    EXPECT_EQ(juliaColor(0, 0, 2, 0, 10), 0.89999998f);
    for (int precision : {1, 2, 10, 1000, INT_MAX}) {
        EXPECT_EQ(juliaColor(3, 0, 0, 0, precision), 1.0f) << "escape on the first step, limit "
                                                            << precision;
    }
    EXPECT_EQ(juliaColor(0, 0, 2, 0, 2), 0.5f);
}

TEST(JuliaColor, NanIsNoEscapeAndInfinityIs) {
    // 1e20 squared overflows to an infinite magnitude, which escapes; an infinite start gives
    // inf * 0 = NaN in the imaginary part, which does not.
    EXPECT_EQ(juliaColor(1e20f, 0, 0, 0, 5), 1.0f);
    EXPECT_EQ(juliaColor(INFINITY, 0, 0, 0, 5), 0.0f);
    EXPECT_EQ(juliaColor(NAN, 0, 0, 0, 5), 0.0f) << "a NaN magnitude runs to the limit";
}

TEST(JuliaColor, LimitZeroAndBelowGivesZeroEverywhere) {
    for (int precision : {0, -1, -3, INT_MIN}) {
        EXPECT_EQ(juliaColor(3, 3, 0, 0, precision), 0.0f);
        EXPECT_EQ(juliaColor(0, 0, 0, 0, precision), 0.0f);
    }
}

// The periodicity check ends an orbit at the first power-of-two save it repeats bit for bit, with
// the colour of a point that never escapes; escapes and the limit are the plain loop's.
TEST(PeriodicityCheck, EndsAtTheFirstRepeatOfASavedIterate) {
    const struct {
        const char* what;
        float x, y, mx, my;
        int precision;
        int steps;  // juliaStepsPeriodic
    } cases[] = {
        {"fixed point 0: a_1 repeats a_0", 0, 0, 0, 0, 1000, 1},
        {"-0 is not +0: a_1 = (+0, +0) repeats a_0 = (-0, 0) only by value", -0.0f, 0, 0, 0,
         1000, 2},
        {"period 2, 0 -> -1 -> 0: a_4 repeats a_2, saved at step 2", 0, 0, -1, 0, 1000, 4},
        {"period 2 cut by the limit first", 0, 0, -1, 0, 3, 3},
        {"an escape is the plain loop's", 0, 0, 2, 0, 10, 2},
        {"magnitude exactly 4 cycles: 2 -> 2", 2, 0, -2, 0, 10, 1},
        {"limit 0", 0, 0, 0, 0, 0, 0},
        {"limit below 0", 0, 0, -1, 0, -3, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(juliaStepsPeriodic(c.x, c.y, c.mx, c.my, c.precision), c.steps) << c.what;
        EXPECT_EQ(floatBits(juliaColorPeriodic(c.x, c.y, c.mx, c.my, c.precision)),
                  floatBits(juliaColor(c.x, c.y, c.mx, c.my, c.precision)))
            << c.what;
    }
    // Equality is of the bits: -0 and +0 differ, a NaN equals only its own bits.
    const float qnan = std::nanf(""), otherNan = std::nanf("7");
    EXPECT_FALSE(sameIterate({0.0f, 1.0f}, {-0.0f, 1.0f}));
    EXPECT_FALSE(sameIterate({1.0f, 0.0f}, {1.0f, -0.0f}));
    EXPECT_TRUE(sameIterate({qnan, 1.0f}, {qnan, 1.0f}));
    EXPECT_FALSE(sameIterate({qnan, 1.0f}, {otherNan, 1.0f}));
    EXPECT_FALSE(sameIterate({1.0f, 2.0f}, {1.0f, std::nextafter(2.0f, 3.0f)}));
    // A NaN orbit never escapes, whether or not its bits repeat.
    for (int precision : {1, 2, 10, INT_MAX}) {
        EXPECT_EQ(juliaColorPeriodic(NAN, 0, 0, 0, precision), 0.0f) << precision;
        EXPECT_EQ(juliaColorPeriodic(INFINITY, 0, 0, 0, precision), 0.0f) << precision;
    }
}

TEST(InitialImage, Row384Bands) {
    const auto img = render(0, 0, 10);
    // Columns escaping at step k show 1 - k/10 (0.9 is the float 0.89999998, 0.4 is 0.39999998).
    struct Band { int from, to, k; };
    const Band left[] = {{0, 40, 0},    {41, 115, 1},   {116, 148, 2},  {149, 163, 3},
                         {164, 171, 4}, {172, 175, 5},  {176, 176, 6},  {177, 177, 7},
                         {178, 178, 8}, {179, 508, 10}};
    for (const Band& b : left) {
        const float color = b.k == 10 ? 0.0f : 1.0f - (float)b.k / 10.0f;
        for (int j = b.from; j <= b.to; j++) {
            ASSERT_EQ(at(img, 384, j).y, color) << "column " << j;
            ASSERT_EQ(at(img, 384, j).x, color) << "column " << j;
        }
    }
    for (int j = 509; j <= 515; j++) {
        EXPECT_TRUE(samePixel(at(img, 384, j), float4{1, 0, 1, 1})) << "marker at column " << j;
    }
    for (int d = 1; d <= 511; d++) {
        EXPECT_TRUE(samePixel(at(img, 384, 512 + d), at(img, 384, 512 - d))) << "offset " << d;
    }
    EXPECT_EQ(at(img, 384, 845).y, 0.0f);
    EXPECT_EQ(at(img, 384, 846).y, 1.0f - 8.0f / 10.0f);
    EXPECT_EQ(at(img, 384, 41).y, 0.89999998f);
    EXPECT_EQ(at(img, 384, 984).y, 1.0f);
    EXPECT_TRUE(samePixel(at(img, 0, 0), float4{1, 1, 1, 1}));
    EXPECT_TRUE(samePixel(at(img, 767, 1023), float4{1, 1, 1, 1}));
}

TEST(InitialImage, OnlyTheElevenValuesOfLimitTen) {
    const auto img = render(0, 0, 10);
    std::vector<float> allowed = {0.0f};
    for (int k = 0; k < 10; k++) allowed.push_back(1.0f - (float)k / 10.0f);
    for (const float4& p : img) {
        ASSERT_NE(std::find(allowed.begin(), allowed.end(), p.y), allowed.end()) << p.y;
        ASSERT_EQ(p.z, 1.0f);
        ASSERT_EQ(p.w, 1.0f);
    }
}

TEST(SeedMarker, ThirtySevenPixelsAroundASamplePoint) {
    const auto img = render(0, 0, 0);  // limit 0: all blue, so the whole marker shows
    const auto marked = markerPixels(img);
    ASSERT_EQ(marked.size(), 37u);
    for (auto [i, j] : marked) {
        const int di = i - 384, dj = j - 512;
        EXPECT_LE(di * di + dj * dj, 11) << "row " << i << ", column " << j;
    }
    for (int i = 381; i <= 387; i++) EXPECT_EQ(at(img, i, 512).x, 1.0f) << "row " << i;
    EXPECT_EQ(at(img, 380, 512).x, 0.0f);
    EXPECT_EQ(at(img, 388, 512).x, 0.0f);
}

TEST(SeedMarker, ClippedToThirteenAtACorner) {
    const float mx = SCALE * (float)(0 - 512), my = SCALE * (float)(0 - 384);
    const auto marked = markerPixels(render(mx, my, 0));
    ASSERT_EQ(marked.size(), 13u);
    for (auto [i, j] : marked) EXPECT_LE(i * i + j * j, 11);
    const float tx = SCALE * (float)(1023 - 512), ty = SCALE * (float)(767 - 384);
    EXPECT_EQ(markerPixels(render(tx, ty, 0)).size(), 13u);
}

TEST(SeedMarker, RadiusComparedInDouble) {
    // 0.01f is the largest float below 0.01: inside. The next float is outside.
    EXPECT_TRUE(inSeedMarker(0.01f, 0, 0, 0));
    EXPECT_TRUE(inSeedMarker(0.0099999998f, 0, 0, 0));
    EXPECT_FALSE(inSeedMarker(std::nextafter(0.01f, 1.0f), 0, 0, 0));
    EXPECT_FALSE(inSeedMarker(0.0100000007f, 0, 0, 0));
    EXPECT_TRUE(inSeedMarker(0, 0.01f, 0, 0));
}

TEST(LimitZeroAndBelow, UniformBlueWithMagentaMarker) {
    for (int precision : {0, -3}) {
        const auto img = render(0.25f, -0.1f, precision);
        int magenta = 0;
        for (const float4& p : img) {
            if (samePixel(p, float4{1, 0, 1, 1})) {
                magenta++;
            } else {
                ASSERT_TRUE(samePixel(p, float4{0, 0, 1, 1}));
            }
        }
        EXPECT_GT(magenta, 0);
        EXPECT_LE(magenta, 37);
    }
}

TEST(ScreenToSeed, KnownPositions) {
    const Complex centre = screenToSeed(512, 384, SCALE);
    EXPECT_EQ(floatBits(centre.reel), floatBits(0.0f));
    EXPECT_EQ(floatBits(centre.im), floatBits(-0.0f)) << "the product is negated after rounding";
    const Complex topLeft = screenToSeed(0, 0, SCALE);
    EXPECT_EQ(topLeft.reel, -1.536f);
    EXPECT_EQ(topLeft.im, 1.152f);
    const Complex bottomRight = screenToSeed(1023, 767, SCALE);
    EXPECT_EQ(bottomRight.reel, 1.533f);
    EXPECT_EQ(bottomRight.im, -1.149f);
    // (0, -0) renders exactly as (0, 0).
    EXPECT_TRUE(imagesEqual(render(0.0f, 0.0f, 10).data(), render(0.0f, -0.0f, 10).data()));
}

// The seed lands on the sample point of column sx and image row 768 - sy: one row above the
// pointer's pixel. Positions outside the window map by the same rule.
TEST(ScreenToSeed, LandsOnTheSamplePointAboveThePointer) {
    const int positions[][2] = {{0, 0},    {1023, 767}, {511, 383}, {37, 701}, {900, 5},
                                {-40, -7}, {1500, 900}, {512, 768}, {-3000, 2500}};
    for (auto& p : positions) {
        const int sx = p[0], sy = p[1];
        const Complex seed = screenToSeed(sx, sy, SCALE);
        EXPECT_EQ(seed.reel, SCALE * (float)(sx - 512)) << sx << "," << sy;
        EXPECT_EQ(seed.im, SCALE * (float)((768 - sy) - 384)) << sx << "," << sy;
    }
}

TEST(ScreenToSeed, ExtremePositionsDoNotOverflow) {
    const Complex lo = screenToSeed(INT_MIN, INT_MIN, SCALE);
    const Complex hi = screenToSeed(INT_MAX, INT_MAX, SCALE);
    EXPECT_LT(lo.reel, 0.0f);
    EXPECT_GT(lo.im, 0.0f);
    EXPECT_GT(hi.reel, 0.0f);
    EXPECT_LT(hi.im, 0.0f);
}

}  // namespace
