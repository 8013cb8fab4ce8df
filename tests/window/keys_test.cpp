// The keyboard on the real window: mode keys with each draw, and keys and buttons that must do
// nothing.
#include <omp.h>

#include <algorithm>
#include <regex>
#include <string>

#include "harness.h"
#include "simd_renderer.h"

#include <X11/keysym.h>

namespace win {
namespace {

using Keys = Running;

// The mode part of a refreshed title: "CPU mode", "GPU mode", "SIMD mode (<target>, <n> threads)".
std::string modeOf(const std::string& title) {
    std::smatch m;
    static const std::regex refreshed("Julia Fractals:  (.+), [0-9]+\\.[0-9]{2} FPS");
    return std::regex_match(title, m, refreshed) ? m[1].str() : "bad title: " + title;
}

// What SIMD mode must say it runs on: this CPU's best target, every thread OpenMP would start.
std::string simdLabel() {
    SimdTarget best;
    findSimdTarget("", &best);
    const int n = std::min(simdThreads(0), omp_get_thread_limit());
    return "SIMD mode (" + best.name + ", " + std::to_string(n) +
           (n == 1 ? " thread)" : " threads)");
}

// Each mode key at a state with detail, the exact picture after each, with the float draw and with
// the 8-bit one, and with the periodicity check at a state whose orbits cycle (the picture is
// still the plain rule's; the title says which loop runs). Without a GPU the GPU keys cannot start
// it: one error line each, naming the renderer that stays (the loop or SIMD).
void modeKeysSwitch(Session& session, View& view, bool periodicity = false) {
    // Seed -0.801 + 0.156i, a dust without interior; with the check -0.123 + 0.744i, whose
    // interior orbits end on a cycle of period 3.
    const int x = periodicity ? 471 : 245, y = periodicity ? 136 : 332;
    session.clickAt(kLeft, x, y);
    view.seedFrom(x, y);
    session.wheel(20);
    view.precision += 40;
    ASSERT_TRUE(session.waitForPicture(view));

    const bool gpu = gpuUsable();
    enum { CPU, GPU, SIMD };
    const std::string check = periodicity ? ", periodicity check" : "";
    const std::string labels[] = {"CPU mode" + check, "GPU mode" + check, simdLabel() + check};
    const struct {
        unsigned long sym;
        int mode;
    } keys[] = {{XK_2, GPU},  {XK_1, CPU},    {XK_Down, GPU}, {XK_Up, CPU}, {XK_2, GPU},
                {XK_2, GPU},  {XK_1, CPU},    {XK_1, CPU},    {XK_3, SIMD}, {XK_2, GPU},
                {XK_3, SIMD}, {XK_1, CPU},    {XK_3, SIMD},   {XK_3, SIMD}, {XK_Down, GPU},
                {XK_Up, CPU}};
    session.moveTo(600, 500);
    int mode = CPU;
    std::string lines;  // what the console should say
    for (const auto& k : keys) {
        SCOPED_TRACE("key " + std::to_string(k.sym));
        session.key(k.sym);
        ASSERT_TRUE(session.settle(view));
        if (k.mode != GPU || gpu) {
            mode = k.mode;
        } else {
            lines += mode == SIMD ? "SIMD\n" : "CPU\n";
        }
        std::string t;
        ASSERT_TRUE(session.waitTitleRefresh(&t));
        EXPECT_EQ(modeOf(t), labels[mode]);
    }
    // Every line says that GPU mode could not start, why, and which renderer stays.
    static const std::regex noGpu("ERROR: no usable GPU: .+; staying on the (CPU|SIMD) renderer\n");
    std::string said;
    const std::string out = session.programStdout();
    for (std::sregex_iterator m(out.begin(), out.end(), noGpu), end; m != end; ++m) {
        said += (*m)[1].str() + "\n";
    }
    EXPECT_EQ(said, lines) << out;
    EXPECT_EQ(session.countLines(""), std::count(lines.begin(), lines.end(), '\n')) << out;
    EXPECT_EQ(session.programStderr(), "") << "the draw asked for is the draw in use";
}

// The fixture's viewer draws floats, as it does without the options; then one viewer per option.
TEST_F(Keys, ModeKeysSwitchAndThePictureStays) {
    modeKeysSwitch(session, view);
    for (const char* option : {"--draw=8bit", "--periodicity"}) {
        SCOPED_TRACE(option);
        Session other;
        View otherView;
        ASSERT_TRUE(other.startServer());
        ASSERT_TRUE(other.startProgram({option}));
        ASSERT_TRUE(other.waitForPicture(otherView));
        modeKeysSwitch(other, otherView, std::string(option) == "--periodicity");
    }
}

TEST_F(Keys, OtherKeysAndButtonsChangeNothing) {
    session.clickAt(kLeft, 400, 300);
    view.seedFrom(400, 300);
    ASSERT_TRUE(session.waitForPicture(view));

    const unsigned long keys[] = {XK_Left,  XK_Right,     XK_a,      XK_z,    XK_F1,
                                  XK_F2,    XK_F12,       XK_space,  XK_Tab,  XK_Return,
                                  XK_0,     XK_4,         XK_Prior,  XK_Home, XK_BackSpace,
                                  XK_minus, XK_Insert,    XK_Delete, XK_End,  XK_Next};
    for (unsigned long k : keys) session.key(k);
    // The key that gives '1' or '2', but with Shift: '!' and '@' are other characters.
    session.key(XK_1, XK_Shift_L);
    session.key(XK_2, XK_Shift_L);
    session.key(XK_q, XK_Shift_L);
    // Buttons past the wheel's (GLUT 5 and up), and pointer moves with no button held.
    for (unsigned b = 6; b <= 10; b++) session.clickAt(b, 100 + 90 * b, 60 * b);
    session.moveTo(1000, 20);
    session.moveTo(400, 300);
    session.sync();
    EXPECT_EQ(session.xErrors(), 0) << "the server refused some of the input";

    ASSERT_TRUE(session.settle(view)) << "same seed, limit changed only by the settling step";
    EXPECT_EQ(session.programStdout(), "") << "no mode switch was attempted";
    std::string t;
    ASSERT_TRUE(session.waitTitleRefresh(&t));
    EXPECT_EQ(modeOf(t), "CPU mode");
}

}  // namespace
}  // namespace win
