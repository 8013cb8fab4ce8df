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
    // For the periodicity check: interior orbits that end in cycles of period 1, 2, 3, 4 and 16;
    // orbits that creep towards a fixed point without ever landing on it; and escaping orbits
    // whose real parts, or magnitudes, repeat before they escape, which a check of those alone
    // would end as interior points (the origin's and the period-16 state's real parts too). The
    // last two do so where the SIMD renderer compares, which the scalar loop's repeats miss: found
    // by search on x86, each failing such a check on AVX-512 (the magnitude's on every x86
    // target); targets of other widths compare at other steps, where these may pass it.
    {"period 1: interior orbits reach 0", 0.0f, 0.0f, 100, 0xd90cd0d74b720088ull},
    {"period 2", -1.0f, 0.0f, 200, 0xe2b30dcd87783030ull},
    {"period 3", -0.123f, 0.745f, 100, 0x6d1ab7479a107060ull},
    {"period 4", -1.3107f, 0.0f, 100, 0x182058498026e7a0ull},
    {"period 16", 0.3f, 0.5f, 300, 0x3df7032e041e3440ull},
    {"parabolic: near the fixed point 1/2, never on it", 0.25f, 0.0f, 100, 0xdec810ce75641d98ull},
    {"no cycle; real parts and magnitudes repeat", -0.3f, 0.8f, 200, 0xb08bd4be35ec4e42ull},
    {"an escaping orbit whose real part repeats at a SIMD check", -1.05699444f, 0.32143259f, 200,
     0x290a04b5472e4203ull},
    {"an escaping orbit whose magnitude repeats at a SIMD check", 0.320429444f, 0.559975028f, 200,
     0xebf927cd9bd0dc7cull},
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
