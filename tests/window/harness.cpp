#include "harness.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include "cpu_renderer.h"
#include "geometry.h"

#include <GL/gl.h>  // the draw formats' names only

// Last: Xlib's macros would break the headers above.
#include <X11/Xatom.h>
#include <X11/keysym.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/Xproto.h>
#include <X11/extensions/record.h>

extern char** environ;

namespace win {

using Clock = std::chrono::steady_clock;

Picture expectedPicture(const View& v) {
    std::vector<float4> image(PIXEL_COUNT);
    renderJuliaCPU(image.data(), {v.seed.reel, v.seed.im, v.precision, kScale});
    auto channel = [](float c) {
        return static_cast<uint8_t>(lrintf(std::min(std::max(c, 0.0f), 1.0f) * 255.0f));
    };
    Picture p;
    p.width = WIDTH;
    p.height = HEIGHT;
    p.px.resize(PIXEL_COUNT);
    for (int i = 0; i < HEIGHT; i++) {
        for (int j = 0; j < WIDTH; j++) {
            const float4& f = image[static_cast<size_t>(i) * WIDTH + j];
            p.px[static_cast<size_t>(HEIGHT - 1 - i) * WIDTH + j] = {channel(f.x), channel(f.y),
                                                                     channel(f.z)};
        }
    }
    return p;
}

static std::ostream& operator<<(std::ostream& os, const Rgb& c) {
    return os << "(" << int(c.r) << "," << int(c.g) << "," << int(c.b) << ")";
}

::testing::AssertionResult samePicture(const Picture& expected, const Picture& got) {
    if (got.width != expected.width || got.height != expected.height) {
        return ::testing::AssertionFailure() << "picture is " << got.width << "x" << got.height
                                             << ", expected " << expected.width << "x"
                                             << expected.height;
    }
    long differing = 0;
    std::ostringstream first;
    for (size_t k = 0; k < expected.px.size(); k++) {
        if (expected.px[k] == got.px[k]) continue;
        if (++differing <= 8) {
            first << "\n  (x " << k % expected.width << ", y " << k / expected.width
                  << "): expected " << expected.px[k] << ", got " << got.px[k];
        }
    }
    if (differing == 0) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << differing << " of " << expected.px.size()
                                         << " pixels differ; first:" << first.str();
}

std::string drawRuns(const std::vector<DrawCall>& calls) {
    std::string runs;
    for (size_t k = 0; k < calls.size(); k++) {
        const DrawCall& c = calls[k];
        if (k > 0 && c.width == calls[k - 1].width && c.height == calls[k - 1].height &&
            c.format == calls[k - 1].format && c.type == calls[k - 1].type) {
            continue;
        }
        std::ostringstream run;
        if (c.format == GL_RGBA && c.type == GL_FLOAT) {
            run << "float";
        } else if (c.format == GL_RGBA && c.type == GL_UNSIGNED_BYTE) {
            run << "bytes";
        } else {
            run << std::hex << "format 0x" << c.format << " type 0x" << c.type << std::dec;
        }
        run << " " << c.width << "x" << c.height;
        runs += (runs.empty() ? "" : ", ") + run.str();
    }
    return runs;
}

// ---- Capture

Capture::Capture() {
    char name[] = "/tmp/julia-window-XXXXXX";
    fd_ = mkstemp(name);
    if (fd_ >= 0) path_ = name;
}

Capture::~Capture() {
    if (fd_ >= 0) {
        close(fd_);
        unlink(path_.c_str());
    }
}

std::string Capture::text() const {
    std::ifstream in(path_);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// ---- Child

bool Child::spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                  int outFd, int errFd, int keepFd, std::string* why) {
    std::vector<std::string> envStrings;
    for (char** e = environ; *e != nullptr; e++) envStrings.emplace_back(*e);
    for (const std::string& change : env) {
        const std::string name = change.substr(0, change.find('='));
        envStrings.erase(std::remove_if(envStrings.begin(), envStrings.end(),
                                        [&](const std::string& s) {
                                            return s.compare(0, name.size() + 1, name + "=") == 0;
                                        }),
                         envStrings.end());
        if (change.find('=') != std::string::npos) envStrings.push_back(change);
    }
    std::vector<char*> args, envp;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    for (const std::string& e : envStrings) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);

    int report[2];  // carries errno from a failed exec; closes unread when exec succeeds
    if (pipe2(report, O_CLOEXEC) != 0) {
        *why = std::string("pipe: ") + strerror(errno);
        return false;
    }
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid < 0) {
        *why = std::string("fork: ") + strerror(errno);
        close(report[0]);
        close(report[1]);
        return false;
    }
    if (pid == 0) {
        // Dies with the test, even when the test itself crashes or is killed by a timeout.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) _exit(127);
        const int devnull = open("/dev/null", O_RDONLY);
        dup2(devnull, 0);
        dup2(outFd, 1);
        dup2(errFd, 2);
        for (int fd = 3; fd < 1024; fd++) {
            if (fd != keepFd && fd != report[1]) close(fd);
        }
        execvpe(args[0], args.data(), envp.data());
        const int e = errno;
        [[maybe_unused]] const ssize_t told = write(report[1], &e, sizeof e);
        _exit(127);
    }
    close(report[1]);
    int e = 0;
    ssize_t n;
    do {
        n = read(report[0], &e, sizeof e);
    } while (n < 0 && errno == EINTR);
    close(report[0]);
    pid_ = pid;
    reaped_ = false;
    if (n == static_cast<ssize_t>(sizeof e)) {
        *why = "cannot run " + argv[0] + ": " + strerror(e);
        stop();
        return false;
    }
    return true;
}

bool Child::running() {
    if (pid_ <= 0 || reaped_) return false;
    if (waitpid(pid_, &status_, WNOHANG) == pid_) {
        reaped_ = true;
        return false;
    }
    return true;
}

bool Child::waitExit(Ms timeout, int* status) {
    const auto deadline = Clock::now() + timeout;
    while (running()) {
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(Ms(5));
    }
    if (pid_ <= 0) return false;
    *status = status_;
    return true;
}

void Child::stop(bool hard) {
    if (pid_ <= 0 || reaped_) return;
    kill(pid_, hard ? SIGKILL : SIGTERM);
    int status;
    if (!waitExit(Ms(3000), &status)) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status_, 0);
        reaped_ = true;
    }
}

// ---- Session

static int xErrorCount = 0;

// Not fatal: a window that went away with its program is not the test's failure by itself.
static int countError(Display*, XErrorEvent*) {
    xErrorCount++;
    return 0;
}

int Session::xErrors() {
    return xErrorCount;
}

static bool executable(const std::string& path) {
    return access(path.c_str(), X_OK) == 0;
}

static std::string findXvfb() {
    const std::string configured = XVFB_PATH;
    if (!configured.empty() && executable(configured)) return configured;
    const char* path = getenv("PATH");
    std::stringstream dirs(path != nullptr ? path : "");
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        if (!dir.empty() && executable(dir + "/Xvfb")) return dir + "/Xvfb";
    }
    return "";
}

Session::~Session() {
    program_.stop();
    if (recordCtx_ != 0) XRecordFreeContext(dpy_, recordCtx_);
    if (dpy_ != nullptr) XSync(dpy_, False);  // the context is gone before its connection closes
    if (recordDpy_ != nullptr) XCloseDisplay(recordDpy_);
    if (dpy_ != nullptr) XCloseDisplay(dpy_);
    xvfb_.stop(false);
}

::testing::AssertionResult Session::startServer(int depth) {
    const std::string xvfb = findXvfb();
    if (xvfb.empty()) {
        return ::testing::AssertionFailure()
               << "Xvfb not found (neither at configure time nor on PATH): the window tests need "
                  "it; install the xvfb package";
    }
    int ready[2];
    if (pipe2(ready, O_CLOEXEC) != 0) return ::testing::AssertionFailure() << "pipe failed";
    fcntl(ready[1], F_SETFD, 0);  // Xvfb writes its display number into it
    std::string why;
    const bool started =
        xvfb_.spawn({xvfb, "-displayfd", std::to_string(ready[1]), "-screen", "0",
                     "1280x1024x" + std::to_string(depth), "-nolisten", "tcp"},
                    {}, xvfbErr_.fd(), xvfbErr_.fd(), ready[1], &why);
    close(ready[1]);
    std::string number;
    const auto deadline = Clock::now() + Ms(15000);
    while (started && Clock::now() < deadline) {
        pollfd p{ready[0], POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) continue;
        char c;
        if (read(ready[0], &c, 1) != 1 || c == '\n') break;
        number += c;
    }
    close(ready[0]);
    if (!started) return ::testing::AssertionFailure() << why;
    if (number.empty()) {
        return ::testing::AssertionFailure() << "Xvfb did not report a display: "
                                             << xvfbErr_.text();
    }
    display_ = ":" + number;
    XSetErrorHandler(countError);
    dpy_ = XOpenDisplay(display_.c_str());
    if (dpy_ == nullptr) return ::testing::AssertionFailure() << "cannot open " << display_;
    root_ = DefaultRootWindow(dpy_);
    int ev, err, major, minor;
    if (!XTestQueryExtension(dpy_, &ev, &err, &major, &minor)) {
        return ::testing::AssertionFailure() << "Xvfb has no XTEST extension";
    }
    return ::testing::AssertionSuccess();
}

// The program's ChangeProperty requests as the server receives them: the first one on WM_NAME
// holds its first title, whatever it sets later.
static void onRecorded(XPointer closure, XRecordInterceptData* d) {
    auto* r = reinterpret_cast<RecordedTitle*>(closure);
    if (d->category == XRecordStartOfData) r->started = true;
    const size_t bytes = d->data_len * 4;
    if (d->category == XRecordFromClient && !d->client_swapped && !r->haveTitle &&
        bytes >= sz_xChangePropertyReq) {
        xChangePropertyReq req;
        std::memcpy(&req, d->data, sizeof req);
        if (req.reqType == X_ChangeProperty && req.property == XA_WM_NAME && req.format == 8) {
            const size_t n = std::min<size_t>(req.nUnits, bytes - sz_xChangePropertyReq);
            r->firstTitle.assign(reinterpret_cast<const char*>(d->data) + sz_xChangePropertyReq, n);
            r->haveTitle = true;
        }
    }
    XRecordFreeData(d);
}

// Reads what RECORD has sent until `done` holds or the timeout passes.
static bool pumpRecord(Display* rec, const bool& done, Ms timeout) {
    const auto deadline = Clock::now() + timeout;
    while (!done && Clock::now() < deadline) {
        XRecordProcessReplies(rec);
        if (done) break;
        pollfd p{ConnectionNumber(rec), POLLIN, 0};
        poll(&p, 1, 20);
    }
    return done;
}

::testing::AssertionResult Session::startRecording() {
    int major = 0, minor = 0;
    if (!XRecordQueryVersion(dpy_, &major, &minor)) {
        return ::testing::AssertionFailure() << "Xvfb has no RECORD extension";
    }
    recordDpy_ = XOpenDisplay(display_.c_str());
    if (recordDpy_ == nullptr) return ::testing::AssertionFailure() << "cannot open " << display_;
    XRecordRange* range = XRecordAllocRange();
    if (range == nullptr) return ::testing::AssertionFailure() << "XRecordAllocRange failed";
    range->core_requests.first = range->core_requests.last = X_ChangeProperty;
    XRecordClientSpec clients = XRecordFutureClients;  // the program connects after this
    recordCtx_ = XRecordCreateContext(dpy_, 0, &clients, 1, &range, 1);
    XFree(range);
    XSync(dpy_, False);
    if (recordCtx_ == 0 ||
        !XRecordEnableContextAsync(recordDpy_, recordCtx_, onRecorded,
                                   reinterpret_cast<XPointer>(&recorded_))) {
        return ::testing::AssertionFailure() << "cannot record the program's requests";
    }
    // The program may start only once recording has, or its first title could slip past.
    if (!pumpRecord(recordDpy_, recorded_.started, Ms(10000))) {
        return ::testing::AssertionFailure() << "RECORD did not start within 10 s";
    }
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult Session::startProgram(const std::vector<std::string>& args) {
    if (auto r = startRecording(); !r) return r;
    // Watching the root before the program starts catches the window at its creation.
    XSelectInput(dpy_, root_, SubstructureNotifyMask);
    XSync(dpy_, False);
    std::string why;
    std::vector<std::string> argv{JULIA_FRACTALS_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<std::string> env{"DISPLAY=" + display_};
    if (spy_) {
        env.push_back(std::string("LD_PRELOAD=") + GL_SPY_PATH);
        env.push_back("JULIA_GL_SPY_FD=" + std::to_string(draws_.fd()));
        env.push_back(alterBytes_ ? "JULIA_GL_SPY_ALTER_BYTES=1" : "JULIA_GL_SPY_ALTER_BYTES");
    }
    if (!program_.spawn(argv, env, out_.fd(), err_.fd(), spy_ ? draws_.fd() : -1, &why)) {
        return ::testing::AssertionFailure() << why;
    }
    const auto deadline = Clock::now() + Ms(20000);
    while (Clock::now() < deadline) {
        while (XPending(dpy_) > 0) {
            XEvent e;
            XNextEvent(dpy_, &e);
            if (e.type == CreateNotify && e.xcreatewindow.parent == root_ && win_ == 0) {
                win_ = e.xcreatewindow.window;
                XSelectInput(dpy_, win_, PropertyChangeMask | StructureNotifyMask);
            } else if (e.type == MapNotify && e.xmap.event == root_) {
                if (win_ == 0) win_ = e.xmap.window;
                // The title request normally comes before the map; its copy may still be on the
                // way on the other connection.
                const bool titled = pumpRecord(recordDpy_, recorded_.haveTitle, Ms(10000));
                XRecordDisableContext(dpy_, recordCtx_);  // later titles are read as properties
                XSync(dpy_, False);
                if (!titled) {
                    return ::testing::AssertionFailure() << "the program set no window title";
                }
                return ::testing::AssertionSuccess();
            }
        }
        if (!program_.running()) {
            return ::testing::AssertionFailure() << "the program ended before mapping a window: "
                                                 << programStderr();
        }
        pollfd p{ConnectionNumber(dpy_), POLLIN, 0};
        poll(&p, 1, 20);
    }
    return ::testing::AssertionFailure() << "no window was mapped within 20 s";
}

std::vector<DrawCall> Session::draws() const {
    std::istringstream lines(draws_.text());
    std::vector<DrawCall> calls;
    for (std::string line; std::getline(lines, line);) {
        if (lines.eof()) break;  // a line still being written
        std::istringstream words(line);
        DrawCall c;
        words >> c.width >> c.height >> std::hex >> c.format >> c.type;
        if (words) calls.push_back(c);
    }
    return calls;
}

std::string Session::title() {
    char* name = nullptr;
    std::string t;
    if (XFetchName(dpy_, win_, &name) && name != nullptr) {
        t = name;
        XFree(name);
    }
    return t;
}

static int maskShift(unsigned long mask) {
    int s = 0;
    while (mask != 0 && (mask & 1) == 0) {
        mask >>= 1;
        s++;
    }
    return s;
}

::testing::AssertionResult Session::resize(int width, int height) {
    drainEvents();
    XResizeWindow(dpy_, win_, width, height);
    XFlush(dpy_);
    const auto deadline = Clock::now() + Ms(5000);
    while (Clock::now() < deadline) {
        while (XPending(dpy_) > 0) {
            XEvent e;
            XNextEvent(dpy_, &e);
            if (e.type == ConfigureNotify && e.xconfigure.window == win_ &&
                e.xconfigure.width == width && e.xconfigure.height == height) {
                width_ = width;
                height_ = height;
                return ::testing::AssertionSuccess();
            }
        }
        pollfd p{ConnectionNumber(dpy_), POLLIN, 0};
        poll(&p, 1, 20);
    }
    return ::testing::AssertionFailure() << "the window was not resized to " << width << "x"
                                         << height << " within 5 s";
}

// The part of a whole image that a window of width x height shows: its bottom-left corner.
static Picture bottomLeft(const Picture& image, int width, int height) {
    if (width >= image.width && height >= image.height) return image;
    Picture p;
    p.width = std::min(width, image.width);
    p.height = std::min(height, image.height);
    for (int y = image.height - p.height; y < image.height; y++) {
        const auto row = image.px.begin() + static_cast<long>(y) * image.width;
        p.px.insert(p.px.end(), row, row + p.width);
    }
    return p;
}

bool Session::grab(Picture* p) {
    const int w = std::min(width_, WIDTH), h = std::min(height_, HEIGHT);
    XImage* img = XGetImage(dpy_, win_, 0, height_ - h, w, h, AllPlanes, ZPixmap);
    if (img == nullptr) return false;
    const int rs = maskShift(img->red_mask), gs = maskShift(img->green_mask),
              bs = maskShift(img->blue_mask);
    const bool direct = img->bits_per_pixel == 32 && img->byte_order == LSBFirst;
    p->width = w;
    p->height = h;
    p->px.resize(static_cast<size_t>(w) * h);
    for (int y = 0; y < h; y++) {
        const char* row = img->data + static_cast<size_t>(y) * img->bytes_per_line;
        for (int x = 0; x < w; x++) {
            unsigned long v;
            if (direct) {
                uint32_t w;
                std::memcpy(&w, row + 4 * x, 4);
                v = w;
            } else {
                v = XGetPixel(img, x, y);
            }
            p->px[static_cast<size_t>(y) * w + x] = {
                static_cast<uint8_t>((v & img->red_mask) >> rs),
                static_cast<uint8_t>((v & img->green_mask) >> gs),
                static_cast<uint8_t>((v & img->blue_mask) >> bs)};
        }
    }
    XDestroyImage(img);
    return true;
}

::testing::AssertionResult Session::waitForPicture(const Picture& whole, Ms timeout) {
    const Picture expected = bottomLeft(whole, width_, height_);
    const auto deadline = Clock::now() + timeout;
    Picture got;
    bool any = false;
    do {
        if (!program_.running()) {
            return ::testing::AssertionFailure() << "the program is gone: " << programStderr();
        }
        if (grab(&got)) {
            any = true;
            if (got.px == expected.px) return ::testing::AssertionSuccess();
        }
        std::this_thread::sleep_for(Ms(15));
    } while (Clock::now() < deadline);
    if (!any) return ::testing::AssertionFailure() << "the window could not be read";
    return samePicture(expected, got) << "\n  (still so after " << timeout.count() << " ms)";
}

void Session::drainEvents() {
    XSync(dpy_, False);
    while (XPending(dpy_) > 0) {
        XEvent e;
        XNextEvent(dpy_, &e);
    }
}

bool Session::waitTitleRefresh(std::string* t, Ms timeout) {
    drainEvents();
    const auto deadline = Clock::now() + timeout;
    while (Clock::now() < deadline) {
        while (XPending(dpy_) > 0) {
            XEvent e;
            XNextEvent(dpy_, &e);
            if (e.type == PropertyNotify && e.xproperty.window == win_ &&
                e.xproperty.atom == XA_WM_NAME) {
                *t = title();
                return true;
            }
        }
        pollfd p{ConnectionNumber(dpy_), POLLIN, 0};
        poll(&p, 1, 20);
    }
    return false;
}

void Session::moveTo(int x, int y) {
    XTestFakeMotionEvent(dpy_, DefaultScreen(dpy_), x, y, CurrentTime);
    XFlush(dpy_);
}

void Session::button(unsigned b, bool press) {
    XTestFakeButtonEvent(dpy_, b, press ? True : False, CurrentTime);
    XFlush(dpy_);
}

void Session::wheel(int steps) {
    const unsigned b = steps > 0 ? kWheelUp : kWheelDown;
    for (int k = 0; k < std::abs(steps); k++) click(b);
}

void Session::key(unsigned long sym, unsigned long modifier) {
    const KeyCode code = XKeysymToKeycode(dpy_, sym);
    const KeyCode mod = modifier != 0 ? XKeysymToKeycode(dpy_, modifier) : 0;
    if (mod != 0) XTestFakeKeyEvent(dpy_, mod, True, CurrentTime);
    XTestFakeKeyEvent(dpy_, code, True, CurrentTime);
    XTestFakeKeyEvent(dpy_, code, False, CurrentTime);
    if (mod != 0) XTestFakeKeyEvent(dpy_, mod, False, CurrentTime);
    XFlush(dpy_);
}

void Session::sync() {
    XSync(dpy_, False);
}

::testing::AssertionResult Session::settle(View& v) {
    wheel(settleUp_ ? 1 : -1);
    v.precision += settleUp_ ? 2 : -2;
    settleUp_ = !settleUp_;
    return waitForPicture(v);
}

long Session::residentKb() {
    std::ifstream in("/proc/" + std::to_string(program_.pid()) + "/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.compare(0, 6, "VmRSS:") == 0) return std::atol(line.c_str() + 6);
    }
    return -1;
}

int Session::countLines(const std::string& prefix) const {
    std::stringstream ss(programStdout());
    std::string line;
    int n = 0;
    while (std::getline(ss, line)) {
        if (line.compare(0, prefix.size(), prefix) == 0) n++;
    }
    return n;
}

void expectEscapeEnds(Session& s, int x, int y) {
    s.moveTo(x, y);  // keys go to the window under the pointer
    s.key(XK_Escape);
    int status = 0;
    ASSERT_TRUE(s.program().waitExit(Ms(3000), &status)) << "still running 3 s after ESC";
    ASSERT_TRUE(WIFEXITED(status)) << "wait status " << status;
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace win
