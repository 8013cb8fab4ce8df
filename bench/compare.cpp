// The frames compared pixel by pixel on their bit patterns; the first differences kept.
#include "compare.h"

#include <fmt/format.h>

#include "geometry.h"

FrameComparison compareFrames(const float4* first, const float4* second, int maxListed) {
    FrameComparison result;
    for (int k = 0; k < PIXEL_COUNT; k++) {
        if (samePixel(first[k], second[k])) continue;
        if (result.differing++ < maxListed) {
            result.listed.push_back({k / WIDTH, k % WIDTH, first[k], second[k]});
        }
    }
    return result;
}

std::string pixelHex(const float4& p) {
    return fmt::format("({:08x} {:08x} {:08x} {:08x})", floatBits(p.x), floatBits(p.y),
                       floatBits(p.z), floatBits(p.w));
}
