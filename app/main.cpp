// Entry point: window, the initial mode's buffers, callbacks, the extension loader, the main loop.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include <GL/glew.h>
#include <GL/freeglut.h>

#include "cli.h"
#include "modes.h"
#include "window.h"

// SIMD mode's OpenMP workers would otherwise spin for milliseconds after every frame, on the cores
// that drawing the frame (GL and the X server) needs: asleep between frames, they let SIMD mode run
// about twice as fast at low limits on two cores (docs/performance.md). libgomp reads the policy
// only as it loads, so the program runs itself again with it. A policy or spin count that the user
// set is left alone.
static void workersSleepBetweenFrames(char** argv) {
    if (getenv("OMP_WAIT_POLICY") != nullptr || getenv("GOMP_SPINCOUNT") != nullptr) {
        return;
    }
    // Without the variable set, the new image would come back here and run itself again forever.
    if (setenv("OMP_WAIT_POLICY", "passive", 1) != 0) {
        return;
    }
    execv("/proc/self/exe", argv);  // on failure the workers merely spin: carry on
}

int main(int argc, char** argv) {
    if (const int status = answerOwnOptions(argc, argv); status >= 0) return status;
    workersSleepBetweenFrames(argv);
    initGL(argc, argv);
    initMode();
    registerCallbacks();

    // No extension is used: the loader's result only decides whether the line is printed.
    const GLenum err = glewInit();
    if (err != GLEW_OK) {
        printf("ERROR: %s\n", reinterpret_cast<const char*>(glewGetErrorString(err)));
        fflush(stdout);
    }

    glutMainLoop();

    // Reached only if the main loop returns.
    cleanMode();
    return 1;
}
