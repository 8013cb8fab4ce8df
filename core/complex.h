// Single-precision complex arithmetic shared by both renderers. Each product and each sum is its own
// rounded operation; the build forbids fusing them (no FMA contraction on either side).
#pragma once

#include "hd.h"

struct Complex {
    float reel;
    float im;
};

JULIA_HD Complex mul_complex(Complex c1, Complex c2) {
    Complex c3;
    c3.reel = (c1.reel * c2.reel) - (c1.im * c2.im);
    c3.im = (c1.reel * c2.im) + (c2.reel * c1.im);
    return c3;
}

JULIA_HD Complex add_complex(Complex c1, Complex c2) {
    Complex c3;
    c3.reel = c1.reel + c2.reel;
    c3.im = c1.im + c2.im;
    return c3;
}

JULIA_HD float squaredMagnitude(Complex a) {
    return (a.reel * a.reel) + (a.im * a.im);
}
