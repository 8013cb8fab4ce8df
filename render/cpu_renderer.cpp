// The CPU renderer: the same pixel rule the kernel runs, applied row by row, column by column.
#include "cpu_renderer.h"

#include "julia.h"

void renderJuliaCPU(float4* pixels, const FrameParams& p, std::atomic<int>* rowsDone) {
    for (int i = 0; i < HEIGHT; i++) {
        for (int j = 0; j < WIDTH; j++) {
            juliaPixel(pixels, i, j, p.mx, p.my, p.precision, p.scale);
        }
        // Once per row, outside the pixel loop; relaxed: only a display reads it.
        if (rowsDone) rowsDone->fetch_add(1, std::memory_order_relaxed);
    }
}

int64_t frameIterations(float mx, float my, int precision, float scale,
                        std::atomic<int>* rowsDone) {
    int64_t total = 0;
    // Integer sums: the order of the rows does not matter.
#pragma omp parallel for schedule(dynamic, 8) reduction(+ : total)
    for (int i = 0; i < HEIGHT; i++) {
        const float y = planeY(i, scale);
        for (int j = 0; j < WIDTH; j++) {
            total += juliaSteps(planeX(j, scale), y, mx, my, precision);
        }
        if (rowsDone) rowsDone->fetch_add(1, std::memory_order_relaxed);
    }
    return total;
}
