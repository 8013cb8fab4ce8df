// Robustness: thousands of random input events, and memory across many mode switches.
#include <sys/wait.h>

#include <algorithm>
#include <random>
#include <string>
#include <thread>

#include "harness.h"

#include <X11/keysym.h>

namespace win {
namespace {

using Robustness = Running;

constexpr long kImageKb = 12288;  // one 1024 x 768 float RGBA image

bool outsideWindow(int x, int y) {
    return x > 1023 || y > 767;
}

TEST_F(Robustness, StormOfRandomInput) {
    const unsigned seed = 20240611;
    SCOPED_TRACE("storm seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    auto inside = [&](int* x, int* y) { *x = pick(0, 1023), *y = pick(0, 767); };
    auto anywhere = [&](int* x, int* y) { *x = pick(0, 1279), *y = pick(0, 1023); };
    auto outside = [&](int* x, int* y) {
        do anywhere(x, y);
        while (!outsideWindow(*x, *y));
    };

    const bool gpu = gpuUsable();
    const unsigned long mashKeys[] = {XK_1, XK_2,     XK_Up, XK_Down,  XK_Left, XK_3,
                                      XK_a, XK_Right, XK_F5, XK_space, XK_k};
    const int mashCount = sizeof mashKeys / sizeof mashKeys[0];
    int gpuSelects = 0, simdSelects = 0;
    const char* lastMode = "CPU mode";  // without a GPU, its keys leave the mode as it was
    int sent = 0, ops = 0;
    int x, y;
    while (sent < 4000) {
        const int op = pick(0, 99);
        if (op < 28) {  // click inside, any of the three buttons
            inside(&x, &y);
            session.clickAt(pick(1, 3), x, y);
            view.seedFrom(x, y);
            sent += 3;
        } else if (op < 42) {  // drag from inside, wandering in and out, released wherever
            const unsigned b = pick(1, 3);
            inside(&x, &y);
            session.moveTo(x, y);
            session.button(b, true);
            const int steps = pick(2, 12);
            for (int k = 0; k < steps; k++) {
                anywhere(&x, &y);
                session.moveTo(x, y);
            }
            session.button(b, false);
            view.seedFrom(x, y);
            sent += steps + 3;
        } else if (op < 48) {  // a click outside the window never reaches it
            outside(&x, &y);
            session.clickAt(pick(1, 3), x, y);
            sent += 3;
        } else if (op < 68) {  // a wheel burst; its direction keeps the limit crossing zero
            inside(&x, &y);
            session.moveTo(x, y);
            int dir = pick(0, 1) ? 1 : -1;
            if (view.precision > 24) dir = -1;
            if (view.precision < -12) dir = 1;
            const int steps = pick(1, 8);
            session.wheel(dir * steps);
            view.precision += 2 * dir * steps;  // press and release each count
            sent += 1 + 2 * steps;
        } else if (op < 72) {  // the wheel outside the window
            outside(&x, &y);
            session.moveTo(x, y);
            session.wheel(pick(0, 1) ? pick(1, 4) : -pick(1, 4));
            sent += 5;
        } else if (op < 77) {  // buttons past the wheel's
            inside(&x, &y);
            session.clickAt(pick(6, 10), x, y);
            sent += 3;
        } else {  // key mashing over the window, mode keys among others
            inside(&x, &y);
            session.moveTo(x, y);
            const int n = pick(1, 6);
            for (int k = 0; k < n; k++) {
                const unsigned long sym = mashKeys[pick(0, mashCount - 1)];
                session.key(sym);
                if (sym == XK_2 || sym == XK_Down) {
                    gpuSelects++;
                    if (gpu) lastMode = "GPU mode";
                }
                if (sym == XK_1 || sym == XK_Up) lastMode = "CPU mode";
                if (sym == XK_3) simdSelects++, lastMode = "SIMD mode (";
            }
            sent += 1 + 2 * n;
        }
        // Keeps the server's input queue short; the program may lag behind as it likes.
        if (++ops % 8 == 0) session.sync();
    }
    ASSERT_GT(gpuSelects, 0);
    ASSERT_GT(simdSelects, 0);
    ASSERT_TRUE(session.program().running()) << "the program died under the storm";

    inside(&x, &y);
    session.moveTo(x, y);
    ASSERT_TRUE(session.waitForPicture(view, Ms(20000))) << "limit " << view.precision;
    ASSERT_TRUE(session.settle(view)) << "after the storm";
    EXPECT_EQ(session.xErrors(), 0) << "the server refused some of the input";
    EXPECT_EQ(session.countLines("ERROR: "), gpu ? 0 : gpuSelects);
    std::string t;
    ASSERT_TRUE(session.waitTitleRefresh(&t));
    EXPECT_EQ(t.find(lastMode), std::string("Julia Fractals:  ").size()) << t;

    expectEscapeEnds(session);
}

// After a warm-up (the GPU runtime's first attempt, the allocator settling on where it puts the
// images), more switches must not add to the resident memory. The slack is one image, which the
// allocator may keep after a free, plus 4 MiB of noise; a leak of even one image in 25 switches
// would exceed it.
TEST_F(Robustness, ModeSwitchesDoNotGrowResidentMemory) {
    const unsigned long modeKeys[] = {XK_2, XK_1, XK_3, XK_Down, XK_Up, XK_3};
    int switches = 0, gpuKeys = 0;
    auto switchModes = [&](int n) {
        for (int k = 0; k < n; k++, switches++) {
            const unsigned long sym = modeKeys[switches % 6];
            session.key(sym);
            if (sym == XK_2 || sym == XK_Down) gpuKeys++;
            if (k % 16 == 15) session.sync();
        }
    };
    auto resident = [&]() {
        long most = 0;
        for (int k = 0; k < 5; k++) {  // the highest of a few readings across frames
            most = std::max(most, session.residentKb());
            std::this_thread::sleep_for(Ms(40));
        }
        return most;
    };

    session.moveTo(512, 600);
    switchModes(64);
    ASSERT_TRUE(session.settle(view));
    const long warm = resident();
    switchModes(400);
    ASSERT_TRUE(session.settle(view));
    const long after = resident();
    ASSERT_GT(warm, 0) << "VmRSS not readable";
    EXPECT_LE(after, warm + kImageKb + 4096) << "VmRSS " << warm << " kB after the warm-up, "
                                             << after << " kB after 400 more switches";
    if (!gpuUsable()) {
        EXPECT_EQ(session.countLines("ERROR: "), gpuKeys);
    }
    expectEscapeEnds(session);
}

}  // namespace
}  // namespace win
