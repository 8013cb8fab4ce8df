// The kernel juliaColorGPU and its host-side launch. Each thread runs the very pixel rule that the
// CPU renderer runs, compiled from the same header for the device.
#include "gpu_renderer.h"
#include "gpu_status.h"

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
    // A non-sticky error left by an earlier call (a failed cudaFree, say) is not this launch's.
    // A sticky one survives this and makes the launch fail, as it should.
    cudaGetLastError();
    // A refused configuration or argument set-up launches nothing; the error is then pending here.
    juliaColorGPU<<<NUM_BLOCKS, THREADS_PER_BLOCK, 0, 0>>>(d_pixels, mx, my, precision, scale);
    return cudaGetLastError();
}

cudaError_t renderJuliaGPU(float4* h_pixels, float4* d_pixels, float mx, float my, int precision,
                           float scale) {
    const cudaError_t launched = launchJuliaGPU(d_pixels, mx, my, precision, scale);
    // The copy waits for the kernel, so a fault while it ran (an illegal address, the watchdog, a
    // lost device) surfaces here and nowhere earlier.
    const cudaError_t copied = cudaMemcpy(h_pixels, d_pixels, BUFFER_SIZE, cudaMemcpyDeviceToHost);
    return launched != cudaSuccess ? launched : copied;
}

cudaError_t juliaKernelAttributes(cudaFuncAttributes* attributes) {
    const cudaError_t err = cudaFuncGetAttributes(attributes, juliaColorGPU);
    cudaGetLastError();
    return err;
}
