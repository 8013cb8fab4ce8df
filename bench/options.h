// The command line of julia-fractals-bench and its subcommands, parsed by a pure function: no
// output, no exit, so every accepted and refused form can be checked directly.
#pragma once

#include <string>
#include <vector>

#include "renderer_id.h"

// The timed run (and --verify), or one of the subcommands.
enum class Command { Run, Floors, Refill, GpuInfo };

struct BenchOptions {
    Command command = Command::Run;
    Renderer renderer = Renderer::All;
    float mx = 0.0f;  // refill: -0.8, 0.156
    float my = 0.0f;
    int precision = 10;
    int frames = 50;  // refill: 7
    int warmup = 3;
    int threads = 0;         // for the SIMD renderer; 0: every hardware thread
    std::string simdTarget;  // as given; empty: the best target this CPU supports
    bool verify = false;
    bool periodicity = false;  // every renderer of the run with the periodicity check
    bool json = false;
    bool help = false;
    bool version = false;
    std::string rawPath;  // empty: not written; STDOUT_PATH: standard output
    std::string pngPath;
};

// Either the options, or one line (no trailing newline) saying what is wrong with the command line.
struct ParseResult {
    BenchOptions options;
    std::string error;
    bool ok() const { return error.empty(); }
};

// `args` are the arguments after the program name. A value goes in the next word, even one that
// begins with '-' (a negative seed), or after '='. Names are spelled out in full; a repeated option
// keeps its last value.
ParseResult parseOptions(const std::vector<std::string>& args);

// The --help text, of the run and of every subcommand.
std::string usageText();
