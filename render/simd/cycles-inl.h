// The SIMD renderer's periodicity check, per target: each vector's lanes compare their iterates,
// bit for bit, with ones saved earlier from their own orbits, and a lane that matches stops with
// the count of a point that never escapes (core/julia.h says why that is exact). Both
// work-sharing modes call it between their steps, every CHECK_STEPS steps or so, rather than at
// every step as the scalar loop does: a compare costs as much as a fifth of a step, and an orbit
// that cycles goes on cycling, so a later compare still finds it.
//
// The saved iterates live in memory, not in registers: the steps between checks keep every
// register they had without the check.
//
// Included once per target by simd_renderer.cpp, after frame-inl.h.
#if defined(JULIA_SIMD_CYCLES_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef JULIA_SIMD_CYCLES_INL_H_
#undef JULIA_SIMD_CYCLES_INL_H_
#else
#define JULIA_SIMD_CYCLES_INL_H_
#endif

#include <cstdint>

#include <hwy/highway.h>

#include "simd/frame-inl.h"

HWY_BEFORE_NAMESPACE();
namespace julia_simd {
namespace HWY_NAMESPACE {

// Steps between two checks, at least: few enough that a cycle is seen soon after it starts, many
// enough that the checks cost the cycle-free frames little (docs/performance.md).
constexpr int CHECK_STEPS = 16;

constexpr size_t kCycleLanes = hn::MaxLanes(DF());

// Four vectors' saved iterates, as bits, and each vector's checks since its lanes were last given
// a fresh save. The saves follow Brent's schedule in checks: at the 1st, 2nd, 4th, 8th, ... check.
struct Saved {
    HWY_ALIGN int32_t ar[4][kCycleLanes];
    HWY_ALIGN int32_t ai[4][kCycleLanes];
    int checks[4];
};

// Saves every lane's iterate as vector v's and restarts its schedule. Called whenever a lane of v
// takes a new pixel: a saved iterate of another pixel's orbit must never be compared, since that
// orbit may have escaped after the save.
HWY_INLINE void SaveFresh(const Orbit& o, Saved& saved, int v) {
    const DI di;
    hn::Store(hn::BitCast(di, o.ar), di, saved.ar[v]);
    hn::Store(hn::BitCast(di, o.ai), di, saved.ai[v]);
    saved.checks[v] = 0;
}

// One check of vector v. A running lane has passed the escape test of every iterate up to the one
// it holds, and it held the saved one at least one step ago, so an equal iterate closes a cycle of
// tested values: the lane stops as if it had reached the limit. Then the save, at powers of two.
HWY_INLINE void CheckCycle(const Frame& frame, Orbit& o, Saved& saved, int v) {
    const DF df;
    const DI di;
    const VI ar = hn::BitCast(di, o.ar), ai = hn::BitCast(di, o.ai);
    const MI same = hn::And(hn::Eq(ar, hn::Load(di, saved.ar[v])),
                            hn::Eq(ai, hn::Load(di, saved.ai[v])));
    const MF cycled = hn::And(hn::RebindMask(df, same), o.run);
    if (HWY_UNLIKELY(!hn::AllFalse(df, cycled))) {
        o.count = hn::IfThenElse(hn::RebindMask(di, cycled), frame.precision, o.count);
        o.run = hn::AndNot(cycled, o.run);
    }
    const int n = ++saved.checks[v];
    if ((n & (n - 1)) == 0) {
        hn::Store(ar, di, saved.ar[v]);
        hn::Store(ai, di, saved.ai[v]);
    }
}

HWY_INLINE void CheckCycles(const Frame& frame, Four<Orbit>& orbits, Saved& saved) {
    CheckCycle(frame, orbits.v0, saved, 0);
    CheckCycle(frame, orbits.v1, saved, 1);
    CheckCycle(frame, orbits.v2, saved, 2);
    CheckCycle(frame, orbits.v3, saved, 3);
}

}  // namespace HWY_NAMESPACE
}  // namespace julia_simd
HWY_AFTER_NAMESPACE();

#endif  // the toggled include guard
