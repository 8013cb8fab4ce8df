#include "iterations.h"

#include <algorithm>
#include <chrono>

#include "julia.h"

// The renderers' own loop: an escape at step i took i + 1 steps, a bounded point all of them.
int juliaSteps(float x, float y, float mx, float my, int precision) {
    const int i = escapeStep(x, y, mx, my, precision);
    return i < precision ? i + 1 : i;
}

int64_t frameIterations(float mx, float my, int precision, float scale,
                        std::atomic<int>* rowsDone) {
    int64_t total = 0;
    // On every core: at a high limit the count costs as much as a frame of the scalar loop, which
    // would otherwise dwarf the timed frames of a --renderer simd run. Integer sums, so the order
    // does not matter.
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

WorkEstimate estimateWork(float mx, float my, int precision, float scale) {
    constexpr int BLOCK = 16;
    constexpr double SAMPLE_STEPS = 2e7;
    const int samples = (WIDTH / BLOCK) * (HEIGHT / BLOCK);
    const int cap = precision < 1 ? 0 : (int)std::min<double>(precision, SAMPLE_STEPS / samples);

    WorkEstimate w;
    w.before.assign(HEIGHT + 1, 0.0);
    int64_t stepsRun = 0;
    const auto t0 = std::chrono::steady_clock::now();
    for (int bi = 0; bi < HEIGHT / BLOCK; bi++) {
        const int i = bi * BLOCK + BLOCK / 2;
        const float y = planeY(i, scale);
        double row = 0;  // the sampled row's steps, each sample standing for BLOCK columns
        for (int j = BLOCK / 2; j < WIDTH; j += BLOCK) {
            const int steps = juliaSteps(planeX(j, scale), y, mx, my, cap);
            stepsRun += steps;
            // Still bounded at the cap: assumed bounded to the limit. juliaSteps also returns the
            // cap for a point escaping at exactly that step; an estimate can live with that.
            row += BLOCK * (cap > 0 && steps == cap ? (double)precision : (double)steps);
        }
        for (int r = bi * BLOCK; r < (bi + 1) * BLOCK; r++) w.before[r + 1] = w.before[r] + row;
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (stepsRun > 0) w.secondsPerStep = seconds / stepsRun;
    return w;
}
