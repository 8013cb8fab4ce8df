#include "compare.h"

#include <cstdio>
#include <cstring>

#include "geometry.h"

namespace {

uint32_t bits(float f) {
    uint32_t u;
    std::memcpy(&u, &f, sizeof u);
    return u;
}

}  // namespace

FrameComparison compareFrames(const float4* first, const float4* second, int maxListed) {
    FrameComparison result;
    for (int k = 0; k < PIXEL_COUNT; k++) {
        if (std::memcmp(&first[k], &second[k], sizeof(float4)) == 0) continue;
        if (result.differing++ < maxListed) {
            result.listed.push_back({k / WIDTH, k % WIDTH, first[k], second[k]});
        }
    }
    return result;
}

std::string pixelHex(const float4& p) {
    char buf[48];
    std::snprintf(buf, sizeof buf, "(%08x %08x %08x %08x)", bits(p.x), bits(p.y), bits(p.z),
                  bits(p.w));
    return buf;
}
