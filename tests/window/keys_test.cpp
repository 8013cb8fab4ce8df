// The keyboard on the real window: mode keys, and keys and buttons that must do nothing.
#include <regex>
#include <sstream>
#include <string>

#include "harness.h"

#include <X11/keysym.h>

namespace win {
namespace {

using Keys = Running;

std::string modeOf(const std::string& title) {
    std::smatch m;
    static const std::regex refreshed("Julia Fractals:  (CPU|GPU) mode, [0-9]+\\.[0-9]{2} FPS");
    return std::regex_match(title, m, refreshed) ? m[1].str() : "bad title: " + title;
}

// Every line the program printed, which must all say that GPU mode could not start, and why.
void expectOnlyErrorLines(const std::string& out, int count) {
    static const std::regex noGpu("ERROR: no usable GPU: .+; staying on the CPU renderer");
    std::stringstream ss(out);
    std::string line;
    int n = 0;
    while (std::getline(ss, line)) {
        EXPECT_TRUE(std::regex_match(line, noGpu)) << line;
        n++;
    }
    EXPECT_EQ(n, count) << out;
}

TEST_F(Keys, ModeKeysSwitchAndThePictureStays) {
    // Without a GPU the GPU mode cannot start: one error line per attempt, and CPU mode stays.
    const bool gpu = gpuUsable();
    const struct {
        unsigned long sym;
        bool gpuKey;
    } keys[] = {{XK_2, true}, {XK_1, false}, {XK_Down, true}, {XK_Up, false},
                {XK_2, true}, {XK_2, true},  {XK_1, false},   {XK_1, false}};
    session.moveTo(600, 500);
    int errors = 0;
    for (const auto& k : keys) {
        SCOPED_TRACE("key " + std::to_string(k.sym));
        session.key(k.sym);
        ASSERT_TRUE(session.settle(view));
        if (k.gpuKey && !gpu) errors++;
        EXPECT_EQ(session.countLines("ERROR: "), errors);
        std::string t;
        ASSERT_TRUE(session.waitTitleRefresh(&t));
        EXPECT_EQ(modeOf(t), k.gpuKey && gpu ? "GPU" : "CPU");
    }
    expectOnlyErrorLines(session.programStdout(), errors);
}

TEST_F(Keys, OtherKeysAndButtonsChangeNothing) {
    session.clickAt(kLeft, 400, 300);
    view.seedFrom(400, 300);
    ASSERT_TRUE(session.waitForPicture(view));

    const unsigned long keys[] = {XK_Left,  XK_Right,     XK_a,      XK_z,    XK_F1,
                                  XK_F2,    XK_F12,       XK_space,  XK_Tab,  XK_Return,
                                  XK_0,     XK_3,         XK_Prior,  XK_Home, XK_BackSpace,
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
    EXPECT_EQ(modeOf(t), "CPU");
}

}  // namespace
}  // namespace win
