// What one frame depends on besides the fixed view: the seed, the iteration limit and the scale.
// Every renderer, the bench and the tests take it in this one shape.
#pragma once

struct FrameParams {
    float mx;       // seed, real part
    float my;       // seed, imaginary part
    int precision;  // iteration limit; 0 or below: no step, every point gets 0
    float scale;    // plane units per pixel
    // End a pixel as soon as its orbit repeats exactly (escapeStepPeriodic): the same image, far
    // fewer steps where the picture has an interior. Off: the plain escape-time loop.
    bool periodicity = false;
};
