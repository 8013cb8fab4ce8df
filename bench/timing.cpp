// Frames timed on the steady clock, the GPU's with its device events, and their summary.
#include "timing.h"

#include <algorithm>
#include <chrono>

#include "gpu_renderer.h"

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

std::vector<double> timeFrames(const std::function<void()>& render, int warmup, int frames,
                               const FrameHook& beforeFrame) {
    using Clock = std::chrono::steady_clock;
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
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
    }
    return ms;
}

bool timeGpuFrames(float4* h_pixels, float4* d_pixels, const FrameParams& p, int warmup,
                   int frames, GpuSamples* samples, std::string* error) {
    for (int k = 0; k < warmup; k++) {
        if (!renderJuliaGPU(h_pixels, d_pixels, p, error)) return false;
    }
    for (int k = 0; k < frames; k++) {
        GpuFrameTimes t;
        if (!renderJuliaGPUTimed(h_pixels, d_pixels, p, &t, error)) return false;
        samples->frameMs.push_back(t.frameMs);
        samples->kernelMs.push_back(t.kernelMs);
        samples->copyMs.push_back(t.copyMs);
    }
    return true;
}
