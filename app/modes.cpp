// Allocation and release of the host and device images for the render modes.
#include "modes.h"

#include <cstdio>
#include <cstdlib>

#include <string>

#include "app_state.h"
#include "geometry.h"
#include "gpu_renderer.h"

// Cleared, so that a display before the first frame step shows black rather than old memory.
static float4* allocHostImage() {
    return static_cast<float4*>(calloc(1, BUFFER_SIZE));
}

void initCPU() {
    state.h_pixels = allocHostImage();
}

void cleanCPU() {
    free(state.h_pixels);
    state.h_pixels = nullptr;
}

// Without a usable GPU the device image cannot exist; the program then says why and stays in CPU
// mode, so the title never claims a GPU that renders nothing.
void initGPU() {
    std::string why;
    float4* d = allocDeviceImage(&why);
    if (d == nullptr) {
        printf("ERROR: no usable GPU: %s; staying on the CPU renderer\n", why.c_str());
        fflush(stdout);
        state.mode = MODE_CPU;
        initCPU();
        return;
    }
    state.d_pixels = d;
    state.h_pixels = allocHostImage();
}

void cleanGPU() {
    freeDeviceImage(state.d_pixels);
    state.d_pixels = nullptr;
    free(state.h_pixels);
    state.h_pixels = nullptr;
}

void initMode() {
    switch (state.mode) {
        case MODE_CPU: initCPU(); break;
        case MODE_GPU: initGPU(); break;
    }
}

void cleanMode() {
    switch (state.mode) {
        case MODE_CPU: cleanCPU(); break;
        case MODE_GPU: cleanGPU(); break;
    }
}

// No comparison with the current mode: selecting it again releases and reallocates its buffers.
void setMode(int m) {
    cleanMode();
    state.mode = m;
    initMode();
}
