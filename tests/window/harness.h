// Drives the real program under a private Xvfb: starts both, finds the window, reads its title and
// pixels, sends input through XTest, and kills and reaps everything when it goes out of scope.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "gpu_renderer.h"  // gpuUsable: whether the program's GPU mode can start here
#include "julia.h"

// Xlib stays out of this header: its macros (Complex, None, Bool) clash with the core and with
// GoogleTest. A file that needs Xlib includes it after this header.
struct _XDisplay;

namespace win {

using XWindow = unsigned long;

using Ms = std::chrono::milliseconds;

constexpr float kScale = 0.003f;  // the program's fixed plane units per pixel

// X numbering of the pointer buttons (GLUT reports X button b as b - 1).
constexpr unsigned kLeft = 1, kMiddle = 2, kRight = 3, kWheelUp = 4, kWheelDown = 5;

struct Rgb {
    uint8_t r, g, b;
    bool operator==(const Rgb& o) const { return r == o.r && g == o.g && b == o.b; }
    bool operator!=(const Rgb& o) const { return !(*this == o); }
};

// A picture in window order: row 0 is the top row.
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<Rgb> px;
    const Rgb& at(int x, int y) const { return px[static_cast<size_t>(y) * width + x]; }
};

// What the input so far should have left in the program's state.
struct View {
    Complex seed{0.0f, 0.0f};
    int precision = 10;
    void seedFrom(int x, int y) { seed = screenToSeed(x, y, kScale); }
};

// The core's image for `v`, converted as Mesa stores float RGBA in a 24-bit window: each channel
// lrintf(clamp(c, 0, 1) * 255), the image's row 0 drawn as the window's bottom row.
Picture expectedPicture(const View& v);

// Every pixel, alpha ignored; on failure the count of differing pixels and the first few.
::testing::AssertionResult samePicture(const Picture& expected, const Picture& got);


// One glDrawPixels call of the program, as the preloaded spy (gl_spy.cpp) saw it.
struct DrawCall {
    int width = 0, height = 0;
    unsigned format = 0, type = 0;
};

// The calls in order, runs of equal ones written once: "float 1024x768" for the float draw of RGBA
// frames, "bytes 1024x3" for an 8-bit draw of 3 rows, other formats in hex.
std::string drawRuns(const std::vector<DrawCall>& calls);

// A file that a child writes its stdout or stderr into; removed on destruction.
class Capture {
public:
    Capture();
    ~Capture();
    Capture(const Capture&) = delete;
    Capture& operator=(const Capture&) = delete;
    int fd() const { return fd_; }
    std::string text() const;

private:
    std::string path_;
    int fd_ = -1;
};

// A child process that dies with the test process and is killed and reaped on destruction.
class Child {
public:
    Child() = default;
    ~Child() { stop(); }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    // env: NAME=value sets, a bare NAME removes. keepFd stays open in the child.
    bool spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env, int outFd,
               int errFd, int keepFd, std::string* why);
    pid_t pid() const { return pid_; }
    bool running();
    // Waits for the child to end by itself; true with its wait status if it did within `timeout`.
    bool waitExit(Ms timeout, int* status);
    // SIGTERM (or SIGKILL when hard), then SIGKILL after a grace period; always reaps.
    void stop(bool hard = true);

private:
    pid_t pid_ = -1;
    bool reaped_ = false;
    int status_ = 0;
};

// What the X RECORD callback has seen of the program's requests.
struct RecordedTitle {
    bool started = false;
    bool haveTitle = false;
    std::string firstTitle;
};

// One Xvfb, one connection to it, and at most one instance of the program on it.
class Session {
public:
    Session() = default;
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // A screen of `depth` bits per pixel: 24 gives 8 bits per colour, 30 gives 10.
    ::testing::AssertionResult startServer(int depth = 24);
    // Before startProgram: the program runs with the GL spy preloaded, which records its draws
    // and, with alterBytes, changes one byte of each 8-bit draw.
    void spyOnDraws(bool alterBytes = false) { spy_ = true, alterBytes_ = alterBytes; }
    // Starts the program with `args` and waits until its window is mapped and its first title is
    // known.
    ::testing::AssertionResult startProgram(const std::vector<std::string>& args = {});
    // The program's glDrawPixels calls so far (none without spyOnDraws).
    std::vector<DrawCall> draws() const;

    _XDisplay* dpy() const { return dpy_; }
    XWindow window() const { return win_; }
    Child& program() { return program_; }
    // The first title the program set, taken from its own request through the X RECORD extension:
    // a refresh that comes before the test looks cannot hide it.
    const std::string& firstTitle() const { return recorded_.firstTitle; }
    std::string title();
    std::string programStdout() const { return out_.text(); }
    std::string programStderr() const { return err_.text(); }

    // Resizes the window as a user would, and waits until the server has done it.
    ::testing::AssertionResult resize(int width, int height);
    // The image as the window shows it: its bottom-left corner, clipped to the window's size.
    bool grab(Picture* p);
    // Polls the window until it shows `expected` (clipped as grab is); at the timeout, the
    // difference it last showed.
    ::testing::AssertionResult waitForPicture(const Picture& expected, Ms timeout = Ms(6000));
    ::testing::AssertionResult waitForPicture(const View& v, Ms timeout = Ms(6000)) {
        return waitForPicture(expectedPicture(v), timeout);
    }
    // Waits for the next title the program sets after this call (the title is set even when its
    // text does not change), and returns it.
    bool waitTitleRefresh(std::string* title, Ms timeout = Ms(3000));

    // Input, all through XTest, flushed at once. Positions are on the screen, which equals the
    // window's own coordinates since the window sits at (0, 0) without a border.
    void moveTo(int x, int y);
    void button(unsigned b, bool press);
    void click(unsigned b) { button(b, true), button(b, false); }
    void clickAt(unsigned b, int x, int y) { moveTo(x, y), click(b); }
    void wheel(int steps);  // > 0 up, < 0 down; one press and one release per step
    // Presses and releases `sym`, with `modifier` held around it when given.
    void key(unsigned long sym, unsigned long modifier = 0);
    void sync();
    // X errors this process has had so far (they are counted, not fatal).
    static int xErrors();

    // One wheel step, alternately up and down, then the picture for it: when it shows, every
    // event sent before has been handled. The pointer must be over the window.
    ::testing::AssertionResult settle(View& v);

    long residentKb();
    int countLines(const std::string& prefix) const;

private:
    void drainEvents();
    ::testing::AssertionResult startRecording();

    Child xvfb_;
    Capture xvfbErr_;
    std::string display_;
    _XDisplay* dpy_ = nullptr;
    XWindow root_ = 0;
    XWindow win_ = 0;
    _XDisplay* recordDpy_ = nullptr;  // RECORD sends its data on a connection of its own
    unsigned long recordCtx_ = 0;
    RecordedTitle recorded_;
    Child program_;
    Capture out_;
    Capture err_;
    Capture draws_;
    bool spy_ = false, alterBytes_ = false;
    bool settleUp_ = true;
    int width_ = 1024, height_ = 768;  // the window's size
};

// A test with the program running and showing its first picture; `view` tracks what the input
// should have done to it.
class Running : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(session.startServer());
        ASSERT_TRUE(session.startProgram());
        ASSERT_TRUE(session.waitForPicture(view));
    }
    Session session;
    View view;
};

// ESC with the pointer over the window at (x, y): the program must be gone within 3 s, status 0.
void expectEscapeEnds(Session& s, int x = 512, int y = 100);

}  // namespace win
