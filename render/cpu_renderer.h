// The CPU renderer: fills a whole PixelImage with the pixel rule, on the calling thread.
#pragma once

#include <vector_types.h>

// Writes all WIDTH x HEIGHT pixels of `pixels` (BUFFER_SIZE bytes), row 0 first, strictly in
// memory order.
void renderJuliaCPU(float4* pixels, float mx, float my, int precision, float scale);
