// Timed frames, and the summary of a series of timings.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "frame_params.h"
#include "pixel.h"

struct Summary {
    double min = 0, median = 0, max = 0;  // the median of an even count is the mean of the middle two
};

Summary summarize(std::vector<double> samples);

// Called before each frame, outside the timed part: whether the frame is timed, its number from 1
// and how many frames of its kind there are.
using FrameHook = std::function<void(bool timed, int k, int count)>;

// `warmup` untimed calls of `render`, then `frames` calls each timed on the steady clock, in
// milliseconds.
std::vector<double> timeFrames(const std::function<void()>& render, int warmup, int frames,
                               const FrameHook& beforeFrame = nullptr);

struct GpuSamples {
    std::vector<double> frameMs;   // host clock around the launch and the copy, as the viewer runs it
    std::vector<double> kernelMs;  // CUDA events around the kernel
    std::vector<double> copyMs;    // CUDA events around the device-to-host copy
};

// Like timeFrames for the GPU frame, which leaves the last frame in `h_pixels`; false, with *error
// set, at the first CUDA error.
bool timeGpuFrames(float4* h_pixels, float4* d_pixels, const FrameParams& p, int warmup,
                   int frames, GpuSamples* samples, std::string* error);
