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
// 0 for a point that stays bounded for `precision` steps, else 1 - i/precision for the first step i
// whose iterate leaves the disc of radius 2.
JULIA_HD float juliaColor(float x, float y, float mx, float my, int precision) {
    const int i = escapeStep(x, y, mx, my, precision);
    return i < precision ? 1.0f - (float)i / (float)precision : 0.0f;
}
// sqrtf is correctly rounded on both sides (host: the SSE instruction; device: -prec-sqrt=true).
JULIA_HD bool inSeedMarker(float x, float y, float mx, float my) {
    const float dx = x - mx;
    const float dy = y - my;
    const float s = (dx * dx) + (dy * dy);
    return (double)sqrtf(s) < SEED_MARKER_RADIUS;
}

// Writes pixel (i, j) of a PixelImage: (color, color, 1, 1), red forced to 1 inside the marker.
JULIA_HD void juliaPixel(float4* pixels, int i, int j, float mx, float my, int precision,
                         float scale) {
    const float x = planeX(j, scale);
    const float y = planeY(i, scale);
    const float color = juliaColor(x, y, mx, my, precision);
    float4 px;
    px.x = inSeedMarker(x, y, mx, my) ? 1.0f : color;
    px.y = color;
    px.z = 1.0f;
    px.w = 1.0f;
    pixels[i * WIDTH + j] = px;  // one 16-byte store
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
