// The GPU renderer, and with it every use of the CUDA runtime in the program: whether a GPU is
// usable, the device image, one frame (a kernel with one thread per pixel, then the whole image
// copied back), the same frame timed on the device, and what a GPU run depends on. Plain C++
// includes this header; gpu_renderer.cu implements it with CUDA, and a build without CUDA links
// gpu_absent.cpp instead, whose every call fails with NO_CUDA_REASON.
#pragma once
#include <string>

#include "frame_params.h"
#include "pixel.h"

constexpr int THREADS_PER_BLOCK = 512;
constexpr int NUM_BLOCKS = 1536;  // exactly one thread per pixel: 1536 * 512 = 1024 * 768

constexpr const char* NO_CUDA_REASON = "this build has no CUDA support";

// True when this program was built with the GPU renderer (a CUDA toolkit was found).
bool gpuRendererBuilt();

// True when the CUDA runtime reports at least one device. Otherwise false, with *why (if given)
// saying what the runtime reported. The runtime's error is cleared, so it is not mistaken later
// for the failure of another call.
bool gpuUsable(std::string* why = nullptr);

// The device image, BUFFER_SIZE bytes; null, with *why (if given) set to the runtime's reason,
// when it cannot be had. The error is cleared, so it is not blamed on a later launch.
float4* allocDeviceImage(std::string* why = nullptr);
// Releases it; null is accepted and does nothing.
void freeDeviceImage(float4* d_pixels);

// A host image for GPU frames: BUFFER_SIZE zeroed bytes, page-locked where the runtime can pin
// them (the copy back then runs at the bus's speed), else ordinary memory; pixels is null only
// when neither can be had.
struct HostImage {
    float4* pixels = nullptr;
    bool pinned = false;  // how it must be released
};
HostImage allocGpuHostImage();
// Releases it either way; a null image is accepted and does nothing.
void freeGpuHostImage(const HostImage& image);

// One frame: the launch on the default stream (juliaColorGPU, or juliaColorGPUPeriodic on the same
// grid where p.periodicity asks for the check: the same image, fewer steps), then always the
// device-to-host copy of the whole image (which waits for the kernel). False, with *why, when the
// launch was refused, the kernel failed while running (that surfaces in the copy) or the copy
// failed: the host image must then not be shown as this frame. An error pending from an earlier,
// unrelated call is not blamed.
bool renderJuliaGPU(float4* h_pixels, float4* d_pixels, const FrameParams& p,
                    std::string* why = nullptr);

// The same frame with its cost: the host clock around launch and copy, as the viewer sees it, and
// device events around the kernel and around the copy.
struct GpuFrameTimes {
    double frameMs = 0;
    double kernelMs = 0;
    double copyMs = 0;
};
bool renderJuliaGPUTimed(float4* h_pixels, float4* d_pixels, const FrameParams& p,
                         GpuFrameTimes* times, std::string* why = nullptr);

// What a GPU run depends on: the CUDA versions (as 13.0 is 13000; 0 where none) and, where a
// device is usable, the device and the kernel image the runtime picked for it (one image holds
// both kernels; the periodicity check needs registers of its own).
struct GpuInfo {
    int runtimeVersion = 0;  // the runtime linked in
    int driverVersion = 0;   // what the loaded driver supports
    bool device = false;     // the fields below are set
    std::string name;
    int major = 0, minor = 0, multiprocessors = 0;
    long long memoryMiB = 0;
    bool kernel = false;  // the kernels can run here; the fields below are set
    int binaryVersion = 0, ptxVersion = 0, registers = 0;
    int periodicRegisters = 0;  // juliaColorGPUPeriodic's; registers is juliaColorGPU's
};
// Fills what can be known; false, with *why, when no GPU is usable or a kernel cannot run on it.
bool gpuInfo(GpuInfo* info, std::string* why);
