// Start and end of the real program: window, titles, first picture, ESC, and no display at all.
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>

#include "harness.h"

#include <X11/Xlib.h>
#include <X11/keysym.h>

namespace win {
namespace {

const std::regex kRefreshedTitle("Julia Fractals:  CPU mode, [0-9]+\\.[0-9]{2} FPS");

TEST(StartUp, WindowTitleAndFirstPicture) {
    Session s;
    ASSERT_TRUE(s.startServer());
    ASSERT_TRUE(s.startProgram());
    EXPECT_EQ(s.firstTitle(), "Julia Fractals") << "title before the first refresh";

    XWindowAttributes a;
    ASSERT_TRUE(XGetWindowAttributes(s.dpy(), s.window(), &a));
    EXPECT_EQ(a.width, 1024);
    EXPECT_EQ(a.height, 768);
    int rootX = -1, rootY = -1;
    Window child;
    XTranslateCoordinates(s.dpy(), s.window(), DefaultRootWindow(s.dpy()), 0, 0, &rootX, &rootY,
                          &child);
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

    // The viewer runs as started: no second start with a variable of its own, which whatever it
    // starts would inherit.
    if (getenv("OMP_WAIT_POLICY") == nullptr) {
        std::ifstream in("/proc/" + std::to_string(s.program().pid()) + "/environ");
        const std::string env((std::istreambuf_iterator<char>(in)), {});
        EXPECT_EQ(('\0' + env).find(std::string(1, '\0') + "OMP_WAIT_POLICY="), std::string::npos);
    }
}

TEST(End, EscapeExitsAtOnceWithStatusZero) {
    Session s;
    ASSERT_TRUE(s.startServer());
    ASSERT_TRUE(s.startProgram());
    ASSERT_TRUE(s.waitForPicture(View{}));
    expectEscapeEnds(s, 200, 600);
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
