// Start and end of the real program: window, titles, first picture with each draw and the GL calls
// that drew it, the 8-bit draw refused on a 10-bit window or where GL changes its bytes, ESC, a
// malformed option of ours, and no display at all.
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "byte_image.h"
#include "geometry.h"
#include "harness.h"

#include <X11/Xlib.h>
#include <X11/keysym.h>

namespace win {
namespace {

const std::regex kRefreshedTitle("Julia Fractals:  CPU mode, [0-9]+\\.[0-9]{2} FPS");

// The draws the program made: the calibration's, then the frames' (gl_spy.cpp).
const std::string kCalibrationRows =
    std::to_string(calibrationImage(WIDTH).size() / WIDTH);
const std::string kFloatFrames = "float 1024x768";
const std::string kByteFrames = "float 1024x" + kCalibrationRows + ", bytes 1024x" +
                                kCalibrationRows + ", bytes 1024x768";

// With either draw: the initial state's picture holds exact ties (c = 0.9f, 229.5 in float), so
// an 8-bit draw by any other rounding than the window's own shows in the comparison. The pictures
// are the same whichever draw runs, so the GL calls say which did: the 8-bit draw's two checks
// (floats read back, then our own bytes) and then bytes for every frame. A GL that changes our
// bytes fails the second check: it is said once, and floats are drawn.
TEST(StartUp, WindowTitleAndFirstPicture) {
    const struct {
        const char* args;
        bool alterBytes;  // the spy changes a byte of every 8-bit draw
        std::string draws, err;
    } runs[] = {
        {"", false, kFloatFrames, ""},
        {"--draw=float", false, kFloatFrames, ""},
        {"--draw=8bit", false, kByteFrames, ""},
        {"--draw 8bit", false, kByteFrames, ""},
        {"--draw=8bit", true,
         "float 1024x" + kCalibrationRows + ", bytes 1024x" + kCalibrationRows + ", " +
             kFloatFrames,
         "julia-fractals: --draw=8bit: this OpenGL does not show 8-bit pixels unchanged; drawing "
         "floats\n"},
    };
    for (const auto& run : runs) {
        SCOPED_TRACE(std::string(run.args) + (run.alterBytes ? ", our bytes changed" : ""));
        Session s;
        ASSERT_TRUE(s.startServer());
        std::vector<std::string> args;
        std::istringstream words(run.args);
        for (std::string w; words >> w;) args.push_back(w);
        s.spyOnDraws(run.alterBytes);
        ASSERT_TRUE(s.startProgram(args));
        EXPECT_EQ(s.firstTitle(), "Julia Fractals") << "title before the first refresh";

        XWindowAttributes a;
        ASSERT_TRUE(XGetWindowAttributes(s.dpy(), s.window(), &a));
        EXPECT_EQ(a.width, 1024);
        EXPECT_EQ(a.height, 768);
        int rootX = -1, rootY = -1;
        Window child;
        XTranslateCoordinates(s.dpy(), s.window(), DefaultRootWindow(s.dpy()), 0, 0, &rootX,
                              &rootY, &child);
        EXPECT_EQ(rootX, 0);
        EXPECT_EQ(rootY, 0);

        EXPECT_TRUE(s.waitForPicture(View{}));

        // Two refreshes, so a later one is checked too, not only the first.
        for (int k = 0; k < 2; k++) {
            std::string t;
            ASSERT_TRUE(s.waitTitleRefresh(&t)) << "no title refresh";
            EXPECT_TRUE(std::regex_match(t, kRefreshedTitle)) << t;
        }
        EXPECT_TRUE(s.program().running());
        EXPECT_EQ(drawRuns(s.draws()), run.draws);
        // Silent unless the check failed: a window of 8 bits per colour takes the 8-bit draw where
        // it was asked for.
        EXPECT_EQ(s.programStderr(), run.err);
        EXPECT_EQ(s.programStdout(), "");

        // The viewer runs as started: no second start with a variable of its own, which whatever
        // it starts would inherit.
        if (getenv("OMP_WAIT_POLICY") == nullptr) {
            std::ifstream in("/proc/" + std::to_string(s.program().pid()) + "/environ");
            const std::string env((std::istreambuf_iterator<char>(in)), {});
            EXPECT_EQ(('\0' + env).find(std::string(1, '\0') + "OMP_WAIT_POLICY="),
                      std::string::npos);
        }
    }
}

// A window of 10 bits per colour cannot show bytes as the floats would show: the 8-bit draw is
// refused there, said once, and the float draw runs. Without the option nothing is said.
TEST(StartUp, EightBitDrawOnATenBitWindowDrawsFloats) {
    const std::string notice =
        "julia-fractals: --draw=8bit: the window has 10/10/10 bits per colour, not 8; drawing "
        "floats\n";
    for (const bool asked : {true, false}) {
        SCOPED_TRACE(asked ? "--draw=8bit" : "no option");
        Session s;
        ASSERT_TRUE(s.startServer(30));
        s.spyOnDraws();
        ASSERT_TRUE(s.startProgram(asked ? std::vector<std::string>{"--draw=8bit"}
                                         : std::vector<std::string>{}));
        std::string t;
        for (int k = 0; k < 2; k++) {
            ASSERT_TRUE(s.waitTitleRefresh(&t)) << "no title refresh";
            EXPECT_TRUE(std::regex_match(t, kRefreshedTitle)) << t;
        }
        EXPECT_EQ(drawRuns(s.draws()), kFloatFrames) << "no calibration, only floats";
        EXPECT_EQ(s.programStderr(), asked ? notice : "");
        EXPECT_EQ(s.programStdout(), "");
        expectEscapeEnds(s);
    }
}

TEST(End, EscapeExitsAtOnceWithStatusZero) {
    Session s;
    ASSERT_TRUE(s.startServer());
    ASSERT_TRUE(s.startProgram());
    ASSERT_TRUE(s.waitForPicture(View{}));
    expectEscapeEnds(s, 200, 600);
}

// A --draw value the viewer does not know, or a value given to the --periodicity flag, ends it
// before any window, with one line on stderr that names the option.
TEST(End, AMalformedOptionOfOursIsRefused) {
    const struct {
        const char* arg;
        const char* option;
    } cases[] = {{"--draw=16bit", "--draw"},
                 {"--draw=", "--draw"},
                 {"--periodicity=false", "--periodicity"},
                 {"--periodicity=1", "--periodicity"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arg);
        Capture out, err;
        Child program;
        std::string why;
        ASSERT_TRUE(program.spawn({JULIA_FRACTALS_PATH, c.arg}, {"DISPLAY"}, out.fd(), err.fd(),
                                  -1, &why))
            << why;
        int status = 0;
        ASSERT_TRUE(program.waitExit(Ms(20000), &status));
        ASSERT_TRUE(WIFEXITED(status)) << "wait status " << status;
        EXPECT_EQ(WEXITSTATUS(status), 1);
        const std::string e = err.text();
        EXPECT_EQ(e.rfind("julia-fractals: ", 0), 0u) << e;
        EXPECT_NE(e.find(c.option), std::string::npos) << e;
        EXPECT_EQ(std::count(e.begin(), e.end(), '\n'), 1) << e;
        EXPECT_EQ(out.text(), "");
    }
}

TEST(End, WithoutADisplayFreeglutFails) {
    Capture out, err;
    Child program;
    std::string why;
    ASSERT_TRUE(program.spawn({JULIA_FRACTALS_PATH}, {"DISPLAY"}, out.fd(), err.fd(), -1, &why))
        << why;
    int status = 0;
    ASSERT_TRUE(program.waitExit(Ms(20000), &status)) << "still running without a display";
    ASSERT_TRUE(WIFEXITED(status)) << "wait status " << status;
    EXPECT_NE(WEXITSTATUS(status), 0);
    EXPECT_NE(err.text().find("freeglut"), std::string::npos) << err.text();
    EXPECT_NE(err.text().find("failed to open display"), std::string::npos) << err.text();
    EXPECT_EQ(out.text(), "");
}

}  // namespace
}  // namespace win
