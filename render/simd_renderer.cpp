// The SIMD renderer. Highway compiles the per-target part of this file once for every target it
// knows (foreach_target.h includes the file again for each); the rest picks a target and shares
// the rows among worker threads.
//
// Exactness, lane by lane, against the scalar rule: each product and sum is its own rounded
// operation (this file is built with -ffp-contract=off, because Highway switches FMA on for its
// AVX2 and AVX-512 functions), the colour is a true division, the loop count is an int, a NaN
// magnitude is not an escape, and the marker compares s = dx*dx + dy*dy with the float bound whose
// equivalence to the square-root rule a test checks for every float.
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

#ifndef JULIA_SIMD_RENDERER_SHARED
#define JULIA_SIMD_RENDERER_SHARED
namespace julia_simd {
// Rows per unit of work handed to a thread: in the refill mode lanes only run dry at a unit's end;
// with tiles, a few rows at a time keep the threads' trips to the shared counter rare.
constexpr int REFILL_BAND_ROWS = 16;
constexpr int TILE_BAND_ROWS = 8;
// The refill mode's steps between its checks for escaped lanes: EXACT_BLOCK with the escape test at
// every step, up to FAST_BLOCK without it (fast blocks), taken after a back-off of
// BACKOFF_MIN_BLOCKS to BACKOFF_MAX_BLOCKS blocks in a row without a refill.
constexpr int EXACT_BLOCK = 8;  // ExactBlock unrolls this many
constexpr int FAST_BLOCK = 64;
constexpr int BACKOFF_MIN_BLOCKS = 2;
constexpr int BACKOFF_MAX_BLOCKS = 256;
}  // namespace julia_simd
#endif

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "simd_renderer.cpp"
#include <hwy/foreach_target.h>  // must come before highway.h
#include <hwy/highway.h>

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

static_assert(WIDTH == 1024, "pixel indices split into row and column by shift and mask");
constexpr int WIDTH_BITS = 10;

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
// the block's steps; the others (suspects) are re-run. A peak above 4 may come from a lane that came
// back under it (possible for a seed beyond radius 2): the re-run sorts that out. Whatever Max does
// with a NaN, a lane that passed 4 ends with a peak above 4 or NaN (an iterate that is NaN stays
// NaN), and a NaN peak makes a suspect too. True when there was no suspect.
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

// EXACT_BLOCK steps with the escape test at each.
HWY_INLINE void ExactBlock(const Frame& frame, Four<Orbit>& orbits) {
    HWY_UNROLL(8)  // unrolled, so that the run masks stay in registers from step to step
    for (int b = 0; b < EXACT_BLOCK; b++) {
        ForEach(orbits, [&](Orbit& o) JULIA_LAMBDA_INLINE { StepCount(frame, o); });
    }
}

constexpr size_t kMaxLanes = hn::MaxLanes(DF());

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

// When to take fast blocks: an exponential back-off. A fast block waits until `wait` blocks have
// passed since the last refill, since fresh pixels escape early more often. A fast block that some
// lane escaped from doubles `wait`, one that none did halves it: each escape re-runs its vector's
// block, so fast blocks only pay where escapes are rare.
struct FastBlockBackoff {
    int blocksSinceRefill = 0;
    int wait = BACKOFF_MIN_BLOCKS;
};

// A block of steps with the limit tested once, after them: no more steps than every running lane
// has room for, so that the counts are the same as testing it at every step; one step where a lane
// is within EXACT_BLOCK steps of its limit.
HWY_INLINE void StepBlock(const Frame& frame, Four<Orbit>& orbits, FastBlockBackoff& backoff,
                          Parked& parked) {
    const int room = backoff.blocksSinceRefill >= backoff.wait ? Room(frame, orbits) : 0;
    if (room >= EXACT_BLOCK) {
        const bool quiet = FastBlockOutOfLine(frame, orbits, parked, std::min(FAST_BLOCK, room));
        // Backs off: half the wait after a block without suspects, twice after one with.
        backoff.wait = quiet ? std::max(BACKOFF_MIN_BLOCKS, backoff.wait / 2)
                             : std::min(BACKOFF_MAX_BLOCKS, 2 * backoff.wait);
    } else if (RoomForBlock(frame, orbits.v0) && RoomForBlock(frame, orbits.v1) &&
               RoomForBlock(frame, orbits.v2) && RoomForBlock(frame, orbits.v3)) {
        ExactBlock(frame, orbits);
    } else {
        StepAll(frame, orbits);
        return;
    }
    backoff.blocksSinceRefill++;
    ForEach(orbits, [&](Orbit& o) JULIA_LAMBDA_INLINE { StopAtPrecision(frame, o); });
}

HWY_INLINE bool AllStopped(const Four<Orbit>& orbits) {
    return hn::AllFalse(DF(), hn::Or(hn::Or(orbits.v0.run, orbits.v1.run),
                                     hn::Or(orbits.v2.run, orbits.v3.run)));
}

// Whether some vector of orbits has no running lane (a vector without pixels has none).
HWY_INLINE bool AnyStopped(const Four<Orbit>& orbits) {
    const DF df;
    return hn::AllFalse(df, orbits.v0.run) | hn::AllFalse(df, orbits.v1.run) |
           hn::AllFalse(df, orbits.v2.run) | hn::AllFalse(df, orbits.v3.run);
}

// The colour of a count 0 <= count <= limit: 1 - count/limit below the limit, 0 at it, where
// count/limit is exactly 1 already. So only a limit of 0 or below (no step: a count of 0) needs a
// test, once per frame.
HWY_INLINE VF ColorOf(const Frame& frame, VI count) {
    const VF fraction = hn::Div(hn::ConvertTo(DF(), count), frame.precisionF);
    return hn::IfThenElseZero(frame.start, hn::Sub(frame.one, fraction));
}

// The red channel: 1 inside the seed marker, else the colour.
HWY_INLINE VF RedOf(const Frame& frame, VF x, VF y, VF color) {
    const DF df;
    const VF dx = hn::Sub(x, frame.mx), dy = hn::Sub(y, frame.my);
    const VF s = hn::Add(hn::Mul(dx, dx), hn::Mul(dy, dy));
    const MF inside = hn::And(hn::Ge(s, hn::Zero(df)), hn::Le(s, frame.markerMax));
    return hn::IfThenElse(inside, frame.one, color);
}

// The pixels (red, color, 1, 1) of the lanes, in lane order, to `out`.
HWY_INLINE void StorePixels(const Frame& frame, VF red, VF color, float* out) {
    const DF df;
#if JULIA_AVX512
    // One two-table permutation per four pixels, where StoreInterleaved4 takes four: lanes 2 and 3
    // of each pixel are not looked up (their mask bits are 0) but copied from the index vector,
    // which holds the bits of 1.0f there.
    constexpr int ONE = 0x3f800000;
    const __m512i index[4] = {
        _mm512_setr_epi32(0, 16, ONE, ONE, 1, 17, ONE, ONE, 2, 18, ONE, ONE, 3, 19, ONE, ONE),
        _mm512_setr_epi32(4, 20, ONE, ONE, 5, 21, ONE, ONE, 6, 22, ONE, ONE, 7, 23, ONE, ONE),
        _mm512_setr_epi32(8, 24, ONE, ONE, 9, 25, ONE, ONE, 10, 26, ONE, ONE, 11, 27, ONE, ONE),
        _mm512_setr_epi32(12, 28, ONE, ONE, 13, 29, ONE, ONE, 14, 30, ONE, ONE, 15, 31, ONE, ONE)};
    for (int i = 0; i < 4; i++) {
        const __m512 px = _mm512_mask2_permutex2var_ps(red.raw, index[i], 0x3333, color.raw);
        hn::StoreU(VF{px}, df, out + 16 * i);
    }
#else
    hn::StoreInterleaved4(red, color, frame.one, frame.one, df, out);
#endif
}

// planeX and planeY of core/julia.h for a vector of offsets from the origin's column or row: the
// integer offset is exact, then one rounded product, as there.
HWY_INLINE VF Plane(const Frame& frame, VI offset) {
    return hn::Mul(frame.scale, hn::ConvertTo(DF(), offset));
}

// first, first + 1, ...
HWY_INLINE VI Counting(const Frame& frame, int first) {
    return hn::Add(frame.laneIndex, hn::Set(DI(), first));
}

// ---- Tiles: each vector holds a run of adjacent pixels of one row.

// The row a tiles call is on.
struct TileRow {
    const VF& y;
    float* out;      // the row's first pixel
    int next;        // the first column no vector has taken
    bool markerRow;  // whether any pixel of the row can lie in the seed marker
};

// A lane's colour by its count. Below `lanes`, every colour the limit allows fits in one vector,
// computed by ColorOf itself: the colour is then one lookup instead of a division.
struct Palette {
    bool lookup;
    const VF& colors;
};

HWY_INLINE VF PaletteColor(const Frame& frame, const Palette& palette, VI count) {
    const DF df;
    return palette.lookup ? hn::TableLookupLanes(palette.colors, hn::IndicesFromVec(df, count))
                          : ColorOf(frame, count);
}

// The plane's x of the columns col, col + 1, ...
HWY_INLINE VF RunX(const Frame& frame, int col) {
    return Plane(frame, Counting(frame, col - ORIGIN_COLUMN));
}

// Gives o the next `lanes` pixels of the row, from column col; col = -1 when none are left.
HWY_INLINE void Take(const Frame& frame, TileRow& row, Orbit& o, int& col) {
    const int lanes = static_cast<int>(hn::Lanes(DF()));
    if (row.next >= WIDTH) {
        col = -1;
        return;
    }
    col = std::min(row.next, WIDTH - lanes);  // a short last run repeats a few pixels
    row.next += lanes;
    Begin(frame, RunX(frame, col), row.y, o.ar, o.ai);
    o.count = hn::Zero(DI());
    o.run = frame.start;
}

// Once all of o's lanes stopped, writes its pixels and takes the next ones. True while o still
// holds pixels.
HWY_INLINE bool Poll(const Frame& frame, const Palette& palette, TileRow& row, Orbit& o,
                     int& col) {
    if (col < 0) return false;
    if (!hn::AllFalse(DF(), o.run)) return true;
    const VF color = PaletteColor(frame, palette, o.count);
    const VF red = row.markerRow ? RedOf(frame, RunX(frame, col), row.y, color) : color;
    StorePixels(frame, red, color, row.out + 4 * col);
    Take(frame, row, o, col);
    return col >= 0;
}

HWY_INLINE void RenderTiles(const Frame& frame, Four<Orbit>& orbits, float4* pixels,
                            const FrameParams& params, int row0, int row1) {
    const DF df;
    const VF colors = ColorOf(frame, frame.laneIndex);
    const Palette palette{params.precision < static_cast<int>(hn::Lanes(df)), colors};
    for (int i = row0; i < row1; i++) {
        Four<int> col{-1, -1, -1, -1};
        const float yRow = planeY(i, params.scale);
        // s = dx*dx + dy*dy rounds to at least dy*dy: past the marker's bound here, no pixel of
        // the row is in the marker (a NaN dy leaves the test to RedOf).
        const float dy = yRow - params.my;
        const VF y = hn::Set(df, yRow);
        TileRow row{y, reinterpret_cast<float*>(pixels + i * WIDTH), 0,
                    !(dy * dy > SEED_MARKER_SQUARE_MAX)};
        ForEach(orbits, col, [&](Orbit& o, int& column) JULIA_LAMBDA_INLINE {
            Take(frame, row, o, column);
        });
        for (;;) {
            StepAll(frame, orbits);
            // On targets of at most four lanes, one branch per step while every vector still runs
            // instead of four; the choice by lane count is in docs/performance.md.
            if (hn::MaxLanes(df) <= 4 && !AnyStopped(orbits)) continue;
            // Four named results rather than one accumulated in ForEach: each poll stays a branch
            // of its own (docs/performance.md).
            const bool busy0 = Poll(frame, palette, row, orbits.v0, col.v0);
            const bool busy1 = Poll(frame, palette, row, orbits.v1, col.v1);
            const bool busy2 = Poll(frame, palette, row, orbits.v2, col.v2);
            const bool busy3 = Poll(frame, palette, row, orbits.v3, col.v3);
            if (!(busy0 || busy1 || busy2 || busy3)) break;
        }
    }
    ClearUpperHalves();
}

// ---- Refill: each lane holds any pixel of the rows, by index (-1: none). When a vector has
// `refillAt` or fewer running lanes, its finished pixels are written, its running lanes are packed
// to the front and the lanes behind them take the next pixels in order.

struct Refill {
    float4* pixels;
    int end;       // one past the last pixel of the rows
    int cursor;    // the next pixel to hand out
    int refillAt;  // refill a vector with this many running lanes or fewer
    const VI &endV, &none, &columnMask, &originColumn, &originRow;
    // Scratch for the lanes' way through memory.
    HWY_ALIGN float4 out[kMaxLanes];
    HWY_ALIGN int32_t outIndex[kMaxLanes];
    HWY_ALIGN int32_t order[kMaxLanes];
    uint8_t bits[(kMaxLanes + 7) / 8 + 8];
};

HWY_INLINE VF XOf(const Frame& frame, const Refill& refill, VI idx) {
    return Plane(frame, hn::Sub(hn::And(idx, refill.columnMask), refill.originColumn));
}
HWY_INLINE VF YOf(const Frame& frame, const Refill& refill, VI idx) {
    return Plane(frame, hn::Sub(hn::ShiftRight<WIDTH_BITS>(idx), refill.originRow));
}

HWY_INLINE bool LaneBit(const uint8_t* bits, int lane) {
    return (bits[lane >> 3] >> (lane & 7)) & 1;
}

// Writes the pixels of o's lanes that hold one and stopped.
HWY_INLINE void Flush(const Frame& frame, Refill& refill, const Orbit& o, VI idx) {
    const DI di;
    const MI done = hn::AndNot(hn::RebindMask(di, o.run), hn::Gt(idx, refill.none));
    if (hn::AllFalse(di, done)) return;
    const VF color = ColorOf(frame, o.count);
    StorePixels(frame, RedOf(frame, XOf(frame, refill, idx), YOf(frame, refill, idx), color), color,
                reinterpret_cast<float*>(refill.out));
    hn::Store(idx, di, refill.outIndex);
    hn::StoreMaskBits(di, done, refill.bits);
    const int lanes = static_cast<int>(hn::Lanes(di));
    for (int lane = 0; lane < lanes; lane++) {
        if (LaneBit(refill.bits, lane)) refill.pixels[refill.outIndex[lane]] = refill.out[lane];
    }
}

// Moves o's running lanes to the front, in order.
HWY_INLINE void PackRunning(Refill& refill, Orbit& o, VI& idx) {
    const DF df;
    const DI di;
    const MI runI = hn::RebindMask(di, o.run);
#if JULIA_AVX512
    o.ar = hn::Compress(o.ar, o.run);
    o.ai = hn::Compress(o.ai, o.run);
    o.count = hn::Compress(o.count, runI);
    idx = hn::Compress(idx, runI);
#else
    // Compress goes through a lookup table at every call on these targets; one permutation built
    // from the mask bits serves all four vectors instead.
    hn::StoreMaskBits(di, runI, refill.bits);
    const int lanes = static_cast<int>(hn::Lanes(di));
    int packed = 0;
    for (int pass = 1; pass >= 0; pass--) {
        for (int lane = 0; lane < lanes; lane++) {
            if (LaneBit(refill.bits, lane) == (pass == 1)) refill.order[packed++] = lane;
        }
    }
    const auto orderF = hn::SetTableIndices(df, refill.order);
    const auto orderI = hn::SetTableIndices(di, refill.order);
    o.ar = hn::TableLookupLanes(o.ar, orderF);
    o.ai = hn::TableLookupLanes(o.ai, orderF);
    o.count = hn::TableLookupLanes(o.count, orderI);
    idx = hn::TableLookupLanes(idx, orderI);
#endif
}

// Writes o's finished pixels, packs its running lanes and gives the rest the next pixels.
HWY_INLINE void RefillLanes(const Frame& frame, Refill& refill, Orbit& o, VI& idx) {
    const DF df;
    const DI di;
    const int lanes = static_cast<int>(hn::Lanes(df));
    Flush(frame, refill, o, idx);
    const size_t live = hn::CountTrue(df, o.run);
    PackRunning(refill, o, idx);
    const MI kept = hn::FirstN(di, live);
    const VI wanted = Counting(frame, refill.cursor - static_cast<int>(live));
    const MI fresh = hn::AndNot(kept, hn::Lt(wanted, refill.endV));
    refill.cursor = std::min(refill.end, refill.cursor + lanes - static_cast<int>(live));
    VF nar, nai;
    Begin(frame, XOf(frame, refill, wanted), YOf(frame, refill, wanted), nar, nai);
    const MF freshF = hn::RebindMask(df, fresh);
    o.ar = hn::IfThenElse(freshF, nar, o.ar);
    o.ai = hn::IfThenElse(freshF, nai, o.ai);
    o.count = hn::IfThenZeroElse(fresh, o.count);
    idx = hn::IfThenElse(kept, idx, hn::IfThenElse(fresh, wanted, refill.none));
    o.run = hn::Or(hn::RebindMask(df, kept), hn::And(freshF, frame.start));
}

HWY_INLINE void RenderRefill(const Frame& frame, Four<Orbit>& orbits, float4* pixels, int row0,
                             int row1) {
    const DF df;
    const DI di;
    const int lanes = static_cast<int>(hn::Lanes(df));
    const VI endV = hn::Set(di, row1 * WIDTH), none = hn::Set(di, -1);
    const VI columnMask = hn::Set(di, WIDTH - 1), originColumn = hn::Set(di, ORIGIN_COLUMN),
             originRow = hn::Set(di, ORIGIN_ROW);
    Refill refill{pixels, row1 * WIDTH, row0 * WIDTH, lanes - std::max(1, lanes / 2),
                  endV,   none,         columnMask,   originColumn,
                  originRow, {}, {}, {}, {}};
    VI idx0 = none, idx1 = none, idx2 = none, idx3 = none;
    Four<VI&> indices{idx0, idx1, idx2, idx3};
    FastBlockBackoff backoff;
    Parked parked;
    while (refill.cursor < refill.end) {
        ForEach(orbits, indices, [&](Orbit& o, VI& idx) JULIA_LAMBDA_INLINE {
            if (static_cast<int>(hn::CountTrue(df, o.run)) > refill.refillAt) return;
            RefillLanes(frame, refill, o, idx);
            backoff.blocksSinceRefill = 0;
        });
        StepBlock(frame, orbits, backoff, parked);
    }
    // No pixels left to hand out: run the lanes dry, then write what they hold.
    while (!AllStopped(orbits)) StepBlock(frame, orbits, backoff, parked);
    ForEach(orbits, indices,
            [&](Orbit& o, VI& idx) JULIA_LAMBDA_INLINE { Flush(frame, refill, o, idx); });
    ClearUpperHalves();
}

// Renders rows [row0, row1) in either mode.
void RenderRows(float4* pixels, const FrameParams& params, int row0, int row1, bool refill) {
    WithFrame(params, [&](const Frame& frame) JULIA_LAMBDA_INLINE {
        WithFourOrbits([&](Four<Orbit>& orbits) JULIA_LAMBDA_INLINE {
            if (refill) {
                RenderRefill(frame, orbits, pixels, row0, row1);
            } else {
                RenderTiles(frame, orbits, pixels, params, row0, row1);
            }
        });
    });
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

void renderJuliaSIMD(const SimdTarget& target, float4* pixels, const FrameParams& params,
                     int threads, SimdMode mode, std::atomic<int>* rowsDone) {
    using namespace julia_simd;
    const int refillFrom =
        target.lanes >= 16 ? SIMD_REFILL_FROM_LIMIT_16_LANES : SIMD_REFILL_FROM_LIMIT;
    const bool refill =
        mode == SimdMode::Refill ||
        (mode == SimdMode::Auto && target.lanes >= 4 && params.precision >= refillFrom);
    const int band = refill ? REFILL_BAND_ROWS : TILE_BAND_ROWS;
    const int units = (HEIGHT + band - 1) / band;
    runOnWorkers(simdThreads(threads), units, [&](int u) {
        const int row0 = u * band, row1 = std::min(HEIGHT, row0 + band);
        target.rows(pixels, params, row0, row1, refill);
        if (rowsDone) rowsDone->fetch_add(row1 - row0, std::memory_order_relaxed);
    });
}
#endif  // HWY_ONCE
