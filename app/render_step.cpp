// The renderer entry points that feed the state's fields to render/, and the GPU's fallback.
#include "render_step.h"

#include <cstdio>
#include <string>

#include "app_state.h"
#include "cpu_renderer.h"
#include "gpu_renderer.h"
#include "modes.h"
#include "simd_renderer.h"

static void computeJuliaCPU() {
    renderJuliaCPU(state.h_pixels, frameParams(state));
}

// The workers run only inside this call: between frames they sleep and the GLUT thread draws.
static void computeJuliaSIMD() {
    renderJuliaSIMD(simdRun.target, state.h_pixels, frameParams(state), simdRun.threads);
}

// Returns false when the GPU could not render the frame, after printing why.
static bool computeJuliaGPU() {
    std::string why;
    if (!renderJuliaGPU(state.h_pixels, state.d_pixels, frameParams(state), &why)) {
        printf("ERROR: the GPU could not render the frame: %s; switching to the %s renderer\n",
               why.c_str(), fallbackName());
        fflush(stdout);
        return false;
    }
    return true;
}

void renderCurrentMode() {
    if (state.h_pixels == nullptr) {
        return;  // the host image could not be allocated: nothing to render into
    }
    switch (state.mode) {
        case MODE_CPU:
            computeJuliaCPU();
            break;
        case MODE_GPU:
            // A failed launch or kernel leaves an old or half-copied image under a "GPU mode"
            // title: the CPU renderer the user came from renders this frame and the next ones.
            if (!computeJuliaGPU()) {
                setMode(gpuFallbackMode());
                renderCurrentMode();
            }
            break;
        case MODE_SIMD:
            computeJuliaSIMD();
            break;
    }
}
