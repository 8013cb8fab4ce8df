// The render modes' buffers: each mode acquires and releases its own, and a switch always releases
// the old mode's buffers before it allocates the new one's.
#pragma once

void initCPU();
void cleanCPU();
void initGPU();
void cleanGPU();
void initSIMD();
void cleanSIMD();
void initMode();
void cleanMode();
void setMode(int m);

// Where a GPU that cannot start or render sends the user: the CPU renderer chosen last, MODE_CPU or
// MODE_SIMD, and its name for the console, "CPU" or "SIMD".
int gpuFallbackMode();
const char* fallbackName();
