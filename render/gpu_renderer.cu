// The kernel juliaColorGPU and its host-side launch. Each thread runs the very pixel rule that the
// CPU renderer runs, compiled from the same header for the device.
#include "gpu_renderer.h"

#include "julia.h"

static_assert(NUM_BLOCKS * THREADS_PER_BLOCK == PIXEL_COUNT, "one thread per pixel");

__global__ void juliaColorGPU(float4* d_pixels, float mx, float my, int precision, float scale) {
    const int index = blockIdx.x * blockDim.x + threadIdx.x;
    if (index >= PIXEL_COUNT) {
        return;
    }
    const int i = index / WIDTH;
    const int j = index % WIDTH;
    juliaPixel(d_pixels, i, j, mx, my, precision, scale);
}

cudaError_t launchJuliaGPU(float4* d_pixels, float mx, float my, int precision, float scale) {
    // A refused configuration or argument set-up launches nothing; the error is then pending here.
    juliaColorGPU<<<NUM_BLOCKS, THREADS_PER_BLOCK, 0, 0>>>(d_pixels, mx, my, precision, scale);
    return cudaGetLastError();
}

cudaError_t renderJuliaGPU(float4* h_pixels, float4* d_pixels, float mx, float my, int precision,
                           float scale) {
    const cudaError_t launched = launchJuliaGPU(d_pixels, mx, my, precision, scale);
    cudaMemcpy(h_pixels, d_pixels, BUFFER_SIZE, cudaMemcpyDeviceToHost);
    return launched;
}
