// The SIMD renderer's common ground, per target: the frame's constants in vectors, the four orbits
// a call iterates together, and the exact step that both work-sharing modes take.
//
// Included once per target by simd_renderer.cpp (through Highway's foreach_target.h), hence the
// toggled include guard instead of #pragma once.
#if defined(JULIA_SIMD_FRAME_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef JULIA_SIMD_FRAME_INL_H_
#undef JULIA_SIMD_FRAME_INL_H_
#else
#define JULIA_SIMD_FRAME_INL_H_
#endif

#include <hwy/highway.h>

#include "frame_params.h"
#include "julia.h"

HWY_BEFORE_NAMESPACE();
namespace julia_simd {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

using DF = hn::ScalableTag<float>;
using DI = hn::RebindToSigned<DF>;
using VF = hn::Vec<DF>;
using VI = hn::Vec<DI>;
using MF = hn::Mask<DF>;
using MI = hn::Mask<DI>;

// The AVX-512 targets, where a few raw intrinsics do in one operation what the portable code does
// in several. Only the helpers that hold both bodies side by side test it.
#undef JULIA_AVX512
#if HWY_TARGET == HWY_AVX3 || HWY_TARGET == HWY_AVX3_DL
#define JULIA_AVX512 1
#else
#define JULIA_AVX512 0
#endif

// Called on every way out of the rows, so that legacy SSE code after a frame runs at full speed.
HWY_INLINE void ClearUpperHalves() {
#if HWY_TARGET == HWY_AVX2 || JULIA_AVX512
    _mm256_zeroupper();
#endif
}

// Lambdas that take references to vector locals must be inlined, or those locals go to memory.
#ifndef JULIA_LAMBDA_INLINE
#define JULIA_LAMBDA_INLINE __attribute__((always_inline))
#endif

// The most floats a vector of this target holds: the size of the scratch arrays that hold vectors
// in memory.
constexpr size_t kMaxLanes = hn::MaxLanes(DF());

// The refill mode's exact blocks: this many steps with the escape test at each.
constexpr int EXACT_BLOCK = 8;

// What every step and pixel of a frame needs, set once per call. References to the caller's
// locals, since an SVE vector cannot be a member.
struct Frame {
    const VF &mx, &my, &scale, &four, &one;
    const VF& precisionF;  // the iteration limit, as a float
    const VF& markerMax;   // SEED_MARKER_SQUARE_MAX
    const VI& precision;   // the iteration limit
    const VI& laneIndex;   // 0, 1, 2, ...
    const MF& start;       // the run mask of a fresh pixel: none at a limit of 0 or below
    const VI& blockLast;   // a running count above this is within EXACT_BLOCK steps of the limit
    const FrameParams& params;
};

// Calls body(frame) with the frame's constants.
template <class Body>
HWY_INLINE void WithFrame(const FrameParams& params, const Body& body) {
    const DF df;
    const DI di;
    const VF mx = hn::Set(df, params.mx), my = hn::Set(df, params.my);
    const VF scale = hn::Set(df, params.scale);
    const VF four = hn::Set(df, 4.0f), one = hn::Set(df, 1.0f);
    const VF precisionF = hn::Set(df, static_cast<float>(params.precision));
    const VF markerMax = hn::Set(df, SEED_MARKER_SQUARE_MAX);
    const VI precision = hn::Set(di, params.precision);
    const VI laneIndex = hn::Iota(di, 0);  // built once: Iota goes through memory
    const MF start = hn::RebindMask(df, hn::Lt(hn::Zero(di), precision));
    const VI blockLast =
        hn::Set(di, params.precision > 0 ? params.precision - EXACT_BLOCK : 0);
    body(Frame{mx, my, scale, four, one, precisionF, markerMax, precision, laneIndex, start,
               blockLast, params});
}

// One vector of pixels in flight. Lanes hold the iterate a_k = (ar, ai) after k >= 1 steps and
// `count`, the number of magnitude checks passed; a lane runs while no check failed and its count
// is below the limit. A stopped lane's count no longer changes: below the limit it is the escape
// step, at the limit the point stayed bounded. References to locals, as for Frame.
struct Orbit {
    VF& ar;
    VF& ai;
    VI& count;
    MF& run;
};

// Four independent vectors, so that one's multiply -> subtract -> add chain hides the latency of
// the others'. Named members rather than an array, which the compiler would rather keep in memory.
template <class T>
struct Four {
    T v0, v1, v2, v3;
};

// fn(a.vN, b.vN) for each of the four, in order.
template <class A, class B, class Fn>
HWY_INLINE void ForEach(Four<A>& a, Four<B>& b, const Fn& fn) {
    fn(a.v0, b.v0);
    fn(a.v1, b.v1);
    fn(a.v2, b.v2);
    fn(a.v3, b.v3);
}
template <class A, class Fn>
HWY_INLINE void ForEach(Four<A>& a, const Fn& fn) {
    fn(a.v0);
    fn(a.v1);
    fn(a.v2);
    fn(a.v3);
}

// Calls body(orbits) with four vectors of stopped lanes.
template <class Body>
HWY_INLINE void WithFourOrbits(const Body& body) {
    const DF df;
    const DI di;
    VF ar0 = hn::Zero(df), ai0 = ar0, ar1 = ar0, ai1 = ar0, ar2 = ar0, ai2 = ar0, ar3 = ar0,
       ai3 = ar0;
    VI count0 = hn::Zero(di), count1 = count0, count2 = count0, count3 = count0;
    MF run0 = hn::FirstN(df, 0), run1 = run0, run2 = run0, run3 = run0;
    Four<Orbit> orbits{{ar0, ai0, count0, run0},
                       {ar1, ai1, count1, run1},
                       {ar2, ai2, count2, run2},
                       {ar3, ai3, count3, run3}};
    body(orbits);
}

// a_1 from the sample point; the count and the run mask are the caller's.
HWY_INLINE void Begin(const Frame& frame, VF x, VF y, VF& ar, VF& ai) {
    ar = hn::Add(hn::Sub(hn::Mul(x, x), hn::Mul(y, y)), frame.mx);
    const VF xy = hn::Mul(x, y);
    ai = hn::Add(hn::Add(xy, xy), frame.my);
}

// The escape test of one step: a running lane whose squared magnitude is above 4 stops, the others
// count the check as passed. A NaN magnitude is not above 4, so its lane keeps running.
HWY_INLINE void CountPassed(const Frame& frame, VF magnitude, Orbit& o) {
    const DI di;
#if JULIA_AVX512
    // One masked compare (not greater, unordered) and one masked add.
    o.run.raw = _mm512_mask_cmp_ps_mask(o.run.raw, magnitude.raw, frame.four.raw, _CMP_NGT_UQ);
    o.count = hn::IfThenElse(hn::RebindMask(di, o.run), hn::Add(o.count, hn::Set(di, 1)), o.count);
#else
    o.run = hn::AndNot(hn::Gt(magnitude, frame.four), o.run);  // false for a NaN magnitude
    // A true mask lane is all ones, -1: one subtract instead of an add and a blend.
    o.count = hn::Sub(o.count, hn::VecFromMask(di, hn::RebindMask(di, o.run)));
#endif
}

// One check of a_k and one step to a_(k+1); the squares serve both. The limit is
// StopAtPrecision's.
HWY_INLINE void StepCount(const Frame& frame, Orbit& o) {
    const VF rr = hn::Mul(o.ar, o.ar), ii = hn::Mul(o.ai, o.ai), ri = hn::Mul(o.ar, o.ai);
    CountPassed(frame, hn::Add(rr, ii), o);
    o.ar = hn::Add(hn::Sub(rr, ii), frame.mx);
    o.ai = hn::Add(hn::Add(ri, ri), frame.my);
}

// Stops the lanes whose count reached the limit.
HWY_INLINE void StopAtPrecision(const Frame& frame, Orbit& o) {
#if JULIA_AVX512
    o.run.raw = _mm512_mask_cmplt_epi32_mask(o.run.raw, o.count.raw, frame.precision.raw);
#else
    o.run = hn::And(o.run, hn::RebindMask(DF(), hn::Lt(o.count, frame.precision)));
#endif
}

HWY_INLINE void StepAll(const Frame& frame, Four<Orbit>& orbits) {
    ForEach(orbits, [&](Orbit& o) JULIA_LAMBDA_INLINE {
        StepCount(frame, o);
        StopAtPrecision(frame, o);
    });
}

}  // namespace HWY_NAMESPACE
}  // namespace julia_simd
HWY_AFTER_NAMESPACE();

#endif  // the toggled include guard
