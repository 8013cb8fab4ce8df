// The bench's measurements of the machine rather than of a frame: the floors under the renderers'
// time (`julia-fractals-bench floors`) and the SIMD renderer's lane modes side by side (`refill`).
#pragma once

// Prints the clock, the scalar, vector and memory floors beside the renderers' figures. Returns
// the exit status: 1 when a check failed, such as a floor faster than any CPU runs (it was not
// measured as written).
int printFloors();

// Tiles against refill on one thread, per target and limit, so that the limit and vector width
// from which the renderer's automatic choice refills lanes can be checked on a CPU.
int printRefill(float mx, float my, int frames);
