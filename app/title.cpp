// The title refresh rule and the rate it shows.
#include "title.h"

#include <cstdio>

#include "app_state.h"

std::string modeLabel(int mode) {
    switch (mode) {
        case MODE_GPU: return "GPU mode";
        case MODE_SIMD: {
            const int n = simdRun.threads;
            return "SIMD mode (" + simdRun.target.name + ", " + std::to_string(n) +
                   (n == 1 ? " thread)" : " threads)");
        }
        default: return "CPU mode";
    }
}

// In 64 bits the product cannot overflow; below 2^31 it converts to the same float as the int.
float frameRate(int frames, std::uint32_t elapsedMs) {
    return (float)((long long)frames * 1000) / (float)elapsedMs;
}

bool titleRefresh(char* t, std::size_t size, int mode, bool periodicity, int frames, int now,
                  int lastTitleTime) {
    // GLUT's clock wraps as an int after 24.8 days; the difference modulo 2^32 does not.
    const std::uint32_t elapsed = (std::uint32_t)now - (std::uint32_t)lastTitleTime;
    if (elapsed <= TITLE_REFRESH_MS) {
        return false;
    }
    // The check changes the rate, not the picture: the title says which loop the rate is of.
    snprintf(t, size, "%s:  %s%s, %.2f FPS", WINDOW_TITLE, modeLabel(mode).c_str(),
             periodicity ? ", periodicity check" : "", (double)frameRate(frames, elapsed));
    return true;
}
