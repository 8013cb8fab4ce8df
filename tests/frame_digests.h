// Stored digests of whole frames, made once from the independent reference (tests/reference.h), so
// that every renderer on every machine is held to the same bytes, not only to another renderer
// built on the same machine.
#pragma once

#include <cinttypes>
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include <gtest/gtest.h>

#include "geometry.h"
#include "pixel.h"

// 64-bit FNV-1a of the frame's BUFFER_SIZE bytes as they lie in memory.
inline uint64_t frameDigest(const float4* pixels) {
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(pixels);
    uint64_t h = 0xcbf29ce484222325ull;
    for (size_t i = 0; i < BUFFER_SIZE; i++) h = (h ^ bytes[i]) * 0x100000001b3ull;
    return h;
}

struct DigestState {
    const char* name;
    float mx, my;
    int precision;
    uint64_t digest;
};

// The viewer's scale throughout. The digests are the reference's images' (FrameDigest tests).
const DigestState DIGEST_STATES[] = {
    {"initial state", 0.0f, 0.0f, 10, 0x7e8ccbb78e3c4838ull},
    {"|a_1|^2 = 4 at the origin, a tie on the last step", 2.0f, 0.0f, 1, 0x5c07c32c9b610425ull},
    {"|a_1|^2 = 4 at the origin, then an escape", 2.0f, 0.0f, 2, 0x87c96ad55ea42325ull},
    {"negative limit", -0.8f, 0.156f, -3, 0x5f3a9b069b1013f8ull},
    {"heavy: dendrite at limit 1000", -0.4f, 0.6f, 1000, 0x151b4e8022b0051aull},
    {"marker at the top-right edge", VIEW_SCALE * 511.0f, VIEW_SCALE * 383.0f, 50,
     0x4764c610762b45edull},
    {"subnormal seed", 1e-40f, -3e-39f, 20, 0xee2018bd8eebc450ull},
};

// Passes when the frame's digest is the state's stored one; else names the state and both digests.
inline ::testing::AssertionResult hasDigest(const float4* pixels, const DigestState& s) {
    const uint64_t digest = frameDigest(pixels);
    if (digest == s.digest) return ::testing::AssertionSuccess();
    char both[64];
    std::snprintf(both, sizeof both, "0x%016" PRIx64 ", stored 0x%016" PRIx64, digest, s.digest);
    return ::testing::AssertionFailure() << s.name << ", limit " << s.precision << ": digest "
                                         << both;
}
