// Bit-for-bit comparison of two frames: every float by its bit pattern, so -0.0 differs from 0.0
// and a NaN equals only the same NaN.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "pixel.h"

struct PixelDifference {
    int row;
    int column;
    float4 first;
    float4 second;
};

struct FrameComparison {
    int differing = 0;                    // pixels with at least one differing channel
    std::vector<PixelDifference> listed;  // the first few, in memory order
};

FrameComparison compareFrames(const float4* first, const float4* second, int maxListed = 5);

// "(3f800000 3f800000 3f800000 3f800000)": the four channels' bit patterns.
std::string pixelHex(const float4& p);
