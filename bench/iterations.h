// The work in a frame: how many steps of z <- z^2 + c the escape-time rule performs. Counted
// apart from the timed frames, by the rule's own loop (escapeStep);
// and estimated from a sample, row by row, where an exact count would itself take too long.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

// Steps juliaColor takes from (x, y): up to and including the escaping one, or all `precision`
// when the point stays bounded; 0 for a limit of 0 or below.
int juliaSteps(float x, float y, float mx, float my, int precision);

// The sum of juliaSteps over every pixel of the frame. `rowsDone`, when given, is raised by one as
// each row is counted.
int64_t frameIterations(float mx, float my, int precision, float scale,
                        std::atomic<int>* rowsDone = nullptr);

// An estimate of a frame's work, made in a fraction of a second whatever the limit.
struct WorkEstimate {
    std::vector<double> before;   // before[r]: estimated steps in rows 0 to r-1; HEIGHT + 1 entries
    double secondsPerStep = 0;    // as the sample ran on this machine; 0 when it took no steps
    double total() const { return before.back(); }
};

// Samples one pixel in every 16 x 16 block with the limit capped so the sample stays under about
// 2e7 steps; a sampled point still bounded at the cap is taken to stay bounded to the limit.
WorkEstimate estimateWork(float mx, float my, int precision, float scale);
