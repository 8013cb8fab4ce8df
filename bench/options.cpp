#include "options.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>

#include "image_io.h"

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

// Each option's setter takes the option as written ("--frames") and the value, and returns what is
// wrong with the value, or nothing.
using Setter = std::string (*)(BenchOptions& o, const std::string& opt, const std::string& value);

template <bool BenchOptions::*field>
std::string flag(BenchOptions& o, const std::string&, const std::string&) {
    o.*field = true;
    return "";
}

template <int BenchOptions::*field, long long lo, long long hi>
std::string wholeNumber(BenchOptions& o, const std::string& opt, const std::string& value) {
    if (parseInt(value, lo, hi, &(o.*field))) return "";
    if (!isWholeNumber(value)) return "option " + opt + ": '" + value + "' is not a whole number";
    return "option " + opt + ": " + value + " is out of range (" + std::to_string(lo) + " to " +
           std::to_string(hi) + ")";
}

template <std::string BenchOptions::*field>
std::string fileName(BenchOptions& o, const std::string& opt, const std::string& value) {
    o.*field = value;
    return value.empty() ? "option " + opt + " needs a file name" : "";
}

std::string renderer(BenchOptions& o, const std::string&, const std::string& value) {
    const char* const names[] = {"cpu", "simd", "gpu", "all"};  // in the order of Renderer
    for (int k = 0; k < 4; k++) {
        if (value == names[k]) {
            o.renderer = static_cast<Renderer>(k);
            return "";
        }
    }
    return "option --renderer: unknown renderer '" + value + "' (cpu, simd, gpu or all)";
}

std::string seed(BenchOptions& o, const std::string&, const std::string& value) {
    const size_t comma = value.find(',');
    if (comma != std::string::npos && value.find(',', comma + 1) == std::string::npos &&
        parseFloat(value.substr(0, comma), &o.mx) && parseFloat(value.substr(comma + 1), &o.my)) {
        return "";
    }
    return "option --seed: '" + value + "' is not MX,MY (two finite numbers)";
}

// Only stored: which targets exist depends on the CPU the run happens on.
std::string simdTarget(BenchOptions& o, const std::string&, const std::string& value) {
    o.simdTarget = value;
    for (char& c : o.simdTarget) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return value.empty() ? "option --simd-target needs a target name" : "";
}

const struct {
    const char* name;
    bool takesValue;
    Setter set;
} OPTIONS[] = {
    {"help", false, flag<&BenchOptions::help>},
    {"version", false, flag<&BenchOptions::version>},
    {"verify", false, flag<&BenchOptions::verify>},
    {"json", false, flag<&BenchOptions::json>},
    {"renderer", true, renderer},
    {"seed", true, seed},
    // Any int is a valid limit: zero and below give a frame without iterations.
    {"precision", true, wholeNumber<&BenchOptions::precision, INT_MIN, INT_MAX>},
    {"frames", true, wholeNumber<&BenchOptions::frames, 1, 1000000>},
    {"warmup", true, wholeNumber<&BenchOptions::warmup, 0, 1000000>},
    {"threads", true, wholeNumber<&BenchOptions::threads, 1, 1024>},
    {"simd-target", true, simdTarget},
    {"raw", true, fileName<&BenchOptions::rawPath>},
    {"png", true, fileName<&BenchOptions::pngPath>},
};

// One "--name" or "--name=value" at args[k]; a value in the next word moves k past it. Abbreviated
// names are refused: a later option could make an abbreviation mean another.
std::string parseLong(BenchOptions& o, const std::vector<std::string>& args, size_t& k) {
    const std::string& word = args[k];
    const size_t eq = word.find('=');
    const std::string name = word.substr(2, eq - 2), opt = "--" + name;
    for (const auto& option : OPTIONS) {
        if (name != option.name) continue;
        const bool attached = eq != std::string::npos;
        if (!option.takesValue && attached) return "option " + opt + " takes no value";
        if (!option.takesValue) return option.set(o, opt, "");
        if (attached) return option.set(o, opt, word.substr(eq + 1));
        if (k + 1 == args.size()) return "option " + opt + " needs a value";
        return option.set(o, opt, args[++k]);
    }
    return "unknown option '" + opt + "'";
}

}  // namespace

ParseResult parseOptions(const std::vector<std::string>& args) {
    ParseResult result;
    BenchOptions& o = result.options;
    std::string& error = result.error;
    for (size_t k = 0; k < args.size() && error.empty(); k++) {
        const std::string& word = args[k];
        // The tool takes no plain arguments, so "-", "--" and any other word are refused.
        if (word.size() < 2 || word[0] != '-' || word == "--") {
            error = "unexpected argument '" + word + "'";
        } else if (word[1] == '-') {
            error = parseLong(o, args, k);
        } else {
            for (size_t c = 1; c < word.size() && error.empty(); c++) {  // "-h", also bundled
                if (word[c] == 'h') o.help = true;
                else error = std::string("unknown option '-") + word[c] + "'";
            }
        }
    }
    if (!error.empty()) return result;
    if (o.rawPath == STDOUT_PATH && o.pngPath == STDOUT_PATH) {
        error = "options --raw and --png cannot both write to standard output ('-')";
    } else if (!o.rawPath.empty() && o.rawPath == o.pngPath) {
        error = "options --raw and --png name the same file '" + o.rawPath + "'";
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
           "                 thread, or OMP_NUM_THREADS where set, as in the viewer)\n"
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
