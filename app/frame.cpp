// The frame step: the title refresh when due, through GLUT, then the render step.
#include "frame.h"

#include <GL/freeglut.h>

#include "app_state.h"
#include "render_step.h"
#include "title.h"

void computeFrame() {
    state.frameCount++;  // the frame being started counts toward the rate it may show
    const int now = glutGet(GLUT_ELAPSED_TIME);
    char t[TITLE_SIZE];
    if (titleRefresh(t, sizeof t, state.mode, state.frameCount, now, state.lastTitleTime)) {
        glutSetWindowTitle(t);
        state.lastTitleTime = now;
        state.frameCount = 0;
    }
    renderCurrentMode();
}
