// The SIMD renderer: picks a target and shares the rows among worker threads. Highway compiles the
// per-target part once for every target it knows (foreach_target.h includes this file again for
// each); that part is split into render/simd/*-inl.h, included in the order they build on each
// other: frame-inl.h (the frame's constants, the four orbits, the exact step), pixels-inl.h,
// tiles-inl.h (the tiles mode), refill-blocks-inl.h and refill-inl.h (the refill mode). They stay
// one translation unit, so that the compiler inlines across them as it would within one file.
//
// Exactness, lane by lane, against the scalar rule: each product and sum is its own rounded
// operation (this translation unit is built with -ffp-contract=off, because Highway switches FMA
// on for its AVX2 and AVX-512 functions), the colour is a true division, the loop count is an int,
// a NaN magnitude is not an escape, and the marker compares s = dx*dx + dy*dy with the float bound
// SEED_MARKER_SQUARE_MAX, whose equivalence to the square-root rule a test checks for every float.
//
// Speed: four independent vectors are iterated together, so that the multiply -> subtract -> add
// chain of one hides the latency of the others' chains, and a vector's lanes stop as they escape.
// Where escapes are rare, the refill mode takes blocks of steps with the float operations and a
// running maximum of the magnitude only, and re-runs a block exactly for the lanes that passed 4.
#include "simd_renderer.h"

#include <algorithm>
#include <cctype>
#include <cstdint>

#include <omp.h>

#include "geometry.h"
#include "julia.h"
#include "worker_pool.h"

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "simd_renderer.cpp"
#include <hwy/foreach_target.h>  // must come before highway.h
#include <hwy/highway.h>

#include "simd/frame-inl.h"
#include "simd/cycles-inl.h"
#include "simd/pixels-inl.h"
#include "simd/tiles-inl.h"
#include "simd/refill-blocks-inl.h"
#include "simd/refill-inl.h"

HWY_BEFORE_NAMESPACE();
namespace julia_simd {
namespace HWY_NAMESPACE {

// Each lane mode, with or without the check, as a function of its own, so that the plain loops'
// code does not depend on the checked ones beside it.
template <bool kCheck>
HWY_NOINLINE void TilesRows(float4* pixels, const FrameParams& params, int row0, int row1) {
    WithFrame(params, [&](const Frame& frame) JULIA_LAMBDA_INLINE {
        WithFourOrbits([&](Four<Orbit>& orbits) JULIA_LAMBDA_INLINE {
            RenderTiles<kCheck>(frame, orbits, pixels, params, row0, row1);
        });
    });
}
template <bool kCheck>
HWY_NOINLINE void RefillRows(float4* pixels, const FrameParams& params, int row0, int row1) {
    WithFrame(params, [&](const Frame& frame) JULIA_LAMBDA_INLINE {
        WithFourOrbits([&](Four<Orbit>& orbits) JULIA_LAMBDA_INLINE {
            RenderRefill<kCheck>(frame, orbits, pixels, row0, row1);
        });
    });
}

// Renders rows [row0, row1) in either mode.
void RenderRows(float4* pixels, const FrameParams& params, int row0, int row1, bool refill) {
    if (refill) {
        params.periodicity ? RefillRows<true>(pixels, params, row0, row1)
                           : RefillRows<false>(pixels, params, row0, row1);
    } else {
        params.periodicity ? TilesRows<true>(pixels, params, row0, row1)
                           : TilesRows<false>(pixels, params, row0, row1);
    }
}

int FloatLanes() {
    return static_cast<int>(hn::Lanes(DF()));
}

}  // namespace HWY_NAMESPACE
}  // namespace julia_simd
HWY_AFTER_NAMESPACE();
#if HWY_ONCE
namespace julia_simd {
HWY_EXPORT(RenderRows);
HWY_EXPORT(FloatLanes);

namespace {

// Rows per unit of work handed to a thread: in the refill mode lanes only run dry at a unit's end;
// with tiles, a few rows at a time keep the threads' trips to the shared counter rare.
constexpr int REFILL_BAND_ROWS = 16;
constexpr int TILE_BAND_ROWS = 8;

std::string lowerCase(std::string s) {
    for (char& ch : s) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return s;
}

// The entry Highway's own dispatch would call if `target` were the only one enabled. A local
// ChosenTarget keeps Highway's process-wide choice untouched.
size_t tableIndex(int64_t target) {
    hwy::ChosenTarget chosen;
    chosen.Update(target);
    return chosen.GetIndex();
}

}  // namespace
}  // namespace julia_simd

std::vector<std::string> simdTargets() {
    std::vector<std::string> names;
    for (int64_t t : hwy::SupportedAndGeneratedTargets()) {
        if (HWY_DISPATCH_TABLE(julia_simd::RenderRows)[julia_simd::tableIndex(t)]) {
            names.push_back(julia_simd::lowerCase(hwy::TargetName(t)));
        }
    }
    return names;
}

bool findSimdTarget(const std::string& name, SimdTarget* target) {
    using namespace julia_simd;
    const std::string wanted = lowerCase(name.empty() ? simdTargets().front() : name);
    for (int64_t t : hwy::SupportedAndGeneratedTargets()) {
        const size_t index = tableIndex(t);
        if (lowerCase(hwy::TargetName(t)) != wanted || !HWY_DISPATCH_TABLE(RenderRows)[index]) {
            continue;
        }
        target->name = wanted;
        target->lanes = HWY_DISPATCH_TABLE(FloatLanes)[index]();
        target->tableIndex = index;
        target->rows = HWY_DISPATCH_TABLE(RenderRows)[index];
        return true;
    }
    return false;
}

int simdThreads(int requested) {
    return requested > 0 ? requested : omp_get_max_threads();
}

SimdMode autoSimdMode(const FrameParams& params, int lanes) {
    const int refillFrom = lanes >= 16 ? SIMD_REFILL_FROM_LIMIT_16_LANES : SIMD_REFILL_FROM_LIMIT;
    if (lanes < 4 || params.precision < refillFrom) return SimdMode::Tiles;
    if (params.periodicity) {
        // At most refillFrom steps of one scalar orbit: a few microseconds a frame.
        int steps = 0;
        const int limit = std::min(params.precision, refillFrom);
        if (escapeStepPeriodic(0.0f, 0.0f, params.mx, params.my, limit, &steps) == limit &&
            steps < limit) {
            return SimdMode::Tiles;
        }
    }
    return SimdMode::Refill;
}

void renderJuliaSIMD(const SimdTarget& target, float4* pixels, const FrameParams& params,
                     int threads, SimdMode mode, std::atomic<int>* rowsDone) {
    using namespace julia_simd;
    const bool refill = (mode == SimdMode::Auto ? autoSimdMode(params, target.lanes) : mode) ==
                        SimdMode::Refill;
    const int band = refill ? REFILL_BAND_ROWS : TILE_BAND_ROWS;
    const int units = (HEIGHT + band - 1) / band;
    runOnWorkers(simdThreads(threads), units, [&](int u) {
        const int row0 = u * band, row1 = std::min(HEIGHT, row0 + band);
        target.rows(pixels, params, row0, row1, refill);
        if (rowsDone) rowsDone->fetch_add(row1 - row0, std::memory_order_relaxed);
    });
}
#endif  // HWY_ONCE
