// The SIMD renderer: the CPU renderer's image, bit for bit, computed on vector lanes (Google
// Highway, the best target this CPU supports unless one is named) and on several worker threads.
#pragma once

#include <atomic>
#include <cstddef>
#include <string>
#include <vector>

#include "frame_params.h"
#include "pixel.h"

// How the lanes share the work. Tiles: each vector holds a run of adjacent pixels of one row and
// takes the next run once all of its lanes are done. Refill: a lane whose pixel is done takes the
// next pixel at the end of its block of steps, which keeps the lanes busy when escape times
// differ widely, at a cost per refill that only pays at high limits. Auto picks refill from the
// limits below, tiles under them.
enum class SimdMode { Auto, Tiles, Refill };

// The limits from which Auto takes refill: on 16-lane targets (AVX-512), and on 4 to 8 lanes. They
// are where `julia-fractals-bench refill` finds refill becoming the faster mode on each lane count
// (docs/performance.md).
constexpr int SIMD_REFILL_FROM_LIMIT_16_LANES = 200;
constexpr int SIMD_REFILL_FROM_LIMIT = 500;

// The lane mode Auto takes for a frame on `lanes`-float vectors: Tiles or Refill. With the
// periodicity check, a frame whose critical orbit (the one from 0) is found cycling within the
// refill limit counts as a light frame: every attracting cycle attracts that orbit, so the frame
// has an interior whose pixels the check ends about as soon, and tiles handle such short, alike
// pixels at less cost per pixel than refill.
SimdMode autoSimdMode(const FrameParams& params, int lanes);

// A target resolved once (by findSimdTarget), so that a frame does no lookup by name.
struct SimdTarget {
    std::string name;  // lower case: "avx3", "avx2", "sse4", "ssse3", "scalar", ...
    int lanes = 0;     // floats per vector
    // This target's entry in any Highway dispatch table (HWY_DISPATCH_TABLE) of this build, for
    // other multi-target code, such as the bench's floors, to run the same target.
    size_t tableIndex = 0;
    // The rows [row0, row1) of the frame, as compiled for this target.
    void (*rows)(float4* pixels, const FrameParams& params, int row0, int row1,
                 bool refill) = nullptr;
};

// The names of the Highway targets compiled into this program that this CPU can run, best first,
// in lower case. Never empty.
std::vector<std::string> simdTargets();

// Resolves `name` (any letter case; empty: the best target) into *target. False, leaving *target
// alone, when it is not one of simdTargets().
bool findSimdTarget(const std::string& name, SimdTarget* target);

// The threads a frame runs on for `requested` threads: `requested` itself when positive, else
// OpenMP's default, which is every hardware thread unless OMP_NUM_THREADS says otherwise.
int simdThreads(int requested);

// Writes all WIDTH x HEIGHT pixels of `pixels` (BUFFER_SIZE bytes) exactly as renderJuliaCPU does,
// on `target` with simdThreads(threads) threads, which sleep between calls. `rowsDone`, when
// given, grows by the number of rows finished as they finish, so that another thread can show
// progress.
void renderJuliaSIMD(const SimdTarget& target, float4* pixels, const FrameParams& params,
                     int threads, SimdMode mode = SimdMode::Auto,
                     std::atomic<int>* rowsDone = nullptr);
