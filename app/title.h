// The window title: its fixed text and the refresh rule, as a pure function of the frame counter
// and the clock so it can be tested without a window.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#define WINDOW_TITLE "Julia Fractals"
constexpr int TITLE_SIZE = 200;
constexpr std::uint32_t TITLE_REFRESH_MS = 500;  // refresh when strictly more than this has passed

// "CPU mode", "GPU mode", or SIMD mode with what it runs on, as in "SIMD mode (avx3, 2 threads)"
// (from simdRun).
std::string modeLabel(int mode);

// Frames per second in single precision: float(frames * 1000) / float(elapsedMs), the product
// taken without overflow.
float frameRate(int frames, std::uint32_t elapsedMs);

// When a refresh is due at `now` (ms, GLUT's clock, which may have wrapped since lastTitleTime),
// writes "Julia Fractals:  <label>, <fps> FPS" into t and returns true; otherwise leaves t alone
// and returns false. With the periodicity check the label is followed by ", periodicity check".
bool titleRefresh(char* t, std::size_t size, int mode, bool periodicity, int frames, int now,
                  int lastTitleTime);
