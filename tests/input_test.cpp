// The input callbacks without a window: what each button and key does to the state.
#include <algorithm>
#include <climits>
#include <cstring>
#include <string>
#include <tuple>

#include <GL/freeglut_std.h>
#include <gtest/gtest.h>

#include "app_state.h"
#include "gpu_renderer.h"
#include "image_compare.h"
#include "input.h"
#include "modes.h"

namespace {

// Every field, floats by their bits; not the record's bytes, whose padding holds no state.
auto fields(const AppState& s) {
    return std::make_tuple(s.precision, floatBits(s.scale), s.mode, floatBits(s.mx),
                           floatBits(s.my), s.frameCount, s.lastTitleTime, s.h_pixels, s.d_pixels,
                           s.h_pinned);
}

class Input : public ::testing::Test {
protected:
    void SetUp() override {
        saved = state;
        state.mode = MODE_CPU;
        initMode();
    }
    void TearDown() override {
        cleanMode();
        state = saved;
    }
    AppState saved;
};

TEST_F(Input, ButtonsZeroToTwoSetTheSeedOnPressAndRelease) {
    for (int button : {GLUT_LEFT_BUTTON, GLUT_MIDDLE_BUTTON, GLUT_RIGHT_BUTTON}) {
        for (int updown : {GLUT_DOWN, GLUT_UP}) {
            state.mx = state.my = 99.0f;
            mouse(button, updown, 512, 384);
            EXPECT_EQ(floatBits(state.mx), floatBits(0.0f));
            EXPECT_EQ(floatBits(state.my), floatBits(-0.0f));
            mouse(button, updown, 0, 0);
            EXPECT_EQ(state.mx, -1.536f);
            EXPECT_EQ(state.my, 1.152f);
            EXPECT_EQ(state.precision, 10) << "a click never touches the limit";
        }
    }
    motion(1023, 767);
    EXPECT_EQ(state.mx, 1.533f);
    EXPECT_EQ(state.my, -1.149f);
    motion(-200, 2000);  // a drag outside the window: a seed outside the view
    EXPECT_EQ(state.mx, 0.003f * -712.0f);
    EXPECT_EQ(state.my, 0.003f * -1616.0f);
}

TEST_F(Input, WheelMovesTheLimitPerCallAndSaturates) {
    mouse(3, GLUT_DOWN, 10, 10);
    mouse(3, GLUT_UP, 10, 10);
    EXPECT_EQ(state.precision, 12) << "a wheel step arrives as a press and a release";
    EXPECT_EQ(state.mx, 0.0f) << "the wheel never moves the seed";
    for (int k = 0; k < 20; k++) mouse(4, k % 2, 600, 600);
    EXPECT_EQ(state.precision, -8) << "the limit goes below zero";

    state.precision = INT_MAX - 1;
    for (int k = 0; k < 4; k++) mouse(3, GLUT_DOWN, 0, 0);
    EXPECT_EQ(state.precision, INT_MAX);
    state.precision = INT_MIN + 1;
    for (int k = 0; k < 4; k++) mouse(4, GLUT_UP, 0, 0);
    EXPECT_EQ(state.precision, INT_MIN);
    mouse(3, GLUT_DOWN, 0, 0);
    EXPECT_EQ(state.precision, INT_MIN + 1) << "and it comes back step by step";
}

TEST_F(Input, OtherButtonsAndKeysChangeNothing) {
    float4* const image = state.h_pixels;
    std::memset(image, 0x5A, 64);
    const AppState before = state;
    for (int button : {5, 6, 7, 8, 100}) mouse(button, GLUT_DOWN, 3, 3);
    const unsigned char keys[] = {'a', 'Z', '0', '4', ' ', '\r', 177, 179, 155};
    for (unsigned char key : keys) keyboard(key, 0, 0);
    for (int key : {GLUT_KEY_LEFT, GLUT_KEY_RIGHT, GLUT_KEY_F1, GLUT_KEY_F12, GLUT_KEY_PAGE_UP,
                    GLUT_KEY_HOME})
        special(key, 0, 0);
    EXPECT_EQ(fields(before), fields(state));
    EXPECT_EQ(static_cast<unsigned char*>(static_cast<void*>(image))[0], 0x5A)
        << "the image was reallocated";
}

// '3' (SIMD) has no arrow key; every mode key reallocates, the current mode's too.
TEST_F(Input, ModeKeysReallocateEvenTheCurrentMode) {
    const struct {
        void (*press)();
        int mode;
    } presses[] = {{[] { keyboard('1', 0, 0); }, MODE_CPU},
                   {[] { special(GLUT_KEY_UP, 0, 0); }, MODE_CPU},
                   {[] { keyboard('3', 0, 0); }, MODE_SIMD},
                   {[] { keyboard('3', 0, 0); }, MODE_SIMD},
                   {[] { special(GLUT_KEY_UP, 0, 0); }, MODE_CPU}};
    for (const auto& p : presses) {
        std::memset(state.h_pixels, 0x5A, 64);
        p.press();
        EXPECT_EQ(state.mode, p.mode);
        ASSERT_NE(state.h_pixels, nullptr);
        EXPECT_EQ(static_cast<unsigned char*>(static_cast<void*>(state.h_pixels))[0], 0)
            << "a new, cleared host image";
    }
}

// Without a GPU, the renderer that ran before stays: the loop or SIMD.
TEST_F(Input, GpuKeysSelectTheGpuModeOrSayWhyNot) {
    const bool gpu = gpuUsable();
    for (int from : {MODE_CPU, MODE_SIMD}) {
        for (auto press : {+[] { keyboard('2', 0, 0); }, +[] { special(GLUT_KEY_DOWN, 0, 0); }}) {
            setMode(from);
            ::testing::internal::CaptureStdout();
            press();
            const std::string out = ::testing::internal::GetCapturedStdout();
            ASSERT_NE(state.h_pixels, nullptr);
            if (gpu) {
                EXPECT_EQ(state.mode, MODE_GPU);
                EXPECT_NE(state.d_pixels, nullptr);
                EXPECT_EQ(out, "");
            } else {
                const std::string stay = std::string("staying on the ") +
                                         (from == MODE_SIMD ? "SIMD" : "CPU") + " renderer\n";
                EXPECT_EQ(state.mode, from);
                EXPECT_EQ(state.d_pixels, nullptr);
                EXPECT_EQ(out.rfind("ERROR: no usable GPU: ", 0), 0u) << out;
                EXPECT_EQ(out.substr(out.size() - std::min(out.size(), stay.size())), stay) << out;
            }
        }
    }
}

TEST(InputDeathTest, EscapeExitsWithStatusZero) {
    EXPECT_EXIT(keyboard(27, 0, 0), ::testing::ExitedWithCode(0), "");
}

}  // namespace
