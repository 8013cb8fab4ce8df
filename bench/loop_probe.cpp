// julia-loop-probe: the floor under the CPU renderer's time per iteration. Times the escape-time
// loop on one point that never escapes (one dependent chain, nothing else) and a chain of
// dependent float adds, in nanoseconds. No cycle figures: a clock inferred from timing a chain
// assumes latencies the CPU and the compiler need not honour, and once printed 16.6 GHz on a Xeon.
#include <chrono>
#include <cstdio>
#include <string>

#include <getopt.h>

#include "julia.h"

namespace {

using Clock = std::chrono::steady_clock;

// Read at run time, so the compiler can neither fold the loop nor shorten it.
volatile float startX = 0.0f, startY = 0.0f;
volatile float seedX = -0.5f, seedY = 0.3f;  // inside the main cardioid: the orbit stays bounded
volatile int limit = 100000000;
volatile float addend = 1e-7f;

constexpr double FLOOR_NS_PER_ADD = 0.1;  // one cycle at 10 GHz

double nsSince(Clock::time_point t0, double count) {
    return std::chrono::duration<double, std::nano>(Clock::now() - t0).count() / count;
}

double nsPerFloatAdd(int n) {
    float s = addend;
    const float d = addend;
    const Clock::time_point t0 = Clock::now();
    for (int k = 0; k < n; k++) s = s + d;  // no reassociation: each add waits for the last
    const double ns = nsSince(t0, n);
    if (s < 0) std::puts("");  // keeps s alive
    return ns;
}

double nsPerRuleIteration(int n) {
    const Clock::time_point t0 = Clock::now();
    const float c = juliaColor(startX, startY, seedX, seedY, n);
    const double ns = nsSince(t0, n);
    if (c != 0.0f) std::puts("the probe's point escaped");
    return ns;
}

const char USAGE[] =
    "usage: julia-loop-probe [-h|--help] [--version]\n"
    "\n"
    "Times the escape-time loop on one point that never escapes, the floor under the CPU\n"
    "renderer's time per iteration, and a chain of dependent float adds for scale, both in\n"
    "nanoseconds. Takes a few seconds.\n";

// 0: go on and measure; otherwise the exit status: 0 after --help or --version, 2 when refused.
int handleArguments(int argc, char** argv) {
    static const option LONG_OPTIONS[] = {{"help", no_argument, nullptr, 'h'},
                                          {"version", no_argument, nullptr, 'V'},
                                          {nullptr, 0, nullptr, 0}};
    opterr = 0;
    int c = 0, at = 1;
    while ((at = optind, c = getopt_long(argc, argv, "+h", LONG_OPTIONS, nullptr)) != -1) {
        const std::string word = argv[at];
        const bool exact = word == "-h" || word == "--help" || word == "--version";
        if (c == 'h' && exact) {
            std::fputs(USAGE, stdout);
            return -1;
        }
        if (c == 'V' && exact) {
            std::printf("julia-loop-probe %s\n", JULIA_VERSION);
            return -1;
        }
        std::fprintf(stderr, "julia-loop-probe: unknown option '%s' (see --help)\n", word.c_str());
        return 2;
    }
    if (optind < argc) {
        std::fprintf(stderr, "julia-loop-probe: unexpected argument '%s' (see --help)\n",
                     argv[optind]);
        return 2;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (const int status = handleArguments(argc, argv)) return status < 0 ? 0 : status;
    const int n = limit;
    double rule = 1e9, fadd = 1e9;
    for (int rep = 0; rep < 5; rep++) {  // the best of five: the least disturbed run
        rule = std::min(rule, nsPerRuleIteration(n));
        fadd = std::min(fadd, nsPerFloatAdd(n));
    }
    // A dependent add takes at least one cycle and no CPU runs at 10 GHz; an iteration of the rule
    // chains at least a multiply, a subtract and an add. Anything faster was not measured as
    // written (a compiler that shortened the chain), and is refused rather than printed.
    if (fadd < FLOOR_NS_PER_ADD || rule < 3 * FLOOR_NS_PER_ADD) {
        std::fprintf(stderr,
                     "julia-loop-probe: measured %.4f ns per float add and %.4f ns per iteration, "
                     "faster than any CPU can run a chain of dependent operations (one per cycle "
                     "at 10 GHz is %.1f ns); the loops were not measured as written\n",
                     fadd, rule, FLOOR_NS_PER_ADD);
        return 1;
    }
    std::printf("float add chain   %.3f ns per dependent add\n", fadd);
    std::printf("rule loop         %.3f ns per iteration = %.2f dependent float adds "
                "(%d iterations)\n",
                rule, rule / fadd, n);
    return 0;
}
