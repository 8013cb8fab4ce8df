// Entry point: window, the initial mode's buffers, callbacks, the extension loader, the main loop.
#include <cstdio>

#include <GL/glew.h>
#include <GL/freeglut.h>

#include "app_state.h"
#include "cli.h"
#include "modes.h"
#include "window.h"

int main(int argc, char** argv) {
    ViewerOptions options;
    if (const int status = answerOwnOptions(argc, argv, &options); status >= 0) return status;
    argc = withoutOwnOptions(argc, argv);
    requestDraw(options.draw);
    state.periodicity = options.periodicity;
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
