// The GPU renderer against the CPU renderer, bit for bit, over the states where the two could
// drift apart. These need a usable CUDA device and skip, saying why, where there is none.
#include <vector>

#include <cuda_runtime_api.h>
#include <gtest/gtest.h>

#include "cpu_renderer.h"
#include "gpu_renderer.h"
#include "image_compare.h"
#include "julia.h"

namespace {

constexpr float SCALE = 0.003f;

class GpuRenderer : public ::testing::Test {
protected:
    void SetUp() override {
        int n = 0;
        const cudaError_t err = cudaGetDeviceCount(&n);
        if (err != cudaSuccess || n == 0) {
            GTEST_SKIP() << "no usable CUDA device: "
                         << (err != cudaSuccess ? cudaGetErrorString(err) : "none found");
        }
        ASSERT_EQ(cudaMalloc(reinterpret_cast<void**>(&d_pixels), BUFFER_SIZE), cudaSuccess);
        // A device image full of NaNs, so a pixel no thread writes cannot pass for a right one.
        ASSERT_EQ(cudaMemset(d_pixels, 0xFF, BUFFER_SIZE), cudaSuccess);
        gpu.assign(PIXEL_COUNT, float4{-1, -1, -1, -1});
        cpu.assign(PIXEL_COUNT, float4{-2, -2, -2, -2});
    }
    void TearDown() override { cudaFree(d_pixels); }

    void renderBoth(float mx, float my, int precision) {
        ASSERT_EQ(renderJuliaGPU(gpu.data(), d_pixels, mx, my, precision, SCALE), cudaSuccess);
        ASSERT_EQ(cudaDeviceSynchronize(), cudaSuccess);
        renderJuliaCPU(cpu.data(), mx, my, precision, SCALE);
    }

    float4* d_pixels = nullptr;
    std::vector<float4> gpu, cpu;
};

TEST_F(GpuRenderer, InitialStateAndTheThreadToPixelMapping) {
    renderBoth(0.0f, 0.0f, 10);
    EXPECT_TRUE(imagesEqual(cpu.data(), gpu.data()));
    // Thread 0 of block 0, thread 0 of block 1, thread 1 of block 2, the last thread of the grid.
    const int pixels[][2] = {{0, 0}, {0, 512}, {1, 0}, {767, 1023}};
    std::vector<float4> expected(PIXEL_COUNT);
    for (auto& p : pixels) {
        const int i = p[0], j = p[1];
        juliaPixel(expected.data(), i, j, 0.0f, 0.0f, 10, SCALE);
        EXPECT_TRUE(samePixel(gpu[i * WIDTH + j], expected[i * WIDTH + j]))
            << "row " << i << ", column " << j;
    }
}

TEST_F(GpuRenderer, EqualsCpuAcrossSeedsAndLimits) {
    struct { const char* name; float mx, my; } seeds[] = {
        {"origin", 0.0f, 0.0f},
        {"off the grid", -0.8f, 0.156f},
        {"off the grid, dendrite", -0.4f, 0.6f},
        {"off the grid, near the set's edge", 0.285f, 0.01f},
        {"bottom-left sample point (clipped marker)", SCALE * -512.0f, SCALE * -384.0f},
        {"top-right sample point (clipped marker)", SCALE * 511.0f, SCALE * 383.0f},
        {"outside the view", 2.5f, -1.75f},
        {"far outside the view", -40.0f, 33.0f},
    };
    for (int precision : {1, 10, 100, 1000, 0, -3}) {
        for (auto& s : seeds) {
            renderBoth(s.mx, s.my, precision);
            EXPECT_TRUE(imagesEqual(cpu.data(), gpu.data()))
                << "seed " << s.name << ", limit " << precision;
        }
    }
}

TEST_F(GpuRenderer, EveryFrameIsRecomputed) {
    renderBoth(-0.8f, 0.156f, 100);
    renderBoth(0.0f, 0.0f, 10);  // a second state over the first: nothing of the first may remain
    EXPECT_TRUE(imagesEqual(cpu.data(), gpu.data()));
}

}  // namespace
