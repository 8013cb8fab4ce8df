// The CPU renderer's whole frame against the independent reference, float by float, over seeds on
// and off the sample grid, at a corner, outside the view, subnormal and with an iterate exactly on
// the escape circle, and over limits from 1 to 100, 0 and below; the SIMD renderer's frame against
// the CPU renderer's on every Highway target this CPU runs, in both lane modes, on one and two
// threads; every renderer's frame against the stored digests of a few states, so that the image is
// the same on every machine; all of it with the periodicity check too, against the plain images; and, on x86, that SIMD frames leave the upper halves of the vector
// registers clear. A build that lets the compiler fuse multiply-adds fails here.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#if defined(__x86_64__)
#include <cpuid.h>
#endif

#include "cpu_renderer.h"
#include "frame_digests.h"
#include "image_compare.h"
#include "julia.h"
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

// The comma-separated items of an environment variable; none where it is unset or empty.
std::vector<std::string> envList(const char* name) {
    const char* value = std::getenv(name);
    std::vector<std::string> items;
    if (!value || !*value) return items;
    const std::string list = value;
    for (size_t from = 0, comma; from <= list.size(); from = comma + 1) {
        comma = std::min(list.find(',', from), list.size());
        items.push_back(list.substr(from, comma - from));
    }
    return items;
}

// The SIMD targets under test: every one this CPU runs, or those JULIA_TEST_SIMD_TARGETS names
// (comma-separated), where the emulated ARM runs give each SVE vector length its own run. A named
// target this CPU cannot run fails the test, as does an SVE target whose vector is not the
// JULIA_TEST_SVE_BITS the run asked the emulator for.
std::vector<SimdTarget> testedTargets() {
    const char* bits = std::getenv("JULIA_TEST_SVE_BITS");
    std::vector<std::string> wanted = envList("JULIA_TEST_SIMD_TARGETS");
    if (wanted.empty()) wanted = simdTargets();
    std::vector<SimdTarget> targets;
    for (const std::string& name : wanted) {
        SimdTarget t;
        if (!findSimdTarget(name, &t)) {
            ADD_FAILURE() << "SIMD target " << name << " cannot run on this CPU";
            continue;
        }
        if (bits && *bits && t.name.rfind("sve", 0) == 0) {
            EXPECT_EQ(t.lanes * 32, std::atoi(bits)) << "vector bits of " << t.name;
        }
        targets.push_back(t);
    }
    return targets;
}

class CpuFrame : public ::testing::TestWithParam<int> {};

// A frame's parameters at the viewer's scale, with or without the periodicity check.
FrameParams params(float mx, float my, int precision, bool periodicity = false) {
    FrameParams p{mx, my, precision, SCALE};
    p.periodicity = periodicity;
    return p;
}
const char* checkName(bool periodicity) {
    return periodicity ? ", with the periodicity check" : "";
}

TEST_P(CpuFrame, EqualsReferenceForEverySeed) {
    const int precision = GetParam();
    std::vector<float4> img(1024 * 768);
    for (const Seed& s : SEEDS) {
        const std::vector<float4> ref = refImage({s.mx, s.my, precision, SCALE});
        for (bool periodicity : {false, true}) {
            renderJuliaCPU(img.data(), params(s.mx, s.my, precision, periodicity));
            EXPECT_TRUE(imagesEqual(ref.data(), img.data()))
                << "seed " << s.name << " (" << s.mx << ", " << s.my << "), limit " << precision
                << checkName(periodicity);
        }
    }
}

TEST_P(CpuFrame, SimdEqualsCpuOnEveryTargetModeAndThreadCount) {
    const int precision = GetParam();
    std::vector<float4> cpu(1024 * 768), simd(1024 * 768);
    // Emulated runs, where a vector step costs hundreds of nanoseconds, may keep only the limits
    // JULIA_TEST_LIMITS lists, and say so.
    const std::vector<std::string> kept = envList("JULIA_TEST_LIMITS");
    if (!kept.empty() &&
        std::find(kept.begin(), kept.end(), std::to_string(precision)) == kept.end()) {
        GTEST_SKIP() << "limit " << precision << " left out: JULIA_TEST_LIMITS="
                     << std::getenv("JULIA_TEST_LIMITS");
    }
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const std::vector<SimdTarget> targets = testedTargets();
    for (const Seed& s : SEEDS) {
        renderJuliaCPU(cpu.data(), {s.mx, s.my, precision, SCALE});
        for (const SimdTarget& t : targets) {
            for (SimdMode mode : {SimdMode::Tiles, SimdMode::Refill}) {
                for (int threads : {1, 2}) {
                    for (bool periodicity : {false, true}) {
                        // The check's state lives in one call's rows, whoever runs them: one
                        // thread count is enough for it.
                        if (periodicity && threads == 1) continue;
                        simd.assign(simd.size(), float4{nan, nan, nan, nan});  // unwritten show
                        renderJuliaSIMD(t, simd.data(), params(s.mx, s.my, precision, periodicity),
                                        threads, mode);
                        EXPECT_TRUE(imagesEqual(cpu.data(), simd.data()))
                            << "seed " << s.name << ", limit " << precision << ", target "
                            << t.name << " (" << t.lanes * 32 << "-bit vectors), "
                            << (mode == SimdMode::Tiles ? "tiles, " : "refill, ") << threads
                            << " thread(s)" << checkName(periodicity);
                    }
                }
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Limits, CpuFrame, ::testing::ValuesIn(LIMITS));

// Every frame of every target and mode, from limits that take each way out of the row loops.
TEST(SimdFrame, LeavesTheUpperHalvesOfTheVectorRegistersClear) {
#if !defined(__x86_64__)
    GTEST_SKIP() << "x86 only: vzeroupper and the XINUSE bits read by xgetbv are x86's";
#endif
    std::vector<float4> simd(1024 * 768);
    for (const SimdTarget& t : testedTargets()) {
        for (SimdMode mode : {SimdMode::Tiles, SimdMode::Refill}) {
            for (int threads : {1, 2}) {
                for (int precision : {1, 10, 1000}) {
                    renderJuliaSIMD(t, simd.data(), {-0.8f, 0.156f, precision, SCALE}, threads,
                                    mode);
                    EXPECT_FALSE(upperHalvesInUse())  // this thread rendered rows too
                        << "ymm upper halves left in use: target " << t.name << ", limit "
                        << precision << (mode == SimdMode::Tiles ? ", tiles, " : ", refill, ")
                        << threads << " thread(s)";
                }
            }
        }
    }
}


TEST(FrameDigest, ReferenceAndCpuGiveTheStoredImages) {
    std::vector<float4> cpu(1024 * 768);
    for (const DigestState& s : DIGEST_STATES) {
        EXPECT_TRUE(hasDigest(refImage({s.mx, s.my, s.precision, SCALE}).data(), s)) << "reference";
        for (bool periodicity : {false, true}) {
            renderJuliaCPU(cpu.data(), params(s.mx, s.my, s.precision, periodicity));
            EXPECT_TRUE(hasDigest(cpu.data(), s)) << "CPU" << checkName(periodicity);
        }
    }
}

// The plain frames as the viewer's SIMD mode picks their lane mode; with the check, both lane
// modes, which check at different steps.
TEST(FrameDigest, SimdGivesTheStoredImagesOnEveryTarget) {
    std::vector<float4> simd(1024 * 768);
    for (const SimdTarget& t : testedTargets()) {
        for (const DigestState& s : DIGEST_STATES) {
            renderJuliaSIMD(t, simd.data(), params(s.mx, s.my, s.precision), 2);
            EXPECT_TRUE(hasDigest(simd.data(), s)) << "target " << t.name;
            for (SimdMode mode : {SimdMode::Tiles, SimdMode::Refill}) {
                renderJuliaSIMD(t, simd.data(), params(s.mx, s.my, s.precision, true), 2, mode);
                EXPECT_TRUE(hasDigest(simd.data(), s))
                    << "target " << t.name << (mode == SimdMode::Tiles ? ", tiles" : ", refill")
                    << checkName(true);
            }
        }
    }
}

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

// Auto's lane mode: tiles under the refill limit of the lane count; from it refill, except with the
// check where the critical orbit cycles within that limit (the frame then has an interior).
TEST(SimdMode, AutoTakesTilesForLightFramesAndForInteriorsWithTheCheck) {
    struct Row {
        float mx, my;
        int precision, lanes;
        bool periodicity;
        SimdMode expected;
        const char* why;
    };
    const Row rows[] = {
        {0, 0, 199, 16, false, SimdMode::Tiles, "under the 16-lane limit"},
        {0, 0, 200, 16, false, SimdMode::Refill, "at the 16-lane limit"},
        {0, 0, 499, 8, false, SimdMode::Tiles, "under the 4-to-8-lane limit"},
        {0, 0, 100000, 2, false, SimdMode::Tiles, "too few lanes to refill"},
        {0, 0, 1000, 16, true, SimdMode::Tiles, "fixed point 0, found at once"},
        {-0.123f, 0.745f, 2000, 8, true, SimdMode::Tiles, "a 3-cycle"},
        {0, 0, 150, 16, true, SimdMode::Tiles, "under the limit, check or not"},
        {-0.8f, 0.156f, 1000, 16, true, SimdMode::Refill, "the critical orbit escapes"},
        {0.25f, 0, 1000, 16, true, SimdMode::Refill, "parabolic: it never lands on a cycle"},
        {0.3f, 0.5f, 1000, 16, true, SimdMode::Refill, "found only after the limit's 200 steps"},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(autoSimdMode(params(r.mx, r.my, r.precision, r.periodicity), r.lanes), r.expected)
            << r.why << ": seed (" << r.mx << ", " << r.my << "), limit " << r.precision << ", "
            << r.lanes << " lanes" << checkName(r.periodicity);
    }
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
