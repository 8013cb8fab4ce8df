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
#include "simd_renderer.h"

#include <algorithm>
#include <cctype>
#include <cstdint>

#include <omp.h>

#include "geometry.h"
#include "worker_pool.h"

#ifndef JULIA_SIMD_RENDERER_SHARED
#define JULIA_SIMD_RENDERER_SHARED
namespace julia_simd {
// Rows per unit of work handed to a thread: in the refill mode lanes only run dry at a unit's end;
// with tiles, a few rows at a time keep the threads' trips to the shared counter rare.
constexpr int REFILL_BAND_ROWS = 16;
constexpr int TILE_BAND_ROWS = 8;
// Steps between the refill mode's checks for finished lanes.
constexpr int BLOCK = 8;
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

// The AVX-512 targets, where a few raw intrinsics do what Highway 1.0.3 does in more operations.
#undef JULIA_AVX512
#if HWY_TARGET == HWY_AVX3 || HWY_TARGET == HWY_AVX3_DL
#define JULIA_AVX512 1
#else
#define JULIA_AVX512 0
#endif

// Called on every way out of RenderRows, to leave the upper halves of the vector registers clear:
// GCC once kept a helper lambda that takes 256-bit vectors out of line and then returned without
// vzeroupper, and the CPU renderer (legacy SSE code) ran 19 % slower after an avx2 frame.
HWY_INLINE void clearUpperHalves() {
#if HWY_TARGET == HWY_AVX2 || JULIA_AVX512
    _mm256_zeroupper();
#endif
}

static_assert(WIDTH == 1024, "pixel indices split into row and column by shift and mask");
constexpr int WIDTH_BITS = 10;

// Renders rows [row0, row1). Lanes hold the iterate a_k after k >= 1 steps and c, the number of
// magnitude checks passed; a lane runs while no check failed and c < limit. A stopped lane's c
// no longer changes: below the limit it is the escape step, at the limit the point stayed bounded.
void RenderRows(float4* pixels, const FrameParams& f, int row0, int row1, bool refill) {
    const DF df;
    const DI di;
    const int lanes = static_cast<int>(hn::Lanes(df));
    const VF mx = hn::Set(df, f.mx), my = hn::Set(df, f.my), scale = hn::Set(df, f.scale);
    const VF four = hn::Set(df, 4.0f), oneF = hn::Set(df, 1.0f), zeroF = hn::Zero(df);
    const VF limitF = hn::Set(df, static_cast<float>(f.precision));
    const VF markerMax = hn::Set(df, SEED_MARKER_SQUARE_MAX);
    const VI limit = hn::Set(di, f.precision);
    const MF start = hn::RebindMask(df, hn::Lt(hn::Zero(di), limit));  // limit 0 or below: no step

    // a_1 from the sample point.
    auto begin = [&](VF x, VF y, VF& ar, VF& ai) {
        ar = hn::Add(hn::Sub(hn::Mul(x, x), hn::Mul(y, y)), mx);
        const VF xy = hn::Mul(x, y);
        ai = hn::Add(hn::Add(xy, xy), my);
    };
    // One check of a_k and one step to a_(k+1); the squares serve both. The limit is left to
    // stopAtLimit.
    auto stepCount = [&](VF& ar, VF& ai, VI& c, MF& run) {
        const VF rr = hn::Mul(ar, ar), ii = hn::Mul(ai, ai), ri = hn::Mul(ar, ai);
#if JULIA_AVX512
        // Not greater, unordered: as !(|a|^2 > 4), a NaN magnitude keeps the lane running. One
        // compare under the run mask instead of a compare and a mask operation.
        run.raw = _mm512_mask_cmp_ps_mask(run.raw, hn::Add(rr, ii).raw, four.raw, _CMP_NGT_UQ);
        c = hn::IfThenElse(hn::RebindMask(di, run), hn::Add(c, hn::Set(di, 1)), c);  // masked add
#else
        run = hn::AndNot(hn::Gt(hn::Add(rr, ii), four), run);  // false for a NaN magnitude
        // A true mask lane is all ones, -1: one subtract instead of an add and a blend.
        c = hn::Sub(c, hn::VecFromMask(di, hn::RebindMask(di, run)));
#endif
        ar = hn::Add(hn::Sub(rr, ii), mx);
        ai = hn::Add(hn::Add(ri, ri), my);
    };
    auto stopAtLimit = [&](VI c, MF& run) {
#if JULIA_AVX512
        run.raw = _mm512_mask_cmplt_epi32_mask(run.raw, c.raw, limit.raw);  // one compare
#else
        run = hn::And(run, hn::RebindMask(df, hn::Lt(c, limit)));
#endif
    };
    auto step = [&](VF& ar, VF& ai, VI& c, MF& run) {
        stepCount(ar, ai, c, run);
        stopAtLimit(c, run);
    };
    auto colorOf = [&](VI c) {
        const VF fraction = hn::Div(hn::ConvertTo(df, c), limitF);
        return hn::IfThenElseZero(hn::RebindMask(df, hn::Lt(c, limit)), hn::Sub(oneF, fraction));
    };
    auto redOf = [&](VF x, VF y, VF color) {
        const VF dx = hn::Sub(x, mx), dy = hn::Sub(y, my);
        const VF s = hn::Add(hn::Mul(dx, dx), hn::Mul(dy, dy));
        return hn::IfThenElse(hn::And(hn::Ge(s, zeroF), hn::Le(s, markerMax)), oneF, color);
    };
    // The pixels (red, color, 1, 1) of the lanes, in lane order, to `out`.
    auto storePixels = [&](VF red, VF color, float* out) {
#if JULIA_AVX512
        // One two-table permutation per four pixels, where StoreInterleaved4 takes four: lanes
        // 2 and 3 of each pixel are not looked up (their mask bits are 0) but copied from the
        // index vector, which holds the bits of 1.0f there.
        constexpr int ONE = 0x3f800000;
        const __m512i index[4] = {
            _mm512_setr_epi32(0, 16, ONE, ONE, 1, 17, ONE, ONE, 2, 18, ONE, ONE, 3, 19, ONE, ONE),
            _mm512_setr_epi32(4, 20, ONE, ONE, 5, 21, ONE, ONE, 6, 22, ONE, ONE, 7, 23, ONE, ONE),
            _mm512_setr_epi32(8, 24, ONE, ONE, 9, 25, ONE, ONE, 10, 26, ONE, ONE, 11, 27, ONE,
                              ONE),
            _mm512_setr_epi32(12, 28, ONE, ONE, 13, 29, ONE, ONE, 14, 30, ONE, ONE, 15, 31, ONE,
                              ONE)};
        for (int k = 0; k < 4; k++) {
            const __m512 px = _mm512_mask2_permutex2var_ps(red.raw, index[k], 0x3333, color.raw);
            hn::StoreU(VF{px}, df, out + 16 * k);
        }
#else
        hn::StoreInterleaved4(red, color, oneF, oneF, df, out);
#endif
    };
    // Plane coordinate of pixel offsets from the origin's row or column.
    auto plane = [&](VI offset) { return hn::Mul(scale, hn::ConvertTo(df, offset)); };
    // first, first + 1, ...: Iota built once (it goes through memory), then shifted by an add.
    const VI laneIndex = hn::Iota(di, 0);
    auto counting = [&](int first) { return hn::Add(laneIndex, hn::Set(di, first)); };

    VF ar0 = zeroF, ai0 = zeroF, ar1 = zeroF, ai1 = zeroF, ar2 = zeroF, ai2 = zeroF, ar3 = zeroF,
       ai3 = zeroF;
    VI c0 = hn::Zero(di), c1 = c0, c2 = c0, c3 = c0;
    MF run0 = hn::FirstN(df, 0), run1 = run0, run2 = run0, run3 = run0;
    auto stepAll = [&] {
        step(ar0, ai0, c0, run0);
        step(ar1, ai1, c1, run1);
        step(ar2, ai2, c2, run2);
        step(ar3, ai3, c3, run3);
    };
    // BLOCK steps with the limit tested once, after them: the same counts as testing it at every
    // step when no running lane is within BLOCK steps of its limit, since a count grows by at most
    // one a step. (With a limit of 0 or below no lane runs.)
    const VI blockLast = hn::Set(di, f.precision > 0 ? f.precision - BLOCK : 0);
    auto roomFor = [&](VI c, MF run) {
        return hn::AllFalse(di, hn::And(hn::RebindMask(di, run), hn::Gt(c, blockLast)));
    };
    auto stepBlock = [&] {
        if (!(roomFor(c0, run0) && roomFor(c1, run1) && roomFor(c2, run2) && roomFor(c3, run3))) {
            stepAll();
            return;
        }
        for (int b = 0; b < BLOCK; b++) {
            stepCount(ar0, ai0, c0, run0);
            stepCount(ar1, ai1, c1, run1);
            stepCount(ar2, ai2, c2, run2);
            stepCount(ar3, ai3, c3, run3);
        }
        stopAtLimit(c0, run0);
        stopAtLimit(c1, run1);
        stopAtLimit(c2, run2);
        stopAtLimit(c3, run3);
    };

    if (!refill) {
        // Below `lanes`, every colour the limit allows fits in one vector, computed here by
        // colorOf itself: a lane's colour is then one lookup by its count instead of a division.
        const bool colorByLookup = f.precision < lanes;
        const VF colors = colorOf(laneIndex);
        auto colorAt = [&](VI c) {
            return colorByLookup ? hn::TableLookupLanes(colors, hn::IndicesFromVec(df, c))
                                 : colorOf(c);
        };
        // Each vector holds `lanes` adjacent pixels of the row from column col (-1: none left).
        for (int i = row0; i < row1; i++) {
            const float yRow = f.scale * static_cast<float>(i - ORIGIN_ROW);
            const VF y = hn::Set(df, yRow);
            // s = dx*dx + dy*dy rounds to at least dy*dy: past the marker's bound here, no pixel
            // of the row is in the marker (a NaN dy leaves the test to redOf).
            const float dy = yRow - f.my;
            const bool markerRow = !(dy * dy > SEED_MARKER_SQUARE_MAX);
            float* row = reinterpret_cast<float*>(pixels + i * WIDTH);
            int next = 0;
            auto take = [&](VF& ar, VF& ai, VI& c, MF& run, int& col) {
                if (next >= WIDTH) {
                    col = -1;
                    return;
                }
                col = std::min(next, WIDTH - lanes);  // a short last run repeats a few pixels
                next += lanes;
                begin(plane(counting(col - ORIGIN_COLUMN)), y, ar, ai);
                c = hn::Zero(di);
                run = start;
            };
            // True while the vector still holds pixels.
            auto poll = [&](VF& ar, VF& ai, VI& c, MF& run, int& col) {
                if (col < 0) return false;
                if (!hn::AllFalse(df, run)) return true;
                const VF color = colorAt(c);
                const VF red =
                    markerRow ? redOf(plane(counting(col - ORIGIN_COLUMN)), y, color) : color;
                storePixels(red, color, row + 4 * col);
                take(ar, ai, c, run, col);
                return col >= 0;
            };
            int col0, col1, col2, col3;
            take(ar0, ai0, c0, run0, col0);
            take(ar1, ai1, c1, run1, col1);
            take(ar2, ai2, c2, run2, col2);
            take(ar3, ai3, c3, run3, col3);
            for (;;) {
                stepAll();
                const bool busy0 = poll(ar0, ai0, c0, run0, col0);
                const bool busy1 = poll(ar1, ai1, c1, run1, col1);
                const bool busy2 = poll(ar2, ai2, c2, run2, col2);
                const bool busy3 = poll(ar3, ai3, c3, run3, col3);
                if (!(busy0 || busy1 || busy2 || busy3)) break;
            }
        }
        clearUpperHalves();
        return;
    }

    // Refill: each lane holds any pixel of the rows, by index (-1: none). When a vector has
    // `refillAt` or fewer running lanes, its finished pixels are written, its running lanes are
    // packed to the front and the lanes behind them take the next pixels in order.
    const int end = row1 * WIDTH;
    int cursor = row0 * WIDTH;
    const int refillAt = lanes - std::max(1, lanes / 2);
    const VI endV = hn::Set(di, end), none = hn::Set(di, -1);
    const VI columnMask = hn::Set(di, WIDTH - 1), originColumn = hn::Set(di, ORIGIN_COLUMN),
             originRow = hn::Set(di, ORIGIN_ROW);
    constexpr size_t kMaxLanes = hn::MaxLanes(DF());
    HWY_ALIGN float4 out[kMaxLanes];
    HWY_ALIGN int32_t outIndex[kMaxLanes];
    uint8_t outBits[(kMaxLanes + 7) / 8 + 8];
    HWY_ALIGN int32_t order[kMaxLanes];

    auto xOf = [&](VI idx) { return plane(hn::Sub(hn::And(idx, columnMask), originColumn)); };
    auto yOf = [&](VI idx) { return plane(hn::Sub(hn::ShiftRight<WIDTH_BITS>(idx), originRow)); };
    auto flush = [&](VI c, MF run, VI idx) {
        const MI done = hn::AndNot(hn::RebindMask(di, run), hn::Gt(idx, none));
        if (hn::AllFalse(di, done)) return;
        const VF color = colorOf(c);
        storePixels(redOf(xOf(idx), yOf(idx), color), color, reinterpret_cast<float*>(out));
        hn::Store(idx, di, outIndex);
        hn::StoreMaskBits(di, done, outBits);
        for (int l = 0; l < lanes; l++) {
            if ((outBits[l >> 3] >> (l & 7)) & 1) pixels[outIndex[l]] = out[l];
        }
    };
    auto refillLanes = [&](VF& ar, VF& ai, VI& c, MF& run, VI& idx) {
        flush(c, run, idx);
        const size_t live = hn::CountTrue(df, run);
        const MI runI = hn::RebindMask(di, run);
#if JULIA_AVX512
        ar = hn::Compress(ar, run);
        ai = hn::Compress(ai, run);
        c = hn::Compress(c, runI);
        idx = hn::Compress(idx, runI);
#else
        // Elsewhere Highway 1.0.3's Compress copies a lookup table onto the stack at every call;
        // one permutation built from the mask bits serves all four vectors instead.
        hn::StoreMaskBits(di, runI, outBits);
        int packed = 0;
        for (int pass = 1; pass >= 0; pass--) {
            for (int l = 0; l < lanes; l++) {
                if (((outBits[l >> 3] >> (l & 7)) & 1) == pass) order[packed++] = l;
            }
        }
        const auto orderF = hn::SetTableIndices(df, order);
        const auto orderI = hn::SetTableIndices(di, order);
        ar = hn::TableLookupLanes(ar, orderF);
        ai = hn::TableLookupLanes(ai, orderF);
        c = hn::TableLookupLanes(c, orderI);
        idx = hn::TableLookupLanes(idx, orderI);
#endif
        const MI kept = hn::FirstN(di, live);
        const VI wanted = counting(cursor - static_cast<int>(live));
        const MI fresh = hn::AndNot(kept, hn::Lt(wanted, endV));
        cursor = std::min(end, cursor + lanes - static_cast<int>(live));
        VF nar, nai;
        begin(xOf(wanted), yOf(wanted), nar, nai);
        const MF freshF = hn::RebindMask(df, fresh);
        ar = hn::IfThenElse(freshF, nar, ar);
        ai = hn::IfThenElse(freshF, nai, ai);
        c = hn::IfThenZeroElse(fresh, c);
        idx = hn::IfThenElse(kept, idx, hn::IfThenElse(fresh, wanted, none));
        run = hn::Or(hn::RebindMask(df, kept), hn::And(freshF, start));
    };
    VI idx0 = none, idx1 = none, idx2 = none, idx3 = none;
    auto poll = [&](VF& ar, VF& ai, VI& c, MF& run, VI& idx) {
        if (static_cast<int>(hn::CountTrue(df, run)) <= refillAt) refillLanes(ar, ai, c, run, idx);
    };
    while (cursor < end) {
        poll(ar0, ai0, c0, run0, idx0);
        poll(ar1, ai1, c1, run1, idx1);
        poll(ar2, ai2, c2, run2, idx2);
        poll(ar3, ai3, c3, run3, idx3);
        stepBlock();
    }
    // No pixels left to hand out: run the lanes dry, then write what they hold.
    while (!(hn::AllFalse(df, run0) && hn::AllFalse(df, run1) && hn::AllFalse(df, run2) &&
             hn::AllFalse(df, run3))) {
        stepAll();
    }
    flush(c0, run0, idx0);
    flush(c1, run1, idx1);
    flush(c2, run2, idx2);
    flush(c3, run3, idx3);
    clearUpperHalves();
}

int FloatLanes() { return static_cast<int>(hn::Lanes(DF())); }

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

void renderJuliaSIMD(const SimdTarget& target, float4* pixels, const FrameParams& p, int threads,
                     SimdMode mode, std::atomic<int>* rowsDone) {
    using namespace julia_simd;
    const int refillFrom =
        target.lanes >= 16 ? SIMD_REFILL_FROM_LIMIT_16_LANES : SIMD_REFILL_FROM_LIMIT;
    const bool refill = mode == SimdMode::Refill ||
                        (mode == SimdMode::Auto && target.lanes >= 4 && p.precision >= refillFrom);
    const int band = refill ? REFILL_BAND_ROWS : TILE_BAND_ROWS;
    const int units = (HEIGHT + band - 1) / band;
    runOnWorkers(simdThreads(threads), units, [&](int u) {
        const int row0 = u * band, row1 = std::min(HEIGHT, row0 + band);
        target.rows(pixels, p, row0, row1, refill);
        if (rowsDone) rowsDone->fetch_add(row1 - row0, std::memory_order_relaxed);
    });
}
#endif  // HWY_ONCE
