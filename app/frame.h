// One frame step: the title refresh when due, then the renderer of the current mode. The clock and
// the title go in and out as arguments, so that the step runs without a window.
#pragma once

// `now`: milliseconds since GLUT started (GLUT_ELAPSED_TIME); `setTitle` receives the new title.
void computeFrame(int now, void (*setTitle)(const char* title));
