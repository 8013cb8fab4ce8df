// The progress line, redrawn by a thread of its own so that a long frame still shows it moving.
#include "progress.h"

#include <cstdio>

#include <fmt/format.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "geometry.h"
#include "interrupt_cleanup.h"

constexpr auto REDRAW = std::chrono::milliseconds(200);
constexpr double DETAIL_AFTER_S = 0.5;  // a pass shorter than this needs no rows or time

Progress::Progress(bool enabled) : enabled_(enabled) {
    if (enabled_) thread_ = std::thread(&Progress::run, this);
}

Progress::~Progress() {
    if (!enabled_) return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        erase();
    }
    wake_.notify_one();
    thread_.join();
}

void Progress::phase(const std::string& text, std::atomic<int>* rows) {
    if (!enabled_) return;
    if (rows) rows->store(0);
    std::lock_guard<std::mutex> lock(mutex_);
    text_ = text;
    rows_ = rows;
    started_ = Clock::now();
    draw();
}

void Progress::clear() {
    if (!enabled_) return;
    std::lock_guard<std::mutex> lock(mutex_);
    text_.clear();
    erase();
}

void Progress::run() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!wake_.wait_for(lock, REDRAW, [this] { return stopping_; })) draw();
}

void Progress::draw() {
    if (text_.empty()) return;
    const double elapsed = std::chrono::duration<double>(Clock::now() - started_).count();
    std::string line = text_;
    if (elapsed >= DETAIL_AFTER_S) {
        if (rows_) line += fmt::format(": rows {}/{}", rows_->load(), HEIGHT);
        line += fmt::format(" ({:.1f} s)", elapsed);
    }
    // One screen line, or the erase would leave the wrapped part behind.
    winsize ws;
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 1 && line.size() >= ws.ws_col) {
        line.resize(ws.ws_col - 1);
    }
    std::fprintf(stderr, "\r\033[K%s", line.c_str());
    std::fflush(stderr);
    if (!shown_) setProgressLineShown(true);
    shown_ = true;
}

void Progress::erase() {
    if (!shown_) return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    shown_ = false;
    setProgressLineShown(false);
}
