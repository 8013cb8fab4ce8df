// One RGBA pixel as the image holds it: four packed floats x, y, z, w (red, green, blue, alpha),
// 16 bytes, 16-byte aligned. With CUDA it is the toolkit's own float4, which the kernel writes; a
// build without CUDA gets a struct of the same layout, so that no CUDA header is needed anywhere.
#pragma once
#include <cstddef>

struct alignas(16) PixelLayout {
    float x, y, z, w;
};

#if defined(__CUDACC__) || JULIA_CUDA
#include <vector_types.h>
// The two must stay interchangeable: images cross between CUDA and plain C++ code as bytes.
static_assert(sizeof(float4) == sizeof(PixelLayout) && alignof(float4) == alignof(PixelLayout),
              "float4 and PixelLayout differ in size or alignment");
static_assert(offsetof(float4, x) == offsetof(PixelLayout, x) &&
                  offsetof(float4, y) == offsetof(PixelLayout, y) &&
                  offsetof(float4, z) == offsetof(PixelLayout, z) &&
                  offsetof(float4, w) == offsetof(PixelLayout, w),
              "float4 and PixelLayout differ in the order of their channels");
#else
using float4 = PixelLayout;
#endif
