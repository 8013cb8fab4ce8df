// The process-wide state record: the view parameters, the render mode, the title's frame counter
// and the pixel buffers of the current mode.
#pragma once

#include "frame_params.h"
#include "pixel.h"
#include "simd_renderer.h"

// SIMD: the CPU at its best (vector lanes on every hardware thread), for a fair match with the GPU.
enum RenderMode { MODE_CPU = 1, MODE_GPU = 2, MODE_SIMD = 3 };

struct AppState {
    int precision;      // iteration limit
    float scale;        // plane units per pixel
    int mode;           // MODE_CPU, MODE_GPU or MODE_SIMD, changed by setMode only
    float mx;           // seed, real part
    float my;           // seed, imaginary part
    int frameCount;     // frame steps since the last title refresh
    int lastTitleTime;  // GLUT elapsed milliseconds at the last title refresh
    float4* h_pixels;   // host image, in both modes (null only if it could not be allocated)
    float4* d_pixels;   // device image, exactly while mode is MODE_GPU
    bool h_pinned;      // h_pixels is GPU mode's page-locked image (released by cudaFreeHost)
    bool periodicity;   // --periodicity: every mode ends a pixel whose orbit repeats exactly
};

// Statically initialised: every field holds its initial value before main runs.
extern AppState state;
// What SIMD mode runs on, resolved when the mode is entered so that a frame looks nothing up:
// every frame of the mode and its title use this target and this thread count.
struct SimdRun {
    SimdTarget target;
    int threads = 0;
};
extern SimdRun simdRun;

// The seed, limit, scale and periodicity check of `state`, as the renderers take them.
FrameParams frameParams(const AppState& s);
