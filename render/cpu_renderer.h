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

// The steps the CPU renderer takes for the frame p: frameIterations without the periodicity check,
// the sum of juliaStepsPeriodic with it. `rowsDone` as above.
int64_t frameSteps(const FrameParams& p, std::atomic<int>* rowsDone = nullptr);
