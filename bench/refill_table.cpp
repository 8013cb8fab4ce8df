// julia-fractals-bench refill: the SIMD renderer's two lane modes, tiles and refill, timed side by
// side per target and limit, the table from which SimdMode::Auto's thresholds were chosen.
#include <string>
#include <vector>

#include <fmt/format.h>

#include "geometry.h"
#include "machine.h"
#include "report.h"
#include "simd_renderer.h"
#include "timing.h"

int printRefill(float mx, float my, int frames) {
    std::vector<float4> img(PIXEL_COUNT);
    fmt::print("seed ({}, {}), one thread, median of {} frames\n{:<9} {:>6} {:>10} {:>10} {:>15}\n",
               shortFloat(mx), shortFloat(my), frames, "target", "limit", "tiles ms", "refill ms",
               "tiles / refill");
    for (const std::string& name : simdTargets()) {
        SimdTarget target;
        findSimdTarget(name, &target);
        for (int precision : {10, 100, 200, 500, 1000, 10000}) {
            const FrameParams p{mx, my, precision, VIEW_SCALE};
            auto medianMs = [&](SimdMode mode) {
                auto frame = [&] { renderJuliaSIMD(target, img.data(), p, 1, mode); };
                return summarize(timeFrames(frame, 1, frames)).median;
            };
            const double tiles = medianMs(SimdMode::Tiles), refill = medianMs(SimdMode::Refill);
            say(fmt::format("{:<9} {:>6} {:>10.2f} {:>10.2f} {:>14.2f}x", name, precision, tiles,
                            refill, tiles / refill));
        }
    }
    return 0;
}
