// The CPU renderer: the same pixel rule the kernel runs, applied row by row, column by column.
#include "cpu_renderer.h"

#include "julia.h"

namespace {

// The loop over rows and columns, with the pixel rule chosen once per frame rather than per pixel.
// Each rule's loop is a function of its own, so that the plain one's code does not depend on the
// other's being there.
template <void (*Pixel)(float4*, int, int, float, float, int, float)>
__attribute__((noinline)) void renderRows(float4* pixels, const FrameParams& p, std::atomic<int>* rowsDone) {
    for (int i = 0; i < HEIGHT; i++) {
        for (int j = 0; j < WIDTH; j++) {
            Pixel(pixels, i, j, p.mx, p.my, p.precision, p.scale);
        }
        // Once per row, outside the pixel loop; relaxed: only a display reads it.
        if (rowsDone) rowsDone->fetch_add(1, std::memory_order_relaxed);
    }
}

template <int (*Steps)(float, float, float, float, int)>
int64_t sumSteps(float mx, float my, int precision, float scale, std::atomic<int>* rowsDone) {
    int64_t total = 0;
    // Integer sums: the order of the rows does not matter.
#pragma omp parallel for schedule(dynamic, 8) reduction(+ : total)
    for (int i = 0; i < HEIGHT; i++) {
        const float y = planeY(i, scale);
        for (int j = 0; j < WIDTH; j++) {
            total += Steps(planeX(j, scale), y, mx, my, precision);
        }
        if (rowsDone) rowsDone->fetch_add(1, std::memory_order_relaxed);
    }
    return total;
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
    return sumSteps<juliaSteps>(mx, my, precision, scale, rowsDone);
}

FrameWork frameWork(const FrameParams& p, std::atomic<int>* rowsDone) {
    if (!p.periodicity) {
        const int64_t n = frameIterations(p.mx, p.my, p.precision, p.scale, rowsDone);
        return {n, n};
    }
    int64_t iterations = 0, steps = 0;
#pragma omp parallel for schedule(dynamic, 8) reduction(+ : iterations, steps)
    for (int i = 0; i < HEIGHT; i++) {
        const float y = planeY(i, p.scale);
        for (int j = 0; j < WIDTH; j++) {
            int taken = 0;
            const int step = escapeStepPeriodic(planeX(j, p.scale), y, p.mx, p.my, p.precision,
                                                &taken);
            iterations += step < p.precision ? step + 1 : step;  // as juliaSteps counts
            steps += taken;
        }
        if (rowsDone) rowsDone->fetch_add(1, std::memory_order_relaxed);
    }
    return {iterations, steps};
}
