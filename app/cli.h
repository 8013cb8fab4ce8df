// The viewer's own options, --help and --version, answered before GLUT starts: GLUT needs a
// display, and these must work without one.
#pragma once

// The exit status after --help, --version or a malformed one of them (one line on stderr); -1 to go
// on and start the viewer. Every argument stays where it is for GLUT.
int answerOwnOptions(int argc, char** argv);
