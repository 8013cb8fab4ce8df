// The render modes' buffers: each mode acquires and releases its own, and a switch always releases
// the old mode's buffers before it allocates the new one's. The mode changes through setMode only.
#pragma once

void initCPU();
// The buffers of the current mode; false, with nothing allocated, when it is GPU mode and no GPU
// can hold its image (the reason is then printed). A host image that cannot be allocated is
// reported and left null; the mode runs on without it.
bool initMode();
void cleanMode();
// Selecting GPU mode without a usable GPU leaves the CPU renderer the user came from current.
void setMode(int m);

// Where a GPU that cannot start or render sends the user: the CPU renderer chosen last, MODE_CPU or
// MODE_SIMD, and its name for the console, "CPU" or "SIMD".
int gpuFallbackMode();
const char* fallbackName();
