// The frame step: the frame counter and the title refresh, then the render step.
#include "frame.h"

#include "app_state.h"
#include "render_step.h"
#include "title.h"

void computeFrame(int now, void (*setTitle)(const char* title)) {
    state.frameCount++;  // the frame being started counts toward the rate it may show
    char t[TITLE_SIZE];
    if (titleRefresh(t, sizeof t, state.mode, state.periodicity, state.frameCount, now,
                     state.lastTitleTime)) {
        setTitle(t);
        state.lastTitleTime = now;
        state.frameCount = 0;
    }
    renderCurrentMode();
}
