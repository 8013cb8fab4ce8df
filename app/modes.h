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
