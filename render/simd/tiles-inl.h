// The SIMD renderer's tiles mode, per target: each vector holds a run of adjacent pixels of one row
// and takes the next run of the row once all of its lanes have stopped.
//
// Included once per target by simd_renderer.cpp, after pixels-inl.h.
#if defined(JULIA_SIMD_TILES_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef JULIA_SIMD_TILES_INL_H_
#undef JULIA_SIMD_TILES_INL_H_
#else
#define JULIA_SIMD_TILES_INL_H_
#endif

#include <algorithm>

#include <hwy/highway.h>

#include "simd/cycles-inl.h"
#include "simd/pixels-inl.h"

HWY_BEFORE_NAMESPACE();
namespace julia_simd {
namespace HWY_NAMESPACE {

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

// Whether some vector of orbits has no running lane (a vector without pixels has none).
HWY_INLINE bool AnyStopped(const Four<Orbit>& orbits) {
    const DF df;
    return hn::AllFalse(df, orbits.v0.run) | hn::AllFalse(df, orbits.v1.run) |
           hn::AllFalse(df, orbits.v2.run) | hn::AllFalse(df, orbits.v3.run);
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
// holds pixels. With the periodicity check the new pixels' first iterates are o's saved ones
// (o is vector v).
template <bool kCheck>
HWY_INLINE bool Poll(const Frame& frame, const Palette& palette, TileRow& row, Orbit& o,
                     int& col, Saved& saved, int v) {
    if (col < 0) return false;
    if (!hn::AllFalse(DF(), o.run)) return true;
    const VF color = PaletteColor(frame, palette, o.count);
    const VF red = row.markerRow ? RedOf(frame, RunX(frame, col), row.y, color) : color;
    StorePixels(frame, red, color, row.out + 4 * col);
    Take(frame, row, o, col);
    if (kCheck) SaveFresh(o, saved, v);
    return col >= 0;
}

// kCheck: with the periodicity check, when a check is due.
template <bool kCheck>
HWY_INLINE void RenderTiles(const Frame& frame, Four<Orbit>& orbits, float4* pixels,
                            const FrameParams& params, int row0, int row1) {
    const DF df;
    const VF colors = ColorOf(frame, frame.laneIndex);
    const Palette palette{params.precision < static_cast<int>(hn::Lanes(df)), colors};
    Saved saved = {};  // unused without the check
    CheckClock clock;
    for (int i = row0; i < row1; i++) {
        Four<int> col{-1, -1, -1, -1};
        const float yRow = planeY(i, params.scale);
        // s = dx*dx + dy*dy rounds to at least dy*dy: past the marker's bound here, no pixel of
        // the row is in the marker (a NaN dy leaves the test to RedOf).
        const float dy = yRow - params.my;
        const VF y = hn::Set(df, yRow);
        TileRow row{y, reinterpret_cast<float*>(pixels + i * WIDTH), 0,
                    !(dy * dy > SEED_MARKER_SQUARE_MAX)};
        int v = 0;
        ForEach(orbits, col, [&](Orbit& o, int& column) JULIA_LAMBDA_INLINE {
            Take(frame, row, o, column);
            if (kCheck) SaveFresh(o, saved, v++);
        });
        for (;;) {
            StepAll(frame, orbits);
            if (kCheck && CheckDue(clock, 1)) {
                CheckCycles(frame, orbits, saved, clock, CHECK_WINDOW_TILES);
            }
            // On targets of at most four lanes, one branch per step while every vector still runs
            // instead of four; the choice by lane count is in docs/performance.md.
            if (hn::MaxLanes(df) <= 4 && !AnyStopped(orbits)) continue;
            // Four named results rather than one accumulated in ForEach: each poll stays a branch
            // of its own (docs/performance.md).
            const bool busy0 = Poll<kCheck>(frame, palette, row, orbits.v0, col.v0, saved, 0);
            const bool busy1 = Poll<kCheck>(frame, palette, row, orbits.v1, col.v1, saved, 1);
            const bool busy2 = Poll<kCheck>(frame, palette, row, orbits.v2, col.v2, saved, 2);
            const bool busy3 = Poll<kCheck>(frame, palette, row, orbits.v3, col.v3, saved, 3);
            if (!(busy0 || busy1 || busy2 || busy3)) break;
        }
    }
    ClearUpperHalves();
}

}  // namespace HWY_NAMESPACE
}  // namespace julia_simd
HWY_AFTER_NAMESPACE();

#endif  // the toggled include guard
