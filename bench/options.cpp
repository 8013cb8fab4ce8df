#include "options.h"

#include <cerrno>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include <getopt.h>

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

enum OptionId {
    OPT_VERSION = 256,  // above every char, so no id collides with a short option
    OPT_VERIFY,
    OPT_JSON,
    OPT_RENDERER,
    OPT_SEED,
    OPT_PRECISION,
    OPT_FRAMES,
    OPT_WARMUP,
    OPT_THREADS,
    OPT_SIMD_TARGET,
    OPT_RAW,
    OPT_PNG,
};

const option LONG_OPTIONS[] = {
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, OPT_VERSION},
    {"verify", no_argument, nullptr, OPT_VERIFY},
    {"json", no_argument, nullptr, OPT_JSON},
    {"renderer", required_argument, nullptr, OPT_RENDERER},
    {"seed", required_argument, nullptr, OPT_SEED},
    {"precision", required_argument, nullptr, OPT_PRECISION},
    {"frames", required_argument, nullptr, OPT_FRAMES},
    {"warmup", required_argument, nullptr, OPT_WARMUP},
    {"threads", required_argument, nullptr, OPT_THREADS},
    {"simd-target", required_argument, nullptr, OPT_SIMD_TARGET},
    {"raw", required_argument, nullptr, OPT_RAW},
    {"png", required_argument, nullptr, OPT_PNG},
    {nullptr, 0, nullptr, 0},
};

const option* findLongOption(const std::string& name) {
    for (const option* o = LONG_OPTIONS; o->name; o++) {
        if (name == o->name) return o;
    }
    return nullptr;
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

    // getopt_long wants a mutable argv with the program name first.
    std::vector<std::string> words{"julia-fractals-bench"};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(&w[0]);
    argv.push_back(nullptr);
    const int argc = static_cast<int>(words.size());

    optind = 0;  // glibc: start afresh, so the parser can run more than once per process
    opterr = 0;  // the messages are ours
    int at = 1;  // the argument getopt_long is about to read
    for (;;) {
        at = optind == 0 ? 1 : optind;
        // '+': stop at the first word that is no option, so that it is refused rather than
        // moved to the end; ':': a missing value comes back as ':'.
        const int c = getopt_long(argc, argv.data(), "+:h", LONG_OPTIONS, nullptr);
        if (c == -1) break;
        const std::string word = words[at];
        if (word.rfind("--", 0) == 0) {
            // getopt_long accepts any unambiguous prefix ("--frame" for "--frames"); a tool that
            // scripts call should not, since a later option could make the prefix mean another.
            const std::string name = word.substr(2, word.find('=') - 2);
            const option* known = findLongOption(name);
            if (!known) return fail("unknown option '--" + name + "'");
            if (c == ':') return fail("option --" + name + " needs a value");
            if (c == '?') return fail("option --" + name + " takes no value");
        } else if (c == '?' || c == ':') {
            return fail(std::string("unknown option '-") + static_cast<char>(optopt) + "'");
        }

        const std::string value = optarg ? optarg : "";
        // A whole number within [lo, hi] into *field; otherwise the error is set.
        auto intOption = [&](const char* name, long long lo, long long hi, int* field) {
            if (parseInt(value, lo, hi, field)) return true;
            result.error = rangeError(name, value, lo, hi);
            return false;
        };
        switch (c) {
            case 'h': o.help = true; break;
            case OPT_VERSION: o.version = true; break;
            case OPT_VERIFY: o.verify = true; break;
            case OPT_JSON: o.json = true; break;
            case OPT_RENDERER:
                if (value == "cpu") o.renderer = Renderer::Cpu;
                else if (value == "simd") o.renderer = Renderer::Simd;
                else if (value == "gpu") o.renderer = Renderer::Gpu;
                else if (value == "all") o.renderer = Renderer::All;
                else return fail("option --renderer: unknown renderer '" + value +
                                 "' (cpu, simd, gpu or all)");
                break;
            case OPT_SEED: {
                const size_t comma = value.find(',');
                if (comma == std::string::npos || value.find(',', comma + 1) != std::string::npos ||
                    !parseFloat(value.substr(0, comma), &o.mx) ||
                    !parseFloat(value.substr(comma + 1), &o.my)) {
                    return fail("option --seed: '" + value + "' is not MX,MY (two finite numbers)");
                }
                break;
            }
            // Any int is a valid limit: zero and below give a frame without iterations.
            case OPT_PRECISION:
                if (!intOption("--precision", INT32_MIN, INT32_MAX, &o.precision)) return result;
                break;
            case OPT_FRAMES:
                if (!intOption("--frames", 1, MAX_FRAMES, &o.frames)) return result;
                break;
            case OPT_WARMUP:
                if (!intOption("--warmup", 0, MAX_WARMUP, &o.warmup)) return result;
                break;
            case OPT_THREADS:
                if (!intOption("--threads", 1, MAX_THREADS, &o.threads)) return result;
                break;
            case OPT_SIMD_TARGET:
                // Only stored: which targets exist depends on the CPU the run happens on.
                if (value.empty()) return fail("option --simd-target needs a target name");
                o.simdTarget.clear();
                for (char ch : value) {
                    o.simdTarget += static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
                }
                break;
            case OPT_RAW:
            case OPT_PNG:
                if (value.empty()) {
                    return fail(std::string("option --") + (c == OPT_RAW ? "raw" : "png") +
                                " needs a file name");
                }
                (c == OPT_RAW ? o.rawPath : o.pngPath) = value;
                break;
        }
    }
    if (optind < argc) return fail("unexpected argument '" + words[optind] + "'");
    // getopt_long swallows "--" silently; the tool takes no plain arguments, so it means nothing.
    if (at < argc && words[at] == "--") return fail("unexpected argument '--'");

    if (o.rawPath == STDOUT_PATH && o.pngPath == STDOUT_PATH) {
        return fail("options --raw and --png cannot both write to standard output ('-')");
    }
    if (!o.rawPath.empty() && o.rawPath == o.pngPath) {
        return fail("options --raw and --png name the same file '" + o.rawPath + "'");
    }
    return result;
}

std::string usageText() {
    return "usage: julia-fractals-bench [--renderer cpu|simd|gpu|all] [--seed MX,MY] [--precision N]\n"
           "                            [--frames N] [--warmup N] [--threads N] [--simd-target NAME]\n"
           "                            [--verify] [--raw FILE] [--png FILE] [--json]\n"
           "       julia-fractals-bench -h|--help|--version\n"
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
           "                 FILE '-' is standard output (for one of the two; the results then\n"
           "                 go to standard error); a symbolic link has its target replaced\n"
           "  --json         one JSON object per line and renderer instead of the table\n"
           "  -h, --help     this text;  --version  the version\n"
           "With --renderer all the files hold the CPU renderer's frame. While standard error is a\n"
           "terminal, a progress line shows on it.\n"
           "Exit status: 0 done, 1 the renderers differ (--verify), 2 bad input, an unusable\n"
           "--simd-target, or no usable GPU for --renderer gpu.\n";
}
