// julia-fractals-bench floors: the machine measured rather than a frame. It puts
// each floor, what no renderer of the rule can beat on this CPU, beside the renderer: the rule's
// loop on one point that never escapes; per Highway target, a step's float arithmetic alone on
// independent vectors, fully unrolled, alternating with the SIMD renderer at seed 0, limit 1000;
// writing the frame, against the renderer at limit 1. Work on one thread is timed on the process's
// CPU clock, so that a busy machine's waits count nowhere. A check that fails (an orbit escaped, a
// figure faster than any CPU) goes to standard error and makes the exit status 1.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <ctime>
#include <string>
#include <utility>
#include <vector>

#include <fmt/format.h>
#include <omp.h>

#include "cpu_renderer.h"
#include "julia.h"
#include "machine.h"
#include "report.h"
#include "simd_renderer.h"
#include "timing.h"

#ifndef JULIA_BENCH_FLOORS_SHARED
#define JULIA_BENCH_FLOORS_SHARED
namespace floors {
inline double cpuSeconds() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }
// Says why a figure is not of the loop as written; printFloors then returns 1.
void checkFailed(const std::string& why);
}  // namespace floors
#endif

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "floors.cpp"
#include <hwy/foreach_target.h>  // must come before highway.h
#include <hwy/aligned_allocator.h>
#include <hwy/cache_control.h>
#include <hwy/highway.h>

HWY_BEFORE_NAMESPACE();
namespace floors {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

using DF = hn::ScalableTag<float>;
using VF = hn::Vec<DF>;

// Keeps v in a vector register as if something read it, at no cost.
HWY_INLINE void Keep(const VF& v) {
#if HWY_ARCH_ARM_A64 && HWY_HAVE_SCALABLE
    asm volatile("" : : "w"(v));  // SVE: the vector is the sizeless type itself
#elif HWY_ARCH_ARM_A64 && HWY_TARGET != HWY_EMU128
    asm volatile("" : : "w"(v.raw));
#elif HWY_ARCH_X86 && HWY_TARGET != HWY_EMU128
    asm volatile("" : : "v"(v.raw));
#else
    asm volatile("" : : "m"(v.raw));  // an array: no register holds it
#endif
}

// One step of z <- z^2 + c as the renderer does it: the squares shared between the magnitude
// (computed, though nothing tests it) and the next iterate.
HWY_INLINE void Step(VF& re, VF& im, const VF cx, const VF cy) {
    const VF rr = hn::Mul(re, re), ii = hn::Mul(im, im), ri = hn::Mul(re, im);
    Keep(hn::Add(rr, ii));
    re = hn::Add(hn::Sub(rr, ii), cx);
    im = hn::Add(hn::Add(ri, ri), cy);
}

template <size_t>
using Each = VF;

// sizeof...(K) orbits, each a pair of named vectors (function parameters: SVE vectors can be
// neither array elements nor members), stepped by a fold, so the loop is unrolled in full and
// each vector stays in a register while the registers last.
template <size_t... K>
struct Orbits {
    static HWY_INLINE double Seconds(int64_t steps, VF cx, VF cy, Each<K>... re, Each<K>... im) {
        const double t0 = cpuSeconds();
        for (int64_t s = 0; s < steps; s++) (Step(re, im, cx, cy), ...);
        const double seconds = cpuSeconds() - t0;
        if (!((0.0f + ... + hn::GetLane(re)) < 1.0f)) checkFailed("the floor's orbits escaped");
        return seconds;
    }
};

// Seconds for `steps` steps of sizeof...(K) orbits that start near the attracting fixed point of
// a seed in the main cardioid, so that every value stays a normal float.
template <size_t... K>
HWY_NOINLINE double StepsSeconds(std::index_sequence<K...>, float mx, float my, int64_t steps) {
    const DF df;
    return Orbits<K...>::Seconds(steps, hn::Set(df, mx), hn::Set(df, my), hn::Set(df, 1e-3f * K)...,
                                 Each<K>(hn::Zero(df))...);
}

template <size_t Vectors>
double NsOn(float mx, float my, int64_t laneIterations) {
    const int64_t perStep = static_cast<int64_t>(Vectors * hn::Lanes(DF()));
    const int64_t steps = std::max<int64_t>(1, laneIterations / perStep);
    return StepsSeconds(std::make_index_sequence<Vectors>(), mx, my, steps) * 1e9 /
           static_cast<double>(steps * perStep);
}

// Ns per lane-iteration of about `laneIterations` on the choice'th number of vectors, stored in
// *vectors; -1 past the last choice. More vectors than the registers hold can still be faster: the
// spills go to the load and store units, not to the float pipes.
double FloorNs(float mx, float my, int64_t laneIterations, int choice, int* vectors) {
    static const struct {
        int vectors;
        double (*ns)(float, float, int64_t);
    } choices[] = {{4, NsOn<4>},   {6, NsOn<6>},   {8, NsOn<8>},  {10, NsOn<10>},
                   {12, NsOn<12>}, {14, NsOn<14>}, {16, NsOn<16>}};
    if (choice >= static_cast<int>(sizeof choices / sizeof choices[0])) return -1;
    *vectors = choices[choice].vectors;
    return choices[choice].ns(mx, my, laneIterations);
}

// Writes the frame (0.5, 0.5, 1, 1) per pixel on `threads` threads, each a contiguous share,
// with ordinary or non-temporal stores.
HWY_NOINLINE void WriteFrame(float4* pixels, int threads, bool stream) {
    const DF df;
    const int64_t lanes = static_cast<int64_t>(hn::Lanes(df));
    auto pattern = hwy::AllocateAligned<float>(lanes);
    for (int64_t l = 0; l < lanes; l++) pattern[l] = (l % 4) < 2 ? 0.5f : 1.0f;
    const int64_t floats = 4 * static_cast<int64_t>(PIXEL_COUNT);
    float* const out = reinterpret_cast<float*>(pixels);
#pragma omp parallel num_threads(threads)
    {
        const int64_t n = omp_get_num_threads(), t = omp_get_thread_num();
        const int64_t lo = floats * t / n / lanes * lanes;
        const int64_t hi = floats * (t + 1) / n / lanes * lanes;
        const VF v = hn::Load(df, pattern.get());  // per thread: SVE vectors cannot be shared
        if (stream) {
            for (int64_t k = lo; k < hi; k += lanes) hn::Stream(v, df, out + k);
        } else {
            for (int64_t k = lo; k < hi; k += lanes) hn::StoreU(v, df, out + k);
        }
    }
    if (stream) hwy::FlushStream();  // weakly ordered: done before the clock is read
}

}  // namespace HWY_NAMESPACE
}  // namespace floors
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace floors {
HWY_EXPORT(FloorNs);
HWY_EXPORT(WriteFrame);

namespace {

// Read at run time, so the compiler can neither fold the loops nor shorten them.
volatile float startX = 0.0f, startY = 0.0f;
volatile float seedX = -0.5f, seedY = 0.3f;  // inside the main cardioid: the orbit stays bounded
volatile int precision = 100000000;
volatile float sink;
volatile float addend = 1e-7f;
volatile uint64_t one = 1;
volatile size_t readBack = 12345;

// No CPU runs at 10 GHz, nor retires more than 4 vector float operations per cycle: figures
// faster than that were not measured as written (a compiler shortened the loop).
constexpr double LEAST_NS_PER_CYCLE = 0.1;
constexpr double STEP_OPS = 8, MOST_OPS_PER_CYCLE = 4;
constexpr double LEAST_GHZ = 0.3, MOST_GHZ = 7;  // a clock outside is no clock

constexpr int REPS = 7;
constexpr int64_t FLOOR_LANE_ITERATIONS = int64_t{1} << 27;
constexpr int FRAME_PRECISION = 1000;
bool failed = false;  // a check failed

double nsSince(double t0, double count) { return (cpuSeconds() - t0) * 1e9 / count; }

// GHz from a chain of dependent integer adds, one per cycle on every x86-64 and AArch64 core; 0
// where there is no such chain.
double chainGHz() {
    constexpr int64_t ADDS = int64_t{1} << 26;
    uint64_t x = 0;
    const uint64_t d = one;
    const double t0 = cpuSeconds();
    for (int64_t k = 0; k < ADDS; k += 8) {
#if HWY_ARCH_X86_64
        asm volatile("add %1,%0\n\tadd %1,%0\n\tadd %1,%0\n\tadd %1,%0\n\t"
                     "add %1,%0\n\tadd %1,%0\n\tadd %1,%0\n\tadd %1,%0"
                     : "+r"(x) : "r"(d));
#elif HWY_ARCH_ARM_A64
        asm volatile("add %0,%0,%1\n\tadd %0,%0,%1\n\tadd %0,%0,%1\n\tadd %0,%0,%1\n\t"
                     "add %0,%0,%1\n\tadd %0,%0,%1\n\tadd %0,%0,%1\n\tadd %0,%0,%1"
                     : "+r"(x) : "r"(d));
#else
        return 0;
#endif
    }
    const double seconds = cpuSeconds() - t0;
    return x == static_cast<uint64_t>(ADDS) * d && seconds > 0 ? ADDS / seconds / 1e9 : 0;
}

// The clock from the fastest of five chains (the least disturbed), or 0 with *why said. Where it
// is no CPU's clock, or a dependent float add (`faddNs`) would not take a whole number of cycles
// from 2 to 6 at it, the chain was not run as written: an add of an immediate, for one, can be
// folded at register renaming, hence the addend in a register.
double inferClock(double faddNs, std::string* why) {
    double ghz = 0;
    for (int k = 0; k < 5; k++) ghz = std::max(ghz, chainGHz());
    const double fadd = faddNs * ghz;
    if (ghz == 0) {
        *why = "no chain of integer adds is written for this architecture";
    } else if (ghz < LEAST_GHZ || ghz > MOST_GHZ) {
        *why = fmt::format("a chain of dependent integer adds ran at {:.2f} GHz, no CPU's clock",
                           ghz);
    } else if (fadd < 1.75 || fadd > 6.25 || std::abs(fadd - std::round(fadd)) > 0.25) {
        *why = fmt::format("at the {:.2f} GHz a chain of dependent integer adds shows, a float add "
                           "would take {:.2f} cycles, no CPU's latency",
                           ghz, fadd);
    } else {
        return ghz;
    }
    return 0;
}

// "(3.0 cycles)" at `ghz`, or nothing without a clock.
std::string cycles(double ns, double ghz) {
    return ghz > 0 ? fmt::format(" ({:.2f} cycles)", ns * ghz) : "";
}

// CPU seconds of a frame on one thread.
double frameSeconds(const SimdTarget& target, float4* pixels, const FrameParams& p) {
    const double t0 = cpuSeconds();
    renderJuliaSIMD(target, pixels, p, 1);
    return cpuSeconds() - t0;
}

// False, having said why, for a figure below what any CPU reaches.
bool plausible(const std::string& what, double ns, double least) {
    if (ns >= least) return true;
    checkFailed(fmt::format("{}: measured {:.4f} ns, below the {:.4f} ns any CPU takes; the loop "
                            "was not measured as written",
                            what, ns, least));
    return false;
}

// The scalar floors in ns, each the best of five runs (the least disturbed): the rule's loop per
// iteration, and a dependent float add. False, having said why, for figures no CPU reaches.
bool scalarFloor(double* rule, double* fadd) {
    const int n = precision;
    *rule = *fadd = 1e9;
    for (int rep = 0; rep < 5; rep++) {
        double t0 = cpuSeconds();
        const float color = juliaColor(startX, startY, seedX, seedY, n);
        *rule = std::min(*rule, nsSince(t0, n));
        if (color != 0.0f) checkFailed("the probe's point escaped");

        float s = addend;
        const float d = addend;
        t0 = cpuSeconds();
        for (int k = 0; k < n; k++) s = s + d;  // no reassociation: each add waits for the last
        *fadd = std::min(*fadd, nsSince(t0, n));
        sink = s;  // keeps the chain alive
    }
    // An iteration of the rule chains at least a multiply, a subtract and an add.
    return plausible("float add chain", *fadd, LEAST_NS_PER_CYCLE) &&
           plausible("rule loop", *rule, 3 * LEAST_NS_PER_CYCLE);
}

// The fastest number of vectors on this target, each the best of three short runs.
int fastestChoice(size_t index) {
    const auto floorNs = HWY_DISPATCH_TABLE(FloorNs)[index];
    int best = 0, vectors = 0;
    double fastest = 1e9;
    for (int c = 0;; c++) {
        for (int k = 0; k < 3; k++) {
            const double ns = floorNs(seedX, seedY, FLOOR_LANE_ITERATIONS / 4, c, &vectors);
            if (ns < 0) return best;  // past the last choice
            if (ns < fastest) fastest = ns, best = c;
        }
    }
}

// Per target: the vector floor against the renderer, ns per lane-iteration, alternating.
bool vectorFloor(float4* pixels, double ghz) {
    const FrameParams frame{0.0f, 0.0f, FRAME_PRECISION, VIEW_SCALE};
    const double frameIters =
        static_cast<double>(frameIterations(0, 0, FRAME_PRECISION, VIEW_SCALE));
    fmt::print("\nns per lane-iteration, one thread: the vector floor (a step's float arithmetic "
               "alone, fully unrolled) and the SIMD renderer at seed 0, limit {} ({} "
               "iterations)\n{:<9} {:>5} {:>7} {:>9} {:>12} {:>9} {:>12}\n",
               FRAME_PRECISION, frameIters, "target", "lanes", "vectors", "floor ns", "cycles/step",
               "render ns", "render/floor");
    for (const std::string& name : simdTargets()) {
        SimdTarget target;
        findSimdTarget(name, &target);
        const int choice = fastestChoice(target.tableIndex);
        std::vector<double> floors, renders, ratios;
        int vectors = 0;
        frameSeconds(target, pixels, frame);  // warm-up
        for (int rep = 0; rep < REPS; rep++) {
            floors.push_back(HWY_DISPATCH_TABLE(FloorNs)[target.tableIndex](
                seedX, seedY, FLOOR_LANE_ITERATIONS, choice, &vectors));
            renders.push_back(frameSeconds(target, pixels, frame) * 1e9 / frameIters);
            ratios.push_back(renders.back() / floors.back());
        }
        const double f = summarize(floors).median;
        const double least = STEP_OPS / (MOST_OPS_PER_CYCLE * target.lanes) * LEAST_NS_PER_CYCLE;
        if (!plausible(name + " vector floor", f, least)) return false;
        const std::string perStep = ghz > 0 ? fmt::format("{:.2f}", f * target.lanes * ghz) : "-";
        say(fmt::format("{:<9} {:>5} {:>7} {:>9.4f} {:>12} {:>9.4f} {:>11.2f}x", name, target.lanes,
                        vectors, f, perStep, summarize(renders).median, summarize(ratios).median));
    }
    return true;
}

// The frame written with the best target's stores against the renderer at limit 1, in GB/s.
void memoryFloor(float4* pixels) {
    SimdTarget best;
    findSimdTarget("", &best);
    const auto write = HWY_DISPATCH_TABLE(WriteFrame)[best.tableIndex];
    const FrameParams frame{0.0f, 0.0f, 1, VIEW_SCALE};
    const int every = simdThreads(0);
    constexpr int FRAMES = 101;
    fmt::print("\nwriting the {}-byte frame, GB/s (median of {}): the memory floor with ordinary "
               "and with non-temporal {} stores, and the SIMD renderer at seed 0, limit 1\n"
               "{:<7} {:>9} {:>12} {:>9} {:>14}\n",
               BUFFER_SIZE, FRAMES, best.name, "threads", "stores", "non-temporal", "render",
               "render/floor");
    for (int threads : {1, every}) {
        // Each series in a run of its own: the floor's threads keep their shares of the frame in
        // their caches from one frame to the next, which the renderer's rows would spoil.
        auto ms = [&](const std::function<void()>& f) {
            return summarize(timeFrames(f, 3, FRAMES)).median;
        };
        const double stores = ms([&] { write(pixels, threads, false); });
        const double nt = ms([&] { write(pixels, threads, true); });
        const double render = ms([&] { renderJuliaSIMD(best, pixels, frame, threads); });
        const double mb = BUFFER_SIZE / 1e6;  // per millisecond: GB/s
        fmt::print("{:<7} {:>9.1f} {:>12.1f} {:>9.1f} {:>13.0f}%\n", threads, mb / stores,
                   mb / nt, mb / render, 100 * std::min(stores, nt) / render);
        if (threads == every) break;  // one hardware thread: the two rows are one
    }
    if (pixels[readBack % PIXEL_COUNT].z != 1.0f) checkFailed("the frame was not written");
}

}  // namespace

void checkFailed(const std::string& why) {
    sayError(why);
    failed = true;
}

}  // namespace floors

int printFloors() {
    using namespace floors;
    double rule = 0, fadd = 0;
    if (!scalarFloor(&rule, &fadd)) return 1;
    std::string why;
    const double ghz = inferClock(fadd, &why);
    if (ghz > 0) {
        fmt::print("clock {:.2f} GHz, from a chain of dependent integer adds (one a cycle)\n", ghz);
    } else {
        fmt::print("clock not inferred, so no cycles: {}\n", why);
    }
    fmt::print("float add chain   {:.3f} ns per dependent add{}\n", fadd, cycles(fadd, ghz));
    fmt::print("rule loop         {:.3f} ns per iteration{} = {:.2f} dependent float adds ({} "
               "iterations)\n",
               rule, cycles(rule, ghz), rule / fadd, static_cast<int>(precision));
    // Aligned for the non-temporal stores, and touched before any timing.
    hwy::AlignedFreeUniquePtr<float4[]> pixels = hwy::AllocateAligned<float4>(PIXEL_COUNT);
    std::fill(pixels.get(), pixels.get() + PIXEL_COUNT, float4{0, 0, 0, 0});
    if (!vectorFloor(pixels.get(), ghz)) return 1;
    memoryFloor(pixels.get());
    return failed ? 1 : 0;
}

#endif  // HWY_ONCE
