// Everything that needs a GPU: the GPU renderer against the CPU renderer, bit for bit, over the
// states where the two could drift apart, and against the stored digests; GPU mode's buffers; a
// frame whose kernel fails. These skip, saying why, where no CUDA device is usable.
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include <cuda_runtime_api.h>
#include <gtest/gtest.h>

#include "app_state.h"
#include "cpu_renderer.h"
#include "frame_digests.h"
#include "gpu_renderer.h"
#include "image_compare.h"
#include "julia.h"
#include "modes.h"
#include "render_step.h"

namespace {

constexpr float SCALE = 0.003f;

class GpuRenderer : public ::testing::Test {
protected:
    void SetUp() override {
        std::string why;
        if (!gpuUsable(&why)) GTEST_SKIP() << "no usable GPU: " << why;
        ASSERT_EQ(cudaMalloc(reinterpret_cast<void**>(&d_pixels), BUFFER_SIZE), cudaSuccess);
        // A device image full of NaNs, so a pixel no thread writes cannot pass for a right one.
        ASSERT_EQ(cudaMemset(d_pixels, 0xFF, BUFFER_SIZE), cudaSuccess);
        gpu.assign(PIXEL_COUNT, float4{-1, -1, -1, -1});
        cpu.assign(PIXEL_COUNT, float4{-2, -2, -2, -2});
    }
    void TearDown() override { cudaFree(d_pixels); }

    void renderBoth(float mx, float my, int precision) {
        std::string why;
        ASSERT_TRUE(renderJuliaGPU(gpu.data(), d_pixels, {mx, my, precision, SCALE}, &why)) << why;
        ASSERT_EQ(cudaDeviceSynchronize(), cudaSuccess);
        renderJuliaCPU(cpu.data(), {mx, my, precision, SCALE});
    }

    float4* d_pixels = nullptr;
    std::vector<float4> gpu, cpu;
};

TEST_F(GpuRenderer, InitialStateAndTheThreadToPixelMapping) {
    ASSERT_NO_FATAL_FAILURE(renderBoth(0.0f, 0.0f, 10));
    EXPECT_TRUE(imagesEqual(cpu.data(), gpu.data()));
    // Thread 0 of block 0, thread 0 of block 1, thread 0 of block 2, the last thread of the grid.
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
            ASSERT_NO_FATAL_FAILURE(renderBoth(s.mx, s.my, precision))
                << "seed " << s.name << ", limit " << precision;
            EXPECT_TRUE(imagesEqual(cpu.data(), gpu.data()))
                << "seed " << s.name << ", limit " << precision;
        }
    }
}

TEST_F(GpuRenderer, GivesTheStoredImages) {
    for (const DigestState& s : DIGEST_STATES) {
        std::string why;
        ASSERT_TRUE(renderJuliaGPU(gpu.data(), d_pixels, {s.mx, s.my, s.precision, SCALE}, &why))
            << why;
        EXPECT_TRUE(hasDigest(gpu.data(), s));
    }
}

TEST_F(GpuRenderer, EveryFrameIsRecomputed) {
    ASSERT_NO_FATAL_FAILURE(renderBoth(-0.8f, 0.156f, 100));
    // A second state over the first: nothing of the first may remain.
    ASSERT_NO_FATAL_FAILURE(renderBoth(0.0f, 0.0f, 10));
    EXPECT_TRUE(imagesEqual(cpu.data(), gpu.data()));
}

TEST_F(GpuRenderer, AnEarlierCallsErrorIsNotBlamedOnTheFrame) {
    // A failed free leaves a non-sticky error pending; the frame after it is sound.
    ASSERT_NE(cudaFree(reinterpret_cast<void*>(16)), cudaSuccess);
    ASSERT_NO_FATAL_FAILURE(renderBoth(-0.8f, 0.156f, 100));
    EXPECT_TRUE(imagesEqual(cpu.data(), gpu.data()));
}

// GPU mode whose kernel faults while it runs (it writes through a null device image): the launch
// itself succeeds, so only the copy can tell. The frame step must say so in one line, go back to
// CPU mode and show the CPU's image. A fault spoils the process's CUDA context, so this runs in a
// child process of its own; the child's exit status is the verdict.
void faultingFrameFallsBack() {
    setMode(MODE_GPU);
    if (state.mode != MODE_GPU) _exit(2);
    state.d_pixels = nullptr;  // the real image is lost with the child
    ::testing::internal::CaptureStdout();
    renderCurrentMode();
    const std::string out = ::testing::internal::GetCapturedStdout();
    std::vector<float4> cpu(PIXEL_COUNT);
    renderJuliaCPU(cpu.data(), frameParams(state));
    const bool oneLine = out.rfind("ERROR: the GPU could not render the frame: ", 0) == 0 &&
                         out.find('\n') == out.size() - 1;
    const bool onCpu = state.mode == MODE_CPU && state.d_pixels == nullptr &&
                       state.h_pixels != nullptr && imagesEqual(cpu.data(), state.h_pixels);
    std::fprintf(stderr, "printed: %s", out.c_str());
    _exit(oneLine && onCpu ? 0 : 1);
}

TEST_F(GpuRenderer, AKernelThatFaultsSendsTheFrameToTheCpu) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");  // a fresh process, not a fork of this one
    EXPECT_EXIT(faultingFrameFallsBack(), ::testing::ExitedWithCode(0), "");
}

// Leaving GPU mode for either CPU renderer, the loop or SIMD, releases the device image.
TEST_F(GpuRenderer, GpuModeHoldsBothImagesAndLeavingItFreesTheDeviceImage) {
    for (int leaveFor : {MODE_CPU, MODE_SIMD}) {
        SCOPED_TRACE(leaveFor);
        setMode(MODE_GPU);
        ASSERT_EQ(state.mode, MODE_GPU);
        ASSERT_NE(state.d_pixels, nullptr);
        ASSERT_NE(state.h_pixels, nullptr);
        // Page-locked, so that the copy back runs at the bus's speed.
        EXPECT_TRUE(state.h_pinned);
        cudaPointerAttributes where{};
        ASSERT_EQ(cudaPointerGetAttributes(&where, state.h_pixels), cudaSuccess);
        EXPECT_EQ(where.type, cudaMemoryTypeHost);
        renderCurrentMode();
        renderJuliaCPU(cpu.data(), frameParams(state));
        EXPECT_TRUE(imagesEqual(cpu.data(), state.h_pixels)) << "a frame into the pinned image";
        size_t freeBefore = 0, total = 0;
        cudaMemGetInfo(&freeBefore, &total);
        setMode(MODE_GPU);  // the current mode again: release, then allocate
        ASSERT_NE(state.d_pixels, nullptr);
        setMode(leaveFor);
        EXPECT_EQ(state.mode, leaveFor);
        EXPECT_EQ(state.d_pixels, nullptr);
        ASSERT_NE(state.h_pixels, nullptr);
        EXPECT_FALSE(state.h_pinned);
        size_t freeAfter = 0;
        cudaMemGetInfo(&freeAfter, &total);
        EXPECT_GE(freeAfter, freeBefore + BUFFER_SIZE) << "the device image was not released";
    }
    cleanMode();
}

}  // namespace
