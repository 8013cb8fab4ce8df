// The CPU renderer's whole frame against the independent reference, float by float, over seeds on
// and off the sample grid, at a corner and outside the view, and over limits from 1 to 100, 0 and
// below. A build that lets the compiler fuse multiply-adds fails here.
#include <vector>

#include <gtest/gtest.h>

#include "cpu_renderer.h"
#include "image_compare.h"
#include "reference.h"

namespace {

constexpr float SCALE = 0.003f;

struct Seed {
    const char* name;
    float mx, my;
};

const Seed SEEDS[] = {
    {"origin", 0.0f, 0.0f},
    {"off the grid", -0.8f, 0.156f},
    {"off the grid, dendrite", -0.4f, 0.6f},
    {"corner sample point", SCALE * -512.0f, SCALE * -384.0f},
    {"outside the view", 2.5f, -1.75f},
};
const int LIMITS[] = {1, 10, 100, 0, -3};

class CpuFrame : public ::testing::TestWithParam<int> {};

TEST_P(CpuFrame, EqualsReferenceForEverySeed) {
    const int precision = GetParam();
    std::vector<float4> img(1024 * 768);
    for (const Seed& s : SEEDS) {
        renderJuliaCPU(img.data(), s.mx, s.my, precision, SCALE);
        const std::vector<float4> ref = refImage({s.mx, s.my, precision, SCALE});
        EXPECT_TRUE(imagesEqual(ref.data(), img.data()))
            << "seed " << s.name << " (" << s.mx << ", " << s.my << "), limit " << precision;
    }
}

INSTANTIATE_TEST_SUITE_P(Limits, CpuFrame, ::testing::ValuesIn(LIMITS));

TEST(CpuFrame, OverwritesEveryPixelAndRepeatsExactly) {
    std::vector<float4> first(1024 * 768, float4{-1, -1, -1, -1});
    std::vector<float4> second(1024 * 768, float4{7, 7, 7, 7});
    renderJuliaCPU(first.data(), -0.8f, 0.156f, 50, SCALE);
    renderJuliaCPU(second.data(), -0.8f, 0.156f, 50, SCALE);
    EXPECT_TRUE(imagesEqual(first.data(), second.data()));
}

}  // namespace
