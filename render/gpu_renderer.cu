// The kernels juliaColorGPU and juliaColorGPUPeriodic, their launch and copy, and the program's
// other uses of the CUDA runtime. Each thread runs the very pixel rule that the CPU renderer runs,
// compiled from the same header for the device.
#include "gpu_renderer.h"

#include <chrono>
#include <cstdlib>
#include <cstring>

#include <cuda_runtime_api.h>

#include "julia.h"

static_assert(NUM_BLOCKS * THREADS_PER_BLOCK == PIXEL_COUNT, "one thread per pixel");

// This thread's pixel: row *i, column *j; false for a thread past the image's last pixel.
__device__ __forceinline__ bool threadPixel(int* i, int* j) {
    const int index = blockIdx.x * blockDim.x + threadIdx.x;
    if (index >= PIXEL_COUNT) {
        return false;
    }
    *i = index / WIDTH;
    *j = index % WIDTH;
    return true;
}

__global__ void juliaColorGPU(float4* d_pixels, float mx, float my, int precision, float scale) {
    int i, j;
    if (threadPixel(&i, &j)) juliaPixel(d_pixels, i, j, mx, my, precision, scale);
}

// The same grid and pixels with the periodicity check. A kernel of its own rather than a flag
// that every thread tests, so the default kernel stays the plain loop, instruction for instruction.
__global__ void juliaColorGPUPeriodic(float4* d_pixels, float mx, float my, int precision,
                                      float scale) {
    int i, j;
    if (threadPixel(&i, &j)) juliaPixelPeriodic(d_pixels, i, j, mx, my, precision, scale);
}

namespace {

// False, with *why (if given) naming the step, for any error.
bool ok(cudaError_t err, const char* what, std::string* why) {
    if (err == cudaSuccess) return true;
    if (why) *why = std::string(what) + cudaGetErrorString(err);
    return false;
}

// Launches the kernel that p asks for and returns at once with the launch's own error (a refused
// configuration or argument set-up launches nothing), not the kernel's outcome.
cudaError_t launch(float4* d_pixels, const FrameParams& p) {
    // A non-sticky error left by an earlier call (a failed cudaFree, say) is not this launch's.
    // A sticky one survives this and makes the launch fail, as it should.
    cudaGetLastError();
    if (p.periodicity) {
        juliaColorGPUPeriodic<<<NUM_BLOCKS, THREADS_PER_BLOCK, 0, 0>>>(d_pixels, p.mx, p.my,
                                                                      p.precision, p.scale);
    } else {
        juliaColorGPU<<<NUM_BLOCKS, THREADS_PER_BLOCK, 0, 0>>>(d_pixels, p.mx, p.my, p.precision,
                                                              p.scale);
    }
    return cudaGetLastError();
}

// The copy waits for the kernel, so a fault while it ran (an illegal address, the watchdog, a
// lost device) surfaces here and nowhere earlier.
cudaError_t copyBack(float4* h_pixels, const float4* d_pixels) {
    return cudaMemcpy(h_pixels, d_pixels, BUFFER_SIZE, cudaMemcpyDeviceToHost);
}

// Three events on the default stream: before the kernel, between kernel and copy, after the copy.
struct FrameEvents {
    cudaEvent_t start = nullptr, launched = nullptr, copied = nullptr;
    ~FrameEvents() {
        if (start) cudaEventDestroy(start);
        if (launched) cudaEventDestroy(launched);
        if (copied) cudaEventDestroy(copied);
    }
};

}  // namespace

bool gpuRendererBuilt() {
    return true;
}

bool gpuUsable(std::string* why) {
    int count = 0;
    const cudaError_t err = cudaGetDeviceCount(&count);
    cudaGetLastError();
    if (!ok(err, "cudaGetDeviceCount: ", why)) return false;
    if (count == 0) {
        if (why) *why = "cudaGetDeviceCount found no CUDA device";
        return false;
    }
    return true;
}

float4* allocDeviceImage(std::string* why) {
    void* d = nullptr;
    const cudaError_t err = cudaMalloc(&d, BUFFER_SIZE);
    cudaGetLastError();
    return ok(err, "", why) ? static_cast<float4*>(d) : nullptr;
}

void freeDeviceImage(float4* d_pixels) {
    if (d_pixels) cudaFree(d_pixels);
}

// Without a driver, or with the page-locked limit reached, pinning fails: ordinary memory then
// gives the same frames, only a slower copy.
HostImage allocGpuHostImage() {
    void* h = nullptr;
    if (cudaMallocHost(&h, BUFFER_SIZE) == cudaSuccess) {
        std::memset(h, 0, BUFFER_SIZE);
        return {static_cast<float4*>(h), true};
    }
    cudaGetLastError();  // not to be blamed on a later launch
    return {static_cast<float4*>(calloc(1, BUFFER_SIZE)), false};
}

void freeGpuHostImage(const HostImage& image) {
    if (image.pinned) {
        cudaFreeHost(image.pixels);
    } else {
        free(image.pixels);
    }
}

bool renderJuliaGPU(float4* h_pixels, float4* d_pixels, const FrameParams& p, std::string* why) {
    const cudaError_t launched = launch(d_pixels, p);
    const cudaError_t copied = copyBack(h_pixels, d_pixels);  // also after a refused launch
    return ok(launched, "kernel launch: ", why) &&
           ok(copied, "kernel or device-to-host copy: ", why);
}

bool renderJuliaGPUTimed(float4* h_pixels, float4* d_pixels, const FrameParams& p,
                         GpuFrameTimes* times, std::string* why) {
    using Clock = std::chrono::steady_clock;
    FrameEvents ev;  // created before the host clock starts, so they cost the frame nothing
    if (!ok(cudaEventCreate(&ev.start), "cudaEventCreate: ", why) ||
        !ok(cudaEventCreate(&ev.launched), "cudaEventCreate: ", why) ||
        !ok(cudaEventCreate(&ev.copied), "cudaEventCreate: ", why)) {
        return false;
    }
    const Clock::time_point t0 = Clock::now();
    if (!ok(cudaEventRecord(ev.start, 0), "cudaEventRecord: ", why) ||
        !ok(launch(d_pixels, p), "kernel launch: ", why) ||
        !ok(cudaEventRecord(ev.launched, 0), "cudaEventRecord: ", why) ||
        !ok(copyBack(h_pixels, d_pixels), "kernel or device-to-host copy: ", why) ||
        !ok(cudaEventRecord(ev.copied, 0), "cudaEventRecord: ", why)) {
        return false;
    }
    times->frameMs = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
    float kernel = 0, copy = 0;
    if (!ok(cudaEventSynchronize(ev.copied), "cudaEventSynchronize: ", why) ||
        !ok(cudaEventElapsedTime(&kernel, ev.start, ev.launched), "cudaEventElapsedTime: ", why) ||
        !ok(cudaEventElapsedTime(&copy, ev.launched, ev.copied), "cudaEventElapsedTime: ", why)) {
        return false;
    }
    times->kernelMs = kernel;
    times->copyMs = copy;
    return true;
}

bool gpuInfo(GpuInfo* info, std::string* why) {
    cudaRuntimeGetVersion(&info->runtimeVersion);
    cudaDriverGetVersion(&info->driverVersion);  // 0 where no driver is loaded
    if (!gpuUsable(why)) return false;
    int device = 0;
    cudaDeviceProp prop{};
    cudaGetDevice(&device);
    if (cudaGetDeviceProperties(&prop, device) == cudaSuccess) {
        info->device = true;
        info->name = prop.name;
        info->major = prop.major;
        info->minor = prop.minor;
        info->multiprocessors = prop.multiProcessorCount;
        info->memoryMiB = static_cast<long long>(prop.totalGlobalMem >> 20);
    }
    cudaFuncAttributes attr{}, periodic{};
    cudaError_t err = cudaFuncGetAttributes(&attr, juliaColorGPU);
    cudaGetLastError();
    if (!ok(err, "kernel juliaColorGPU cannot run here: ", why)) return false;
    // Its own registers, for the figures; one image holds both kernels, so it fails where that did.
    err = cudaFuncGetAttributes(&periodic, juliaColorGPUPeriodic);
    cudaGetLastError();
    if (!ok(err, "kernel juliaColorGPUPeriodic cannot run here: ", why)) return false;
    info->kernel = true;
    info->binaryVersion = attr.binaryVersion;
    info->ptxVersion = attr.ptxVersion;
    info->registers = attr.numRegs;
    info->periodicRegisters = periodic.numRegs;
    return true;
}
