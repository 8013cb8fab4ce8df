// Mode switching without a window: the buffers each mode owns, reallocation on every switch, and a
// GPU mode that refuses to pretend when no GPU can hold its image.
#include <malloc.h>

#include <cstring>
#include <string>

#include <cuda_runtime_api.h>
#include <gtest/gtest.h>

#include "app_state.h"
#include "geometry.h"
#include "modes.h"

namespace {

bool gpuUsable() {
    int n = 0;
    return cudaGetDeviceCount(&n) == cudaSuccess && n > 0;
}

// Bytes the allocator has handed out, from the heap and from mappings alike.
std::size_t bytesInUse() {
    const struct mallinfo2 m = mallinfo2();
    return m.uordblks + m.hblkhd;
}

bool allZero(const float4* p) {
    const unsigned char* b = reinterpret_cast<const unsigned char*>(p);
    for (std::size_t k = 0; k < BUFFER_SIZE; k++)
        if (b[k] != 0) return false;
    return true;
}

class Modes : public ::testing::Test {
protected:
    void SetUp() override {
        state.mode = MODE_CPU;
        initMode();
    }
    void TearDown() override { cleanMode(); }
};

TEST_F(Modes, CpuModeHoldsOneHostImageAndNoDeviceImage) {
    ASSERT_NE(state.h_pixels, nullptr);
    EXPECT_EQ(state.d_pixels, nullptr);
    EXPECT_GE(malloc_usable_size(state.h_pixels), BUFFER_SIZE);
    EXPECT_TRUE(allZero(state.h_pixels)) << "a new host image starts black";
}

TEST_F(Modes, SelectingTheCurrentModeReallocates) {
    std::size_t inUse = 0;
    for (int round = 0; round < 50; round++) {
        std::memset(state.h_pixels, 0xAB, BUFFER_SIZE);
        setMode(MODE_CPU);
        ASSERT_NE(state.h_pixels, nullptr);
        ASSERT_TRUE(allZero(state.h_pixels)) << "the old image was kept, round " << round;
        ASSERT_EQ(state.d_pixels, nullptr);
        if (round == 0) inUse = bytesInUse();  // glibc may move the image from a mapping to the heap
    }
    EXPECT_EQ(bytesInUse(), inUse) << "host memory grew across switches";
}

TEST_F(Modes, GpuModeWithoutAGpuSaysSoAndStaysOnTheCpu) {
    if (gpuUsable()) GTEST_SKIP() << "a CUDA device is usable here; this case needs none";
    std::size_t inUse = 0;
    for (int round = 0; round < 20; round++) {
        ::testing::internal::CaptureStdout();
        setMode(MODE_GPU);
        const std::string out = ::testing::internal::GetCapturedStdout();
        EXPECT_EQ(out.rfind("ERROR: ", 0), 0u) << out;
        EXPECT_EQ(out.find('\n'), out.size() - 1) << "exactly one line: " << out;
        EXPECT_GT(out.size(), std::strlen("ERROR: \n")) << "the runtime's reason is given";
        EXPECT_EQ(state.mode, MODE_CPU);
        ASSERT_NE(state.h_pixels, nullptr);
        EXPECT_GE(malloc_usable_size(state.h_pixels), BUFFER_SIZE);
        EXPECT_EQ(state.d_pixels, nullptr);
        if (round == 0) inUse = bytesInUse();  // after the runtime's own one-time set-up
    }
    EXPECT_EQ(bytesInUse(), inUse) << "host memory grew across failed switches";
}

TEST_F(Modes, GpuModeHoldsBothImagesAndLeavingItFreesTheDeviceImage) {
    if (!gpuUsable()) GTEST_SKIP() << "no usable CUDA device";
    setMode(MODE_GPU);
    ASSERT_EQ(state.mode, MODE_GPU);
    ASSERT_NE(state.d_pixels, nullptr);
    ASSERT_NE(state.h_pixels, nullptr);
    size_t freeBefore = 0, total = 0;
    cudaMemGetInfo(&freeBefore, &total);
    setMode(MODE_GPU);  // the current mode again: release, then allocate
    ASSERT_NE(state.d_pixels, nullptr);
    setMode(MODE_CPU);
    EXPECT_EQ(state.d_pixels, nullptr);
    ASSERT_NE(state.h_pixels, nullptr);
    size_t freeAfter = 0;
    cudaMemGetInfo(&freeAfter, &total);
    EXPECT_GE(freeAfter, freeBefore + BUFFER_SIZE) << "the device image was not released";
}

}  // namespace
