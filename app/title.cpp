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

float frameRate(int frames, int elapsedMs) {
    return (float)(frames * 1000) / (float)elapsedMs;
}

bool titleRefresh(char* t, std::size_t size, int mode, int frames, int now, int lastTitleTime) {
    const long long elapsed = (long long)now - lastTitleTime;
    if (elapsed <= TITLE_REFRESH_MS) {
        return false;
    }
    snprintf(t, size, "%s:  %s, %.2f FPS", WINDOW_TITLE, modeLabel(mode).c_str(),
             (double)frameRate(frames, (int)elapsed));
    return true;
}
