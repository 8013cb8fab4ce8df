// The viewer's own options, answered or taken out before GLUT starts: GLUT needs a display, and
// --help and --version must work without one; --draw and --periodicity are ours, not GLUT's.
#pragma once

#include "draw.h"

// What the command line asked of the viewer that starts.
struct ViewerOptions {
    DrawFormat draw = DrawFormat::Float;
    bool periodicity = false;  // every renderer with the periodicity check
};

// The exit status after --help, --version or a malformed option of ours (one line on stderr); -1 to
// go on and start the viewer, with *options as asked. Every argument stays where it is.
int answerOwnOptions(int argc, char** argv, ViewerOptions* options);

// Removes our own options (--draw and its value, --periodicity) from argv before GLUT sees it,
// which would take them for its own or complain; returns the new argument count.
int withoutOwnOptions(int argc, char** argv);
