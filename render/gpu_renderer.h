// The GPU renderer: one thread per pixel, then the whole image copied back to the host.
// Plain C++ may include this header; only gpu_renderer.cu is compiled by nvcc.
#pragma once

#include <cuda_runtime_api.h>
#include <vector_types.h>

constexpr int THREADS_PER_BLOCK = 512;
constexpr int NUM_BLOCKS = 1536;  // exactly one thread per pixel: 1536 * 512 = 1024 * 768

// Launches the kernel over the device image on the default stream and returns at once. The result
// is the launch's own error (for example no kernel image for this GPU), not the kernel's outcome;
// an error pending from an earlier, unrelated call is cleared first.
cudaError_t launchJuliaGPU(float4* d_pixels, float mx, float my, int precision, float scale);

// One frame: the launch, then always the device-to-host copy of the whole image (which waits for
// the kernel). Returns the launch's error, or else the copy's, which is also where a kernel that
// failed while running is reported. On any error the host image must not be shown as this frame.
cudaError_t renderJuliaGPU(float4* h_pixels, float4* d_pixels, float mx, float my, int precision,
                           float scale);
