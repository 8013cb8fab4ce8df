#include "options.h"

#include <cerrno>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdlib>

namespace {

// Whole-string parses: a value with anything left over, leading blanks, or out of the type's range
// is refused rather than silently truncated.
bool parseInt(const std::string& s, long long lo, long long hi, int* out) {
    if (s.empty() || std::isspace(static_cast<unsigned char>(s[0]))) return false;
    errno = 0;
    char* end = nullptr;
    const long long v = std::strtoll(s.c_str(), &end, 10);
    if (*end != '\0' || errno == ERANGE || v < lo || v > hi) return false;
    *out = static_cast<int>(v);
    return true;
}

bool parseFloat(const std::string& s, float* out) {
    if (s.empty() || std::isspace(static_cast<unsigned char>(s[0]))) return false;
    char* end = nullptr;
    const float v = std::strtof(s.c_str(), &end);
    // Underflow to a subnormal or zero still yields the nearest float, so only a non-finite
    // result (overflow, "inf", "nan") is refused.
    if (*end != '\0' || !std::isfinite(v)) return false;
    *out = v;
    return true;
}

// An optional sign and digits: a whole number, whatever its size.
bool isWholeNumber(const std::string& s) {
    size_t k = (!s.empty() && (s[0] == '-' || s[0] == '+')) ? 1 : 0;
    if (k == s.size()) return false;
    for (; k < s.size(); k++) {
        if (!std::isdigit(static_cast<unsigned char>(s[k]))) return false;
    }
    return true;
}

std::string rangeError(const std::string& opt, const std::string& value, long long lo,
                       long long hi) {
    if (!isWholeNumber(value)) return "option " + opt + ": '" + value + "' is not a whole number";
    return "option " + opt + ": " + value + " is out of range (" + std::to_string(lo) + " to " +
           std::to_string(hi) + ")";
}

}  // namespace

const char* rendererName(Renderer r) {
    switch (r) {
        case Renderer::Cpu: return "cpu";
        case Renderer::Simd: return "simd";
        case Renderer::Gpu: return "gpu";
        case Renderer::All: return "all";
    }
    return "?";
}

ParseResult parseOptions(const std::vector<std::string>& args) {
    ParseResult result;
    BenchOptions& o = result.options;
    auto fail = [&](std::string message) {
        result.error = std::move(message);
        return result;
    };

    for (size_t k = 0; k < args.size(); k++) {
        const std::string& arg = args[k];
        if (arg.rfind("--", 0) != 0 || arg.size() == 2) {
            return fail("unexpected argument '" + arg + "'");
        }
        const size_t eq = arg.find('=');
        const std::string opt = arg.substr(0, eq);
        const bool inlineValue = eq != std::string::npos;

        if (opt == "--verify" || opt == "--json" || opt == "--help") {
            if (inlineValue) return fail("option " + opt + " takes no value");
            (opt == "--verify" ? o.verify : opt == "--json" ? o.json : o.help) = true;
            continue;
        }
        if (opt != "--renderer" && opt != "--seed" && opt != "--precision" && opt != "--frames" &&
            opt != "--warmup" && opt != "--threads" && opt != "--simd-target" && opt != "--raw" &&
            opt != "--png") {
            return fail("unknown option '" + opt + "'");
        }

        std::string value;
        if (inlineValue) {
            value = arg.substr(eq + 1);
        } else if (k + 1 < args.size()) {
            value = args[++k];
        } else {
            return fail("option " + opt + " needs a value");
        }

        if (opt == "--renderer") {
            if (value == "cpu") o.renderer = Renderer::Cpu;
            else if (value == "simd") o.renderer = Renderer::Simd;
            else if (value == "gpu") o.renderer = Renderer::Gpu;
            else if (value == "all") o.renderer = Renderer::All;
            else return fail("option --renderer: unknown renderer '" + value +
                             "' (cpu, simd, gpu or all)");
        } else if (opt == "--seed") {
            const size_t comma = value.find(',');
            if (comma == std::string::npos || value.find(',', comma + 1) != std::string::npos ||
                !parseFloat(value.substr(0, comma), &o.mx) ||
                !parseFloat(value.substr(comma + 1), &o.my)) {
                return fail("option --seed: '" + value + "' is not MX,MY (two finite numbers)");
            }
        } else if (opt == "--precision") {
            // Any int is a valid limit: zero and below give a frame without iterations.
            if (!parseInt(value, INT32_MIN, INT32_MAX, &o.precision)) {
                return fail(rangeError(opt, value, INT32_MIN, INT32_MAX));
            }
        } else if (opt == "--frames") {
            if (!parseInt(value, 1, MAX_FRAMES, &o.frames)) {
                return fail(rangeError(opt, value, 1, MAX_FRAMES));
            }
        } else if (opt == "--warmup") {
            if (!parseInt(value, 0, MAX_WARMUP, &o.warmup)) {
                return fail(rangeError(opt, value, 0, MAX_WARMUP));
            }
        } else if (opt == "--threads") {
            if (!parseInt(value, 1, MAX_THREADS, &o.threads)) {
                return fail(rangeError(opt, value, 1, MAX_THREADS));
            }
        } else if (opt == "--simd-target") {
            // Which names this CPU can run is main's business; the parser only normalises.
            if (value.empty()) return fail("option --simd-target needs a target name");
            o.simdTarget.clear();
            for (char ch : value) {
                o.simdTarget += static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
            }
        } else {
            if (value.empty()) return fail("option " + opt + " needs a file name");
            (opt == "--raw" ? o.rawPath : o.pngPath) = value;
        }
    }
    if (!o.rawPath.empty() && o.rawPath == o.pngPath) {
        return fail("options --raw and --png name the same file '" + o.rawPath + "'");
    }
    return result;
}

std::string usageText() {
    return "usage: julia-fractals-bench [--renderer cpu|simd|gpu|all] [--seed MX,MY]\n"
           "                            [--precision N] [--frames N] [--warmup N] [--threads N]\n"
           "                            [--simd-target NAME] [--verify] [--raw FILE]\n"
           "                            [--png FILE] [--json]\n"
           "\n"
           "Times the renderers on the viewer's 1024x768 frame (scale 0.003): cpu, the plain\n"
           "loop on one thread; simd, the same image on vector lanes and threads; gpu, the CUDA\n"
           "kernel.\n"
           "  --renderer R   cpu, simd, gpu or all (default all: cpu, simd on one thread, simd on\n"
           "                 every thread, gpu)\n"
           "  --seed MX,MY   the seed c = MX + MY i (default 0,0)\n"
           "  --precision N  the iteration limit (default 10)\n"
           "  --frames N     timed frames per renderer, 1 to 1000000 (default 50)\n"
           "  --warmup N     untimed frames before them, 0 to 1000000 (default 3)\n"
           "  --threads N    threads of the simd renderer, 1 to 1024 (default: every hardware\n"
           "                 thread)\n"
           "  --simd-target NAME  the Highway target of the simd renderer, any letter case\n"
           "                 (default: the best this CPU runs; a refused name lists them)\n"
           "  --verify       render one frame with every renderer this machine runs and compare\n"
           "                 each with cpu bit for bit instead of timing; exit 1 when one differs\n"
           "  --raw FILE     write the frame as raw float RGBA, row 0 (the bottom) first\n"
           "  --png FILE     write the frame as an 8-bit RGB PNG, as the window shows it\n"
           "  --json         one JSON object per line and renderer instead of the table\n"
           "With --renderer all the files hold the CPU renderer's frame.\n"
           "Exit status: 0 done, 1 the renderers differ (--verify), 2 bad input, an unusable\n"
           "--simd-target, or no usable GPU for --renderer gpu.\n";
}
