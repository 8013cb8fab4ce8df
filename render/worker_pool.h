// Worker threads for the SIMD renderer that sleep between frames: they wait on a condition
// variable, never spin, so that between frames the cores are free for drawing the image.
#pragma once

#include <functional>

// Runs body(u) once for every u in [0, units), on `threads` threads: the calling thread and
// threads - 1 workers, each taking the next unit as it finishes one. Returns when all are done.
// Calls from several threads take turns.
void runOnWorkers(int threads, int units, const std::function<void(int)>& body);
