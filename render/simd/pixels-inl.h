// The SIMD renderer's pixels, per target: where a lane's pixel lies in the plane, its colour by its
// count, the seed marker, and the store of a vector's pixels. Both work-sharing modes use them.
//
// Included once per target by simd_renderer.cpp, after frame-inl.h.
#if defined(JULIA_SIMD_PIXELS_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef JULIA_SIMD_PIXELS_INL_H_
#undef JULIA_SIMD_PIXELS_INL_H_
#else
#define JULIA_SIMD_PIXELS_INL_H_
#endif

#include <hwy/highway.h>

#include "simd/frame-inl.h"

HWY_BEFORE_NAMESPACE();
namespace julia_simd {
namespace HWY_NAMESPACE {

// planeX and planeY of core/julia.h for a vector of offsets from the origin's column or row: the
// integer offset is exact, then one rounded product, as there.
HWY_INLINE VF Plane(const Frame& frame, VI offset) {
    return hn::Mul(frame.scale, hn::ConvertTo(DF(), offset));
}

// first, first + 1, ...
HWY_INLINE VI Counting(const Frame& frame, int first) {
    return hn::Add(frame.laneIndex, hn::Set(DI(), first));
}

// The colour of a count 0 <= count <= limit: 1 - count/limit below the limit, 0 at it, where
// count/limit is exactly 1 already. So only a limit of 0 or below (no step: a count of 0) needs a
// test, once per frame.
HWY_INLINE VF ColorOf(const Frame& frame, VI count) {
    const VF fraction = hn::Div(hn::ConvertTo(DF(), count), frame.precisionF);
    return hn::IfThenElseZero(frame.start, hn::Sub(frame.one, fraction));
}

// The red channel: 1 inside the seed marker, else the colour. The marker test of core/julia.h on
// s = dx*dx + dy*dy, compared with its float bound instead of taking the square root.
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

}  // namespace HWY_NAMESPACE
}  // namespace julia_simd
HWY_AFTER_NAMESPACE();

#endif  // the toggled include guard
