// GLUT input callbacks. They only change the state; the next frame step renders the result.
#include "input.h"

#include <climits>
#include <cstdlib>

#include <GL/freeglut_std.h>

#include "app_state.h"
#include "julia.h"
#include "modes.h"

constexpr unsigned char KEY_ESCAPE = 27;
// GLUT reports the wheel to the mouse callback as these buttons when no wheel callback is set.
constexpr int WHEEL_UP = 3;
constexpr int WHEEL_DOWN = 4;

int stepPrecision(int precision, int step) {
    const long long next = (long long)precision + step;
    if (next > INT_MAX) return INT_MAX;
    if (next < INT_MIN) return INT_MIN;
    return (int)next;
}

static void setSeed(int x, int y) {
    const Complex seed = screenToSeed(x, y, state.scale);
    state.mx = seed.reel;
    state.my = seed.im;
}

// Press and release alike: a wheel step arrives as both, so it moves the limit by two.
void mouse(int button, int /*buttonState*/, int x, int y) {
    if (button <= GLUT_RIGHT_BUTTON) {
        setSeed(x, y);
    }
    if (button == WHEEL_UP) {
        state.precision = stepPrecision(state.precision, +1);
    } else if (button == WHEEL_DOWN) {
        state.precision = stepPrecision(state.precision, -1);
    }
}

void motion(int x, int y) {
    setSeed(x, y);
}

void keyboard(unsigned char key, int /*x*/, int /*y*/) {
    switch (key) {
        case KEY_ESCAPE: exit(0);
        case '1': setMode(MODE_CPU); break;
        case '2': setMode(MODE_GPU); break;
        case '3': setMode(MODE_SIMD); break;
        default: break;
    }
}

void special(int key, int /*x*/, int /*y*/) {
    switch (key) {
        case GLUT_KEY_UP: setMode(MODE_CPU); break;
        case GLUT_KEY_DOWN: setMode(MODE_GPU); break;
        default: break;
    }
}
