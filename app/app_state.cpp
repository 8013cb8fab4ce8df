// The one AppState of the process and its initial values.
#include "app_state.h"

#include "geometry.h"

AppState state = {
    10,          // precision
    VIEW_SCALE,  // scale
    MODE_CPU,    // mode
    0.0f,        // mx
    0.0f,        // my
    0,           // frameCount
    0,           // lastTitleTime
    nullptr,     // h_pixels
    nullptr,     // d_pixels
    false,       // h_pinned
    false,       // periodicity
};

SimdRun simdRun;

FrameParams frameParams(const AppState& s) {
    return FrameParams{s.mx, s.my, s.precision, s.scale, s.periodicity};
}
