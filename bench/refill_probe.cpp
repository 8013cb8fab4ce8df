// julia-refill-probe: the SIMD renderer's two lane modes side by side, so that the limit and
// vector width from which its automatic choice refills lanes can be checked on a CPU. For each
// target this CPU runs and each limit, the median frame on one thread with tiles and with refill.
// Usage: julia-refill-probe [MX MY [FRAMES]]   (default seed -0.8 0.156, 7 frames)
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "geometry.h"
#include "simd_renderer.h"
#include "timing.h"

int main(int argc, char** argv) {
    const float mx = argc > 2 ? std::strtof(argv[1], nullptr) : -0.8f;
    const float my = argc > 2 ? std::strtof(argv[2], nullptr) : 0.156f;
    const int frames = argc > 3 ? std::max(1, std::atoi(argv[3])) : 7;
    std::vector<float4> img(PIXEL_COUNT);
    std::printf("seed (%g, %g), one thread, median of %d frames\n", mx, my, frames);
    std::printf("%-8s %6s %10s %10s %15s\n", "target", "limit", "tiles ms", "refill ms",
                "tiles / refill");
    for (const std::string& name : simdTargets()) {
        SimdTarget target;
        findSimdTarget(name, &target);
        for (int limit : {10, 100, 200, 500, 1000, 10000}) {
            const FrameParams p{mx, my, limit, VIEW_SCALE};
            auto medianMs = [&](SimdMode mode) {
                auto frame = [&] { renderJuliaSIMD(target, img.data(), p, 1, mode); };
                return summarize(timeFrames(frame, 1, frames)).median;
            };
            const double tiles = medianMs(SimdMode::Tiles), refill = medianMs(SimdMode::Refill);
            std::printf("%-8s %6d %10.2f %10.2f %14.2fx\n", name.c_str(), limit, tiles, refill,
                        tiles / refill);
            std::fflush(stdout);
        }
    }
}
