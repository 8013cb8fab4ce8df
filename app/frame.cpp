// The frame step and the two renderer entry points that feed the state's fields to render/.
#include "frame.h"

#include <cstdio>

#include <GL/freeglut.h>

#include "app_state.h"
#include "cpu_renderer.h"
#include "gpu_renderer.h"
#include "modes.h"
#include "title.h"

void computeJuliaCPU() {
    renderJuliaCPU(state.h_pixels, state.mx, state.my, state.precision, state.scale);
}

bool computeJuliaGPU() {
    const cudaError_t err = renderJuliaGPU(state.h_pixels, state.d_pixels, state.mx, state.my,
                                           state.precision, state.scale);
    if (err != cudaSuccess) {
        printf("ERROR: %s\n", cudaGetErrorString(err));
        fflush(stdout);
        return false;
    }
    return true;
}

void computeFrame() {
    state.frameCount++;  // the frame being started counts toward the rate it may show
    const int now = glutGet(GLUT_ELAPSED_TIME);
    char t[TITLE_SIZE];
    if (titleRefresh(t, sizeof t, state.mode, state.frameCount, now, state.lastTitleTime)) {
        glutSetWindowTitle(t);
        state.lastTitleTime = now;
        state.frameCount = 0;
    }

    if (state.h_pixels == nullptr) {
        return;  // the host image could not be allocated: nothing to render into
    }
    switch (state.mode) {
        case MODE_CPU:
            computeJuliaCPU();
            break;
        case MODE_GPU:
            // A GPU that cannot run the kernel would leave a stale picture under a "GPU mode"
            // title: fall back to the CPU for this frame and the ones after it.
            if (!computeJuliaGPU()) {
                setMode(MODE_CPU);
                if (state.h_pixels != nullptr) {
                    computeJuliaCPU();
                }
            }
            break;
    }
}
