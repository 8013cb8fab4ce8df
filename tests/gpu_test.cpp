// Everything that needs a GPU: the GPU renderer, with and without the periodicity check, against
// the CPU renderer without it, bit for bit, over the states where the two could drift apart, and
// against the stored digests; GPU mode's buffers; a frame whose kernel fails. These skip, saying
// why, where no CUDA device is usable.
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
        ASSERT_NO_FATAL_FAILURE(poisonGpuImages());
        cpu.assign(PIXEL_COUNT, float4{-2, -2, -2, -2});
    }
    void TearDown() override { cudaFree(d_pixels); }

    // A device image full of NaNs, so a pixel no thread writes cannot pass for a right one, not
    // even one left there by the frame before.
    void poisonGpuImages() {
        ASSERT_EQ(cudaMemset(d_pixels, 0xFF, BUFFER_SIZE), cudaSuccess);
        gpu.assign(PIXEL_COUNT, float4{-1, -1, -1, -1});
    }
    void renderGpu(const FrameParams& p) {
        std::string why;
        ASSERT_TRUE(renderJuliaGPU(gpu.data(), d_pixels, p, &why)) << why;
        ASSERT_EQ(cudaDeviceSynchronize(), cudaSuccess);
    }
    void renderBoth(float mx, float my, int precision) {
        ASSERT_NO_FATAL_FAILURE(renderGpu({mx, my, precision, SCALE}));
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

// Each state on both kernels, each against the CPU loop without the check: the rule's image.
TEST_F(GpuRenderer, EqualsCpuAcrossSeedsAndLimits) {
    struct State {
        const char* name;
        float mx, my;
        int precision;
    };
    std::vector<State> states;
    const struct { const char* name; float mx, my; } seeds[] = {
        {"origin", 0.0f, 0.0f},
        {"off the grid", -0.8f, 0.156f},
        {"off the grid, dendrite", -0.4f, 0.6f},
        {"off the grid, near the set's edge", 0.285f, 0.01f},
        {"bottom-left sample point (clipped marker)", SCALE * -512.0f, SCALE * -384.0f},
        {"top-right sample point (clipped marker)", SCALE * 511.0f, SCALE * 383.0f},
        {"outside the view", 2.5f, -1.75f},
        {"far outside the view", -40.0f, 33.0f},
    };
    for (int precision : {1, 10, 100, 1000, 0, -3})
        for (auto& s : seeds) states.push_back({s.name, s.mx, s.my, precision});
    // Interiors whose float orbits end in cycles the check finds, of period 2, 3 and 5 (the origin
    // at limit 1000, above, ends in the fixed point 0).
    states.push_back({"-1, period 2", -1.0f, 0.0f, 200});
    states.push_back({"-0.123 + 0.745i, period 3", -0.123f, 0.745f, 2000});
    states.push_back({"-0.5 + 0.55i, period 5", -0.5f, 0.55f, 500});
    for (const State& s : states) {
        SCOPED_TRACE(std::string("seed ") + s.name + ", limit " + std::to_string(s.precision));
        renderJuliaCPU(cpu.data(), {s.mx, s.my, s.precision, SCALE});
        for (bool periodicity : {false, true}) {
            ASSERT_NO_FATAL_FAILURE(poisonGpuImages());
            ASSERT_NO_FATAL_FAILURE(renderGpu({s.mx, s.my, s.precision, SCALE, periodicity}));
            EXPECT_TRUE(imagesEqual(cpu.data(), gpu.data()))
                << (periodicity ? "with the check" : "without the check");
        }
    }
}

// Both kernels, the check also through the bench's timed frame (the same launch serves both).
TEST_F(GpuRenderer, GivesTheStoredImages) {
    const struct { const char* name; bool periodicity, timed; } ways[] = {
        {"without the check", false, false},
        {"with the check", true, false},
        {"with the check, timed", true, true},
    };
    for (const DigestState& s : DIGEST_STATES) {
        for (const auto& way : ways) {
            SCOPED_TRACE(way.name);
            const FrameParams p = {s.mx, s.my, s.precision, SCALE, way.periodicity};
            ASSERT_NO_FATAL_FAILURE(poisonGpuImages());
            std::string why;
            GpuFrameTimes times;
            ASSERT_TRUE(way.timed ? renderJuliaGPUTimed(gpu.data(), d_pixels, p, &times, &why)
                                  : renderJuliaGPU(gpu.data(), d_pixels, p, &why))
                << why;
            EXPECT_TRUE(hasDigest(gpu.data(), s));
        }
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
