// The escape-time rule, the pixel rule with its seed marker, and the mouse-to-seed mapping.
// Compiled for the host (CPU renderer, input) and for the device (the kernel) from this one file.
#pragma once

#include <math.h>

#include "complex.h"
#include "geometry.h"

// The sample point of column j and row i: the pixel's lower-left corner. The integer difference is
// exact, then one rounded product.
JULIA_HD float planeX(int j, float scale) {
    return scale * (float)(j - ORIGIN_COLUMN);
}
JULIA_HD float planeY(int i, float scale) {
    return scale * (float)(i - ORIGIN_ROW);
}
// Radius of the seed marker in plane units, compared in double precision.
constexpr double SEED_MARKER_RADIUS = 0.01;
// s = dx*dx + dy*dy lies inside the seed marker exactly when 0 <= s <= this: the largest float
// whose correctly rounded square root, widened to double, is below SEED_MARKER_RADIUS. The SIMD
// renderer compares s with it instead of taking the root; a test holds it to inSeedMarker's rule
// for every float.
constexpr float SEED_MARKER_SQUARE_MAX = 0x1.a36e3p-14f;

// The escape-time loop: the first step i (from 0) whose iterate leaves the disc of radius 2, or
// `precision` when every step stays inside (0 for a limit of 0 or below). A NaN magnitude is not
// an escape. The colour and the bench's count of iterations both come from this one loop.
JULIA_HD int escapeStep(float x, float y, float mx, float my, int precision) {
    Complex a = {x, y};
    const Complex seed = {mx, my};
    int i = 0;
    for (; i < precision; i++) {
        a = add_complex(mul_complex(a, a), seed);
        if (squaredMagnitude(a) > 4.0f) {
            break;
        }
    }
    return i;
}
// Steps the loop takes from (x, y): up to and including the escaping one, or all `precision` when
// the point stays bounded; 0 for a limit of 0 or below.
JULIA_HD int juliaSteps(float x, float y, float mx, float my, int precision) {
    const int i = escapeStep(x, y, mx, my, precision);
    return i < precision ? i + 1 : i;
}

// The periodicity check. The float map a -> a*a + seed is deterministic: an iterate with the same
// bits as an earlier one repeats the cycle between them for ever, and every member of that cycle
// has already passed the escape test. Such a point never escapes, so escapeStep's answer is
// already known: `precision`. Ending there changes no pixel, only the steps taken.
//
// Equal means the same bits in both parts. +0 and -0 are then different iterates (a later step
// may still match; a missed match only costs steps), and a NaN iterate matches the same NaN bits,
// which is sound too: a NaN magnitude never escapes, and a NaN part stays NaN.
JULIA_HD unsigned int floatBitsOf(float f) {
#if defined(__CUDA_ARCH__)
    return __float_as_uint(f);
#else
    unsigned int u;
    __builtin_memcpy(&u, &f, sizeof u);
    return u;
#endif
}
JULIA_HD bool sameIterate(Complex a, Complex b) {
    return floatBitsOf(a.reel) == floatBitsOf(b.reel) && floatBitsOf(a.im) == floatBitsOf(b.im);
}

// escapeStep with the check: the iterate after n steps is compared with the one saved at the
// largest power of two below n (Brent's schedule: a cycle of period p that starts by step m is
// found within about 2 max(m, p) steps), and a match returns `precision`. *steps receives the steps
// taken, as juliaSteps counts them.
JULIA_HD int escapeStepPeriodic(float x, float y, float mx, float my, int precision, int* steps) {
    Complex a = {x, y};
    const Complex seed = {mx, my};
    Complex saved = a;
    int i = 0;
    for (; i < precision; i++) {
        a = add_complex(mul_complex(a, a), seed);
        if (squaredMagnitude(a) > 4.0f) {
            *steps = i + 1;
            return i;
        }
        if (sameIterate(a, saved)) {
            *steps = i + 1;
            return precision;
        }
        const int n = i + 1;  // steps taken, at most INT_MAX: no overflow
        if ((n & (n - 1)) == 0) saved = a;
    }
    *steps = i;
    return i;
}
JULIA_HD int juliaStepsPeriodic(float x, float y, float mx, float my, int precision) {
    int steps = 0;
    escapeStepPeriodic(x, y, mx, my, precision, &steps);
    return steps;
}

// The colour of escape step i: 0 for a point that stays bounded for `precision` steps (i equal to
// it), else 1 - i/precision.
JULIA_HD float colorOfStep(int i, int precision) {
    return i < precision ? 1.0f - (float)i / (float)precision : 0.0f;
}
// 0 for a point that stays bounded for `precision` steps, else 1 - i/precision for the first step i
// whose iterate leaves the disc of radius 2.
JULIA_HD float juliaColor(float x, float y, float mx, float my, int precision) {
    return colorOfStep(escapeStep(x, y, mx, my, precision), precision);
}
// The same colour, with the periodicity check.
JULIA_HD float juliaColorPeriodic(float x, float y, float mx, float my, int precision) {
    int steps = 0;
    return colorOfStep(escapeStepPeriodic(x, y, mx, my, precision, &steps), precision);
}
// sqrtf is correctly rounded on both sides (host: the SSE instruction; device: -prec-sqrt=true).
JULIA_HD bool inSeedMarker(float x, float y, float mx, float my) {
    const float dx = x - mx;
    const float dy = y - my;
    const float s = (dx * dx) + (dy * dy);
    return (double)sqrtf(s) < SEED_MARKER_RADIUS;
}

// Writes pixel (i, j), at plane point (x, y), of a PixelImage: (color, color, 1, 1), red forced to
// 1 inside the marker.
JULIA_HD void storePixel(float4* pixels, int i, int j, float x, float y, float mx, float my,
                         float color) {
    float4 px;
    px.x = inSeedMarker(x, y, mx, my) ? 1.0f : color;
    px.y = color;
    px.z = 1.0f;
    px.w = 1.0f;
    pixels[i * WIDTH + j] = px;  // one 16-byte store
}
JULIA_HD void juliaPixel(float4* pixels, int i, int j, float mx, float my, int precision,
                         float scale) {
    const float x = planeX(j, scale);
    const float y = planeY(i, scale);
    storePixel(pixels, i, j, x, y, mx, my, juliaColor(x, y, mx, my, precision));
}
// juliaPixel with the periodicity check: the same pixel.
JULIA_HD void juliaPixelPeriodic(float4* pixels, int i, int j, float mx, float my, int precision,
                                 float scale) {
    const float x = planeX(j, scale);
    const float y = planeY(i, scale);
    storePixel(pixels, i, j, x, y, mx, my, juliaColorPeriodic(x, y, mx, my, precision));
}

// A window position (sx from the left, sy from the top, whole pixels) to the seed. The seed lands
// on the sample point one row above the pixel under the pointer, since window row sy covers image
// row 767 - sy while the sample point of image row 768 - sy is its top edge. The differences are
// formed in 64 bits so that no reported position can overflow.
inline Complex screenToSeed(int sx, int sy, float scale) {
    Complex seed;
    seed.reel = (float)((long long)sx - ORIGIN_COLUMN) * scale;
    seed.im = -((float)((long long)sy - ORIGIN_ROW) * scale);
    return seed;
}
