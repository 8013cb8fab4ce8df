#include "iterations.h"

#include "complex.h"
#include "geometry.h"

// Must stay step for step with juliaColor in julia.h, through the same complex operations, so
// that the count matches the iterations the renderers actually run.
int juliaSteps(float x, float y, float mx, float my, int precision) {
    Complex a = {x, y};
    const Complex seed = {mx, my};
    for (int i = 0; i < precision; i++) {
        a = add_complex(mul_complex(a, a), seed);
        if (squaredMagnitude(a) > 4.0f) return i + 1;
    }
    return precision > 0 ? precision : 0;
}

int64_t frameIterations(float mx, float my, int precision, float scale) {
    int64_t total = 0;
    for (int i = 0; i < HEIGHT; i++) {
        const float y = scale * (float)(i - ORIGIN_ROW);
        for (int j = 0; j < WIDTH; j++) {
            total += juliaSteps(scale * (float)(j - ORIGIN_COLUMN), y, mx, my, precision);
        }
    }
    return total;
}
