// The SIMD renderer: the CPU renderer's image, bit for bit, computed on vector lanes (Google
// Highway, the best target this CPU supports unless one is named) and on several threads (OpenMP).
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include <vector_types.h>

// s = dx*dx + dy*dy lies inside the seed marker exactly when 0 <= s <= this: the largest float
// whose correctly rounded square root, widened to double, is below the marker's radius of 0.01. A
// test holds it to the square-root rule for every float.
constexpr float SEED_MARKER_SQUARE_MAX = 0x1.a36e3p-14f;

// How the lanes share the work. Tiles: each vector holds a run of adjacent pixels of one row and
// takes the next run once all of its lanes are done. Refill: a lane whose pixel is done takes the
// next pixel at once, which keeps the lanes busy when escape times differ widely, at a cost per
// refill that only pays at high limits. Auto picks by the limit.
enum class SimdMode { Auto, Tiles, Refill };

// The limit from which Auto refills lanes.
constexpr int SIMD_REFILL_FROM_LIMIT = 200;

// The Highway targets compiled into this program that this CPU can run, best first, in lower case
// ("avx3", "avx2", "sse4", "ssse3", "scalar" here). Never empty.
std::vector<std::string> simdTargets();

// Writes all WIDTH x HEIGHT pixels of `pixels` (BUFFER_SIZE bytes) exactly as renderJuliaCPU does,
// on the best target, with `threads` threads (0 or less: one per hardware thread). `rowsDone`, when
// given, grows by the number of rows finished as they finish, so that another thread can show
// progress.
void renderJuliaSIMD(float4* pixels, float mx, float my, int precision, float scale, int threads,
                     std::atomic<int>* rowsDone = nullptr);

// The same on the named target (any letter case). Returns false, writing nothing, when `target` is
// not one of simdTargets().
bool renderJuliaSIMDOn(const std::string& target, float4* pixels, float mx, float my,
                       int precision, float scale, int threads, SimdMode mode = SimdMode::Auto,
                       std::atomic<int>* rowsDone = nullptr);
