// The fixed view: image size, the pixel layout of a PixelImage and the plane origin's pixel.
#pragma once

#include <cstddef>
#include "pixel.h"  // float4: one RGBA pixel, the same type on host and device

constexpr int WIDTH = 1024;
constexpr int HEIGHT = 768;
constexpr int PIXEL_COUNT = WIDTH * HEIGHT;
// A PixelImage: PIXEL_COUNT float4, row 0 (the bottom of the window) first, no padding.
constexpr std::size_t BUFFER_SIZE = sizeof(float4) * PIXEL_COUNT;

// The plane origin sits on the sample point of this column and row.
constexpr int ORIGIN_COLUMN = WIDTH / 2;
constexpr int ORIGIN_ROW = HEIGHT / 2;
// Plane units per pixel: the viewer's scale, which nothing changes, and so the bench's.
constexpr float VIEW_SCALE = 0.003f;

static_assert(sizeof(float4) == 16, "a pixel is four packed floats");
static_assert(BUFFER_SIZE == 12582912, "the image is 12,582,912 bytes");
