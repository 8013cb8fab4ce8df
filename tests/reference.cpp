// The reference picture, one separately rounded float operation at a time.
#include "reference.h"

#include <cmath>

namespace {

float rmul(float a, float b) { return (float)((double)a * (double)b); }
float radd(float a, float b) { return (float)((double)a + (double)b); }
float rsub(float a, float b) { return (float)((double)a - (double)b); }
float rdiv(float a, float b) { return (float)((double)a / (double)b); }
float rsqrt(float a) { return (float)std::sqrt((double)a); }

}  // namespace

float refColor(float x, float y, float mx, float my, int precision) {
    float re = x;
    float im = y;
    for (int i = 0; i < precision; i++) {
        const float sqRe = rsub(rmul(re, re), rmul(im, im));
        const float sqIm = radd(rmul(re, im), rmul(re, im));
        re = radd(sqRe, mx);
        im = radd(sqIm, my);
        if (radd(rmul(re, re), rmul(im, im)) > 4.0f) {
            return rsub(1.0f, rdiv((float)i, (float)precision));
        }
    }
    return 0.0f;
}

std::vector<float4> refImage(const FrameParams& s) {
    std::vector<float4> img(1024 * 768);
    for (int i = 0; i < 768; i++) {
        for (int j = 0; j < 1024; j++) {
            const float x = rmul(s.scale, (float)(j - 512));
            const float y = rmul(s.scale, (float)(i - 384));
            const float c = refColor(x, y, s.mx, s.my, s.precision);
            const float dx = rsub(x, s.mx);
            const float dy = rsub(y, s.my);
            const bool marked = (double)rsqrt(radd(rmul(dx, dx), rmul(dy, dy))) < 0.01;
            img[i * 1024 + j] = float4{marked ? 1.0f : c, c, 1.0f, 1.0f};
        }
    }
    return img;
}
