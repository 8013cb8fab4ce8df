// The results as an aligned table or as JSON lines.
#pragma once

#include <cstdint>
#include <string>

#include "options.h"
#include "timing.h"

struct RendererReport {
    const char* renderer;
    int frames;
    Summary frameMs;
    int64_t iterations;  // per frame
    bool gpu = false;
    double kernelMs = 0;  // medians, GPU only
    double copyMs = 0;
};

// The shortest decimal that reads back as exactly `v` ("0.003", "-0.8"), at most 9 digits.
std::string shortFloat(float v);

// "seed (-0.8, 0.156), limit 100, scale 0.003, 1024x768: 50 timed frames after 3 warm-up"
std::string runDescription(const BenchOptions& o);
std::string tableHeader();
std::string tableRow(const RendererReport& r);
// "speedup GPU/CPU of the median frame: 41.3x"
std::string speedupLine(const RendererReport& cpu, const RendererReport& gpu);
// One JSON object, no newline. Quantities that do not exist (ns per iteration of a frame without
// iterations) are null, never nan or inf, which JSON has no words for.
std::string jsonLine(const RendererReport& r, const BenchOptions& o);
// A renderer that was asked for (by `all`) but could not run, so that scripts can tell it from one
// not asked for: {"renderer":"gpu","skipped":true,"reason":"..."}
std::string jsonSkipped(const char* renderer, const std::string& reason);
