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
