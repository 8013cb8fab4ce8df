// The CPU renderer: the same pixel rule the kernel runs, applied row by row, column by column.
#include "cpu_renderer.h"

#include "julia.h"

namespace {

// The loop over rows and columns, with the pixel rule chosen once per frame rather than per pixel.
// Each rule's loop is a function of its own, so that the plain one's code does not depend on the
// other's being there.
template <void (*Pixel)(float4*, int, int, float, float, int, float)>
__attribute__((noinline)) void renderRows(float4* pixels, const FrameParams& p,
                                          std::atomic<int>* rowsDone) {
    for (int i = 0; i < HEIGHT; i++) {
        for (int j = 0; j < WIDTH; j++) {
            Pixel(pixels, i, j, p.mx, p.my, p.precision, p.scale);
        }
        // Once per row, outside the pixel loop; relaxed: only a display reads it.
        if (rowsDone) rowsDone->fetch_add(1, std::memory_order_relaxed);
    }
}

// The frame's work summed over every pixel on every core; work(x, y) gives one pixel's FrameWork.
// Integer sums: the order of the rows does not matter.
template <class PixelWork>
FrameWork sumWork(float scale, std::atomic<int>* rowsDone, const PixelWork& work) {
    int64_t iterations = 0, steps = 0;
#pragma omp parallel for schedule(dynamic, 8) reduction(+ : iterations, steps)
    for (int i = 0; i < HEIGHT; i++) {
        const float y = planeY(i, scale);
        for (int j = 0; j < WIDTH; j++) {
            const FrameWork w = work(planeX(j, scale), y);
            iterations += w.iterations;
            steps += w.steps;
        }
        if (rowsDone) rowsDone->fetch_add(1, std::memory_order_relaxed);
    }
    return {iterations, steps};
}

}  // namespace

void renderJuliaCPU(float4* pixels, const FrameParams& p, std::atomic<int>* rowsDone) {
    if (p.periodicity) {
        renderRows<juliaPixelPeriodic>(pixels, p, rowsDone);
    } else {
        renderRows<juliaPixel>(pixels, p, rowsDone);
    }
}

int64_t frameIterations(float mx, float my, int precision, float scale,
                        std::atomic<int>* rowsDone) {
    return sumWork(scale, rowsDone, [&](float x, float y) {
               const int64_t n = juliaSteps(x, y, mx, my, precision);
               return FrameWork{n, n};
           }).iterations;
}

// The checked loop ends on the same escape step as the plain one, so the rule's steps follow.
FrameWork frameWork(const FrameParams& p, std::atomic<int>* rowsDone) {
    if (!p.periodicity) {
        const int64_t n = frameIterations(p.mx, p.my, p.precision, p.scale, rowsDone);
        return {n, n};
    }
    return sumWork(p.scale, rowsDone, [&](float x, float y) {
        int taken = 0;
        const int step = escapeStepPeriodic(x, y, p.mx, p.my, p.precision, &taken);
        return FrameWork{step < p.precision ? step + 1 : step, taken};  // as juliaSteps counts
    });
}
