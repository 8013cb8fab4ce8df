// Mode switching without a window: the buffers each mode owns, reallocation on every switch, and a
// GPU mode that refuses to pretend when no GPU can hold its image or render its frame.
#include <malloc.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <omp.h>

#include "app_state.h"
#include "cpu_renderer.h"
#include "geometry.h"
#include "gpu_renderer.h"
#include "image_compare.h"
#include "modes.h"
#include "render_step.h"

namespace {

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
        saved = state;
        state.mode = MODE_CPU;
        initMode();
    }
    void TearDown() override {
        cleanMode();
        state.precision = saved.precision;
        state.mx = saved.mx;
        state.my = saved.my;
    }
    AppState saved;
};

TEST_F(Modes, CpuAndSimdModesHoldOneHostImageAndNoDeviceImage) {
    for (int mode : {MODE_CPU, MODE_SIMD}) {
        SCOPED_TRACE(mode);
        setMode(mode);
        EXPECT_EQ(state.mode, mode);
        ASSERT_NE(state.h_pixels, nullptr);
        EXPECT_EQ(state.d_pixels, nullptr);
        EXPECT_GE(malloc_usable_size(state.h_pixels), BUFFER_SIZE);
        EXPECT_TRUE(allZero(state.h_pixels)) << "a new host image starts black";
    }
    // SIMD mode runs on the best target and on as many threads as OpenMP would start, which
    // OMP_NUM_THREADS (here its run-time counterpart) limits.
    EXPECT_EQ(simdRun.target.name, simdTargets().front());
    EXPECT_NE(simdRun.target.rows, nullptr);
    EXPECT_EQ(simdRun.threads, omp_get_max_threads());
    const int all = omp_get_max_threads();
    omp_set_num_threads(1);
    setMode(MODE_SIMD);
    omp_set_num_threads(all);
    EXPECT_EQ(simdRun.threads, 1);
}

TEST_F(Modes, SelectingTheCurrentModeReallocates) {
    for (int mode : {MODE_CPU, MODE_SIMD}) {
        SCOPED_TRACE(mode);
        setMode(mode);
        std::size_t inUse = 0;
        for (int round = 0; round < 50; round++) {
            std::memset(state.h_pixels, 0xAB, BUFFER_SIZE);
            setMode(mode);
            ASSERT_NE(state.h_pixels, nullptr);
            ASSERT_TRUE(allZero(state.h_pixels)) << "the old image was kept, round " << round;
            ASSERT_EQ(state.d_pixels, nullptr);
            // glibc may move the image from a mapping to the heap
            if (round == 0) inUse = bytesInUse();
        }
        EXPECT_EQ(bytesInUse(), inUse) << "host memory grew across switches";
    }
}

// Both ways into a GPU that cannot work: the switch (no device image can be had) and a frame in
// GPU mode (here every launch is refused; gpu_tests covers a kernel that faults on a real GPU).
// Each way ends on the CPU renderer the user came from, the loop or SIMD, which renders the exact
// image.
TEST_F(Modes, GpuModeWithoutAGpuSaysSoAndTheCpuRenders) {
    if (gpuUsable()) GTEST_SKIP() << "a CUDA device is usable here; this case needs none";
    state.precision = 100;
    state.mx = -0.8f;
    state.my = 0.156f;
    std::vector<float4> cpuImage(PIXEL_COUNT);
    renderJuliaCPU(cpuImage.data(), frameParams(state));
    const struct {
        const char* name;
        int from;     // the CPU renderer the user was on
        bool frame;   // GPU mode is entered and its frame fails; otherwise entering it fails
    } ways[] = {{"switch from CPU", MODE_CPU, false}, {"switch from SIMD", MODE_SIMD, false},
                {"frame from CPU", MODE_CPU, true},   {"frame from SIMD", MODE_SIMD, true}};
    auto enterGpu = [](int from, bool frame) {
        setMode(from);
        if (frame) {  // GPU mode as initGPU would leave it, with a device image no launch can use
            cleanMode();
            state.mode = MODE_GPU;
            initCPU();
            state.d_pixels = reinterpret_cast<float4*>(alignof(float4));
        } else {
            setMode(MODE_GPU);
        }
        renderCurrentMode();
    };
    for (const auto& way : ways) {
        SCOPED_TRACE(way.name);
        std::size_t inUse = 0;
        for (int round = 0; round < 12; round++) {
            ::testing::internal::CaptureStdout();
            enterGpu(way.from, way.frame);
            const std::string out = ::testing::internal::GetCapturedStdout();
            const std::string start = way.frame ? "ERROR: the GPU could not render the frame: "
                                                : "ERROR: no usable GPU: ";
            const char* verb = way.frame ? "; switching to the " : "; staying on the ";
            const std::string end =
                verb + std::string(way.from == MODE_SIMD ? "SIMD" : "CPU") + " renderer\n";
            EXPECT_EQ(out.rfind(start, 0), 0u) << out;
            ASSERT_GT(out.size(), start.size() + end.size()) << "the runtime's reason";
            EXPECT_EQ(out.substr(out.size() - end.size()), end) << out;
            EXPECT_EQ(out.find('\n'), out.size() - 1) << "exactly one line: " << out;
            EXPECT_EQ(state.mode, way.from);
            ASSERT_NE(state.h_pixels, nullptr);
            EXPECT_GE(malloc_usable_size(state.h_pixels), BUFFER_SIZE);
            EXPECT_EQ(state.d_pixels, nullptr);
            ASSERT_TRUE(imagesEqual(cpuImage.data(), state.h_pixels));
            // after the runtimes' one-time set-up: CUDA's, and the start of the SIMD workers
            if (round == 1) inUse = bytesInUse();
        }
        EXPECT_EQ(bytesInUse(), inUse) << "host memory grew across failed tries";
    }
}

// A host image that cannot be had is reported on one line, and the mode runs on without it: the
// frame step renders nothing, and the next switch allocates it again. The address space is capped
// in a child process, so that no other allocation of the test run fails.
TEST_F(Modes, AHostImageThatCannotBeAllocatedIsReported) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer reserves terabytes of address space and aborts on a failed "
                    "allocation; an address-space cap cannot work under it";
#else
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    std::fflush(nullptr);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        dup2(out[1], STDOUT_FILENO);
        cleanMode();
        long pages = 0;
        std::ifstream("/proc/self/statm") >> pages;
        struct rlimit cap, saved;
        getrlimit(RLIMIT_AS, &saved);
        cap = saved;
        cap.rlim_cur = (rlim_t)pages * sysconf(_SC_PAGESIZE) + (4 << 20);
        setrlimit(RLIMIT_AS, &cap);
        void* probe = mmap(nullptr, BUFFER_SIZE, PROT_READ | PROT_WRITE,
                           MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (probe != MAP_FAILED) _exit(77);  // the cap is not enforced (qemu-user ignores it)
        setMode(MODE_CPU);
        if (state.h_pixels != nullptr || state.mode != MODE_CPU) _exit(1);
        renderCurrentMode();
        setrlimit(RLIMIT_AS, &saved);
        setMode(MODE_CPU);
        _exit(state.h_pixels != nullptr && allZero(state.h_pixels) ? 0 : 2);
    }
    close(out[1]);
    std::string said;
    char buf[256];
    for (ssize_t n; (n = read(out[0], buf, sizeof buf)) > 0;) said.append(buf, n);
    close(out[0]);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << status;
    if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "the address-space cap is not enforced here";
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: an image or another mode; 2: none after the cap";
    EXPECT_EQ(said, "ERROR: cannot allocate the host image (12582912 bytes)\n");
#endif
}

// Where nothing can be pinned (no driver), GPU frames get ordinary zeroed memory, released by free.
TEST_F(Modes, GpuHostImageWithoutAGpuIsOrdinaryZeroedMemory) {
    if (gpuUsable()) GTEST_SKIP() << "a CUDA device is usable here; this case needs none";
    freeGpuHostImage(allocGpuHostImage());  // the runtime's one-time set-up, before counting
    const std::size_t before = bytesInUse();
    const HostImage h = allocGpuHostImage();
    ASSERT_NE(h.pixels, nullptr);
    EXPECT_FALSE(h.pinned);
    EXPECT_GE(malloc_usable_size(h.pixels), BUFFER_SIZE);
    EXPECT_TRUE(allZero(h.pixels));
    freeGpuHostImage(h);
    freeGpuHostImage({});
    EXPECT_EQ(bytesInUse(), before);
}

}  // namespace
