// The SIMD renderer's periodicity check, per target: each vector's lanes compare their iterates,
// bit for bit, with ones saved earlier from their own orbits, and a lane that matches stops with
// the count of a point that never escapes (core/julia.h says why that is exact). Both
// work-sharing modes call it between their steps, every 8 to 64 steps, rather than at every step
// as the scalar loop does: a compare of four vectors costs about as much as a step of them, and an
// orbit that cycles goes on cycling, so a later check still finds it.
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

#include <algorithm>
#include <cstdint>

#include <hwy/highway.h>

#include "simd/frame-inl.h"

HWY_BEFORE_NAMESPACE();
namespace julia_simd {
namespace HWY_NAMESPACE {

// The steps between two checks back off: CHECK_STEPS_MIN after a check that found a cycle, where
// more are likely soon, then CHECK_STEPS_GROW more after each check that found none, up to
// CHECK_STEPS_MAX, where the lanes are mostly escapes that never cycle and checks would only cost.
// The refill mode's fast blocks take at most CHECK_FAST_BLOCK steps, so that they do not stretch
// the time between checks. Each was chosen by measurement at frames with cycles and at frames
// without (docs/performance.md).
constexpr int CHECK_STEPS_MIN = 8;
constexpr int CHECK_STEPS_GROW = 4;
constexpr int CHECK_STEPS_MAX = 64;
constexpr int CHECK_FAST_BLOCK = 16;

// A tiles check compares CHECK_WINDOW_TILES iterates in a row with the saved ones, a step between
// each, so that two distances from the save are compared: at the 8 steps between checks where
// cycles are found, 8 and 9, which take in periods 1 to 4. Three compares found no more at the
// frames measured and cost seed 0 about 10 % (docs/performance.md). Refill compares one: its frames
// are those whose orbits rarely cycle.
constexpr int CHECK_WINDOW_TILES = 2;
constexpr int CHECK_WINDOW_REFILL = 1;

// A vector saves at each of its first CHECK_SAVE_EACH checks, so that an orbit that soon falls into
// a short cycle is found one check later, then at the 16th, 32nd, ... (Brent's schedule in checks),
// so that the distance between a save and the checks after it grows and takes in any period.
constexpr int CHECK_SAVE_EACH = 8;

// Four vectors' saved iterates, as bits, and each vector's checks since its lanes were last given
// a fresh save.
struct Saved {
    HWY_ALIGN int32_t ar[4][kMaxLanes];
    HWY_ALIGN int32_t ai[4][kMaxLanes];
    int checks[4];
};

// When the next check is due.
struct CheckClock {
    int sinceCheck = 0;
    int every = CHECK_STEPS_MIN;
};

// Counts `steps` more; true when a check is due, which it then counts as done.
HWY_INLINE bool CheckDue(CheckClock& clock, int steps) {
    clock.sinceCheck += steps;
    if (clock.sinceCheck < clock.every) return false;
    clock.sinceCheck = 0;
    return true;
}

HWY_INLINE void Save(const Orbit& o, Saved& saved, int v) {
    const DI di;
    hn::Store(hn::BitCast(di, o.ar), di, saved.ar[v]);
    hn::Store(hn::BitCast(di, o.ai), di, saved.ai[v]);
}

// Saves every lane's iterate as vector v's and restarts its schedule. Called whenever a lane of v
// takes a new pixel or moves: a saved iterate of another pixel's orbit must never be compared,
// since that orbit may have escaped after the save.
HWY_INLINE void SaveFresh(const Orbit& o, Saved& saved, int v) {
    Save(o, saved, v);
    saved.checks[v] = 0;
}

// Adds to `cycled` the running lanes of o whose iterate has the bits of the one saved for vector v.
// A running lane has passed the escape test of every iterate up to the one it holds, and it held
// the saved one at least one step ago, so an equal iterate closes a cycle of tested values.
HWY_INLINE void AddCycled(const Orbit& o, const Saved& saved, int v, MF& cycled) {
    const DI di;
    const MI sameReal = hn::Eq(hn::BitCast(di, o.ar), hn::Load(di, saved.ar[v]));
    const MI sameImag = hn::Eq(hn::BitCast(di, o.ai), hn::Load(di, saved.ai[v]));
    cycled = hn::Or(cycled, hn::And(hn::RebindMask(DF(), hn::And(sameReal, sameImag)), o.run));
}

// The cycled lanes stop as if they had reached the limit. A lane found at an earlier compare of
// the window is still running: its later iterates are members of the same cycle.
HWY_INLINE void StopCycled(const Frame& frame, Orbit& o, MF cycled) {
    const DI di;
    o.count = hn::IfThenElse(hn::RebindMask(di, cycled), frame.precision, o.count);
    o.run = hn::AndNot(cycled, o.run);
}

// The saves due at vector v's check.
HWY_INLINE void SaveDue(const Orbit& o, Saved& saved, int v) {
    const int n = ++saved.checks[v];
    if (n > CHECK_SAVE_EACH && (n & (n - 1)) != 0) return;
    Save(o, saved, v);
}

// One check of the four vectors: `window` compares with a step of all four between each, then the
// cycled lanes stop, the saves due are made and the next check is set. One branch for all four,
// since a cycle is rare where the check's cost matters most, in frames without cycles.
HWY_INLINE void CheckCycles(const Frame& frame, Four<Orbit>& orbits, Saved& saved,
                           CheckClock& clock, int window) {
    MF c0 = hn::FirstN(DF(), 0), c1 = c0, c2 = c0, c3 = c0;
    for (int compare = 1;; compare++) {
        AddCycled(orbits.v0, saved, 0, c0);
        AddCycled(orbits.v1, saved, 1, c1);
        AddCycled(orbits.v2, saved, 2, c2);
        AddCycled(orbits.v3, saved, 3, c3);
        if (compare == window) break;
        StepAll(frame, orbits);
    }
    const bool cycle = !hn::AllFalse(DF(), hn::Or(hn::Or(c0, c1), hn::Or(c2, c3)));
    clock.every =
        cycle ? CHECK_STEPS_MIN : std::min(CHECK_STEPS_MAX, clock.every + CHECK_STEPS_GROW);
    if (HWY_UNLIKELY(cycle)) {
        StopCycled(frame, orbits.v0, c0);
        StopCycled(frame, orbits.v1, c1);
        StopCycled(frame, orbits.v2, c2);
        StopCycled(frame, orbits.v3, c3);
    }
    SaveDue(orbits.v0, saved, 0);
    SaveDue(orbits.v1, saved, 1);
    SaveDue(orbits.v2, saved, 2);
    SaveDue(orbits.v3, saved, 3);
}

}  // namespace HWY_NAMESPACE
}  // namespace julia_simd
HWY_AFTER_NAMESPACE();

#endif  // the toggled include guard
