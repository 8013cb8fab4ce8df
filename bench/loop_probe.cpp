// julia-loop-probe: floors under the renderers' time, each next to what the renderer does.
// - The scalar rule loop on one point that never escapes (one dependent chain, nothing else), and
//   a chain of dependent float adds for scale: the floor under the CPU renderer.
// - The vector floor, per Highway target: only the float arithmetic of a step (3 multiplies and 5
//   adds or subtracts, the squares shared between the magnitude and the next iterate) on 4, 8, 12
//   or 16 independent vectors, whichever is fastest; no escape test, no count, no stores.
//   Nothing that follows the rule on one core can take less per lane-iteration. Next to it the
//   SIMD renderer on one thread at seed 0, limit 1000, where nearly every lane runs all its steps.
// - The memory floor: writing the 12.6 MB frame with vector stores, ordinary and non-temporal, on
//   1 and on every thread, next to the SIMD renderer's frame at limit 1, the least work a frame
//   with any step can be.
// Vector floor and renderer alternate run by run, so that a machine whose speed drifts moves both
// alike. No cycle figures: a clock inferred from timing a chain assumes
// latencies the CPU and the compiler need not honour, and once printed 16.6 GHz on a Xeon.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include <getopt.h>
#include <omp.h>

#include "iterations.h"
#include "julia.h"
#include "simd_renderer.h"

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "loop_probe.cpp"
#include <hwy/foreach_target.h>  // must come before highway.h
#include <hwy/aligned_allocator.h>
#include <hwy/cache_control.h>
#include <hwy/highway.h>

HWY_BEFORE_NAMESPACE();
namespace loop_probe {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

using DF = hn::ScalableTag<float>;
using VF = hn::Vec<DF>;

// Keeps v in a register as if something read it, at no cost: the magnitude is computed as the
// renderer computes it, though nothing here tests it.
HWY_INLINE void keep(VF v) {
#if HWY_TARGET == HWY_SCALAR
    asm volatile("" : : "x"(v.raw));
#else
    asm volatile("" : : "v"(v.raw));
#endif
}

// Seconds for `steps` steps of `Vectors` independent vectors, from iterates near the attracting
// fixed point of seed (mx, my), so that every value stays a normal float.
template <int Vectors>
HWY_NOINLINE double StepSecondsOf(float mx, float my, int64_t steps) {
    const DF df;
    const VF cx = hn::Set(df, mx), cy = hn::Set(df, my);
    VF ar[Vectors], ai[Vectors];
    for (int k = 0; k < Vectors; k++) {
        ar[k] = hn::Mul(hn::Iota(df, static_cast<float>(k)), hn::Set(df, 1e-3f));
        ai[k] = hn::Zero(df);
    }
    const auto t0 = std::chrono::steady_clock::now();
    for (int64_t s = 0; s < steps; s++) {
        for (int k = 0; k < Vectors; k++) {
            const VF rr = hn::Mul(ar[k], ar[k]), ii = hn::Mul(ai[k], ai[k]);
            const VF ri = hn::Mul(ar[k], ai[k]);
            keep(hn::Add(rr, ii));
            ar[k] = hn::Add(hn::Sub(rr, ii), cx);
            ai[k] = hn::Add(hn::Add(ri, ri), cy);
        }
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    float sink = 0;
    for (int k = 0; k < Vectors; k++) sink += hn::GetLane(hn::Add(ar[k], ai[k]));
    if (!(sink == sink)) std::puts("the floor's iterates became NaN");
    return seconds;
}

// Ns per lane-iteration of about `laneIterations` on 4 * (1 + choice) vectors (choice 0 to 3).
// More vectors than the registers hold can still be faster: the spills go to the load and store
// units, not to the float pipes.
double FloorNs(float mx, float my, int64_t laneIterations, int choice) {
    const int64_t lanes = static_cast<int64_t>(hn::Lanes(DF()));
    const int vectors = 4 * (1 + choice);
    const int64_t steps = std::max<int64_t>(1, laneIterations / (vectors * lanes));
    double (*const run[])(float, float, int64_t) = {StepSecondsOf<4>, StepSecondsOf<8>,
                                                   StepSecondsOf<12>, StepSecondsOf<16>};
    return run[choice](mx, my, steps) * 1e9 / static_cast<double>(steps * vectors * lanes);
}

// Writes the frame (0.5, 0.5, 1, 1) per pixel on `threads` threads, each a contiguous share,
// with ordinary or non-temporal stores; seconds.
HWY_NOINLINE double WriteSeconds(float4* pixels, int threads, bool stream) {
    const DF df;
    const size_t lanes = hn::Lanes(df);
    HWY_ALIGN float pattern[hn::MaxLanes(DF())];
    for (size_t l = 0; l < lanes; l++) pattern[l] = (l % 4) < 2 ? 0.5f : 1.0f;
    const VF v = hn::Load(df, pattern);
    float* out = reinterpret_cast<float*>(pixels);
    const int64_t floats = 4 * static_cast<int64_t>(PIXEL_COUNT);
    const auto t0 = std::chrono::steady_clock::now();
#pragma omp parallel num_threads(threads)
    {
        const int64_t n = omp_get_num_threads(), t = omp_get_thread_num();
        const int64_t lo = floats * t / n / lanes * lanes;
        const int64_t hi = floats * (t + 1) / n / lanes * lanes;
        if (stream) {
            for (int64_t k = lo; k < hi; k += lanes) hn::Stream(v, df, out + k);
        } else {
            for (int64_t k = lo; k < hi; k += lanes) hn::StoreU(v, df, out + k);
        }
    }
    if (stream) hwy::FlushStream();  // weakly ordered: done before the clock is read
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace HWY_NAMESPACE
}  // namespace loop_probe
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace loop_probe {
HWY_EXPORT(FloorNs);
HWY_EXPORT(WriteSeconds);

namespace {

using Clock = std::chrono::steady_clock;

// Read at run time, so the compiler can neither fold the loop nor shorten it.
volatile float startX = 0.0f, startY = 0.0f;
volatile float seedX = -0.5f, seedY = 0.3f;  // inside the main cardioid: the orbit stays bounded
volatile int limit = 100000000;
volatile float addend = 1e-7f;
volatile size_t readBack = 12345;

constexpr double FLOOR_NS_PER_ADD = 0.1;  // one cycle at 10 GHz
// No CPU retires more than 4 vector float operations per cycle, nor runs at 10 GHz: a step (8
// operations) on L lanes takes at least 8 / (4 L) cycles of 0.1 ns.
constexpr double VECTOR_STEP_OPS = 8, VECTOR_OPS_PER_CYCLE = 4;

constexpr int REPS = 7;
constexpr int VECTOR_CHOICES = 4;                       // 4, 8, 12 or 16 vectors
constexpr int64_t FLOOR_LANE_ITERATIONS = int64_t{1} << 27;

double nsSince(Clock::time_point t0, double count) {
    return std::chrono::duration<double, std::nano>(Clock::now() - t0).count() / count;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double nsPerFloatAdd(int n) {
    float s = addend;
    const float d = addend;
    const Clock::time_point t0 = Clock::now();
    for (int k = 0; k < n; k++) s = s + d;  // no reassociation: each add waits for the last
    const double ns = nsSince(t0, n);
    if (s < 0) std::puts("");  // keeps s alive
    return ns;
}

double nsPerRuleIteration(int n) {
    const Clock::time_point t0 = Clock::now();
    const float c = juliaColor(startX, startY, seedX, seedY, n);
    const double ns = nsSince(t0, n);
    if (c != 0.0f) std::puts("the probe's point escaped");
    return ns;
}

double msOfFrame(const SimdTarget& target, float4* pixels, const FrameParams& p, int threads) {
    const Clock::time_point t0 = Clock::now();
    renderJuliaSIMD(target, pixels, p, threads);
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

const char USAGE[] =
    "usage: julia-loop-probe [-h|--help] [--version]\n"
    "\n"
    "Floors under the renderers' time, each beside the renderer's own figure:\n"
    "  the escape-time loop on one point that never escapes, against the CPU renderer's\n"
    "  time per iteration, and a chain of dependent float adds for scale;\n"
    "  per Highway target, a step's float arithmetic alone on independent vectors, against\n"
    "  the SIMD renderer on one thread at seed 0, limit 1000 (ns per lane-iteration);\n"
    "  writing the 12.6 MB frame on 1 and on every thread, against the SIMD renderer's\n"
    "  frame at limit 1 (GB/s).\n"
    "Medians of repeated runs. Takes about 20 seconds.\n";

// 0: go on and measure; otherwise the exit status: 0 after --help or --version, 2 when refused.
int handleArguments(int argc, char** argv) {
    static const option LONG_OPTIONS[] = {{"help", no_argument, nullptr, 'h'},
                                          {"version", no_argument, nullptr, 'V'},
                                          {nullptr, 0, nullptr, 0}};
    opterr = 0;
    int c = 0, at = 1;
    while ((at = optind, c = getopt_long(argc, argv, "+h", LONG_OPTIONS, nullptr)) != -1) {
        const std::string word = argv[at];
        const bool exact = word == "-h" || word == "--help" || word == "--version";
        if (c == 'h' && exact) {
            std::fputs(USAGE, stdout);
            return -1;
        }
        if (c == 'V' && exact) {
            std::printf("julia-loop-probe %s\n", JULIA_VERSION);
            return -1;
        }
        std::fprintf(stderr, "julia-loop-probe: unknown option '%s' (see --help)\n", word.c_str());
        return 2;
    }
    if (optind < argc) {
        std::fprintf(stderr, "julia-loop-probe: unexpected argument '%s' (see --help)\n",
                     argv[optind]);
        return 2;
    }
    return 0;
}

// The scalar loop and the add chain. False, having said why, for figures no CPU can reach.
bool scalarFloor() {
    const int n = limit;
    double rule = 1e9, fadd = 1e9;
    for (int rep = 0; rep < 5; rep++) {  // the best of five: the least disturbed run
        rule = std::min(rule, nsPerRuleIteration(n));
        fadd = std::min(fadd, nsPerFloatAdd(n));
    }
    // A dependent add takes at least one cycle and no CPU runs at 10 GHz; an iteration of the rule
    // chains at least a multiply, a subtract and an add. Anything faster was not measured as
    // written (a compiler that shortened the chain), and is refused rather than printed.
    if (fadd < FLOOR_NS_PER_ADD || rule < 3 * FLOOR_NS_PER_ADD) {
        std::fprintf(stderr,
                     "julia-loop-probe: measured %.4f ns per float add and %.4f ns per iteration, "
                     "faster than any CPU can run a chain of dependent operations (one per cycle "
                     "at 10 GHz is %.1f ns); the loops were not measured as written\n",
                     fadd, rule, FLOOR_NS_PER_ADD);
        return false;
    }
    std::printf("float add chain   %.3f ns per dependent add\n", fadd);
    std::printf("rule loop         %.3f ns per iteration = %.2f dependent float adds "
                "(%d iterations)\n",
                rule, rule / fadd, n);
    return true;
}

// Per target: the vector floor against the renderer, ns per lane-iteration.
bool vectorFloor(float4* pixels) {
    const FrameParams frame{0.0f, 0.0f, 1000, 0.003f};
    const double frameIters = static_cast<double>(frameIterations(0.0f, 0.0f, 1000, 0.003f));
    std::printf("\nns per lane-iteration, one thread: the vector floor (a step's float arithmetic "
                "alone) and the SIMD renderer at seed 0, limit 1000 (%.0f iterations)\n",
                frameIters);
    std::printf("%-8s %5s %7s %10s %10s %12s\n", "target", "lanes", "vectors", "floor ns",
                "render ns", "render/floor");
    for (const std::string& name : simdTargets()) {
        SimdTarget target;
        findSimdTarget(name, &target);
        const auto floorNs = HWY_DISPATCH_TABLE(FloorNs)[target.tableIndex];
        // The number of vectors: the fastest, each the best of three short runs.
        int choice = 0;
        double fastest = 1e9;
        for (int c = 0; c < VECTOR_CHOICES; c++) {
            for (int k = 0; k < 3; k++) {
                const double ns = floorNs(seedX, seedY, FLOOR_LANE_ITERATIONS / 4, c);
                if (ns < fastest) fastest = ns, choice = c;
            }
        }
        std::vector<double> floors, renders, ratios;
        msOfFrame(target, pixels, frame, 1);  // warm-up
        for (int rep = 0; rep < REPS; rep++) {
            const double f = floorNs(seedX, seedY, FLOOR_LANE_ITERATIONS, choice);
            const double r = msOfFrame(target, pixels, frame, 1) * 1e6 / frameIters;
            floors.push_back(f);
            renders.push_back(r);
            ratios.push_back(r / f);
        }
        const double f = median(floors);
        const double least =
            VECTOR_STEP_OPS / (VECTOR_OPS_PER_CYCLE * target.lanes) * FLOOR_NS_PER_ADD;
        if (f < least) {
            std::fprintf(stderr,
                         "julia-loop-probe: %s: measured %.4f ns per lane-iteration, below %.4f "
                         "ns, faster than any CPU runs %g vector float operations on %d lanes; "
                         "the floor was not measured as written\n",
                         name.c_str(), f, least, VECTOR_STEP_OPS, target.lanes);
            return false;
        }
        std::printf("%-8s %5d %7d %10.4f %10.4f %11.2fx\n", name.c_str(), target.lanes,
                    4 * (1 + choice), f, median(renders), median(ratios));
        std::fflush(stdout);
    }
    return true;
}

// The frame written with the best target's stores against the renderer at limit 1, in GB/s.
void memoryFloor(float4* pixels) {
    SimdTarget best;
    findSimdTarget("", &best);
    const size_t index = best.tableIndex;
    const FrameParams frame{0.0f, 0.0f, 1, 0.003f};
    const int every = simdThreads(0);
    constexpr int FRAMES = 101;
    std::printf("\nwriting the %zu-byte frame, GB/s (median of %d): the memory floor with "
                "ordinary and with non-temporal %s stores, and the SIMD renderer at seed 0, "
                "limit 1\n",
                BUFFER_SIZE, FRAMES, best.name.c_str());
    std::printf("%-7s %9s %12s %9s %14s\n", "threads", "stores", "non-temporal", "render",
                "render/floor");
    for (int threads : {1, every}) {
        // Each in a run of its own: the floor's threads keep their halves of the frame in their
        // own caches from one frame to the next, which alternating with the renderer's rows
        // would spoil.
        std::vector<double> stores, nt, render;
        for (int k = -3; k < FRAMES; k++) {
            const double s = HWY_DISPATCH_TABLE(WriteSeconds)[index](pixels, threads, false);
            if (k >= 0) stores.push_back(s);
        }
        for (int k = -3; k < FRAMES; k++) {
            const double s = HWY_DISPATCH_TABLE(WriteSeconds)[index](pixels, threads, true);
            if (k >= 0) nt.push_back(s);
        }
        for (int k = -3; k < FRAMES; k++) {
            const double s = msOfFrame(best, pixels, frame, threads) / 1e3;
            if (k >= 0) render.push_back(s);
        }
        const double gb = BUFFER_SIZE / 1e9;
        const double floor = std::min(median(stores), median(nt));
        std::printf("%-7d %9.1f %12.1f %9.1f %13.0f%%\n", threads, gb / median(stores),
                    gb / median(nt), gb / median(render), 100 * floor / median(render));
        if (threads == every) break;  // one hardware thread: the two rows are one
    }
    if (pixels[readBack % PIXEL_COUNT].z != 1.0f) std::puts("the frame was not written");
}

}  // namespace
}  // namespace loop_probe

int main(int argc, char** argv) {
    using namespace loop_probe;
    if (const int status = handleArguments(argc, argv)) return status < 0 ? 0 : status;
    if (!scalarFloor()) return 1;
    // Aligned for the non-temporal stores; the renderer writes a frame of new[] (16-byte aligned)
    // just as fast. Touched before any timing.
    hwy::AlignedFreeUniquePtr<float4[]> pixels = hwy::AllocateAligned<float4>(PIXEL_COUNT);
    std::fill(pixels.get(), pixels.get() + PIXEL_COUNT, float4{0, 0, 0, 0});
    if (!vectorFloor(pixels.get())) return 1;
    memoryFloor(pixels.get());
    return 0;
}
#endif  // HWY_ONCE
