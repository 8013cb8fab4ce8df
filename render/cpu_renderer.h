// The CPU renderer: fills a whole PixelImage with the pixel rule, on the calling thread.
#pragma once
#include <atomic>
#include <cstdint>

#include "frame_params.h"
#include "pixel.h"

// Writes all WIDTH x HEIGHT pixels of `pixels` (BUFFER_SIZE bytes), row 0 first, strictly in
// memory order, with the periodicity check where p.periodicity asks for it (the same pixels). `rowsDone`, when given, is raised by one as each row is finished, so that another
// thread can show how far a long frame has come.
void renderJuliaCPU(float4* pixels, const FrameParams& p, std::atomic<int>* rowsDone = nullptr);

// The frame's work: the sum of juliaSteps over every pixel, the steps the loop above takes. On
// every core, as the count can cost as much as a frame. `rowsDone` as above.
int64_t frameIterations(float mx, float my, int precision, float scale,
                        std::atomic<int>* rowsDone = nullptr);

// The frame's work both ways: the rule's steps (frameIterations) and the steps the CPU renderer
// takes for p, the sum of juliaStepsPeriodic where p asks for the check. One pass: the checked
// loop ends on the same escape step, so the rule's steps follow from it. `rowsDone` as above.
struct FrameWork {
    int64_t iterations = 0;
    int64_t steps = 0;
};
FrameWork frameWork(const FrameParams& p, std::atomic<int>* rowsDone = nullptr);
