// The command line of julia-fractals-bench, parsed by a pure function: no output, no exit, so every
// accepted and refused form can be checked directly.
#pragma once

#include <string>
#include <vector>

enum class Renderer { Cpu, Simd, Gpu, All };

struct BenchOptions {
    Renderer renderer = Renderer::All;
    float mx = 0.0f;
    float my = 0.0f;
    int precision = 10;
    int frames = 50;
    int warmup = 3;
    int threads = 0;         // for the SIMD renderer; 0: every hardware thread
    std::string simdTarget;  // lower case; empty: the best target this CPU supports
    bool verify = false;
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

// `args` are the arguments after the program name. Each long option takes "--opt VALUE" or
// "--opt=VALUE"; in the first form the next argument is the value even when it begins with '-'
// (a negative seed). Option names must be spelled out in full. A repeated option keeps its last
// value.
ParseResult parseOptions(const std::vector<std::string>& args);

// The --help text.
std::string usageText();
