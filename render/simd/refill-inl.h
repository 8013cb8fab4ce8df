// The SIMD renderer's refill mode, per target: each lane holds any pixel of the rows, by index
// (-1: none). When a vector has `refillAt` or fewer running lanes, its finished pixels are written,
// its running lanes are packed to the front and the lanes behind them take the next pixels in
// order. Between refills the four vectors take blocks of steps (refill-blocks-inl.h).
//
// Included once per target by simd_renderer.cpp, after refill-blocks-inl.h.
#if defined(JULIA_SIMD_REFILL_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef JULIA_SIMD_REFILL_INL_H_
#undef JULIA_SIMD_REFILL_INL_H_
#else
#define JULIA_SIMD_REFILL_INL_H_
#endif

#include <algorithm>
#include <cstdint>

#include <hwy/highway.h>

#include "simd/cycles-inl.h"
#include "simd/refill-blocks-inl.h"
#include "simd/pixels-inl.h"

HWY_BEFORE_NAMESPACE();
namespace julia_simd {
namespace HWY_NAMESPACE {

static_assert(WIDTH == 1024, "pixel indices split into row and column by shift and mask");
constexpr int WIDTH_BITS = 10;

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

// The plane coordinates of the pixels whose indices idx holds.
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

// Steps a block and, with the periodicity check (kCheck), checks the orbits when a check is due.
template <bool kCheck>
HWY_INLINE void StepAndCheck(const Frame& frame, Four<Orbit>& orbits, FastBlockBackoff& backoff,
                             Parked& parked, Saved& saved, CheckClock& clock) {
    const int steps =
        StepBlock(frame, orbits, backoff, parked, kCheck ? CHECK_FAST_BLOCK : FAST_BLOCK);
    if (kCheck && CheckDue(clock, steps)) {
        CheckCycles(frame, orbits, saved, clock, CHECK_WINDOW_REFILL);
    }
}

template <bool kCheck>
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
    Saved saved = {};  // unused without the check
    CheckClock clock;
    while (refill.cursor < refill.end) {
        int v = 0;
        ForEach(orbits, indices, [&](Orbit& o, VI& idx) JULIA_LAMBDA_INLINE {
            const int vector = v++;
            if (static_cast<int>(hn::CountTrue(df, o.run)) > refill.refillAt) return;
            RefillLanes(frame, refill, o, idx);
            // The lanes moved and some took new pixels: every saved iterate is stale.
            if (kCheck) SaveFresh(o, saved, vector);
            backoff.blocksSinceRefill = 0;
        });
        StepAndCheck<kCheck>(frame, orbits, backoff, parked, saved, clock);
    }
    // No pixels left to hand out: run the lanes dry, then write what they hold.
    while (!AllStopped(orbits)) {
        StepAndCheck<kCheck>(frame, orbits, backoff, parked, saved, clock);
    }
    ForEach(orbits, indices,
            [&](Orbit& o, VI& idx) JULIA_LAMBDA_INLINE { Flush(frame, refill, o, idx); });
    ClearUpperHalves();
}

}  // namespace HWY_NAMESPACE
}  // namespace julia_simd
HWY_AFTER_NAMESPACE();

#endif  // the toggled include guard
