// Bit-for-bit comparison of two frames: every float by its bit pattern, so -0.0 differs from 0.0
// and a NaN equals only the same NaN. The bench's --verify and the tests' image checks both use it.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "pixel.h"

inline uint32_t floatBits(float f) {
    uint32_t u;
    std::memcpy(&u, &f, sizeof u);
    return u;
}

// float4 has no padding, so its bytes are exactly its four bit patterns.
inline bool samePixel(const float4& a, const float4& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

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
