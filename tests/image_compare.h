// Exact comparison of two PixelImages, every float by its bits, reporting the first differences.
#pragma once

#include <cstdint>
#include <cstring>
#include <sstream>

#include <gtest/gtest.h>
#include "pixel.h"

inline uint32_t floatBits(float f) {
    uint32_t u;
    std::memcpy(&u, &f, sizeof u);
    return u;
}

inline bool samePixel(const float4& a, const float4& b) {
    return floatBits(a.x) == floatBits(b.x) && floatBits(a.y) == floatBits(b.y) &&
           floatBits(a.z) == floatBits(b.z) && floatBits(a.w) == floatBits(b.w);
}

inline void describePixel(std::ostream& os, const float4& p) {
    os << std::hex << "(" << floatBits(p.x) << " " << floatBits(p.y) << " " << floatBits(p.z)
       << " " << floatBits(p.w) << ")" << std::dec;
}

// Passes only when all `count` pixels are bit-identical; otherwise names the number of differing
// pixels and the first few, by row and column, with both values in hex.
inline ::testing::AssertionResult imagesEqual(const float4* expected, const float4* actual,
                                              int count = 1024 * 768, int width = 1024) {
    int differing = 0;
    std::ostringstream first;
    for (int k = 0; k < count; k++) {
        if (samePixel(expected[k], actual[k])) continue;
        if (++differing <= 5) {
            first << "\n  row " << k / width << ", column " << k % width << ": expected ";
            describePixel(first, expected[k]);
            first << ", got ";
            describePixel(first, actual[k]);
        }
    }
    if (differing == 0) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << differing << " of " << count
                                         << " pixels differ; first:" << first.str();
}
