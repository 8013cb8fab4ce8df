// The title refresh rule (the 500 ms edge, across the wrap of GLUT's clock; the rate's
// single-precision value and its format) and the frame step that counts the frames it shows.
#include <climits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app_state.h"
#include "frame.h"
#include "gpu_renderer.h"
#include "modes.h"
#include "title.h"

namespace {

std::string refresh(int mode, int frames, int now, int last, bool* due = nullptr,
                    bool periodicity = false) {
    char t[TITLE_SIZE] = "untouched";
    const bool d = titleRefresh(t, sizeof t, mode, periodicity, frames, now, last);
    if (due) *due = d;
    return t;
}

TEST(Title, RefreshOnlyWhenMoreThan500msPassed) {
    bool due = true;
    EXPECT_EQ(refresh(MODE_CPU, 30, 500, 0, &due), "untouched");
    EXPECT_FALSE(due);
    EXPECT_EQ(refresh(MODE_CPU, 30, 1700, 1200, &due), "untouched");
    EXPECT_FALSE(due);
    refresh(MODE_CPU, 30, 501, 0, &due);
    EXPECT_TRUE(due);
    refresh(MODE_CPU, 1, 1701, 1200, &due);
    EXPECT_TRUE(due);
    // GLUT's int clock wraps after 24.8 days: 500 and 501 ms across the wrap.
    EXPECT_EQ(refresh(MODE_CPU, 1, INT_MIN + 299, INT_MAX - 200, &due), "untouched");
    EXPECT_FALSE(due);
    EXPECT_EQ(refresh(MODE_CPU, 1, INT_MIN + 300, INT_MAX - 200, &due),
              "Julia Fractals:  CPU mode, 2.00 FPS");
}

TEST(Title, RateExamples) {
    struct { int frames, now; const char* shown; } cases[] = {
        {30, 501, "59.88"}, {1, 501, "2.00"}, {7, 503, "13.92"}, {600, 1000, "600.00"}};
    for (auto& c : cases) {
        EXPECT_EQ(refresh(MODE_CPU, c.frames, c.now, 0),
                  std::string("Julia Fractals:  CPU mode, ") + c.shown + " FPS");
    }
    EXPECT_EQ(refresh(MODE_GPU, 600, 2000, 1000), "Julia Fractals:  GPU mode, 600.00 FPS");
    // With --periodicity every mode's label says that its rate is of the loop with the check.
    EXPECT_EQ(refresh(MODE_CPU, 30, 501, 0, nullptr, true),
              "Julia Fractals:  CPU mode, periodicity check, 59.88 FPS");
    EXPECT_EQ(refresh(MODE_GPU, 600, 2000, 1000, nullptr, true),
              "Julia Fractals:  GPU mode, periodicity check, 600.00 FPS");

    // SIMD mode names what it runs on, as resolved on entering the mode.
    const SimdRun saved = simdRun;
    simdRun.target.name = "avx3";
    simdRun.threads = 2;
    EXPECT_EQ(refresh(MODE_SIMD, 121, 1001, 500),
              "Julia Fractals:  SIMD mode (avx3, 2 threads), 241.52 FPS");
    simdRun.target.name = "sse4";
    simdRun.threads = 1;
    EXPECT_EQ(refresh(MODE_SIMD, 7, 503, 0),
              "Julia Fractals:  SIMD mode (sse4, 1 thread), 13.92 FPS");
    EXPECT_EQ(refresh(MODE_SIMD, 7, 503, 0, nullptr, true),
              "Julia Fractals:  SIMD mode (sse4, 1 thread), periodicity check, 13.92 FPS");
    simdRun = saved;
}

TEST(Title, RateIsAFloatQuotient) {
    // 7000/503 is 13.916500994... in double but 13.9165010452 as a float.
    EXPECT_EQ(frameRate(7, 503), 7000.0f / 503.0f);
    EXPECT_NE((double)frameRate(7, 503), 7000.0 / 503.0);
    // frames * 1000 beyond INT_MAX stays a product, not a wrapped negative number
    EXPECT_EQ(frameRate(3000000, 1000), 3000000.0f);
}

// The longest: SIMD mode with a long target name, many threads and the check, at the highest rate.
TEST(Title, FitsItsBuffer) {
    const SimdRun saved = simdRun;
    simdRun.target.name = "avx3_spr";
    simdRun.threads = 100000;
    char t[TITLE_SIZE];
    ASSERT_TRUE(titleRefresh(t, sizeof t, MODE_SIMD, true, INT_MAX, 501, 0));
    EXPECT_LT(std::string(t).size(), sizeof t);
    EXPECT_EQ(std::string(t).substr(std::string(t).size() - 4), " FPS") << t;
    simdRun = saved;
}

// The frame step with a clock of our own and the titles it sets collected.
std::vector<std::string> titlesSet;
void collectTitle(const char* t) { titlesSet.push_back(t); }

class FrameStep : public ::testing::Test {
protected:
    void SetUp() override {
        saved = state;
        state.mode = MODE_CPU;
        state.frameCount = 0;
        state.lastTitleTime = 0;
        initMode();
        titlesSet.clear();
    }
    void TearDown() override {
        cleanMode();
        state = saved;
    }
    // One frame step at `now`; the title it set, or "" for none.
    static std::string frameAt(int now) {
        titlesSet.clear();
        computeFrame(now, collectTitle);
        EXPECT_LE(titlesSet.size(), 1u);
        return titlesSet.empty() ? "" : titlesSet.back();
    }
    static std::string shown(int mode, const char* rate) {
        return std::string("Julia Fractals:  ") + modeLabel(mode) + ", " + rate + " FPS";
    }
    AppState saved;
};

// The first refresh counts every frame since the start; a mode switch resets neither the counter
// nor the time of the last refresh, so the next one shows the new mode at a rate across both.
TEST_F(FrameStep, RefreshesCountFramesSinceTheLastOneAcrossModeSwitches) {
    const struct {
        int switchTo;      // setMode before the frame step; 0 for none
        int now;           // the clock at the frame step
        const char* rate;  // the rate it shows; nullptr when no refresh is due
    } steps[] = {
        {0, 100, nullptr},  {0, 250, nullptr},         {0, 500, nullptr},
        {0, 501, "7.98"},  // 4 frames since the start over 501 ms
        {MODE_SIMD, 700, nullptr}, {0, 900, nullptr},  {MODE_CPU, 1000, nullptr},
        {MODE_SIMD, 1002, "7.98"},  // 4 frames over 501 ms, in two modes
    };
    for (const auto& s : steps) {
        SCOPED_TRACE("frame step at " + std::to_string(s.now));
        if (s.switchTo != 0) setMode(s.switchTo);
        EXPECT_EQ(frameAt(s.now), s.rate ? shown(state.mode, s.rate) : "");
    }
    EXPECT_EQ(state.frameCount, 0);
    EXPECT_EQ(state.lastTitleTime, 1002);
}

// The frame step's title follows the state's periodicity check, as the renderers' parameters do.
TEST_F(FrameStep, ThePeriodicityCheckShowsInTheTitleAndReachesTheRenderers) {
    state.periodicity = true;
    EXPECT_TRUE(frameParams(state).periodicity);
    EXPECT_EQ(frameAt(501), "Julia Fractals:  CPU mode, periodicity check, 2.00 FPS");
    state.periodicity = false;
    EXPECT_FALSE(frameParams(state).periodicity);
    EXPECT_EQ(frameAt(1002), "Julia Fractals:  CPU mode, 2.00 FPS");
}

TEST_F(FrameStep, EveryModeCountsItsFrames) {
    std::vector<int> modes = {MODE_CPU, MODE_SIMD};
    if (gpuUsable()) modes.push_back(MODE_GPU);
    int last = 0;
    for (int mode : modes) {
        SCOPED_TRACE(modeLabel(mode));
        setMode(mode);
        ASSERT_EQ(state.mode, mode);
        frameAt(last + 501);  // the refresh that starts this mode's count
        last += 501;
        EXPECT_EQ(frameAt(last + 200), "");
        EXPECT_EQ(frameAt(last + 400), "");
        EXPECT_EQ(frameAt(last + 501), shown(mode, "5.99"));  // 3 frames over 501 ms
        last += 501;
    }
}

}  // namespace
