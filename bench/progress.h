// The progress line on standard error while the bench works: the phase, and for a long pass over
// the frame the rows done and the seconds spent. Only when standard error is a terminal; never
// anything on standard output.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

class Progress {
public:
    // Shows nothing, and starts no thread, unless `enabled`.
    explicit Progress(bool enabled);
    ~Progress();

    // Starts a phase. `rows`, when given, counts the rows of the frame done so far; it is reset to
    // 0 here and must outlive the phase.
    void phase(const std::string& text, std::atomic<int>* rows = nullptr);
    // Erases the line until the next phase, before something is printed.
    void clear();

private:
    void run();
    void draw();  // with the lock held
    void erase();

    using Clock = std::chrono::steady_clock;
    const bool enabled_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    bool shown_ = false;
    std::string text_;
    std::atomic<int>* rows_ = nullptr;
    Clock::time_point started_;
    std::thread thread_;
};
