#include "timing.h"

#include <algorithm>
#include <chrono>

#include <cuda_runtime_api.h>

#include "cpu_renderer.h"
#include "geometry.h"
#include "gpu_renderer.h"
#include "simd_renderer.h"

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

bool cudaOk(cudaError_t err, const char* what, std::string* error) {
    if (err == cudaSuccess) return true;
    *error = std::string(what) + ": " + cudaGetErrorString(err);
    return false;
}

// Three events on the default stream: before the kernel, between kernel and copy, after the copy.
struct FrameEvents {
    cudaEvent_t start = nullptr, launched = nullptr, copied = nullptr;
    ~FrameEvents() {
        if (start) cudaEventDestroy(start);
        if (launched) cudaEventDestroy(launched);
        if (copied) cudaEventDestroy(copied);
    }
    bool create(std::string* error) {
        return cudaOk(cudaEventCreate(&start), "cudaEventCreate", error) &&
               cudaOk(cudaEventCreate(&launched), "cudaEventCreate", error) &&
               cudaOk(cudaEventCreate(&copied), "cudaEventCreate", error);
    }
};

bool gpuFrame(float4* h_pixels, float4* d_pixels, const FrameParams& p, FrameEvents* ev,
              std::string* error) {
    if (ev && !cudaOk(cudaEventRecord(ev->start, 0), "cudaEventRecord", error)) return false;
    if (!cudaOk(launchJuliaGPU(d_pixels, p.mx, p.my, p.precision, p.scale), "kernel launch",
                error)) {
        return false;
    }
    if (ev && !cudaOk(cudaEventRecord(ev->launched, 0), "cudaEventRecord", error)) return false;
    // The copy waits for the kernel, so a fault inside the kernel surfaces here.
    if (!cudaOk(cudaMemcpy(h_pixels, d_pixels, BUFFER_SIZE, cudaMemcpyDeviceToHost),
                "kernel or device-to-host copy", error)) {
        return false;
    }
    return !ev || cudaOk(cudaEventRecord(ev->copied, 0), "cudaEventRecord", error);
}

}  // namespace

Summary summarize(std::vector<double> samples) {
    Summary s;
    if (samples.empty()) return s;
    std::sort(samples.begin(), samples.end());
    const size_t n = samples.size();
    s.min = samples.front();
    s.max = samples.back();
    s.median = n % 2 ? samples[n / 2] : (samples[n / 2 - 1] + samples[n / 2]) / 2;
    return s;
}

namespace {

template <class Render>
std::vector<double> timeFrames(Render render, int warmup, int frames, const FrameHook& beforeFrame) {
    for (int k = 0; k < warmup; k++) {
        if (beforeFrame) beforeFrame(false, k + 1, warmup);
        render();
    }
    std::vector<double> ms;
    ms.reserve(frames);
    for (int k = 0; k < frames; k++) {
        if (beforeFrame) beforeFrame(true, k + 1, frames);
        const Clock::time_point t0 = Clock::now();
        render();
        ms.push_back(msSince(t0));
    }
    return ms;
}

}  // namespace

std::vector<double> timeCpuFrames(float4* h_pixels, const FrameParams& p, int warmup, int frames,
                                  std::atomic<int>* rowsDone, const FrameHook& beforeFrame) {
    return timeFrames(
        [&] { renderJuliaCPU(h_pixels, p.mx, p.my, p.precision, p.scale, rowsDone); }, warmup,
        frames, beforeFrame);
}

std::vector<double> timeSimdFrames(float4* h_pixels, const FrameParams& p,
                                   const std::string& target, int threads, int warmup, int frames,
                                   std::atomic<int>* rowsDone, const FrameHook& beforeFrame) {
    return timeFrames(
        [&] {
            renderJuliaSIMDOn(target, h_pixels, p.mx, p.my, p.precision, p.scale, threads,
                              SimdMode::Auto, rowsDone);
        },
        warmup, frames, beforeFrame);
}

// Exactly the viewer's GPU frame, so that what is verified is what the window shows.
bool renderGpuFrame(float4* h_pixels, float4* d_pixels, const FrameParams& p, std::string* error) {
    return cudaOk(renderJuliaGPU(h_pixels, d_pixels, p.mx, p.my, p.precision, p.scale),
                  "GPU frame (launch, kernel or device-to-host copy)", error);
}

bool timeGpuFrames(float4* h_pixels, float4* d_pixels, const FrameParams& p, int warmup,
                   int frames, GpuSamples* samples, std::string* error) {
    FrameEvents ev;
    if (!ev.create(error)) return false;
    for (int k = 0; k < warmup; k++) {
        if (!gpuFrame(h_pixels, d_pixels, p, nullptr, error)) return false;
    }
    for (int k = 0; k < frames; k++) {
        const Clock::time_point t0 = Clock::now();
        if (!gpuFrame(h_pixels, d_pixels, p, &ev, error)) return false;
        const double frameMs = msSince(t0);
        if (!cudaOk(cudaEventSynchronize(ev.copied), "cudaEventSynchronize", error)) return false;
        float kernel = 0, copy = 0;
        if (!cudaOk(cudaEventElapsedTime(&kernel, ev.start, ev.launched), "cudaEventElapsedTime",
                    error) ||
            !cudaOk(cudaEventElapsedTime(&copy, ev.launched, ev.copied), "cudaEventElapsedTime",
                    error)) {
            return false;
        }
        samples->frameMs.push_back(frameMs);
        samples->kernelMs.push_back(kernel);
        samples->copyMs.push_back(copy);
    }
    return true;
}
