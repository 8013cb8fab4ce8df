// The title refresh rule and the rate it shows.
#include "title.h"

#include <cstdio>

#include "app_state.h"

const char* modeLabel(int mode) {
    return mode == MODE_GPU ? "GPU mode" : "CPU mode";
}

float frameRate(int frames, int elapsedMs) {
    return (float)(frames * 1000) / (float)elapsedMs;
}

bool titleRefresh(char* t, std::size_t size, int mode, int frames, int now, int lastTitleTime) {
    const long long elapsed = (long long)now - lastTitleTime;
    if (elapsed <= TITLE_REFRESH_MS) {
        return false;
    }
    snprintf(t, size, "%s:  %s, %.2f FPS", WINDOW_TITLE, modeLabel(mode),
             (double)frameRate(frames, (int)elapsed));
    return true;
}
