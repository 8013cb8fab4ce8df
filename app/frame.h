// One frame step: the title refresh when due, then the renderer of the current mode.
#pragma once

void computeJuliaCPU();
// Returns false when the kernel could not be launched; the error has then been printed.
bool computeJuliaGPU();
void computeFrame();
