// The results as an aligned table or as JSON lines, and the comparisons of --verify; and the one
// way the bench reports an error or a warning.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "compare.h"
#include "frame_params.h"
#include "renderer_id.h"
#include "timing.h"

// A result: a line on standard output, flushed at once for a script that reads a pipe.
void say(const std::string& line);
// An error or a warning: a line on standard error, after the program's name.
void sayError(const std::string& message);

// What every result of a run shares.
struct RunInfo {
    FrameParams frame;
    int frames;  // timed, per renderer
    int warmup;
};

struct RendererReport {
    Renderer renderer;
    int frames;
    Summary frameMs;
    int64_t iterations;  // per frame: the rule's steps, the loop's without the periodicity check
    double kernelMs = 0;  // medians, GPU only
    double copyMs = 0;
    int threads = 1;          // 0: not a CPU thread count (the GPU)
    std::string target = "";  // the Highway target, SIMD only
    double vsCpu = 0;         // speedups of the median frame; 0: not measured in this run
    double vsSimd = 0;        // the GPU against the SIMD renderer on all its threads
    int64_t steps = 0;        // per frame, the CPU loop's with the periodicity check (shown with it)
};

// The fewest digits that read back as exactly `v` ("0.003", "-0.8", "1000000", "1e-45").
std::string shortFloat(float v);
// "1 thread", "2 threads"
std::string threadCount(int threads);

// "seed (-0.8, 0.156), limit 100, scale 0.003, 1024x768: 50 timed frames after 3 warm-up"
std::string runDescription(const RunInfo& run);
// With the periodicity check (run.frame.periodicity), the table adds the steps per frame and its
// time per step is per those steps; JSON adds "periodicity":true to the frame, "steps" and
// "ns_per_step". Without it, neither.
std::string tableHeader(const RunInfo& run);
std::string tableRow(const RendererReport& r, const RunInfo& run);
// The line above a table with the periodicity check, saying what its steps are.
std::string stepsLegend();
// Fills in the speedups of `rows` (in the order they ran): each against the cpu row, and the gpu
// row against the simd row with the most threads.
void setSpeedups(std::vector<RendererReport>& rows);
// "speedup over cpu of the median frame: simd 1 thread 7.5x, simd 2 threads 14.1x, gpu 80.2x"
// and "speedup gpu/simd on 2 threads: 5.7x", each only where both rows ran.
std::vector<std::string> speedupLines(const std::vector<RendererReport>& rows);
// One JSON object, no newline. Quantities that do not exist (ns per iteration of a frame without
// iterations) are null, never nan or inf, which JSON has no words for.
std::string jsonLine(const RendererReport& r, const RunInfo& run);

// A renderer that was asked for but could not run, so that scripts can tell it from one not asked
// for: "gpu: skipped: REASON", or {"renderer":"gpu","skipped":true,"reason":"REASON"}.
std::string skippedLine(Renderer renderer, const std::string& reason, bool json);

// One renderer's frame against the cpu frame for --verify: a line and then the first differing
// pixels, or one JSON object. `target` and `threads` describe a SIMD renderer; empty and 0 for
// another.
std::string verifyReport(const FrameParams& frame, Renderer renderer, const std::string& target,
                         int threads, const FrameComparison& cmp, bool json);
