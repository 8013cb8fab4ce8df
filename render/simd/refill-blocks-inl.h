// The SIMD renderer's refill mode, part one, per target: the blocks of steps its four vectors take
// between refills (the lanes and the loop are in refill-inl.h).
//
// - A fast block takes up to FAST_BLOCK steps with the float operations only: no escape test, no
//   count, just each lane's largest magnitude over the block (its peak).
// - A suspect is a running lane whose peak after a fast block is above 4 or NaN: it may have
//   escaped inside the block. Every other running lane passed each check.
// - A re-run takes the block again for the suspects, from its start and with the exact test at
//   every step, so that their counts are those of the step-by-step rule.
// - Parking: the fast block runs out of line, so that its registers do not crowd those of the exact
//   steps around it; the four vectors cross that call through memory, parked before and unparked
//   after.
// Where fast blocks do not pay (right after a refill, where fresh pixels often escape early, and
// while they keep finding suspects), exact blocks of EXACT_BLOCK steps with the test at each run.
//
// Included once per target by simd_renderer.cpp, after pixels-inl.h.
#if defined(JULIA_SIMD_REFILL_BLOCKS_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef JULIA_SIMD_REFILL_BLOCKS_INL_H_
#undef JULIA_SIMD_REFILL_BLOCKS_INL_H_
#else
#define JULIA_SIMD_REFILL_BLOCKS_INL_H_
#endif

#include <algorithm>
#include <cstdint>

#include <hwy/highway.h>

#include "simd/frame-inl.h"

HWY_BEFORE_NAMESPACE();
namespace julia_simd {
namespace HWY_NAMESPACE {

// The most steps in a fast block.
constexpr int FAST_BLOCK = 64;
// The back-off's bounds: the fewest and the most blocks since a refill before a fast block.
constexpr int BACKOFF_MIN_BLOCKS = 2;
constexpr int BACKOFF_MAX_BLOCKS = 256;

// ---- Fast blocks

// A vector's state at a block's start and the largest magnitude the block's fast steps checked.
struct Probe {
    VF& ar;
    VF& ai;
    VF& peak;
};

// One step with the float operations only: no escape test, no count, the magnitude into peak.
HWY_INLINE void StepPeak(const Frame& frame, Orbit& o, VF& peak) {
    const VF rr = hn::Mul(o.ar, o.ar), ii = hn::Mul(o.ai, o.ai), ri = hn::Mul(o.ar, o.ai);
    peak = hn::Max(peak, hn::Add(rr, ii));
    o.ar = hn::Add(hn::Sub(rr, ii), frame.mx);
    o.ai = hn::Add(hn::Add(ri, ri), frame.my);
}

// Re-runs the block's `steps` steps for the suspect lanes of o from the block's start (probe), with
// the exact test; their counts go on in o's. Stops early once none runs. Returns the suspects still
// running at the end. Their iterates need no copying back: the same operations gave o the same
// values in the fast steps.
HWY_INLINE MF Rerun(const Frame& frame, Orbit& o, const Probe& probe, MF suspect, int steps) {
    // The blend keeps the compiler from holding the fast steps' values for the re-run.
    VF ar = hn::IfThenElse(suspect, probe.ar, o.ar), ai = hn::IfThenElse(suspect, probe.ai, o.ai);
    MF running = suspect;
    Orbit rerun{ar, ai, o.count, running};
    for (int b = 0; b < steps && !hn::AllFalse(DF(), rerun.run); b++) StepCount(frame, rerun);
    return rerun.run;
}

// After a fast block: a running lane whose peak is <= 4 passed each check, and its count grows by
// the block's steps; the suspects are re-run. A peak above 4 may come from a lane that came back
// under it (possible for a seed beyond radius 2): the re-run sorts that out. Whatever Max does with
// a NaN, a lane that passed 4 ends with a peak above 4 or NaN (an iterate that is NaN stays NaN),
// and a NaN peak makes a suspect too. True when there was no suspect.
HWY_INLINE bool SettleBlock(const Frame& frame, Orbit& o, const Probe& probe, int steps) {
    const DI di;
    const MF suspect = hn::AndNot(hn::Le(probe.peak, frame.four), o.run);
    const MF steady = hn::AndNot(suspect, o.run);
    o.count = hn::Add(o.count, hn::IfThenElseZero(hn::RebindMask(di, steady), hn::Set(di, steps)));
    if (hn::AllFalse(DF(), suspect)) return true;
    o.run = hn::Or(steady, Rerun(frame, o, probe, suspect, steps));
    return false;
}

// `steps` steps without the escape test, then the test settled per lane. True when no running lane
// passed 4.
HWY_INLINE bool FastBlock(const Frame& frame, Four<Orbit>& orbits, int steps) {
    const DF df;
    VF ar0 = orbits.v0.ar, ai0 = orbits.v0.ai, ar1 = orbits.v1.ar, ai1 = orbits.v1.ai,
       ar2 = orbits.v2.ar, ai2 = orbits.v2.ai, ar3 = orbits.v3.ar, ai3 = orbits.v3.ai;
    VF peak0 = hn::Zero(df), peak1 = peak0, peak2 = peak0, peak3 = peak0;
    Four<Probe> start{{ar0, ai0, peak0}, {ar1, ai1, peak1}, {ar2, ai2, peak2}, {ar3, ai3, peak3}};
    for (int b = 0; b < steps; b++) {
        ForEach(orbits, start, [&](Orbit& o, Probe& probe) JULIA_LAMBDA_INLINE {
            StepPeak(frame, o, probe.peak);
        });
    }
    bool quiet = true;
    ForEach(orbits, start, [&](Orbit& o, Probe& probe) JULIA_LAMBDA_INLINE {
        quiet &= SettleBlock(frame, o, probe, steps);
    });
    return quiet;
}

// ---- Parking: a fast block out of line

// Four vectors' state in memory, to cross a call.
struct Parked {
    HWY_ALIGN float ar[4][kMaxLanes];
    HWY_ALIGN float ai[4][kMaxLanes];
    HWY_ALIGN int32_t count[4][kMaxLanes];
    HWY_ALIGN int32_t run[4][kMaxLanes];  // all ones where the lane runs
};

HWY_INLINE void Park(Four<Orbit>& orbits, Parked& parked) {
    const DF df;
    const DI di;
    int v = 0;
    ForEach(orbits, [&](Orbit& o) JULIA_LAMBDA_INLINE {
        hn::Store(o.ar, df, parked.ar[v]);
        hn::Store(o.ai, df, parked.ai[v]);
        hn::Store(o.count, di, parked.count[v]);
        hn::Store(hn::VecFromMask(di, hn::RebindMask(di, o.run)), di, parked.run[v]);
        v++;
    });
}

HWY_INLINE void Unpark(const Parked& parked, Four<Orbit>& orbits) {
    const DF df;
    const DI di;
    int v = 0;
    ForEach(orbits, [&](Orbit& o) JULIA_LAMBDA_INLINE {
        o.ar = hn::Load(df, parked.ar[v]);
        o.ai = hn::Load(df, parked.ai[v]);
        o.count = hn::Load(di, parked.count[v]);
        o.run = hn::RebindMask(df, hn::MaskFromVec(hn::Load(di, parked.run[v])));
        v++;
    });
}

// FastBlock on parked state, in a function of its own with its own registers.
HWY_NOINLINE bool FastBlockParked(const FrameParams& params, Parked& parked, int steps) {
    bool quiet = false;
    WithFrame(params, [&](const Frame& frame) JULIA_LAMBDA_INLINE {
        WithFourOrbits([&](Four<Orbit>& orbits) JULIA_LAMBDA_INLINE {
            Unpark(parked, orbits);
            quiet = FastBlock(frame, orbits, steps);
            Park(orbits, parked);
        });
    });
    return quiet;
}

// A fast block of `steps` steps on orbits, out of line: parks them, runs FastBlockParked, unparks
// them. True when no running lane passed 4.
HWY_INLINE bool FastBlockOutOfLine(const Frame& frame, Four<Orbit>& orbits, Parked& parked,
                                   int steps) {
    Park(orbits, parked);
    const bool quiet = FastBlockParked(frame.params, parked, steps);
    Unpark(parked, orbits);
    return quiet;
}

// ---- Exact blocks and the choice of block

// EXACT_BLOCK steps with the escape test at each.
HWY_INLINE void ExactBlock(const Frame& frame, Four<Orbit>& orbits) {
    HWY_UNROLL(8)  // unrolled, so that the run masks stay in registers from step to step
    for (int b = 0; b < EXACT_BLOCK; b++) {
        ForEach(orbits, [&](Orbit& o) JULIA_LAMBDA_INLINE { StepCount(frame, o); });
    }
}

// Whether no running lane of o is within EXACT_BLOCK steps of the limit.
HWY_INLINE bool RoomForBlock(const Frame& frame, const Orbit& o) {
    const DI di;
    return hn::AllFalse(di, hn::And(hn::RebindMask(di, o.run), hn::Gt(o.count, frame.blockLast)));
}

// The steps every running lane of orbits can take before its limit, since a count grows by at most
// one a step; the limit itself when none runs.
HWY_INLINE int Room(const Frame& frame, Four<Orbit>& orbits) {
    const DI di;
    VI most = hn::Zero(di);
    ForEach(orbits, [&](Orbit& o) JULIA_LAMBDA_INLINE {
        most = hn::Max(most, hn::IfThenElseZero(hn::RebindMask(di, o.run), o.count));
    });
    return frame.params.precision - hn::GetLane(hn::MaxOfLanes(di, most));
}

// When to take fast blocks: an exponential back-off. A fast block waits until `wait` blocks have
// passed since the last refill, since fresh pixels escape early more often. A fast block with a
// suspect doubles `wait`, one without halves it: each suspect re-runs its vector's block, so fast
// blocks only pay where escapes are rare.
struct FastBlockBackoff {
    int blocksSinceRefill = 0;
    int wait = BACKOFF_MIN_BLOCKS;
};

// A block of steps with the limit tested once, after them: no more steps than every running lane
// has room for, so that the counts are the same as testing it at every step; one step where a lane
// is within EXACT_BLOCK steps of its limit. A fast block takes at most fastMost steps. Returns the
// steps taken.
HWY_INLINE int StepBlock(const Frame& frame, Four<Orbit>& orbits, FastBlockBackoff& backoff,
                         Parked& parked, int fastMost) {
    const int room = backoff.blocksSinceRefill >= backoff.wait ? Room(frame, orbits) : 0;
    int steps = EXACT_BLOCK;
    if (room >= EXACT_BLOCK) {
        steps = std::min(fastMost, room);
        const bool quiet = FastBlockOutOfLine(frame, orbits, parked, steps);
        // Backs off: half the wait after a block without suspects, twice after one with.
        backoff.wait = quiet ? std::max(BACKOFF_MIN_BLOCKS, backoff.wait / 2)
                             : std::min(BACKOFF_MAX_BLOCKS, 2 * backoff.wait);
    } else if (RoomForBlock(frame, orbits.v0) && RoomForBlock(frame, orbits.v1) &&
               RoomForBlock(frame, orbits.v2) && RoomForBlock(frame, orbits.v3)) {
        ExactBlock(frame, orbits);
    } else {
        StepAll(frame, orbits);
        return 1;
    }
    backoff.blocksSinceRefill++;
    ForEach(orbits, [&](Orbit& o) JULIA_LAMBDA_INLINE { StopAtPrecision(frame, o); });
    return steps;
}

HWY_INLINE bool AllStopped(const Four<Orbit>& orbits) {
    return hn::AllFalse(DF(), hn::Or(hn::Or(orbits.v0.run, orbits.v1.run),
                                     hn::Or(orbits.v2.run, orbits.v3.run)));
}

}  // namespace HWY_NAMESPACE
}  // namespace julia_simd
HWY_AFTER_NAMESPACE();

#endif  // the toggled include guard
