// Allocation and release of the host and device images for the two render modes.
#include "modes.h"

#include <cstdio>
#include <cstdlib>

#include <cuda_runtime_api.h>

#include "app_state.h"
#include "geometry.h"

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
    void* d = nullptr;
    const cudaError_t err = cudaMalloc(&d, BUFFER_SIZE);
    if (err != cudaSuccess) {
        printf("ERROR: no usable GPU: %s; staying on the CPU renderer\n", cudaGetErrorString(err));
        fflush(stdout);
        cudaGetLastError();  // clear it, so it is not mistaken later for a launch failure
        state.mode = MODE_CPU;
        initCPU();
        return;
    }
    state.d_pixels = static_cast<float4*>(d);
    state.h_pixels = allocHostImage();
}

void cleanGPU() {
    cudaFree(state.d_pixels);
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
