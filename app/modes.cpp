// Allocation and release of the host and device images for the render modes.
#include "modes.h"

#include <cstdio>
#include <cstdlib>

#include <algorithm>
#include <string>

#include <omp.h>

#include "app_state.h"
#include "geometry.h"
#include "gpu_renderer.h"

// A host image that could not be had is said; the mode then runs on with none, and the frame
// step and the display skip it.
static float4* reported(float4* image) {
    if (image == nullptr) {
        printf("ERROR: cannot allocate the host image (%zu bytes)\n", BUFFER_SIZE);
        fflush(stdout);
    }
    return image;
}

// Cleared, so that a display before the first frame step shows black rather than old memory.
static float4* allocHostImage() {
    return reported(static_cast<float4*>(calloc(1, BUFFER_SIZE)));
}

void initCPU() {
    state.h_pixels = allocHostImage();
}

static void cleanCPU() {
    free(state.h_pixels);
    state.h_pixels = nullptr;
}

// The CPU renderer (the loop or SIMD) that the user chose last.
static int cpuSideMode = MODE_CPU;

int gpuFallbackMode() {
    return cpuSideMode;
}

const char* fallbackName() {
    return cpuSideMode == MODE_SIMD ? "SIMD" : "CPU";
}

// The best target this CPU runs and every thread OpenMP would use (OMP_NUM_THREADS limits them;
// a thread limit caps them too, so the title never names more threads than a frame gets).
static void initSIMD() {
    findSimdTarget("", &simdRun.target);
    simdRun.threads = std::min(simdThreads(0), omp_get_thread_limit());
    state.h_pixels = allocHostImage();
}

static void cleanSIMD() {
    cleanCPU();
}

// Without a usable GPU the device image cannot exist; this says why, allocates nothing and returns
// false, and setMode stays on the CPU renderer the user came from, so the title never claims a GPU
// that renders nothing.
static bool initGPU() {
    std::string why;
    float4* d = allocDeviceImage(&why);
    if (d == nullptr) {
        printf("ERROR: no usable GPU: %s; staying on the %s renderer\n", why.c_str(),
               fallbackName());
        fflush(stdout);
        return false;
    }
    state.d_pixels = d;
    // Page-locked where possible, so that the frame's copy back runs at the bus's speed.
    const HostImage h = allocGpuHostImage();
    state.h_pixels = reported(h.pixels);
    state.h_pinned = h.pinned;
    return true;
}

static void cleanGPU() {
    freeDeviceImage(state.d_pixels);
    state.d_pixels = nullptr;
    freeGpuHostImage({state.h_pixels, state.h_pinned});
    state.h_pixels = nullptr;
    state.h_pinned = false;
}

bool initMode() {
    switch (state.mode) {
        case MODE_CPU: initCPU(); break;
        case MODE_GPU: return initGPU();
        case MODE_SIMD: initSIMD(); break;
    }
    return true;
}

void cleanMode() {
    switch (state.mode) {
        case MODE_CPU: cleanCPU(); break;
        case MODE_GPU: cleanGPU(); break;
        case MODE_SIMD: cleanSIMD(); break;
    }
}

// No comparison with the current mode: selecting it again releases and reallocates its buffers.
void setMode(int m) {
    if (m != MODE_GPU) cpuSideMode = m;
    cleanMode();
    state.mode = m;
    if (!initMode()) {
        state.mode = gpuFallbackMode();
        initMode();
    }
}
