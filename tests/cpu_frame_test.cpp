// The CPU renderer's whole frame against the independent reference, float by float, over seeds on
// and off the sample grid, at a corner, outside the view, subnormal and with an iterate exactly on
// the escape circle, and over limits from 1 to 100, 0 and below; the SIMD renderer's frame against
// the CPU renderer's on every Highway target this CPU runs, in both lane modes, on one and two
// threads, each frame leaving the upper halves of the vector registers clear. A build that lets
// the compiler fuse multiply-adds fails here.
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#if defined(__x86_64__)
#include <cpuid.h>
#endif

#include "cpu_renderer.h"
#include "image_compare.h"
#include "reference.h"
#include "simd_renderer.h"

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
    {"subnormal", 1e-40f, -3e-39f},
    // At the origin pixel a_1 = (2, 0): |a_1|^2 is exactly 4, not an escape, and the next step
    // escapes. At limit 1 the tie is on the last step, at limit 2 the escape is.
    {"|a_1|^2 = 4 at the origin", 2.0f, 0.0f},
};
const int LIMITS[] = {1, 2, 10, 100, 0, -3};

// Whether this thread left the upper halves of its ymm registers in use (XINUSE bit 2, read by
// xgetbv 1 where the CPU has it). The legacy SSE code that follows such code runs slower: the CPU
// renderer by a fifth.
bool upperHalvesInUse() {
#if defined(__x86_64__)
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (!__get_cpuid_count(0xd, 1, &a, &b, &c, &d) || !(a & 4)) return false;
    unsigned lo = 0, hi = 0;
    asm volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(1));
    return (lo & 4) != 0;
#else
    return false;
#endif
}

class CpuFrame : public ::testing::TestWithParam<int> {};

TEST_P(CpuFrame, EqualsReferenceForEverySeed) {
    const int precision = GetParam();
    std::vector<float4> img(1024 * 768);
    for (const Seed& s : SEEDS) {
        renderJuliaCPU(img.data(), {s.mx, s.my, precision, SCALE});
        const std::vector<float4> ref = refImage({s.mx, s.my, precision, SCALE});
        EXPECT_TRUE(imagesEqual(ref.data(), img.data()))
            << "seed " << s.name << " (" << s.mx << ", " << s.my << "), limit " << precision;
    }
}

TEST_P(CpuFrame, SimdEqualsCpuOnEveryTargetModeAndThreadCount) {
    const int precision = GetParam();
    std::vector<float4> cpu(1024 * 768), simd(1024 * 768);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (const Seed& s : SEEDS) {
        renderJuliaCPU(cpu.data(), {s.mx, s.my, precision, SCALE});
        for (const std::string& target : simdTargets()) {
            SimdTarget t;
            ASSERT_TRUE(findSimdTarget(target, &t));
            for (SimdMode mode : {SimdMode::Tiles, SimdMode::Refill}) {
                for (int threads : {1, 2}) {
                    simd.assign(simd.size(), float4{nan, nan, nan, nan});  // unwritten pixels show
                    renderJuliaSIMD(t, simd.data(), {s.mx, s.my, precision, SCALE}, threads, mode);
                    const bool dirty = upperHalvesInUse();  // this thread rendered rows too
                    const std::string frame =
                        std::string("seed ") + s.name + ", limit " + std::to_string(precision) +
                        ", target " + target +
                        (mode == SimdMode::Tiles ? ", tiles, " : ", refill, ") +
                        std::to_string(threads) + " thread(s)";
                    EXPECT_TRUE(imagesEqual(cpu.data(), simd.data())) << frame;
                    EXPECT_FALSE(dirty) << "ymm upper halves left in use: " << frame;
                }
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Limits, CpuFrame, ::testing::ValuesIn(LIMITS));

TEST(CpuFrame, OverwritesEveryPixelAndRepeatsExactly) {
    std::vector<float4> first(1024 * 768, float4{-1, -1, -1, -1});
    std::vector<float4> second(1024 * 768, float4{7, 7, 7, 7});
    renderJuliaCPU(first.data(), {-0.8f, 0.156f, 50, SCALE});
    renderJuliaCPU(second.data(), {-0.8f, 0.156f, 50, SCALE});
    EXPECT_TRUE(imagesEqual(first.data(), second.data()));
}

// The SIMD renderer tests s = dx*dx + dy*dy against a float bound instead of taking the square
// root: the verdict must be the same for every float s.
TEST(SimdMarker, SquareBoundGivesTheSquareRootVerdictForEveryFloat) {
    long long wrong = 0;
#pragma omp parallel for reduction(+ : wrong)
    for (long long bits = 0; bits <= 0xffffffffLL; bits++) {
        const uint32_t u = static_cast<uint32_t>(bits);
        float s;
        std::memcpy(&s, &u, sizeof s);
        const bool byRoot = (double)sqrtf(s) < 0.01;
        const bool byBound = s >= 0.0f && s <= SEED_MARKER_SQUARE_MAX;
        wrong += byRoot != byBound;
    }
    EXPECT_EQ(wrong, 0);
}

TEST(SimdTargets, NamedInLowerCaseAndUnknownOnesRefused) {
    const std::vector<std::string> targets = simdTargets();
    ASSERT_FALSE(targets.empty());
    std::string names;
    for (const std::string& t : targets) names += " " + t;
    std::printf("usable Highway targets:%s\n", names.c_str());
    // Empty names the best target; any letter case names the same one.
    SimdTarget best, named;
    ASSERT_TRUE(findSimdTarget("", &best));
    EXPECT_EQ(best.name, targets.front());
    std::string upper = targets.back();
    for (char& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    ASSERT_TRUE(findSimdTarget(upper, &named));
    EXPECT_EQ(named.name, targets.back());
    EXPECT_GE(named.lanes, 1);
    EXPECT_LE(named.lanes, best.lanes);
    for (const char* unknown : {"avx9", " avx2", "avx2x"}) {
        SimdTarget untouched = named;
        EXPECT_FALSE(findSimdTarget(unknown, &untouched)) << unknown;
        EXPECT_EQ(untouched.rows, named.rows) << unknown;
    }
}

}  // namespace
