// The float image as 8-bit RGBA, for a window that draws bytes instead of floats. OpenGL leaves the
// rounding of a float channel to 8 bits to the implementation, and images hold exact ties (c = 0.9f
// gives c * 255 = 229.5 in float), so the rule is never assumed: a calibration image is drawn as
// floats, read back, and matched against a small table of candidate rules. Nothing here touches
// OpenGL; the window draws and reads, these functions decide.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "pixel.h"

// How a float channel c becomes a byte. Each clamps c to [0, 1] first.
enum class ByteRule {  // numbered in this order by the vector pass
    HalfEven,     // the float product c * 255.0f, rounded to nearest, ties to even
    HalfUp,       // the float product, rounded to nearest, ties up
    Exact,        // the exact product c * 255 (in double), rounded to nearest
    AddTruncate,  // c * 255.0f + 0.5f in float, truncated
};
constexpr ByteRule BYTE_RULES[] = {ByteRule::HalfEven, ByteRule::HalfUp, ByteRule::Exact,
                                   ByteRule::AddTruncate};

const char* byteRuleName(ByteRule rule);
uint8_t channelByte(ByteRule rule, float c);

// `count` pixels as RGBA bytes, 4 per pixel, on vector lanes (the best Highway target of this CPU),
// exactly as channelByte rounds each channel.
void imageToBytes(ByteRule rule, const float4* pixels, uint8_t* rgba, size_t count);

// The channel values a calibration must hold: every byte boundary (k + 1/2) / 255 with its float
// neighbours, the exact ties of 1 - i / limit, 0, 1, and values below 0 and above 1. Sorted,
// without repeats.
std::vector<float> calibrationValues();

// Whole rows of `width` pixels (row 0 drawn at the bottom) in which every calibration value shows
// in each of red, green and blue; alpha 1; the rest of the last row black.
std::vector<float4> calibrationImage(int width);

// The first rule of BYTE_RULES whose bytes equal `readback` (RGBA bytes of `image`, as the float
// draw showed it; alpha ignored, since the window may have none); false when none does.
bool chooseByteRule(const std::vector<float4>& image, const std::vector<uint8_t>& readback,
                    ByteRule* rule);

// Red, green and blue of two RGBA byte images equal (alpha ignored, as above).
bool sameColours(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b);
